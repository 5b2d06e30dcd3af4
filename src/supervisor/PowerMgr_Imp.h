// An application's part in the unit's power management. The service PelmuxService learns the mode
// an application registers through control codes; a pending request, the application's ready
// reports and the resume flag travel through three keys of the settings file.
#pragma once

#include <pelmux/PowerMgr.h>

#include <cstdint>

namespace pelmux {

using Varnholt::ResultCode;

// The settings keys of the hand-shake.
inline constexpr const char* powerMgrResumeKey = "PowerMgrResume";
inline constexpr const char* powerMgrRequestKey = "PowerMgrReq";
inline constexpr const char* powerMgrAppReadyKey = "PowerMgrAppReadyReq";

// The highest request the service posts; anything else reads as no request (0).
inline constexpr std::uint32_t lastPowerMgrRequest = 3;

class PowerMgr_Imp final : public Varnholt::PowerMgr {
public:
    // Sets the resume flag in the settings file (one cycle); no mode is registered yet.
    PowerMgr_Imp();

    ResultCode setConfiguration(int mode) override;
    ResultCode getConfiguration(int* mode) override;
    ResultCode getRequest(int* request) override;
    ResultCode setAppReady() override;
    ResultCode getResumeFlag(bool* resume) override;
    // Withdraws a registered mode from the service, then frees the object.
    void release() override;

private:
    ~PowerMgr_Imp() = default;

    // Registers `wanted` (1 or 2) from no mode; the mode already registered is no change; the other
    // mode is refused.
    ResultCode registerMode(std::int32_t wanted, std::uint32_t controlCode);

    std::int32_t mode_ = 0;
};

} // namespace pelmux
