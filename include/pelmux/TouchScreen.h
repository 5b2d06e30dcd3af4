// Settings of the touch controller kept by the front micro-controller: mode, a value and twelve parameters.
#pragma once

#include <pelmux/ResultCode.h>

#include <cstdint>

namespace Varnholt {

// Parameter indices run from 0 to 11.
struct TouchScreen {
    virtual ResultCode getTouchMode(std::int32_t* mode) = 0;                            // 0
    virtual ResultCode getTouchValue(std::uint16_t* value) = 0;                         // 1
    virtual ResultCode setTouchMode(unsigned char mode) = 0;                            // 2
    virtual ResultCode setTouchValue(std::uint16_t value) = 0;                          // 3
    virtual ResultCode setTouchParameter(std::int32_t index, std::uint16_t value) = 0;  // 4
    virtual ResultCode getTouchParameter(std::int32_t index, std::uint16_t* value) = 0; // 5
    virtual void release() = 0;                                                         // 6
};

} // namespace Varnholt
