#pragma once

#include "firmware/FirmwareJob.h"
#include "firmware/Flasher_FPGA.h"
#include "firmware/Flasher_STM32.h"
#include "platform/Thread.h"

#include <pelmux/FirmwareUpgrade.h>

namespace pelmux {

// Runs firmware jobs with the flashers: one at a time across processes, on the caller's thread or
// on a worker thread of its own, posting a status record the application polls or waits for.
class FirmwareUpgrade_Imp final : public Varnholt::FirmwareUpgrade {
public:
    FirmwareUpgrade_Imp() = default;

    ResultCode startFpgaUpgrade(const char* fileName, bool blocking) override;
    ResultCode startFpgaVerification(const char* fileName, bool blocking) override;
    ResultCode startSSUpgrade(const char* fileName, bool blocking) override;
    ResultCode startSSVerification(const char* fileName, bool blocking) override;
    ResultCode startFrontUpgrade(const char* fileName, bool blocking) override;
    ResultCode startFrontVerification(const char* fileName, bool blocking) override;
    ResultCode getUpgradeStatus(Varnholt::UpgradeStatus& status, bool wait) override;
    ResultCode notifyService() override;
    void release() override;

private:
    ~FirmwareUpgrade_Imp();

    ResultCode start(IFlasher& flasher, bool program, const char* fileName, bool blocking);
    static void runJob(void* self);

    FirmwareJob job_;
    Flasher_FPGA fpgaFlasher_;
    Flasher_STM32 supervisorFlasher_{targetSupervisor};
    Flasher_STM32 frontFlasher_{targetFront};
    // The worker thread of the last non-blocking job, joined before another starts and at release.
    platform::ThreadHandle thread_ = nullptr;
    IFlasher* threadFlasher_ = nullptr;
    bool threadProgram_ = false;
};

} // namespace pelmux
