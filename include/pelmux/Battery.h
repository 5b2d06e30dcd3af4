// The optional battery pack: charge level, states, temperatures, times and identification texts.
#pragma once

#include <pelmux/ResultCode.h>

#include <cstdint>

namespace Varnholt {

// Nine time values, each formed from a pair of battery registers as first * 60 + second, from the pairs
// (20, 22), (21, 23), (26, 27), (28, 29), (30, 31), (32, 33), (34, 35), (36, 37), (38, 39) in that order.
struct BatteryTimeRecord {
    std::uint32_t values[9];
};
static_assert(sizeof(BatteryTimeRecord) == 36);

struct Battery {
    virtual ResultCode getBatteryPresent(unsigned char* present) = 0; // 0
    virtual ResultCode getChargeLevel(unsigned char* percent) = 0;    // 1
    virtual ResultCode getRegister4State(int* state) = 0;             // 2
    virtual ResultCode getRegister4Flag(int* flag) = 0;               // 3
    virtual ResultCode getRegister3Value(short* value) = 0;           // 4
    virtual ResultCode getRegister5State(int* state) = 0;             // 5
    virtual ResultCode getTimeRecord(BatteryTimeRecord* record) = 0;  // 6
    // Degrees Celsius.
    virtual ResultCode getTemperatures(short* first, short* second) = 0; // 7
    virtual ResultCode getVersionText(char* buffer, int bufferSize) = 0; // 8
    virtual ResultCode getRegisters7To10(unsigned short* register7, unsigned short* register8,
                                         unsigned short* register9, unsigned short* register10) = 0; // 9
    virtual ResultCode getIdentText(char* buffer, int bufferSize) = 0;                               // 10
    virtual void release() = 0;                                                                      // 11
};

} // namespace Varnholt
