#include "firmware/FirmwareUpgrade_Imp.h"

#include "frame/ExhaustedMemory.h"
#include "frame/OutputReference.h"
#include "frame/ServiceControl.h"

#include <cstring>

namespace pelmux {

using Varnholt::ERR_CREATING_THREAD;
using Varnholt::ERR_FUNCTION_IN_PROGRESS;
using Varnholt::ERR_INVALID_DATA_RANGE;
using Varnholt::ERR_INVALID_PARAMETER_NULL;
using Varnholt::ERR_SUCCESS;

FirmwareUpgrade_Imp::~FirmwareUpgrade_Imp() = default;

ResultCode FirmwareUpgrade_Imp::startFpgaUpgrade(const char* fileName, bool blocking)
{
    return start(fpgaFlasher_, true, fileName, blocking);
}
ResultCode FirmwareUpgrade_Imp::startFpgaVerification(const char* fileName, bool blocking)
{
    return start(fpgaFlasher_, false, fileName, blocking);
}
ResultCode FirmwareUpgrade_Imp::startSSUpgrade(const char* fileName, bool blocking)
{
    return start(supervisorFlasher_, true, fileName, blocking);
}
ResultCode FirmwareUpgrade_Imp::startSSVerification(const char* fileName, bool blocking)
{
    return start(supervisorFlasher_, false, fileName, blocking);
}
ResultCode FirmwareUpgrade_Imp::startFrontUpgrade(const char* fileName, bool blocking)
{
    return start(frontFlasher_, true, fileName, blocking);
}
ResultCode FirmwareUpgrade_Imp::startFrontVerification(const char* fileName, bool blocking)
{
    return start(frontFlasher_, false, fileName, blocking);
}

ResultCode FirmwareUpgrade_Imp::start(IFlasher& flasher, bool program, const char* fileName, bool blocking)
{
    if (!job_.tryTake())
        return ERR_FUNCTION_IN_PROGRESS;
    // A job keeps at most jobFileNameSize - 1 characters of its file name: a longer one would be
    // cut to another file's name.
    ResultCode check = ERR_SUCCESS;
    if (fileName == nullptr)
        check = ERR_INVALID_PARAMETER_NULL;
    else if (std::strlen(fileName) >= jobFileNameSize)
        check = ERR_INVALID_DATA_RANGE;
    else
        check = unlessMemoryExhausted([&] { return flasher.checkImage(fileName); });
    if (check != ERR_SUCCESS) {
        job_.giveBack();
        return check;
    }
    // The lock was free, so the last worker thread has given it back as its very last step.
    platform::joinThread(thread_);
    thread_ = nullptr;

    job_.begin(fileName);
    if (blocking)
        return flasher.run(job_, program);
    threadFlasher_ = &flasher;
    threadProgram_ = program;
    thread_ = platform::startThread(&FirmwareUpgrade_Imp::runJob, this);
    if (thread_ == nullptr) {
        job_.giveBack();
        return ERR_CREATING_THREAD;
    }
    return ERR_SUCCESS;
}

void FirmwareUpgrade_Imp::runJob(void* self)
{
    auto* upgrade = static_cast<FirmwareUpgrade_Imp*>(self);
    upgrade->threadFlasher_->run(upgrade->job_, upgrade->threadProgram_);
}

ResultCode FirmwareUpgrade_Imp::getUpgradeStatus(Varnholt::UpgradeStatus& status, bool wait)
{
    // Tested before the wait: a status taken for nobody would be lost to the next call.
    Varnholt::UpgradeStatus* const statusOut = outputAddress(&status);
    if (statusOut == nullptr)
        return ERR_INVALID_PARAMETER_NULL;
    *statusOut = job_.collect(wait);
    return ERR_SUCCESS;
}

ResultCode FirmwareUpgrade_Imp::notifyService()
{
    return pelmux::notifyService(serviceFirmwareUpgrade);
}

void FirmwareUpgrade_Imp::release()
{
    // A running job uses this object's job and flashers: it ends first.
    platform::joinThread(thread_);
    thread_ = nullptr;
    delete this;
}

} // namespace pelmux
