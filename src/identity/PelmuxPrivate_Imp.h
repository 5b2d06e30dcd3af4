// The maintenance and production door of the unit: identity EEPROM fields, the system supervisor's
// registers, any key of the settings file, and the automatic backlight controller run inside the
// calling process.
#pragma once

#include "display/BacklightController.h"
#include "frame/DriverChannel.h"
#include "identity/IdentityRecord.h"

#include <pelmux/PelmuxPrivate.h>

#include <cstdint>
#include <memory>

namespace pelmux {

// Driver requests of the supervisor registers. A read sends the index (u16) and two bytes that
// carry nothing, and gets the index echoed (u16) and the value (u16); a write sends the index and
// the value and gets no bytes back, the driver reporting the 4 bytes it consumed.
inline constexpr std::uint32_t supervisorRegisterReadRequest = 0x22248C;
inline constexpr std::uint32_t supervisorRegisterWriteRequest = 0x222488;

// Highest register index of the byte-indexed forms and of the extended forms.
inline constexpr std::int32_t lastByteRegister = 95;
inline constexpr std::int32_t lastExtendedRegister = 749;

class PelmuxPrivate_Imp final : public Varnholt::PelmuxPrivate {
public:
    // Builds the controller (its own driver handle and semaphores, no thread), opens the driver,
    // then loads the unit's identity record and the expansion board's, in this order. No failure is
    // reported here: operations answer it later.
    PelmuxPrivate_Imp();

    ResultCode getIdentityField(unsigned char eeprom, const char* name, char* buffer,
                                std::int32_t length) override;
    ResultCode setIdentityField(unsigned char eeprom, const char* name, const char* value) override;
    ResultCode readSupervisorRegister(signed char index, std::uint16_t* value) override;
    ResultCode writeSupervisorRegister(signed char index, std::uint16_t value) override;
    ResultCode startBacklightController() override;
    ResultCode setSetting(const char* key, const char* value) override;
    ResultCode getSetting(const char* key, char* buffer, std::int32_t bufferSize) override;
    ResultCode notSupported() override;
    void release() override;
    ResultCode readSupervisorRegisterExt(std::uint16_t index, std::uint16_t* value) override;
    ResultCode writeSupervisorRegisterExt(std::uint16_t index, std::uint16_t value) override;

private:
    // Members end in reverse order: the expansion record, then the unit record (each closing its
    // board handle and ending its vendor use), then the driver handle, then the controller, whose
    // destructor stops and joins a running controller thread.
    ~PelmuxPrivate_Imp() = default;

    IdentityRecord* record(unsigned char eeprom) const;
    // The register requests after the range test: open test, request, count, echo.
    ResultCode readRegister(std::int32_t index, std::uint16_t* value);
    ResultCode writeRegister(std::int32_t index, std::uint16_t value);

    BacklightController controller_;
    DriverLink link_;
    std::unique_ptr<IdentityRecord> unitIdentity_;
    std::unique_ptr<IdentityRecord> expansionIdentity_;
};

} // namespace pelmux
