// Settings stored in the system supervisor. Getter n and setter n + 13 address the same setting.
#pragma once

#include <pelmux/ResultCode.h>

namespace Varnholt {

struct Config {
    virtual ResultCode getSelector1(int* value) = 0;                  // 0
    virtual ResultCode getSelector2(int* value) = 0;                  // 1
    virtual ResultCode getSelector3(int* value) = 0;                  // 2
    virtual ResultCode getSelector4(int* value) = 0;                  // 3
    virtual ResultCode getPairedWord1(unsigned short* value) = 0;     // 4
    virtual ResultCode getLongSetting(unsigned int* value) = 0;       // 5
    virtual ResultCode getPairedWord2(unsigned short* value) = 0;     // 6
    virtual ResultCode getCanPowerConfig(int* value) = 0;             // 7
    virtual ResultCode getVideoPowerConfig(unsigned char* value) = 0; // 8
    virtual ResultCode getWordSetting(int* value) = 0;                // 9
    // Volts.
    virtual ResultCode getVoltageSetting(double* value) = 0; // 10
    // Degrees Celsius.
    virtual ResultCode getTemperatureSetting(short* value) = 0;      // 11
    virtual ResultCode getFlagSetting(int* value) = 0;               // 12
    virtual ResultCode setSelector1(int value) = 0;                  // 13
    virtual ResultCode setSelector2(int value) = 0;                  // 14
    virtual ResultCode setSelector3(int value) = 0;                  // 15
    virtual ResultCode setSelector4(int value) = 0;                  // 16
    virtual ResultCode setPairedWord1(unsigned short value) = 0;     // 17
    virtual ResultCode setLongSetting(unsigned int value) = 0;       // 18
    virtual ResultCode setPairedWord2(unsigned short value) = 0;     // 19
    virtual ResultCode setCanPowerConfig(unsigned short value) = 0;  // 20
    virtual ResultCode setVideoPowerConfig(unsigned char value) = 0; // 21
    virtual ResultCode setWordSetting(unsigned short value) = 0;     // 22
    // Volts, 9.0 to 28.0.
    virtual ResultCode setVoltageSetting(double value) = 0; // 23
    // Degrees Celsius, -25 to 5.
    virtual ResultCode setTemperatureSetting(short value) = 0;   // 24
    virtual ResultCode setFlagSetting(unsigned short value) = 0; // 25
    virtual void release() = 0;                                  // 26
};

} // namespace Varnholt
