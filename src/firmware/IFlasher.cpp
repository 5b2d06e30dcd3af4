#include "firmware/IFlasher.h"

#include "platform/Time.h"

#include <cstring>

namespace pelmux {

void IFlasher::attach(platform::SemaphoreHandle statusLock, platform::SemaphoreHandle statusPosted,
                      platform::SemaphoreHandle upgradeInProgress, UpgradeStatus* status)
{
    statusLock_ = statusLock;
    statusPosted_ = statusPosted;
    upgradeInProgress_ = upgradeInProgress;
    status_ = status;
}

void IFlasher::setFileName(const char* fileName)
{
    std::strncpy(fileName_, fileName, flasherFileNameSize - 1);
    fileName_[flasherFileNameSize - 1] = '\0';
}

void IFlasher::postStatus(ResultCode errorCode, std::uint8_t percent, std::uint32_t currentAction)
{
    if (currentAction == lastAction_ && percent == lastPercent_ && errorCode == lastError_)
        return;
    if (statusPosted_ == nullptr || statusLock_ == nullptr || status_ == nullptr)
        return;
    platform::takeSemaphore(statusLock_, platform::waitForever);
    status_->currentAction = static_cast<UpgradeAction>(currentAction);
    status_->percent = percent;
    status_->errorCode = errorCode;
    lastAction_ = currentAction;
    lastPercent_ = percent;
    lastError_ = errorCode;
    const UpgradeStatus posted = *status_;
    platform::giveSemaphore(statusLock_);
    if (postObserver_)
        postObserver_(posted);
    // A posting that finds the previous one not yet collected is lost, which is harmless: the
    // record already holds the newest status.
    platform::giveSemaphore(statusPosted_);
}

void IFlasher::postStatus(ResultCode errorCode, std::uint8_t percent)
{
    postStatus(errorCode, percent, lastAction_);
}

ResultCode IFlasher::sendUpgradeMode(std::uint8_t code)
{
    controlHandle_.reopenIfClosed();
    return writeRequest(controlHandle_, upgradeModeRequest, &code, sizeof code);
}

ResultCode IFlasher::sendFrontPreparation()
{
    if (!controlHandle_.reopenIfClosed())
        return Varnholt::ERR_OPEN_FAILED;
    return issue(controlHandle_, frontPreparationRequest, nullptr, 0, nullptr, 0, Count::Unchecked);
}

ResultCode IFlasher::sendBootloaderLink(std::uint8_t value)
{
    if (value > linkFront)
        return Varnholt::ERR_INVALID_DATA_RANGE;
    if (!controlHandle_.reopenIfClosed())
        return Varnholt::ERR_OPEN_FAILED;
    return issue(controlHandle_, bootloaderLinkRequest, &value, sizeof value, nullptr, 0, Count::Unchecked);
}

void IFlasher::postFinalStatus(ResultCode result)
{
    if (result != Varnholt::ERR_SUCCESS) {
        platform::sleepMs(100);
        postStatus(result, 0, Varnholt::UPGRADE_FAILED);
    } else {
        postStatus(Varnholt::ERR_SUCCESS, 0, Varnholt::UPGRADE_COMPLETE);
    }
}

void IFlasher::releaseJobLock()
{
    platform::giveSemaphore(upgradeInProgress_);
}

} // namespace pelmux
