// Maintenance and production access: identity EEPROM fields, supervisor registers, free settings keys and
// the automatic backlight controller.
#pragma once

#include <pelmux/ResultCode.h>

#include <cstdint>

namespace Varnholt {

// eeprom: zero selects the unit's identity EEPROM, non-zero the expansion board's.
struct PelmuxPrivate {
    virtual ResultCode getIdentityField(unsigned char eeprom, const char* name, char* buffer,
                                        std::int32_t length) = 0;                                       // 0
    virtual ResultCode setIdentityField(unsigned char eeprom, const char* name, const char* value) = 0; // 1
    virtual ResultCode readSupervisorRegister(signed char index, std::uint16_t* value) = 0;             // 2
    virtual ResultCode writeSupervisorRegister(signed char index, std::uint16_t value) = 0;             // 3
    virtual ResultCode startBacklightController() = 0;                                                  // 4
    virtual ResultCode setSetting(const char* key, const char* value) = 0;                              // 5
    virtual ResultCode getSetting(const char* key, char* buffer, std::int32_t bufferSize) = 0;          // 6
    virtual ResultCode notSupported() = 0;                                                              // 7
    // Not the last slot: callers reach the operations after it by their fixed slot numbers.
    virtual void release() = 0;                                                                  // 8
    virtual ResultCode readSupervisorRegisterExt(std::uint16_t index, std::uint16_t* value) = 0; // 9
    virtual ResultCode writeSupervisorRegisterExt(std::uint16_t index, std::uint16_t value) = 0; // 10
};

} // namespace Varnholt
