// Upgrade and verification jobs for the FPGA, the system supervisor and the front micro-controller.
#pragma once

#include <pelmux/ResultCode.h>

#include <cstdint>

namespace Varnholt {

// The step a job is in. Value 2 is never posted.
enum UpgradeAction : std::uint32_t {
    UPGRADE_PREPARING = 0,
    UPGRADE_CONNECTING = 1,
    UPGRADE_READING_FILE = 3,
    UPGRADE_WRITING = 4,
    UPGRADE_VERIFYING = 5,
    UPGRADE_COMPLETE = 6,
    UPGRADE_FAILED = 7,
};

// A job has ended when currentAction is UPGRADE_COMPLETE or UPGRADE_FAILED.
struct UpgradeStatus {
    UpgradeAction currentAction;
    std::uint8_t percent; // progress of the current step, 0 to 100
    ResultCode errorCode; // ERR_SUCCESS until a step fails
};
static_assert(sizeof(UpgradeStatus) == 12);

// fileName is a NUL-terminated 8-bit path; blocking runs the job on the caller's thread.
struct FirmwareUpgrade {
    virtual ResultCode startFpgaUpgrade(const char* fileName, bool blocking) = 0;       // 0
    virtual ResultCode startFpgaVerification(const char* fileName, bool blocking) = 0;  // 1
    virtual ResultCode startSSUpgrade(const char* fileName, bool blocking) = 0;         // 2
    virtual ResultCode startSSVerification(const char* fileName, bool blocking) = 0;    // 3
    virtual ResultCode startFrontUpgrade(const char* fileName, bool blocking) = 0;      // 4
    virtual ResultCode startFrontVerification(const char* fileName, bool blocking) = 0; // 5
    virtual ResultCode getUpgradeStatus(UpgradeStatus& status, bool wait) = 0;          // 6
    virtual ResultCode notifyService() = 0;                                             // 7
    virtual void release() = 0;                                                         // 8
};

} // namespace Varnholt
