// Power outputs switched by the system supervisor: display, CAN, video inputs and an auxiliary output.
#pragma once

#include <pelmux/ResultCode.h>

namespace Varnholt {

// On/off values: 1 is on; setters turn any other value into off. Video power is a mask of inputs 1 to 4.
struct Power {
    virtual ResultCode getDisplayPowerStatus(int* status) = 0;       // 0
    virtual ResultCode getCanPowerStatus(int* status) = 0;           // 1
    virtual ResultCode getVideoPowerStatus(unsigned char* mask) = 0; // 2
    virtual ResultCode getAuxPowerStatus(int* status) = 0;           // 3
    virtual ResultCode setDisplayPowerStatus(int value) = 0;         // 4
    virtual ResultCode setCanPowerStatus(int value) = 0;             // 5
    virtual ResultCode setVideoPowerStatus(unsigned char value) = 0; // 6
    virtual ResultCode setAuxPowerStatus(int value) = 0;             // 7
    virtual ResultCode getPowerStateCode(int* code) = 0;             // 8
    virtual ResultCode sendPowerCommand() = 0;                       // 9
    virtual void release() = 0;                                      // 10
};

} // namespace Varnholt
