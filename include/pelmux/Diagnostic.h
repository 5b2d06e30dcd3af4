// Health records of the system supervisor and the board's temperature sensors.
#pragma once

#include <pelmux/ResultCode.h>

namespace Varnholt {

// Size in bytes of the buffer that getRecord fills; its layout is the supervisor's.
constexpr int diagnosticRecordSize = 28;

struct Diagnostic {
    virtual ResultCode getWord1(unsigned short* value) = 0; // 0
    virtual ResultCode getWord2(unsigned short* value) = 0; // 1
    // Degrees Celsius.
    virtual ResultCode getTemperature(unsigned char sensorIndex, short* temperature,
                                      int* sensorType) = 0;                            // 2
    virtual ResultCode getWord3(unsigned short* value) = 0;                            // 3
    virtual ResultCode getWord4(unsigned short* value) = 0;                            // 4
    virtual ResultCode getWord5(unsigned short* value) = 0;                            // 5
    virtual ResultCode getRecord(unsigned char* record) = 0;                           // 6
    virtual ResultCode getWordPair(unsigned short* first, unsigned short* second) = 0; // 7
    virtual ResultCode getWord6(unsigned short* value) = 0;                            // 8
    virtual ResultCode sendCommand() = 0;                                              // 9
    virtual void release() = 0;                                                        // 10
};

} // namespace Varnholt
