#pragma once

#include "frame/SharedInstance.h"
#include "frame/VendorCalls.h"
#include "platform/Mutex.h"

#include <pelmux/Telematics.h>

#include <cstdint>
#include <mutex>

namespace pelmux {

using Varnholt::ResultCode;

// The optional radio modules on the expansion board.
enum class Module { Gsm, Wlan, Bluetooth, Gps };

// Whether a module is fitted, as the expansion identity says: computed on first need through a
// temporary About object and kept for the life of the process. Fitted only when the read succeeded
// and the field's number is exactly 1.
bool moduleAvailable(Module module);
// Forgets the kept answers, so that the next need reads the identity again (a unit swapped under
// a running test process).
void forgetModuleAvailability();

// Registers of the I2C port expander and the bits of its port.
inline constexpr std::uint16_t expanderConfigRegister = 0;
inline constexpr std::uint16_t expanderPortRegister = 9;
// Configured: (configuration AND 0x7F) = 0x0C, port bits 2 and 3 inputs, the others driven.
inline constexpr std::uint8_t expanderConfigMask = 0x7F;
inline constexpr std::uint8_t expanderConfigured = 0x0C;
// Written first when configuring: bit 7 (the shared supply) stays an input until the port is 0.
inline constexpr std::uint8_t expanderConfigSetUp = 0x8C;

namespace portBit {
inline constexpr std::uint8_t gprsKey = 0x01;
inline constexpr std::uint8_t wlanPower = 0x02;
inline constexpr std::uint8_t gprsState = 0x04;
inline constexpr std::uint8_t gpsInput = 0x08;
inline constexpr std::uint8_t btPower = 0x10;
inline constexpr std::uint8_t gpsPower = 0x20;
inline constexpr std::uint8_t gprsStateEnable = 0x40;
inline constexpr std::uint8_t supply = 0x80;
} // namespace portBit

// Pauses of the expander sequences, in milliseconds.
inline constexpr std::uint32_t gprsStateSettleMs = 100;
inline constexpr std::uint32_t gprsKeyOnMs = 1100;
inline constexpr std::uint32_t gprsKeyOffMs = 2100;
inline constexpr std::uint32_t expanderSetUpGpsMs = 200;

// The lines printed to standard output when an expander register access fails.
inline constexpr const char* expanderReadErrorLine = "WindowsWrapper: I2CRead error...\n";
inline constexpr const char* expanderWriteErrorLine = "WindowsWrapper: I2CWrite error...\n";

// Settings keys of the power-at-startup preferences.
inline constexpr const char* gprsStartupKey = "GPRSPowerAtStartup";
inline constexpr const char* wlanStartupKey = "WLANPowerAtStartup";
inline constexpr const char* btStartupKey = "BTPowerAtStartup";
inline constexpr const char* gpsStartupKey = "GPSPowerAtStartup";

// The process's single Telematics object. Every expander operation opens the board library, makes
// sure the expander is configured, runs its register sequence and lets go of the board handle; one
// operation at a time does so, so that two threads never interleave their read-modify-write
// sequences on the port.
class Telematics_Imp final : public Varnholt::Telematics {
public:
    // Configures the expander once (the result is not reported; every operation checks again).
    Telematics_Imp();
    // Freed by the shared instance when the last reference goes: ends the board library's use.
    ~Telematics_Imp();
    Telematics_Imp(const Telematics_Imp&) = delete;
    Telematics_Imp& operator=(const Telematics_Imp&) = delete;

    ResultCode getTelematicsAvailable(std::int32_t* available) override;
    ResultCode getGPRSPowerStatus(std::int32_t* status) override;
    ResultCode getGPRSPowerAtStartup(std::int32_t* status) override;
    ResultCode getWLANPowerStatus(std::int32_t* status) override;
    ResultCode getWLANPowerAtStartup(std::int32_t* status) override;
    ResultCode getGPSInputStatus(std::int32_t* status) override;
    ResultCode setGPRSPowerStatus(std::int32_t on) override;
    ResultCode setGPRSPowerAtStartup(std::int32_t on) override;
    ResultCode setWLANPowerStatus(std::int32_t on) override;
    ResultCode setWLANPowerAtStartup(std::int32_t on) override;
    void release() override;
    ResultCode getBTPowerStatus(std::int32_t* status) override;
    ResultCode getBTPowerAtStartup(std::int32_t* status) override;
    ResultCode getGPSPowerStatus(std::int32_t* status) override;
    ResultCode getGPSPowerAtStartup(std::int32_t* status) override;
    ResultCode setBTPowerStatus(std::int32_t on) override;
    ResultCode setBTPowerAtStartup(std::int32_t on) override;
    ResultCode setGPSPowerStatus(std::int32_t on) override;
    ResultCode setGPSPowerAtStartup(std::int32_t on) override;

private:
    // The register sequences; the caller holds mutex_.
    bool initExpander();
    bool readRegister(std::uint16_t reg, std::uint8_t& value);
    bool writeRegister(std::uint16_t reg, std::uint8_t value);
    bool setExpanderBit(std::uint8_t mask, bool on);
    ResultCode readPortBit(std::uint8_t mask, std::int32_t& status);
    ResultCode readGprsState(std::int32_t& status);
    bool anyOtherPowered(std::uint8_t switchedMask);
    void handleSupply(std::uint8_t switchedMask, bool on);
    ResultCode switchPort(std::uint8_t mask, bool on);
    ResultCode switchGprs(bool on);

    // Runs `body` on a configured expander, under the lock, and lets go of the board handle after.
    template <class Body> ResultCode onExpander(Body body);
    ResultCode portStatus(Module module, std::uint8_t mask, std::int32_t* status);
    ResultCode portSwitch(Module module, std::uint8_t mask, std::int32_t on);

    BoardHandle boardHandle_ = 0;
    platform::Mutex mutex_;
};

// The shared instance behind GetTelematics.
SharedInstance<Telematics_Imp>& telematicsInstance();

} // namespace pelmux
