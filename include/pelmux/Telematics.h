// Power of the optional radio modules (GSM/GPRS, WLAN, Bluetooth, GPS) and their power-at-startup
// preferences.
#pragma once

#include <pelmux/ResultCode.h>

#include <cstdint>

namespace Varnholt {

// Getters give 0 or 1; setters switch on for exactly 1 and off for any other value.
struct Telematics {
    virtual ResultCode getTelematicsAvailable(std::int32_t* available) = 0; // 0
    virtual ResultCode getGPRSPowerStatus(std::int32_t* status) = 0;        // 1
    virtual ResultCode getGPRSPowerAtStartup(std::int32_t* status) = 0;     // 2
    virtual ResultCode getWLANPowerStatus(std::int32_t* status) = 0;        // 3
    virtual ResultCode getWLANPowerAtStartup(std::int32_t* status) = 0;     // 4
    virtual ResultCode getGPSInputStatus(std::int32_t* status) = 0;         // 5
    virtual ResultCode setGPRSPowerStatus(std::int32_t on) = 0;             // 6
    virtual ResultCode setGPRSPowerAtStartup(std::int32_t on) = 0;          // 7
    virtual ResultCode setWLANPowerStatus(std::int32_t on) = 0;             // 8
    virtual ResultCode setWLANPowerAtStartup(std::int32_t on) = 0;          // 9
    // Not the last slot: callers reach the operations after it by their fixed slot numbers.
    virtual void release() = 0;                                        // 10
    virtual ResultCode getBTPowerStatus(std::int32_t* status) = 0;     // 11
    virtual ResultCode getBTPowerAtStartup(std::int32_t* status) = 0;  // 12
    virtual ResultCode getGPSPowerStatus(std::int32_t* status) = 0;    // 13
    virtual ResultCode getGPSPowerAtStartup(std::int32_t* status) = 0; // 14
    virtual ResultCode setBTPowerStatus(std::int32_t on) = 0;          // 15
    virtual ResultCode setBTPowerAtStartup(std::int32_t on) = 0;       // 16
    virtual ResultCode setGPSPowerStatus(std::int32_t on) = 0;         // 17
    virtual ResultCode setGPSPowerAtStartup(std::int32_t on) = 0;      // 18
};

} // namespace Varnholt
