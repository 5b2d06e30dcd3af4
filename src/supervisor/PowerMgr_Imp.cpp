#include "supervisor/PowerMgr_Imp.h"

#include "frame/ServiceControl.h"
#include "frame/SettingsFile.h"

#include <string>

namespace pelmux {

namespace {

// The service's answer does not change the object: a service that is absent or refuses learns
// nothing, and the next registration tells it again.
void tellService(std::uint32_t controlCode)
{
    static_cast<void>(notifyService(controlCode));
}

} // namespace

PowerMgr_Imp::PowerMgr_Imp()
{
    writeSetting(powerMgrResumeKey, "1");
}

void PowerMgr_Imp::release()
{
    if (mode_ != 0)
        tellService(servicePowerMgrWithdraw);
    delete this;
}

ResultCode PowerMgr_Imp::registerMode(std::int32_t wanted, std::uint32_t controlCode)
{
    if (mode_ == wanted)
        return Varnholt::ERR_SUCCESS;
    // Changing from one mode to the other needs a withdrawal first.
    if (mode_ != 0)
        return Varnholt::ERR_INVALID_PARAMETER_NULL;
    tellService(controlCode);
    mode_ = wanted;
    return Varnholt::ERR_SUCCESS;
}

ResultCode PowerMgr_Imp::setConfiguration(int mode)
{
    switch (mode) {
    case 0:
        if (mode_ != 0) {
            tellService(servicePowerMgrWithdraw);
            mode_ = 0;
        }
        return Varnholt::ERR_SUCCESS;
    case 1:
        return registerMode(1, servicePowerMgrMode1);
    case 2:
        return registerMode(2, servicePowerMgrMode2);
    default:
        return Varnholt::ERR_INVALID_PARAMETER_NULL;
    }
}

ResultCode PowerMgr_Imp::getConfiguration(int* mode)
{
    if (mode == nullptr)
        return Varnholt::ERR_INVALID_PARAMETER_NULL;
    *mode = mode_;
    return Varnholt::ERR_SUCCESS;
}

ResultCode PowerMgr_Imp::getRequest(int* request)
{
    if (request == nullptr)
        return Varnholt::ERR_INVALID_PARAMETER_NULL;
    std::int32_t posted = 0;
    const ResultCode read = readSettingNumber(powerMgrRequestKey, posted);
    if (read != Varnholt::ERR_SUCCESS)
        return read;
    // Taken unsigned: a negative value is no request either.
    *request = static_cast<std::uint32_t>(posted) <= lastPowerMgrRequest ? posted : 0;
    return Varnholt::ERR_SUCCESS;
}

ResultCode PowerMgr_Imp::setAppReady()
{
    // The counter and its increment in one cycle, so that no other report in between is lost; it
    // wraps past the largest number instead of overflowing.
    const ResultCode counted = settingsCycle([](SettingsFile& file) {
        std::int32_t reports = 0;
        const ResultCode parsed = textToInt(file.getValue(powerMgrAppReadyKey), reports);
        if (parsed == Varnholt::ERR_MEMORY_ALLOCATION_FAILED)
            return parsed;
        if (parsed != Varnholt::ERR_SUCCESS)
            reports = 0;
        std::string text;
        const ResultCode formatted =
            intToText(static_cast<std::int32_t>(static_cast<std::uint32_t>(reports) + 1u), text);
        if (formatted != Varnholt::ERR_SUCCESS)
            return formatted;
        file.setValue(powerMgrAppReadyKey, text);
        return Varnholt::ERR_SUCCESS;
    });
    if (counted != Varnholt::ERR_SUCCESS)
        return counted;
    // A cycle of its own: another process may use the file between the two.
    if (const ResultCode written = writeSetting(powerMgrResumeKey, "0"); written != Varnholt::ERR_SUCCESS)
        return written;
    // The ready report ends this object's registration; the service learns it from the file, so
    // no control code is sent.
    mode_ = 0;
    return Varnholt::ERR_SUCCESS;
}

ResultCode PowerMgr_Imp::getResumeFlag(bool* resume)
{
    if (resume == nullptr)
        return Varnholt::ERR_INVALID_PARAMETER_NULL;
    std::int32_t flag = 0;
    const ResultCode read = readSettingNumber(powerMgrResumeKey, flag);
    if (read != Varnholt::ERR_SUCCESS)
        return read;
    *resume = flag != 0;
    return Varnholt::ERR_SUCCESS;
}

} // namespace pelmux
