/// \file
/// Settings stored in the system supervisor. Getter n and setter n + 13 address the same setting.
#pragma once

#include <pelmux/ResultCode.h>

namespace Varnholt {

/// The supervisor's thirteen stored settings, each with a getter (slots 0 to 12) and a setter
/// (slots 13 to 25). The process's single Config object: GetConfig returns the same object and
/// counts one more reference, given back with release. The library keeps no copy: every getter asks
/// the supervisor. Every operation runs on the caller's thread, blocks for one or two driver
/// requests (and, where a firmware is named, one more to read its version) and starts no thread.
///
/// Checks in this order: ERR_OPEN_FAILED (1) without the board driver; ERR_NEWER_SS_REQUIRED (25)
/// when the supervisor firmware is older than the operation needs (or its version cannot be read),
/// or ERR_NOT_SUPPORTED (2) when the unit lacks the feature; ERR_INVALID_DATA_RANGE (8) for a value
/// out of range (nothing is sent); getters then ERR_INVALID_PARAMETER_NULL (9) for a null output;
/// ERR_IOCTRL_OPERATION_FAILED (7) when a request fails, ERR_BUFFER_SIZE_ERROR (6) for a wrong byte
/// count; 8 when the supervisor's answer lies out of range. Outputs are written only on success.
struct Config {
    /// Selector 1, 1 to 3. Supervisor firmware 1.0.0.0 or later.
    virtual ResultCode getSelector1(int* value) = 0; // 0
    /// Selector 2, 0 to 2. Supervisor firmware 1.0.0.0 or later.
    virtual ResultCode getSelector2(int* value) = 0; // 1
    /// Selector 3, 0 to 2. Supervisor firmware 1.0.0.0 or later.
    virtual ResultCode getSelector3(int* value) = 0; // 2
    /// Selector 4, 0 to 2. Supervisor firmware 1.0.0.0 or later.
    virtual ResultCode getSelector4(int* value) = 0; // 3
    /// The second word of the first paired record.
    virtual ResultCode getPairedWord1(unsigned short* value) = 0; // 4
    /// The 32-bit setting.
    virtual ResultCode getLongSetting(unsigned int* value) = 0; // 5
    /// The second word of the second paired record.
    virtual ResultCode getPairedWord2(unsigned short* value) = 0; // 6
    /// The CAN power configuration word. ERR_NOT_SUPPORTED (2) on a unit without CAN channels.
    virtual ResultCode getCanPowerConfig(int* value) = 0; // 7
    /// The video power configuration, 0 to 15. ERR_NOT_SUPPORTED (2) on a unit without video inputs.
    virtual ResultCode getVideoPowerConfig(unsigned char* value) = 0; // 8
    /// The 16-bit word setting.
    virtual ResultCode getWordSetting(int* value) = 0; // 9
    /// The voltage setting in volts (the supervisor's 12-bit reading behind the 24 V divider); a
    /// stored value below 9.0 V reads as 9.0.
    virtual ResultCode getVoltageSetting(double* value) = 0; // 10
    /// The temperature setting in degrees Celsius, -25 to 5 (8 for a stored value outside).
    /// Supervisor firmware 0.9.0.0 or later.
    virtual ResultCode getTemperatureSetting(short* value) = 0; // 11
    /// The flag setting, 0 or 1. Supervisor firmware 1.0.3.0 or later.
    virtual ResultCode getFlagSetting(int* value) = 0; // 12
    /// Sets selector 1 to exactly 1, 2 or 3 (else 8). Supervisor firmware 1.0.0.0 or later.
    virtual ResultCode setSelector1(int value) = 0; // 13
    /// Sets selector 2 to exactly 0, 1 or 2 (else 8). Supervisor firmware 1.0.0.0 or later.
    virtual ResultCode setSelector2(int value) = 0; // 14
    /// Sets selector 3 to exactly 0, 1 or 2 (else 8). Supervisor firmware 1.0.0.0 or later.
    virtual ResultCode setSelector3(int value) = 0; // 15
    /// Sets selector 4 to exactly 0, 1 or 2 (else 8). Supervisor firmware 1.0.0.0 or later.
    virtual ResultCode setSelector4(int value) = 0; // 16
    /// Sets the second word of the first paired record: reads the record and writes it back with
    /// the first word kept (a failed read writes nothing).
    virtual ResultCode setPairedWord1(unsigned short value) = 0; // 17
    /// Sets the 32-bit setting.
    virtual ResultCode setLongSetting(unsigned int value) = 0; // 18
    /// Sets the second word of the second paired record (the first word is written as 1).
    virtual ResultCode setPairedWord2(unsigned short value) = 0; // 19
    /// Sets the CAN power configuration word. ERR_NOT_SUPPORTED (2) on a unit without CAN channels.
    virtual ResultCode setCanPowerConfig(unsigned short value) = 0; // 20
    /// Sets the video power configuration, 0 to 15 (above: 8, tested after the feature).
    /// ERR_NOT_SUPPORTED (2) on a unit without video inputs.
    virtual ResultCode setVideoPowerConfig(unsigned char value) = 0; // 21
    /// Sets the 16-bit word setting.
    virtual ResultCode setWordSetting(unsigned short value) = 0; // 22
    /// Sets the voltage setting, 9.0 to 28.0 volts (else 8), stored in the supervisor's steps of
    /// 39.6 V / 4096, rounded down.
    virtual ResultCode setVoltageSetting(double value) = 0; // 23
    /// Sets the temperature setting, -25 to 5 degrees Celsius (else 8). Supervisor firmware
    /// 0.9.0.0 or later.
    virtual ResultCode setTemperatureSetting(short value) = 0; // 24
    /// Sets the flag setting word. Supervisor firmware 1.0.3.0 or later.
    virtual ResultCode setFlagSetting(unsigned short value) = 0; // 25
    /// Gives one reference back; the last one closes the driver and frees the object, and the next
    /// GetConfig builds a new one. The pointer must not be used afterwards.
    virtual void release() = 0; // 26
};

} // namespace Varnholt
