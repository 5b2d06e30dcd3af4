// The unit's buzzer: tone, on and off, and timed buzzes.
#pragma once

#include <pelmux/ResultCode.h>

#include <cstdint>

namespace Varnholt {

struct Buzzer {
    // Hertz.
    virtual ResultCode getFrequency(std::uint16_t& frequency) = 0;        // 0
    virtual ResultCode getVolume(std::uint16_t& volume) = 0;              // 1
    virtual ResultCode isSounding(bool& on) = 0;                          // 2
    virtual ResultCode setFrequency(std::uint16_t frequency) = 0;         // 3
    virtual ResultCode setVolume(std::uint16_t volume) = 0;               // 4
    virtual ResultCode setSounding(bool on) = 0;                          // 5
    virtual ResultCode buzz(std::uint32_t durationMs, bool blocking) = 0; // 6
    virtual void release() = 0;                                           // 7
};

} // namespace Varnholt
