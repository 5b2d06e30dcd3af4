// The optional battery pack. Whether one is fitted is learnt once, at construction, from the unit's
// identity record ("BATTERY") and the supervisor's firmware (1.3.0.0 or newer); every reading is one
// 16-bit register of the battery controller, fetched through the driver by its number.
#pragma once

#include "frame/DriverChannel.h"
#include "identity/IdentityRecord.h"

#include <pelmux/Battery.h>

#include <cstdint>
#include <memory>

namespace pelmux {

// Driver request: the register number (u16) in, the register's value (u16) out.
inline constexpr std::uint32_t batteryRegisterRequest = 0x2225C0;

// Register 2 at or below this reads as an empty pack, at or above full as a full one.
inline constexpr std::uint32_t batteryEmptyReading = 8100;
inline constexpr std::uint32_t batteryFullReading = 12300;
// Registers 24 and 25 count degrees Celsius from -56.
inline constexpr int batteryTemperatureOffset = 56;
// getIdentText: ten characters from registers 15 to 19 and their NUL.
inline constexpr int batteryIdentTextSize = 11;

// The conversions of the register values (exposed for the tests).
unsigned char chargeLevelOf(std::uint16_t reading);
int register4StateOf(std::uint16_t value);
int register5StateOf(std::uint16_t value);

class Battery_Imp final : public Varnholt::Battery {
public:
    // Opens the driver, loads the unit's identity record and reads the battery-present flag through
    // getBatteryPresent; a failure there leaves the battery absent. Nothing is reported here.
    Battery_Imp();

    ResultCode getBatteryPresent(unsigned char* present) override;
    ResultCode getChargeLevel(unsigned char* percent) override;
    ResultCode getRegister4State(int* state) override;
    ResultCode getRegister4Flag(int* flag) override;
    ResultCode getRegister3Value(short* value) override;
    ResultCode getRegister5State(int* state) override;
    ResultCode getTimeRecord(Varnholt::BatteryTimeRecord* record) override;
    ResultCode getTemperatures(short* first, short* second) override;
    ResultCode getVersionText(char* buffer, int bufferSize) override;
    ResultCode getRegisters7To10(unsigned short* register7, unsigned short* register8,
                                 unsigned short* register9, unsigned short* register10) override;
    ResultCode getIdentText(char* buffer, int bufferSize) override;
    void release() override { delete this; }

private:
    // The identity record ends its vendor-library use; the driver handle is closed.
    ~Battery_Imp() = default;

    // One register: ERR_IOCTRL_OPERATION_FAILED (7) for a null destination (nothing is sent) or a
    // failed request, ERR_BUFFER_SIZE_ERROR (6) for another count than 2. The open test is the
    // request's own: a driver that could not be opened fails the request.
    ResultCode readBatteryRegister(std::uint16_t number, std::uint16_t* value) const;
    // ERR_NOT_SUPPORTED (2) while no battery was found at construction.
    ResultCode presence() const;
    // An operation that reports one register: presence, the null test of `output`, the register,
    // then `convert(value)` into `output`.
    template <class Out, class Convert>
    ResultCode readRegisterAs(std::uint16_t number, Out* output, Convert convert) const;

    DriverLink link_;
    bool batteryPresent_ = false;
    std::unique_ptr<IdentityRecord> identity_;
};

} // namespace pelmux
