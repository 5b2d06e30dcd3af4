/// \file
/// Power of the optional radio modules (GSM/GPRS, WLAN, Bluetooth, GPS) and their power-at-startup
/// preferences.
#pragma once

#include <pelmux/ResultCode.h>

#include <cstdint>

namespace Varnholt {

/// The radio modules: GSM/GPRS modem, WLAN, Bluetooth and GPS, their power and power at start-up.
///
/// The process's single Telematics object (GetTelematics; every call returns the same object and
/// counts one more reference, given back with release).
///
/// Getters give 0 or 1 through a pointer to a 32-bit value; setters switch on for exactly 1 and off
/// for any other value. Every operation runs on the caller's thread and blocks until its expander
/// sequence is done; operations of several threads on the object run one at a time.
///
/// Result codes common to the module operations, in the order they are checked:
/// - the module is not fitted (its field in the expansion identity is missing, unreadable or not
///   exactly 1): ERR_GSM_GPRS_NOT_AVAILABLE (28), ERR_WLAN_NOT_AVAILABLE (29),
///   ERR_BLUETOOTH_NOT_AVAILABLE (30) or ERR_GPS_NOT_AVAILABLE (31). Which modules are fitted is
///   read once per process;
/// - a null result pointer: ERR_INVALID_PARAMETER_NULL (9);
/// - power and input operations only: the board library or the I2C port expander cannot be set up
///   ERR_I2C_EXPANDER_INIT (24), a register read failed ERR_I2C_EXPANDER_READ (22), the switch
///   failed ERR_I2C_EXPANDER_WRITE (23). A failed register access also prints one line to standard
///   output ("WindowsWrapper: I2CRead error..." or "WindowsWrapper: I2CWrite error...").
/// The result is written only on ERR_SUCCESS (0).
///
/// Switching a module on also switches on the supply the modules share; switching off the last
/// powered module switches the supply off. The power-at-startup preferences are kept in the settings
/// file ("GPRSPowerAtStartup", "WLANPowerAtStartup", "BTPowerAtStartup", "GPSPowerAtStartup"); the
/// library itself never acts on them.
struct Telematics {
    /// 1 when any module is fitted, else 0. ERR_SUCCESS, or 9 for a null pointer.
    virtual ResultCode getTelematicsAvailable(std::int32_t* available) = 0; // 0
    /// Whether the GSM/GPRS modem is powered, as the modem reports it; takes about 100 ms.
    virtual ResultCode getGPRSPowerStatus(std::int32_t* status) = 0; // 1
    /// The modem's power-at-startup preference: 1 only when the settings file holds 1.
    virtual ResultCode getGPRSPowerAtStartup(std::int32_t* status) = 0; // 2
    /// Whether the WLAN module is powered.
    virtual ResultCode getWLANPowerStatus(std::int32_t* status) = 0; // 3
    /// The WLAN module's power-at-startup preference.
    virtual ResultCode getWLANPowerAtStartup(std::int32_t* status) = 0; // 4
    /// The level of the GPS module's status input.
    virtual ResultCode getGPSInputStatus(std::int32_t* status) = 0; // 5
    /// Switches the modem on or off with a press of its power key. Nothing happens when the modem
    /// already has that state; otherwise the key is held 1100 ms to switch on, 2100 ms to switch
    /// off, and the call blocks that long (plus about 100 ms to read the modem's state).
    virtual ResultCode setGPRSPowerStatus(std::int32_t on) = 0; // 6
    /// Stores the modem's power-at-startup preference ("1" or "0"); ERR_SUCCESS once it is fitted.
    virtual ResultCode setGPRSPowerAtStartup(std::int32_t on) = 0; // 7
    /// Switches the WLAN module's power.
    virtual ResultCode setWLANPowerStatus(std::int32_t on) = 0; // 8
    /// Stores the WLAN module's power-at-startup preference.
    virtual ResultCode setWLANPowerAtStartup(std::int32_t on) = 0; // 9
    /// Gives one reference back; the last one frees the object. Not the last slot: callers reach
    /// the operations after it by their fixed slot numbers.
    virtual void release() = 0; // 10
    /// Whether the Bluetooth module is powered.
    virtual ResultCode getBTPowerStatus(std::int32_t* status) = 0; // 11
    /// The Bluetooth module's power-at-startup preference.
    virtual ResultCode getBTPowerAtStartup(std::int32_t* status) = 0; // 12
    /// Whether the GPS module is powered.
    virtual ResultCode getGPSPowerStatus(std::int32_t* status) = 0; // 13
    /// The GPS module's power-at-startup preference.
    virtual ResultCode getGPSPowerAtStartup(std::int32_t* status) = 0; // 14
    /// Switches the Bluetooth module's power.
    virtual ResultCode setBTPowerStatus(std::int32_t on) = 0; // 15
    /// Stores the Bluetooth module's power-at-startup preference.
    virtual ResultCode setBTPowerAtStartup(std::int32_t on) = 0; // 16
    /// Switches the GPS module's power.
    virtual ResultCode setGPSPowerStatus(std::int32_t on) = 0; // 17
    /// Stores the GPS module's power-at-startup preference.
    virtual ResultCode setGPSPowerAtStartup(std::int32_t on) = 0; // 18
};

} // namespace Varnholt
