// The multi-colour LED on the unit's front: colour and blink timing.
#pragma once

#include <pelmux/ResultCode.h>

#include <cstdint>

namespace Varnholt {

// Colour channels run from 0 to 15. Standard colours are indices 0 to 5; getStandardColor gives 6 for a
// colour that matches none. Times are in units of 10 ms.
struct FrontLED {
    // Hertz and percent.
    virtual ResultCode getSignal(double& frequency, unsigned char& dutyCycle) = 0;                  // 0
    virtual ResultCode getOnTime(unsigned char& onTime) = 0;                                        // 1
    virtual ResultCode getOffTime(unsigned char& offTime) = 0;                                      // 2
    virtual ResultCode getTiming2(unsigned char& timing2) = 0;                                      // 3
    virtual ResultCode getTiming3(unsigned char& timing3) = 0;                                      // 4
    virtual ResultCode getStandardColor(std::int32_t& index) = 0;                                   // 5
    virtual ResultCode getColor(unsigned char& red, unsigned char& green, unsigned char& blue) = 0; // 6
    virtual ResultCode getControlFlag(std::int32_t& flag) = 0;                                      // 7
    virtual ResultCode setSignal(double frequency, unsigned char dutyCycle) = 0;                    // 8
    virtual ResultCode setOnTime(unsigned char onTime) = 0;                                         // 9
    virtual ResultCode setOffTime(unsigned char offTime) = 0;                                       // 10
    virtual ResultCode setTiming2(unsigned char timing2) = 0;                                       // 11
    virtual ResultCode setTiming3(unsigned char timing3) = 0;                                       // 12
    virtual ResultCode setStandardColor(std::int32_t index) = 0;                                    // 13
    virtual ResultCode setColor(unsigned char red, unsigned char green, unsigned char blue) = 0;    // 14
    virtual ResultCode setOff() = 0;                                                                // 15
    virtual ResultCode setControlFlag(std::int32_t value) = 0;                                      // 16
    virtual void release() = 0;                                                                     // 17
};

} // namespace Varnholt
