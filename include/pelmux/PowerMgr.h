/// \file
/// An application's part in the unit's power management, carried out by PelmuxService.
#pragma once

#include <pelmux/ResultCode.h>

namespace Varnholt {

/// The power-manager hand-shake with the unit's service PelmuxService.
///
/// GetPowerMgr builds a new object per call and sets "PowerMgrResume" to 1 in the settings file. An
/// object registers at most one mode (0 none, 1 or 2) with the service PelmuxService through control
/// codes 133 (withdraw), 134 (mode 1) and 135 (mode 2); the service's answer is not reported. The
/// settings operations take the settings file's lock for one cycle each and may wait for it; no
/// operation starts a thread. A missing or unparsable settings value reads as 0.
struct PowerMgr {
    /// Registers power-manager mode 1 or 2 with the service, or withdraws it (0).
    /// 0 withdraws a registered mode (control 133). 1 or 2 registers that mode from none (134, 135);
    /// the mode already registered is success without a control code; the other mode while one is
    /// registered, or any other value, gives ERR_INVALID_PARAMETER_NULL (9) and sends nothing.
    virtual ResultCode setConfiguration(int mode) = 0; // 0
    /// The mode this object has registered: 0, 1 or 2.
    virtual ResultCode getConfiguration(int* mode) = 0; // 1
    /// The request the service posted in "PowerMgrReq": 0 (none) to 3; other values read as 0.
    virtual ResultCode getRequest(int* request) = 0; // 2
    /// Counts "PowerMgrAppReadyReq" up by 1, then sets "PowerMgrResume" to 0 (two cycles) and ends this
    /// object's registration without a control code. Always ERR_SUCCESS.
    virtual ResultCode setAppReady() = 0; // 3
    /// True while "PowerMgrResume" is not 0.
    virtual ResultCode getResumeFlag(bool* resume) = 0; // 4
    /// Withdraws a registered mode (control 133) and frees the object.
    virtual void release() = 0; // 5
};

} // namespace Varnholt
