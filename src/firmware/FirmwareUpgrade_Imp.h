#pragma once

#include "firmware/Flasher_FPGA.h"
#include "firmware/Flasher_STM32.h"
#include "platform/Semaphore.h"
#include "platform/Thread.h"

#include <pelmux/FirmwareUpgrade.h>

#include <cstdint>

namespace pelmux {

// The job lock shared by every process of the session: one firmware job at a time.
inline constexpr const char* upgradeInProgressName = "PELMUX_FIRMWARE_UPGRADE_IN_PROGRESS";

// Runs firmware jobs with the two flashers: one at a time across processes, on the caller's thread
// or on a worker thread of its own, posting a status record the application polls or waits for.
class FirmwareUpgrade_Imp final : public Varnholt::FirmwareUpgrade {
public:
    FirmwareUpgrade_Imp();

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

    // The start operations: `target` is a micro-controller target, or noTarget for the FPGA.
    ResultCode start(IFlasher& flasher, bool program, const char* fileName, bool blocking,
                     std::uint32_t target);
    static void runJob(void* self);

    Varnholt::UpgradeStatus cachedStatus_{};
    Flasher_FPGA fpgaFlasher_;
    Flasher_STM32 stmFlasher_;
    platform::SemaphoreHandle statusLock_ = nullptr;
    platform::SemaphoreHandle statusPosted_ = nullptr;
    platform::SemaphoreHandle upgradeInProgress_ = nullptr;
    Varnholt::UpgradeStatus sharedStatus_{};
    // The worker thread of the last non-blocking job, joined before another starts and at release.
    platform::ThreadHandle thread_ = nullptr;
    IFlasher* threadFlasher_ = nullptr;
    bool threadProgram_ = false;
};

// The check a micro-controller image passes before its job starts: the file opens and reads whole
// (else ERR_OPEN_FAILED (1)); target 0 (system supervisor) takes 95000 to 1000000 bytes without the
// text "Front_uc", target 1 (front) 50000 to 110000 bytes without "SystemSupervisor"; another size,
// the other target's marker or another target gives ERR_DATATYPE_MISMATCH (4).
ResultCode checkImageFile(const char* fileName, std::uint32_t target);

// The check an FPGA image passes before its job starts: a file that carries a micro-controller's
// marker ("SystemSupervisor", "Front_uc") gives ERR_DATATYPE_MISMATCH (4); its records would
// read as FPGA data lines. A file that cannot be opened or read passes: the job's reading step
// reports it.
ResultCode checkFpgaImageFile(const char* fileName);

} // namespace pelmux
