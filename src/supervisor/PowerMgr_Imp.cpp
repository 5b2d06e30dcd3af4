#include "supervisor/PowerMgr_Imp.h"

#include "frame/ServiceControl.h"
#include "frame/SettingsFile.h"

#include <string>

namespace pelmux {

namespace {

// One settings cycle reading `key` as a number; a missing or unparsable value reads as 0.
std::int32_t readNumber(const char* key)
{
    std::string text;
    {
        SettingsFile file;
        file.loadSettings(settingsPath());
        text = file.getValue(key);
    }
    std::int32_t value = 0;
    if (textToInt(text, value) != Varnholt::ERR_SUCCESS)
        return 0;
    return value;
}

// One settings cycle writing `key`. The hand-shake reports no failure of the file.
void writeText(const char* key, const std::string& value)
{
    SettingsFile file;
    file.loadSettings(settingsPath());
    file.setValue(key, value);
}

// The service's answer does not change the object: a service that is absent or refuses learns
// nothing, and the next registration tells it again.
void tellService(std::uint32_t controlCode)
{
    static_cast<void>(notifyService(controlCode));
}

} // namespace

PowerMgr_Imp::PowerMgr_Imp()
{
    writeText(powerMgrResumeKey, "1");
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
    const std::int32_t posted = readNumber(powerMgrRequestKey);
    // Taken unsigned: a negative value is no request either.
    *request = static_cast<std::uint32_t>(posted) <= lastPowerMgrRequest ? posted : 0;
    return Varnholt::ERR_SUCCESS;
}

ResultCode PowerMgr_Imp::setAppReady()
{
    // The counter and its increment in one cycle, so that no other report in between is lost; it
    // wraps past the largest number instead of overflowing.
    {
        SettingsFile file;
        file.loadSettings(settingsPath());
        std::int32_t reports = 0;
        if (textToInt(file.getValue(powerMgrAppReadyKey), reports) != Varnholt::ERR_SUCCESS)
            reports = 0;
        std::string text;
        intToText(static_cast<std::int32_t>(static_cast<std::uint32_t>(reports) + 1u), text);
        file.setValue(powerMgrAppReadyKey, text);
    }
    // A cycle of its own: another process may use the file between the two.
    writeText(powerMgrResumeKey, "0");
    // The ready report ends this object's registration; the service learns it from the file, so
    // no control code is sent.
    mode_ = 0;
    return Varnholt::ERR_SUCCESS;
}

ResultCode PowerMgr_Imp::getResumeFlag(bool* resume)
{
    if (resume == nullptr)
        return Varnholt::ERR_INVALID_PARAMETER_NULL;
    *resume = readNumber(powerMgrResumeKey) != 0;
    return Varnholt::ERR_SUCCESS;
}

} // namespace pelmux
