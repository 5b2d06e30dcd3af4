/// \file
/// Power outputs switched by the system supervisor: display, CAN, video inputs and an auxiliary output.
#pragma once

#include <pelmux/ResultCode.h>

namespace Varnholt {

/// The power outputs (display, CAN, video inputs, auxiliary) and the supervisor's power state.
///
/// On/off values: 1 is on; setters turn any other value into off. Video power is a mask of inputs 1 to 4.
///
/// GetPower builds a new object per call; it learns from the unit identity whether the unit has a
/// display, CAN channels and video inputs, and opens the board driver at its first operation. The
/// library keeps no copy of the power states. Every operation runs on the caller's thread, blocks
/// for one driver request (and the supervisor's version for getPowerStateCode) and starts no thread.
///
/// Checks in this order: ERR_OPEN_FAILED (1) while the driver cannot be opened (every call tries
/// again); ERR_NOT_SUPPORTED (2) when the unit lacks the output's feature (no request is sent);
/// getters then ERR_INVALID_PARAMETER_NULL (9) for a null output; ERR_IOCTRL_OPERATION_FAILED (7)
/// when the request fails, ERR_BUFFER_SIZE_ERROR (6) for an answer other than one byte. Outputs are
/// written only on success.
struct Power {
    /// Display power, 0 or 1. ERR_NOT_SUPPORTED (2) on a unit without a display.
    virtual ResultCode getDisplayPowerStatus(int* status) = 0; // 0
    /// CAN power, 0 or 1. ERR_NOT_SUPPORTED (2) on a unit without CAN channels.
    virtual ResultCode getCanPowerStatus(int* status) = 0; // 1
    /// The video power mask (bits 0 to 3: inputs 1 to 4), as the supervisor gives it.
    /// ERR_NOT_SUPPORTED (2) on a unit without video inputs.
    virtual ResultCode getVideoPowerStatus(unsigned char* mask) = 0; // 2
    /// Auxiliary power, 0 or 1.
    virtual ResultCode getAuxPowerStatus(int* status) = 0; // 3
    /// Switches display power on (1) or off (any other value). 2 on a unit without a display.
    virtual ResultCode setDisplayPowerStatus(int value) = 0; // 4
    /// Switches CAN power on (1) or off. 2 on a unit without CAN channels.
    virtual ResultCode setCanPowerStatus(int value) = 0; // 5
    /// Sets the video power mask, 0 to 15 (above: ERR_INVALID_DATA_RANGE (8), nothing sent).
    /// 2 on a unit without video inputs (tested first).
    virtual ResultCode setVideoPowerStatus(unsigned char value) = 0; // 6
    /// Switches auxiliary power on (1) or off.
    virtual ResultCode setAuxPowerStatus(int value) = 0; // 7
    /// The supervisor's power-state code, 0 to 6 (another value: ERR_INVALID_DATA_RANGE (8)).
    /// ERR_NEWER_SS_REQUIRED (25) before supervisor firmware 0.9.0.0.
    virtual ResultCode getPowerStateCode(int* code) = 0; // 8
    /// Sends the supervisor's power command; ERR_SUCCESS whenever the request succeeds (its byte
    /// count is not judged).
    virtual ResultCode sendPowerCommand() = 0; // 9
    /// Closes the driver handle if it was opened and frees the object; the pointer must not be
    /// used afterwards.
    virtual void release() = 0; // 10
};

} // namespace Varnholt
