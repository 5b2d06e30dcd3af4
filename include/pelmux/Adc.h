/// \file
/// Supply voltages measured by the system supervisor's analogue-to-digital converter.
#pragma once

#include <pelmux/ResultCode.h>

#include <cstdint>

namespace Varnholt {

/// The supervisor's measuring channels, one per supply rail. The channel decides the divider in front of
/// the converter: 24 V rails 12, 12 V rails 5, 5 V to TFT rails 2, the low rails 1.
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

/// Number of defined channels (0 .. voltageChannelCount - 1).
constexpr int voltageChannelCount = 15;

/// One supply voltage at a time, measured by the supervisor. GetAdc builds a new object per call
/// with its own driver handle; every operation runs on the caller's thread, blocks for one driver
/// request and starts no thread.
struct Adc {
    /// The voltage of `channel` in volts. It is the supervisor's 12-bit reading (3.3 V full scale)
    /// times the channel's divider, so 0 to 39.6 V on the 24 V rails, 16.5 V on the 12 V rails,
    /// 6.6 V on channels 4 to 7 and 3.3 V on the low rails. A channel above 14 goes to the driver
    /// unchanged with divider 1. ERR_INVALID_PARAMETER_NULL (9) for a null `voltage` (tested
    /// first), ERR_OPEN_FAILED (1) without the board driver, ERR_IOCTRL_OPERATION_FAILED (7) when
    /// the request fails, ERR_BUFFER_SIZE_ERROR (6) for another answer size than 8 bytes,
    /// ERR_DATATYPE_MISMATCH (4) when the answer names another channel. `voltage` is written only
    /// on success.
    virtual ResultCode getVoltage(VoltageChannel channel, double* voltage) = 0; // 0
    /// Closes the driver handle and frees the object; the pointer must not be used afterwards.
    virtual void release() = 0; // 1
};

} // namespace Varnholt
