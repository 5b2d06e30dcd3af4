#include "firmware/FirmwareUpgrade_Imp.h"

#include "frame/ExhaustedMemory.h"
#include "frame/OutputReference.h"
#include "frame/Semaphores.h"
#include "frame/ServiceControl.h"
#include "platform/Device.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>

namespace pelmux {

namespace {

using Varnholt::ERR_CREATING_THREAD;
using Varnholt::ERR_DATATYPE_MISMATCH;
using Varnholt::ERR_FUNCTION_IN_PROGRESS;
using Varnholt::ERR_INVALID_DATA_RANGE;
using Varnholt::ERR_INVALID_PARAMETER_NULL;
using Varnholt::ERR_OPEN_FAILED;
using Varnholt::ERR_SUCCESS;

constexpr std::uint32_t noTarget = 0xFFFFFFFFu;

struct ImageRule {
    std::uint64_t smallest;
    std::uint64_t largest;
    std::string_view otherMarker;
};

constexpr ImageRule supervisorImage = {95000, 1000000, frontMarker};
constexpr ImageRule frontImage = {50000, 110000, supervisorMarker};

// The whole of an open file of `size` bytes; false when it cannot be read whole.
bool readWhole(platform::Handle file, std::uint64_t size, std::string& text)
{
    text.assign(static_cast<std::size_t>(size), '\0');
    std::size_t got = 0;
    while (got < text.size()) {
        std::uint32_t count = 0;
        if (!platform::readHandle(file, text.data() + got, static_cast<std::uint32_t>(text.size() - got),
                                  &count) ||
            count == 0)
            return false;
        got += count;
    }
    return true;
}

} // namespace

ResultCode checkImageFile(const char* fileName, std::uint32_t target)
{
    const platform::Handle file = platform::openImageFile(fileName, true);
    if (file == platform::invalidHandle())
        return ERR_OPEN_FAILED;
    std::uint64_t size = 0;
    const bool sized = platform::fileSize(file, &size);
    const ImageRule* rule =
        target == targetSupervisor ? &supervisorImage : (target == targetFront ? &frontImage : nullptr);
    // A size outside the target's range fails whatever the file holds: it is not read.
    if (!sized || rule == nullptr || size < rule->smallest || size > rule->largest) {
        platform::closeHandle(file);
        return sized ? ERR_DATATYPE_MISMATCH : ERR_OPEN_FAILED;
    }
    std::string text;
    const bool readable = readWhole(file, size, text);
    platform::closeHandle(file);
    if (!readable)
        return ERR_OPEN_FAILED;
    return text.find(rule->otherMarker) == std::string::npos ? ERR_SUCCESS : ERR_DATATYPE_MISMATCH;
}

ResultCode checkFpgaImageFile(const char* fileName)
{
    const platform::Handle file = platform::openImageFile(fileName, false);
    if (file == platform::invalidHandle())
        return ERR_SUCCESS;
    std::uint64_t size = 0;
    std::string text;
    const bool readable = platform::fileSize(file, &size) && readWhole(file, size, text);
    platform::closeHandle(file);
    return readable && imageKindOf(text).carriesMarker() ? ERR_DATATYPE_MISMATCH : ERR_SUCCESS;
}

FirmwareUpgrade_Imp::FirmwareUpgrade_Imp()
{
    // A semaphore that cannot be made stays null: the operations that need it then do without.
    createSemaphore(nullptr, statusLock_);
    createSemaphore(nullptr, statusPosted_);
    createSemaphore(upgradeInProgressName, upgradeInProgress_);
    fpgaFlasher_.attach(statusLock_, statusPosted_, upgradeInProgress_, &sharedStatus_);
    stmFlasher_.attach(statusLock_, statusPosted_, upgradeInProgress_, &sharedStatus_);
}

FirmwareUpgrade_Imp::~FirmwareUpgrade_Imp() = default;

ResultCode FirmwareUpgrade_Imp::startFpgaUpgrade(const char* fileName, bool blocking)
{
    return start(fpgaFlasher_, true, fileName, blocking, noTarget);
}
ResultCode FirmwareUpgrade_Imp::startFpgaVerification(const char* fileName, bool blocking)
{
    return start(fpgaFlasher_, false, fileName, blocking, noTarget);
}
ResultCode FirmwareUpgrade_Imp::startSSUpgrade(const char* fileName, bool blocking)
{
    return start(stmFlasher_, true, fileName, blocking, targetSupervisor);
}
ResultCode FirmwareUpgrade_Imp::startSSVerification(const char* fileName, bool blocking)
{
    return start(stmFlasher_, false, fileName, blocking, targetSupervisor);
}
ResultCode FirmwareUpgrade_Imp::startFrontUpgrade(const char* fileName, bool blocking)
{
    return start(stmFlasher_, true, fileName, blocking, targetFront);
}
ResultCode FirmwareUpgrade_Imp::startFrontVerification(const char* fileName, bool blocking)
{
    return start(stmFlasher_, false, fileName, blocking, targetFront);
}

ResultCode FirmwareUpgrade_Imp::start(IFlasher& flasher, bool program, const char* fileName, bool blocking,
                                      std::uint32_t target)
{
    if (upgradeInProgress_ == nullptr || !platform::takeSemaphore(upgradeInProgress_, 0))
        return ERR_FUNCTION_IN_PROGRESS;
    // A job keeps at most flasherFileNameSize - 1 characters of its file name: a longer one would
    // be cut to another file's name.
    ResultCode check = ERR_SUCCESS;
    if (fileName == nullptr)
        check = ERR_INVALID_PARAMETER_NULL;
    else if (std::strlen(fileName) >= flasherFileNameSize)
        check = ERR_INVALID_DATA_RANGE;
    else if (target != noTarget)
        check = unlessMemoryExhausted([&] { return checkImageFile(fileName, target); });
    else
        check = unlessMemoryExhausted([&] { return checkFpgaImageFile(fileName); });
    if (check != ERR_SUCCESS) {
        platform::giveSemaphore(upgradeInProgress_);
        return check;
    }
    // The lock was free, so the last worker thread has given it back as its very last step.
    platform::joinThread(thread_);
    thread_ = nullptr;

    cachedStatus_ = {};
    sharedStatus_ = {};
    flasher.setFileName(fileName);
    if (target != noTarget)
        stmFlasher_.target = target;
    if (blocking)
        return flasher.run(program);
    threadFlasher_ = &flasher;
    threadProgram_ = program;
    thread_ = platform::startThread(&FirmwareUpgrade_Imp::runJob, this);
    if (thread_ == nullptr) {
        platform::giveSemaphore(upgradeInProgress_);
        return ERR_CREATING_THREAD;
    }
    return ERR_SUCCESS;
}

void FirmwareUpgrade_Imp::runJob(void* self)
{
    auto* upgrade = static_cast<FirmwareUpgrade_Imp*>(self);
    upgrade->threadFlasher_->run(upgrade->threadProgram_);
}

ResultCode FirmwareUpgrade_Imp::getUpgradeStatus(Varnholt::UpgradeStatus& status, bool wait)
{
    // Tested before the wait: a status taken for nobody would be lost to the next call.
    Varnholt::UpgradeStatus* const statusOut = outputAddress(&status);
    if (statusOut == nullptr)
        return ERR_INVALID_PARAMETER_NULL;
    if (statusPosted_ != nullptr &&
        platform::takeSemaphore(statusPosted_, wait ? platform::waitForever : 0) && statusLock_ != nullptr) {
        platform::takeSemaphore(statusLock_, platform::waitForever);
        cachedStatus_ = sharedStatus_;
        platform::giveSemaphore(statusLock_);
    }
    *statusOut = cachedStatus_;
    return ERR_SUCCESS;
}

ResultCode FirmwareUpgrade_Imp::notifyService()
{
    return pelmux::notifyService(serviceFirmwareUpgrade);
}

void FirmwareUpgrade_Imp::release()
{
    // A running job uses this object's semaphores, status and flashers: it ends first.
    platform::joinThread(thread_);
    thread_ = nullptr;
    platform::closeSemaphore(statusLock_);
    platform::closeSemaphore(statusPosted_);
    platform::closeSemaphore(upgradeInProgress_);
    delete this;
}

} // namespace pelmux
