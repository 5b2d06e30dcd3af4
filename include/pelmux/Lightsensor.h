// The display's ambient light sensor and its background averaging.
#pragma once

#include <pelmux/ResultCode.h>

#include <cstdint>

namespace Varnholt {

// How an averaging calculation chooses the sensor's operating range.
enum RangeMode : std::int32_t {
    RANGE_MODE_STANDARD = 0,
    RANGE_MODE_EXTENDED = 1,
    RANGE_MODE_AUTO = 2,
};

// The sensor's operating range; the extended range reads five times the standard one.
enum OperatingRange : std::int32_t {
    RANGE_STANDARD = 0,
    RANGE_EXTENDED = 1,
};

// Illuminance is in lux.
struct Lightsensor {
    virtual ResultCode getIlluminanceChannels(std::uint16_t* lux, unsigned char* channel1Raw,
                                              unsigned char* channel2Raw) = 0; // 0
    virtual ResultCode getIlluminance(std::uint16_t* lux) = 0;                 // 1
    virtual ResultCode getAverageIlluminance(std::uint16_t* lux) = 0;          // 2
    // mode is a RangeMode.
    virtual ResultCode startAverageCalc(std::uint32_t averageWndSize, std::uint32_t rejectWndSize,
                                        std::uint32_t rejectDeltaInLux, std::int32_t mode) = 0; // 3
    virtual ResultCode stopAverageCalc() = 0;                                                   // 4
    // range is an OperatingRange.
    virtual ResultCode getOperatingRange(std::int32_t* range) = 0; // 5
    virtual ResultCode setOperatingRange(std::int32_t range) = 0;  // 6
    virtual void release() = 0;                                    // 7
};

} // namespace Varnholt
