// Start-up parameters of the CAN controllers: bit rate and accepted frame type per channel.
#pragma once

#include <pelmux/ResultCode.h>

#include <cstdint>

namespace Varnholt {

enum CanFrameType : std::int32_t {
    FRAMETYPE_STANDARD = 0,
    FRAMETYPE_EXTENDED = 1,
    FRAMETYPE_STANDARD_EXTENDED = 2,
};

// Channels are numbered 1 to 4; rates are in kbit/s.
struct CanSetting {
    virtual ResultCode getBaudRate(unsigned char channel, std::uint16_t* rate) = 0; // 0
    virtual ResultCode getFrameType(unsigned char channel, CanFrameType* type) = 0; // 1
    virtual ResultCode setBaudRate(unsigned char channel, std::uint16_t rate) = 0;  // 2
    virtual ResultCode setFrameType(unsigned char channel, CanFrameType type) = 0;  // 3
    virtual void release() = 0;                                                     // 4
};

} // namespace Varnholt
