// What every flasher shares: the status it posts for the application, the image file name of the
// current job, the driver handle that puts a target into upgrade mode, and the end of every job.
#pragma once

#include "frame/DriverChannel.h"
#include "platform/Semaphore.h"

#include <pelmux/FirmwareUpgrade.h>

#include <cstdint>
#include <functional>

namespace pelmux {

using Varnholt::UpgradeAction;
using Varnholt::UpgradeStatus;

// Driver requests that prepare a target and bring it back.
inline constexpr std::uint32_t upgradeModeRequest = 0x222508;      // 1 byte in: one of the codes below
inline constexpr std::uint32_t frontPreparationRequest = 0x22250C; // no data
inline constexpr std::uint32_t bootloaderLinkRequest = 0x222510;   // 1 byte in: a BootloaderLink value

inline constexpr std::uint8_t upgradeModeFpgaOrFront = 0x0F;
inline constexpr std::uint8_t upgradeModeSupervisor = 0x96;
inline constexpr std::uint8_t upgradeModeEnded = 0xC3;

// Which micro-controller the serial line reaches.
inline constexpr std::uint8_t linkNone = 0;
inline constexpr std::uint8_t linkSupervisor = 1;
inline constexpr std::uint8_t linkFront = 2;

// Longest image file name a job keeps, terminator included.
inline constexpr std::size_t flasherFileNameSize = 256;

class IFlasher {
public:
    // Carries out one whole job: program true writes the image and then verifies it, false only
    // verifies. Posts its progress, ends with UPGRADE_COMPLETE or UPGRADE_FAILED, gives
    // `upgradeInProgress` back as its very last step and returns the job's result code.
    virtual ResultCode run(bool program) = 0; // 0

    // The owner's semaphores and status record; the flasher uses but never closes them.
    void attach(platform::SemaphoreHandle statusLock, platform::SemaphoreHandle statusPosted,
                platform::SemaphoreHandle upgradeInProgress, UpgradeStatus* status);

    // Takes the image file name of the next job; the owner has checked it holds fewer than
    // flasherFileNameSize characters.
    void setFileName(const char* fileName);
    const char* fileName() const { return fileName_; }

    // Posts (errorCode, percent, currentAction) for the application unless it equals the last
    // posting or the semaphores are missing; wakes a caller waiting for a new status.
    void postStatus(ResultCode errorCode, std::uint8_t percent, std::uint32_t currentAction);
    // The same within the step last posted.
    void postStatus(ResultCode errorCode, std::uint8_t percent);

    // Tests: called on the job's thread with every status the flasher posts, in order, after it
    // was written; postings collapse for an application polling the status, not here.
    using PostObserver = std::function<void(const UpgradeStatus& posted)>;
    void setPostObserver(PostObserver observer) { postObserver_ = std::move(observer); }

protected:
    IFlasher() = default;
    ~IFlasher() = default;
    IFlasher(const IFlasher&) = delete;
    IFlasher& operator=(const IFlasher&) = delete;

    // The upgrade-mode request (0x0F, 0x96 or 0xC3), through `controlHandle`, opened on first use.
    // The driver's answer is not judged; the result only tells whether the request went out.
    ResultCode sendUpgradeMode(std::uint8_t code);
    // The front preparation request: ERR_OPEN_FAILED (1) when the driver cannot be opened,
    // ERR_IOCTRL_OPERATION_FAILED (7) when the request fails, else ERR_SUCCESS.
    ResultCode sendFrontPreparation();
    // The bootloader-link request: a value above linkFront gives ERR_INVALID_DATA_RANGE (8) before
    // any request, otherwise as sendFrontPreparation.
    ResultCode sendBootloaderLink(std::uint8_t value);

    // Posts the job's final status: on failure waits 100 ms and posts (result, 0, UPGRADE_FAILED),
    // otherwise posts (ERR_SUCCESS, 0, UPGRADE_COMPLETE).
    void postFinalStatus(ResultCode result);
    // Gives `upgradeInProgress` back; the last step of every job.
    void releaseJobLock();

    DriverLink& controlHandle() { return controlHandle_; }

private:
    platform::SemaphoreHandle statusLock_ = nullptr;
    platform::SemaphoreHandle statusPosted_ = nullptr;
    platform::SemaphoreHandle upgradeInProgress_ = nullptr;
    UpgradeStatus* status_ = nullptr;
    char fileName_[flasherFileNameSize] = {};
    DriverLink controlHandle_;
    std::uint32_t lastAction_ = 0;
    std::uint8_t lastPercent_ = 0;
    ResultCode lastError_ = Varnholt::ERR_SUCCESS;
    PostObserver postObserver_;
};

} // namespace pelmux
