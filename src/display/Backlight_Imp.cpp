#include "display/Backlight_Imp.h"

#include "display/BacklightController.h"
#include "frame/Semaphores.h"
#include "frame/ServiceControl.h"
#include "frame/SettingsFile.h"
#include "identity/FeatureProbe.h"

#include <array>
#include <string>

namespace pelmux {

namespace {

const char* flagText(bool on)
{
    return on ? "1" : "0";
}

} // namespace

SharedInstance<Backlight_Imp>& backlightInstance()
{
    static SharedInstance<Backlight_Imp> instance;
    return instance;
}

Backlight_Imp::Backlight_Imp()
{
    link_.open();
    displayPresent_ = probeFeature(Feature::Display);
    createSemaphore(newBacklightSettingsName, newSettingsSemaphore_);
}

Backlight_Imp::~Backlight_Imp()
{
    platform::closeSemaphore(newSettingsSemaphore_);
}

void Backlight_Imp::release()
{
    backlightInstance().release();
}

void Backlight_Imp::notifyController()
{
    // At its maximum already the count stays 1: notifications the controller has not seen yet
    // collapse into one.
    if (newSettingsSemaphore_ != nullptr)
        platform::giveSemaphore(newSettingsSemaphore_);
}

ResultCode Backlight_Imp::readByte(std::uint32_t code, unsigned char* value)
{
    if (!displayPresent_)
        return Varnholt::ERR_NOT_SUPPORTED;
    if (!link_.isOpen())
        return Varnholt::ERR_OPEN_FAILED;
    if (value == nullptr)
        return Varnholt::ERR_INVALID_PARAMETER_NULL;
    std::uint8_t answer = 0;
    const ResultCode result = issue(link_, code, nullptr, 0, &answer, 1, Count::Output);
    if (result != Varnholt::ERR_SUCCESS)
        return result;
    *value = answer;
    return Varnholt::ERR_SUCCESS;
}

ResultCode Backlight_Imp::getIntensity(unsigned char* level)
{
    return readByte(backlightGetLevelRequest, level);
}

ResultCode Backlight_Imp::setIntensity(unsigned char level)
{
    if (!displayPresent_)
        return Varnholt::ERR_NOT_SUPPORTED;
    // The level goes to the driver as it is: every byte is a level.
    return writeRequest(link_, backlightSetLevelRequest, &level, 1);
}

ResultCode Backlight_Imp::getStatus(unsigned char* status)
{
    return readByte(backlightStatusRequest, status);
}

ResultCode Backlight_Imp::enableAutomaticBacklight()
{
    if (!displayPresent_)
        return Varnholt::ERR_NOT_SUPPORTED;
    if (const ResultCode written = writeSetting(ablStatusKey, "1"); written != Varnholt::ERR_SUCCESS)
        return written;
    notifyController();
    return Varnholt::ERR_SUCCESS;
}

ResultCode Backlight_Imp::disableAutomaticBacklight()
{
    if (!displayPresent_)
        return Varnholt::ERR_NOT_SUPPORTED;
    if (const ResultCode written = writeSetting(ablStatusKey, "0"); written != Varnholt::ERR_SUCCESS)
        return written;
    notifyController();
    return Varnholt::ERR_SUCCESS;
}

ResultCode Backlight_Imp::getAutomaticBacklightStatus(bool* enabled)
{
    if (!displayPresent_)
        return Varnholt::ERR_NOT_SUPPORTED;
    if (enabled == nullptr)
        return Varnholt::ERR_INVALID_PARAMETER_NULL;
    std::string status;
    if (const ResultCode read = readSetting(ablStatusKey, status); read != Varnholt::ERR_SUCCESS)
        return read;
    std::int32_t value = 0;
    if (const ResultCode parsed = textToNumber(status, value); parsed != Varnholt::ERR_SUCCESS) {
        // A status the file does not give counts as off.
        if (parsed == Varnholt::ERR_DATATYPE_MISMATCH)
            *enabled = false;
        return parsed;
    }
    *enabled = value != 0;
    return Varnholt::ERR_SUCCESS;
}

ResultCode Backlight_Imp::setSoftTransitions(bool softTransitions)
{
    if (!displayPresent_)
        return Varnholt::ERR_NOT_SUPPORTED;
    const ResultCode written = writeSetting(ablSoftTransitionsKey, flagText(softTransitions));
    if (written != Varnholt::ERR_SUCCESS)
        return written;
    notifyController();
    return Varnholt::ERR_SUCCESS;
}

ResultCode Backlight_Imp::getAutomaticBacklightParameters(bool* softTransitions, double* k)
{
    if (!displayPresent_)
        return Varnholt::ERR_NOT_SUPPORTED;
    if (softTransitions == nullptr || k == nullptr)
        return Varnholt::ERR_INVALID_PARAMETER_NULL;
    std::array<std::string, 2> texts;
    if (const ResultCode read = readSettings<2>({ablSoftTransitionsKey, ablKKey}, texts);
        read != Varnholt::ERR_SUCCESS)
        return read;
    const auto& [softText, kText] = texts;
    std::int32_t soft = 0;
    if (const ResultCode parsed = textToNumber(softText, soft); parsed != Varnholt::ERR_SUCCESS)
        return parsed;
    // The flag is the caller's once it parsed, whatever k turns out to be.
    *softTransitions = soft != 0;
    double factor = 0.0;
    if (const ResultCode parsed = textToNumber(kText, factor); parsed != Varnholt::ERR_SUCCESS)
        return parsed;
    *k = factor;
    return Varnholt::ERR_SUCCESS;
}

ResultCode Backlight_Imp::setAutomaticBacklightFilter(std::int32_t averageWndSize, std::int32_t rejectWndSize,
                                                      std::int32_t rejectDeltaInLux, std::int32_t mode)
{
    if (!displayPresent_)
        return Varnholt::ERR_NOT_SUPPORTED;
    // Every text first: a value that cannot be written leaves the file as it was.
    std::array<std::string, 4> texts;
    const std::int32_t values[] = {averageWndSize, rejectWndSize, rejectDeltaInLux, mode};
    for (std::size_t i = 0; i < texts.size(); ++i)
        if (const ResultCode formatted = intToText(values[i], texts[i]); formatted != Varnholt::ERR_SUCCESS)
            return formatted == Varnholt::ERR_MEMORY_ALLOCATION_FAILED ? formatted
                                                                       : Varnholt::ERR_DATATYPE_MISMATCH;
    // No range is judged here: the light sensor judges the values when the controller starts
    // averaging with them.
    const ResultCode written = writeSettings({{ablAverageWndSizeKey, texts[0]},
                                              {ablRejectWndSizeKey, texts[1]},
                                              {ablRejectDeltaKey, texts[2]},
                                              {ablModeKey, texts[3]}});
    if (written != Varnholt::ERR_SUCCESS)
        return written;
    notifyController();
    return Varnholt::ERR_SUCCESS;
}

ResultCode Backlight_Imp::getAutomaticBacklightFilter(std::int32_t* averageWndSize,
                                                      std::int32_t* rejectWndSize,
                                                      std::int32_t* rejectDeltaInLux, std::int32_t* mode)
{
    if (!displayPresent_)
        return Varnholt::ERR_NOT_SUPPORTED;
    if (averageWndSize == nullptr || rejectWndSize == nullptr || rejectDeltaInLux == nullptr ||
        mode == nullptr)
        return Varnholt::ERR_INVALID_PARAMETER_NULL;
    std::array<std::string, 4> texts;
    const ResultCode read =
        readSettings<4>({ablModeKey, ablAverageWndSizeKey, ablRejectWndSizeKey, ablRejectDeltaKey}, texts);
    if (read != Varnholt::ERR_SUCCESS)
        return read;
    // Parsed in this order, each value stored as soon as it parses; the first failure ends it.
    std::int32_t* const outputs[] = {mode, averageWndSize, rejectWndSize, rejectDeltaInLux};
    for (std::size_t i = 0; i < texts.size(); ++i)
        if (const ResultCode parsed = textToNumber(texts[i], *outputs[i]); parsed != Varnholt::ERR_SUCCESS)
            return parsed;
    return Varnholt::ERR_SUCCESS;
}

ResultCode Backlight_Imp::getLedDimming(bool* enabled)
{
    if (!displayPresent_)
        return Varnholt::ERR_NOT_SUPPORTED;
    if (enabled == nullptr)
        return Varnholt::ERR_INVALID_PARAMETER_NULL;
    std::string text;
    if (const ResultCode read = readSetting(ledDimmingKey, text); read != Varnholt::ERR_SUCCESS)
        return read;
    // Dimming is on until someone switches it off; a value that does not parse counts as 0.
    std::int32_t value = 0;
    const ResultCode parsed = text.empty() ? Varnholt::ERR_SUCCESS : textToNumber(text, value);
    if (parsed == Varnholt::ERR_MEMORY_ALLOCATION_FAILED)
        return parsed;
    *enabled = text.empty() || (parsed == Varnholt::ERR_SUCCESS && value == 1);
    return Varnholt::ERR_SUCCESS;
}

ResultCode Backlight_Imp::setLedDimming(std::int32_t value)
{
    if (!displayPresent_)
        return Varnholt::ERR_NOT_SUPPORTED;
    // The key stays written whatever the service answers.
    if (const ResultCode written = writeSetting(ledDimmingKey, flagText(value == 1));
        written != Varnholt::ERR_SUCCESS)
        return written;
    return notifyService(serviceLedDimming);
}

} // namespace pelmux
