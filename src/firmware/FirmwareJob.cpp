#include "firmware/FirmwareJob.h"

#include "frame/Semaphores.h"
#include "platform/Time.h"

#include <cstring>

namespace pelmux {

namespace {

bool sameStatus(const UpgradeStatus& a, const UpgradeStatus& b)
{
    return a.currentAction == b.currentAction && a.percent == b.percent && a.errorCode == b.errorCode;
}

// The pause before a failed job's final status.
constexpr std::uint32_t failurePauseMs = 100;

} // namespace

FirmwareJob::FirmwareJob()
{
    createSemaphore(nullptr, statusLock_);
    createSemaphore(nullptr, statusPosted_);
    createSemaphore(upgradeInProgressName, upgradeInProgress_);
}

FirmwareJob::~FirmwareJob()
{
    platform::closeSemaphore(statusLock_);
    platform::closeSemaphore(statusPosted_);
    platform::closeSemaphore(upgradeInProgress_);
}

bool FirmwareJob::tryTake()
{
    return upgradeInProgress_ != nullptr && platform::takeSemaphore(upgradeInProgress_, 0);
}

void FirmwareJob::giveBack()
{
    platform::giveSemaphore(upgradeInProgress_);
}

void FirmwareJob::begin(const char* fileName)
{
    cachedStatus_ = {};
    sharedStatus_ = {};
    std::strncpy(fileName_, fileName, jobFileNameSize - 1);
    fileName_[jobFileNameSize - 1] = '\0';
}

void FirmwareJob::post(ResultCode errorCode, std::uint8_t percent, std::uint32_t currentAction)
{
    const UpgradeStatus next{static_cast<UpgradeAction>(currentAction), percent, errorCode};
    if (sameStatus(next, lastPosted_))
        return;
    if (statusPosted_ == nullptr || statusLock_ == nullptr)
        return;
    platform::takeSemaphore(statusLock_, platform::waitForever);
    sharedStatus_ = next;
    lastPosted_ = next;
    platform::giveSemaphore(statusLock_);
    if (postObserver_)
        postObserver_(next);
    // A posting that finds the previous one not yet collected is lost, which is harmless: the
    // record already holds the newest status.
    platform::giveSemaphore(statusPosted_);
}

void FirmwareJob::post(ResultCode errorCode, std::uint8_t percent)
{
    post(errorCode, percent, lastPosted_.currentAction);
}

ResultCode FirmwareJob::finish(ResultCode result)
{
    if (result != Varnholt::ERR_SUCCESS) {
        platform::sleepMs(failurePauseMs);
        post(result, 0, Varnholt::UPGRADE_FAILED);
    } else {
        post(Varnholt::ERR_SUCCESS, 0, Varnholt::UPGRADE_COMPLETE);
    }
    giveBack();
    return result;
}

UpgradeStatus FirmwareJob::collect(bool wait)
{
    if (statusPosted_ != nullptr &&
        platform::takeSemaphore(statusPosted_, wait ? platform::waitForever : 0) && statusLock_ != nullptr) {
        platform::takeSemaphore(statusLock_, platform::waitForever);
        cachedStatus_ = sharedStatus_;
        platform::giveSemaphore(statusLock_);
    }
    return cachedStatus_;
}

} // namespace pelmux
