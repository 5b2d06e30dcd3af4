// Supply voltages measured by the system supervisor's analogue-to-digital converter.
#pragma once

#include <pelmux/ResultCode.h>

#include <cstdint>

namespace Varnholt {

// The supervisor's measuring channels, one per supply rail. The channel decides the divider in front of
// the converter: 24 V rails 12, 12 V rails 5, 5 V to TFT rails 2, the low rails 1.
enum VoltageChannel : std::int32_t {
    VOLTAGE_24V = 0,
    VOLTAGE_24VIN = 1,
    VOLTAGE_12V = 2,
    VOLTAGE_12VVIDEO = 3,
    VOLTAGE_5VSTBY = 4,
    VOLTAGE_5V = 5,
    VOLTAGE_3V3 = 6,
    VOLTAGE_TFTVOL = 7,
    VOLTAGE_1V9 = 8,
    VOLTAGE_1V8 = 9,
    VOLTAGE_1V5 = 10,
    VOLTAGE_1V2 = 11,
    VOLTAGE_1V05 = 12,
    VOLTAGE_1V0 = 13,
    VOLTAGE_0V9 = 14,
};

// Number of defined channels (0 .. voltageChannelCount - 1).
constexpr int voltageChannelCount = 15;

struct Adc {
    virtual ResultCode getVoltage(VoltageChannel channel, double* voltage) = 0; // 0
    virtual void release() = 0;                                                 // 1
};

} // namespace Varnholt
