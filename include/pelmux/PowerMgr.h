// An application's part in the unit's power management, carried out by PelmuxService.
#pragma once

#include <pelmux/ResultCode.h>

namespace Varnholt {

// mode: 0 none, 1 or 2.
struct PowerMgr {
    virtual ResultCode setConfiguration(int mode) = 0;  // 0
    virtual ResultCode getConfiguration(int* mode) = 0; // 1
    virtual ResultCode getRequest(int* request) = 0;    // 2
    virtual ResultCode setAppReady() = 0;               // 3
    virtual ResultCode getResumeFlag(bool* resume) = 0; // 4
    virtual void release() = 0;                         // 5
};

} // namespace Varnholt
