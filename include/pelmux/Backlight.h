// Display backlight level and the settings of the automatic backlight controller.
#pragma once

#include <pelmux/ResultCode.h>

#include <cstdint>

namespace Varnholt {

struct Backlight {
    virtual ResultCode getIntensity(unsigned char* level) = 0;                                // 0
    virtual ResultCode setIntensity(unsigned char level) = 0;                                 // 1
    virtual ResultCode getStatus(unsigned char* status) = 0;                                  // 2
    virtual ResultCode enableAutomaticBacklight() = 0;                                        // 3
    virtual ResultCode disableAutomaticBacklight() = 0;                                       // 4
    virtual ResultCode getAutomaticBacklightStatus(bool* enabled) = 0;                        // 5
    virtual ResultCode setSoftTransitions(bool softTransitions) = 0;                          // 6
    virtual ResultCode getAutomaticBacklightParameters(bool* softTransitions, double* k) = 0; // 7
    // mode is the light sensor's range mode (RangeMode in Lightsensor.h).
    virtual ResultCode setAutomaticBacklightFilter(std::int32_t averageWndSize, std::int32_t rejectWndSize,
                                                   std::int32_t rejectDeltaInLux, std::int32_t mode) = 0; // 8
    virtual ResultCode getAutomaticBacklightFilter(std::int32_t* averageWndSize, std::int32_t* rejectWndSize,
                                                   std::int32_t* rejectDeltaInLux,
                                                   std::int32_t* mode) = 0; // 9
    virtual ResultCode getLedDimming(bool* enabled) = 0;                    // 10
    // 1 switches LED dimming on, any other value off.
    virtual ResultCode setLedDimming(std::int32_t value) = 0; // 11
    virtual void release() = 0;                               // 12
};

} // namespace Varnholt
