/// \file
/// Maintenance and production access: identity EEPROM fields, supervisor registers, free settings keys and
/// the automatic backlight controller.
#pragma once

#include <pelmux/ResultCode.h>

#include <cstdint>

namespace Varnholt {

/// Maintenance and production access: identity EEPROM fields, supervisor registers, settings keys
/// and the automatic backlight controller.
///
/// eeprom: zero selects the unit's identity EEPROM, non-zero the expansion board's.
/// Every operation runs on the caller's thread; only startBacklightController starts a thread.
struct PelmuxPrivate {
    /// Copies the value of field `name` ("PCB_SERIAL", ...) with its NUL into `buffer`, which takes
    /// `length` characters besides the NUL. ERR_JIDA_EEPROM_ACCESS (18) when the EEPROM could not be
    /// read or has no such field; ERR_BUFFER_SIZE_ERROR (6) when the value is longer than `length`;
    /// ERR_INVALID_PARAMETER_NULL (9) for a null name, or a null buffer after those tests.
    virtual ResultCode getIdentityField(unsigned char eeprom, const char* name, char* buffer,
                                        std::int32_t length) = 0; // 0
    /// Rewrites the value of the existing field `name`, every other byte of the text kept. Writes the
    /// whole EEPROM and reads it back (blocks for the write and two 200 ms pauses). 18 when the field
    /// is missing, the new text would not read back whole (too long, too short, a byte 0x00 or 0xFF in
    /// the value) or the write fails; 9 for a null name or value.
    virtual ResultCode setIdentityField(unsigned char eeprom, const char* name, const char* value) = 0; // 1
    /// Reads supervisor register `index` (up to 95; negative indices travel sign-extended and never
    /// match their echo). ERR_INVALID_DATA_RANGE (8) above 95, before the open test; ERR_OPEN_FAILED (1)
    /// without driver; 9 for a null value; ERR_IOCTRL_OPERATION_FAILED (7), 6 for a wrong byte count,
    /// ERR_DATATYPE_MISMATCH (4) for a wrong echo. `value` is written only on success.
    virtual ResultCode readSupervisorRegister(signed char index, std::uint16_t* value) = 0; // 2
    /// Writes supervisor register `index` (up to 95): 8 above 95, then 1, 7 or 6 as a read.
    virtual ResultCode writeSupervisorRegister(signed char index, std::uint16_t value) = 0; // 3
    /// Starts the automatic backlight controller's thread in this process (blocks about 800 ms first).
    /// ERR_INITIALISATION_FAILED (13) when it was started before, ERR_CREATING_THREAD (10) when the
    /// thread cannot be made. The thread runs until this object is released.
    virtual ResultCode startBacklightController() = 0; // 4
    /// Sets `key` to `value` in the settings file (one locked rewrite). ERR_EXECUTE_COMMAND_FAILED (17)
    /// when the file cannot take them (a key with '=', a leading ';' or a line break, a value with a
    /// line break, a file that cannot be rewritten); 9 for a null key or value.
    virtual ResultCode setSetting(const char* key, const char* value) = 0; // 5
    /// Copies the value of `key` with its NUL into `buffer` of `bufferSize` bytes. 17 when the key is
    /// missing or empty; 6 when the value and its NUL do not fit (any size of 0 or below); 9 for a null
    /// key, or a null buffer after those tests.
    virtual ResultCode getSetting(const char* key, char* buffer, std::int32_t bufferSize) = 0; // 6
    /// Always ERR_NOT_SUPPORTED (2).
    virtual ResultCode notSupported() = 0; // 7
    /// Frees the identity records, closes the driver, stops and joins the controller thread if it
    /// runs, and frees the object. Not the last slot: callers reach the operations after it by
    /// their fixed slot numbers.
    virtual void release() = 0; // 8
    /// Reads extended supervisor register `index` (0 to 749). ERR_NEWER_SS_REQUIRED (25) first when
    /// the supervisor firmware is older than 1.3.0 (or its version cannot be read), then 8 above
    /// 749, then as the byte forms.
    virtual ResultCode readSupervisorRegisterExt(std::uint16_t index, std::uint16_t* value) = 0; // 9
    /// Writes extended register `index` (0 to 749): 25 first as readSupervisorRegisterExt, then 8
    /// above 749, then as writeSupervisorRegister.
    virtual ResultCode writeSupervisorRegisterExt(std::uint16_t index, std::uint16_t value) = 0; // 10
};

} // namespace Varnholt
