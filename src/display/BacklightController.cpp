#include "display/BacklightController.h"

#include "display/Lightsensor_Imp.h"
#include "frame/Factories.h"
#include "frame/Semaphores.h"
#include "frame/SettingsFile.h"
#include "frame/Trace.h"
#include "platform/Time.h"

#include <algorithm>
#include <cmath>
#include <string>

namespace pelmux {

namespace {

// The measurement period and the pace of soft transitions, in milliseconds.
constexpr std::int32_t periodMs = 800;
constexpr std::int32_t softStepMs = 50;
// How long the controller waits before it asks again: after a refused averaging start, a failed
// light request or a failed backlight level request.
constexpr std::uint32_t retryPauseMs = 1000;
// A wait for new settings looks for a stop request this often.
constexpr std::uint32_t stopPollMs = 500;
// Without the settings semaphore nothing signals new settings: they are read again this often.
constexpr std::uint32_t settingsPollMs = 800;

// How a key's text parsed: as a number, not at all, or not for lack of memory.
enum class Parsed : std::uint8_t { Yes, No, MemoryExhausted };

// A key's text as a number: parsed into `field` when it parses, else its error trace.
template <class Number> Parsed parseNumber(const std::string& text, Number& field, const char* errorTrace)
{
    const ResultCode result = textToNumber(text, field);
    if (result == Varnholt::ERR_MEMORY_ALLOCATION_FAILED)
        return Parsed::MemoryExhausted;
    if (result != Varnholt::ERR_SUCCESS)
        trace(errorTrace, static_cast<int>(result));
    return result == Varnholt::ERR_SUCCESS ? Parsed::Yes : Parsed::No;
}

// A flag key: true when the integer is non-zero.
Parsed parseFlag(const std::string& text, bool& field, const char* errorTrace)
{
    std::int32_t value = 0;
    const Parsed parsed = parseNumber(text, value, errorTrace);
    if (parsed == Parsed::Yes)
        field = value != 0;
    return parsed;
}

} // namespace

BacklightController::BacklightController()
{
    link_.open();
    createSemaphore(nullptr, startLock_);
    trace(createSemaphore(newBacklightSettingsName, newSettingsSemaphore_) ? "Sema create ok\n"
                                                                           : "Sema create error\n");
}

BacklightController::~BacklightController()
{
    stop();
    trace("Destructor\n");
    if (lightSensor_ != nullptr)
        lightSensor_->release();
    platform::closeSemaphore(startLock_);
    platform::closeSemaphore(newSettingsSemaphore_);
}

ResultCode BacklightController::startThread()
{
    if (!platform::takeSemaphore(startLock_, 0))
        return Varnholt::ERR_INITIALISATION_FAILED;
    platform::sleepMs(periodMs);
    // A start whose thread could not be created left its sensor behind; this start makes a new one.
    if (lightSensor_ != nullptr)
        lightSensor_->release();
    lightSensor_ = makeNoThrow<Lightsensor_Imp>();
    if (lightSensor_ == nullptr) {
        platform::giveSemaphore(startLock_);
        return Varnholt::ERR_MEMORY_ALLOCATION_FAILED;
    }
    s_ = Settings{};
    trace("startThread\n");
    stopRequested_ = false;
    stopAlarm_.reset();
    thread_ = platform::startThread(threadMain, this);
    if (thread_ == nullptr) {
        platform::giveSemaphore(startLock_);
        return Varnholt::ERR_CREATING_THREAD;
    }
    return Varnholt::ERR_SUCCESS;
}

void BacklightController::stop()
{
    if (thread_ == nullptr)
        return;
    stopRequested_ = true;
    stopAlarm_.wake();
    platform::joinThread(thread_);
    thread_ = nullptr;
}

void BacklightController::threadMain(void* controller)
{
    static_cast<BacklightController*>(controller)->run();
}

void BacklightController::run()
{
    trace("Main started\n");
    while (!stopRequested_) {
        const bool ok = readSettings();
        if (s_.enabled && ok)
            executeABL();
        if (!waitForNewSettings())
            break;
    }
}

bool BacklightController::waitForNewSettings()
{
    if (newSettingsSemaphore_ == nullptr) {
        pause(settingsPollMs);
        return !stopRequested_;
    }
    while (!stopRequested_) {
        if (platform::takeSemaphore(newSettingsSemaphore_, stopPollMs))
            return true;
    }
    return false;
}

void BacklightController::pause(std::int32_t milliseconds)
{
    if (milliseconds > 0 && !stopRequested_)
        stopAlarm_.sleep(static_cast<std::uint32_t>(milliseconds));
}

bool BacklightController::readSettings()
{
    trace("Read settings\n");
    s_ = Settings{};
    bool ok = true;
    const ResultCode cycle = settingsCycle([&](SettingsFile& file) {
        const std::string averageText = file.getValue(ablAverageWndSizeKey);
        const std::string rejectText = file.getValue(ablRejectWndSizeKey);
        const std::string deltaText = file.getValue(ablRejectDeltaKey);
        const std::string kText = file.getValue(ablKKey);
        const std::string modeText = file.getValue(ablModeKey);
        const std::string statusText = file.getValue(ablStatusKey);
        const std::string softText = file.getValue(ablSoftTransitionsKey);

        bool allParsed = true;
        bool exhausted = false;
        const auto judge = [&](Parsed parsed, bool clearsOk) {
            exhausted = exhausted || parsed == Parsed::MemoryExhausted;
            allParsed = allParsed && parsed == Parsed::Yes;
            if (parsed != Parsed::Yes && clearsOk)
                ok = false;
        };
        judge(parseNumber(modeText, s_.mode, "Error s_mode %d\n"), true);
        judge(parseNumber(averageText, s_.averageWndSize, "Error s_averageWndSize %d\n"), true);
        judge(parseNumber(rejectText, s_.rejectWndSize, "Error s_rejectWndSize %d\n"), true);
        judge(parseNumber(deltaText, s_.rejectDeltaInLux, "Error s_rejectDeltaInLux %d\n"), true);
        judge(parseNumber(kText, s_.k, "Error s_k %d\n"), true);
        {
            const Parsed parsed = parseFlag(statusText, s_.enabled, "Error s_enabled %d\n");
            if (parsed != Parsed::Yes)
                s_.enabled = false;
            judge(parsed, true);
        }
        judge(parseFlag(softText, s_.softTransitions, "Error s_bSoftTransitions %d\n"), false);
        // Values that could not be parsed for lack of memory are no reason to repair the file.
        if (exhausted)
            return Varnholt::ERR_MEMORY_ALLOCATION_FAILED;

        if (!allParsed) {
            // Repair: the file gets every value the controller now uses.
            ok = true;
            std::string k, average, reject, delta, mode;
            ok = doubleToText(s_.k, k) == Varnholt::ERR_SUCCESS && ok;
            ok = intToText(s_.averageWndSize, average) == Varnholt::ERR_SUCCESS && ok;
            ok = intToText(s_.rejectWndSize, reject) == Varnholt::ERR_SUCCESS && ok;
            ok = intToText(s_.rejectDeltaInLux, delta) == Varnholt::ERR_SUCCESS && ok;
            ok = intToText(s_.mode, mode) == Varnholt::ERR_SUCCESS && ok;
            file.loadSettings(settingsPath());
            // A value that could not be converted is not written as an empty text.
            const auto write = [&](const char* key, const std::string& text) {
                if (!text.empty())
                    file.setValue(key, text);
            };
            write(ablKKey, k);
            write(ablAverageWndSizeKey, average);
            write(ablRejectWndSizeKey, reject);
            write(ablRejectDeltaKey, delta);
            write(ablModeKey, mode);
            write(ablSoftTransitionsKey, s_.softTransitions ? "1" : "0");
            write(ablStatusKey, s_.enabled ? "1" : "0");
        }
        return Varnholt::ERR_SUCCESS;
    });
    // Settings that could not be read stop the controller until the next notification.
    if (cycle != Varnholt::ERR_SUCCESS) {
        trace("Error settings %d\n", static_cast<int>(cycle));
        ok = false;
    }

    trace("Mode %d\n", static_cast<int>(s_.mode));
    trace("Execute %d\n", s_.enabled ? 1 : 0);
    if (!ok)
        s_.enabled = false;
    return ok;
}

ResultCode BacklightController::startLightAveraging(const Settings& settings)
{
    for (;;) {
        const ResultCode result = lightSensor_->startAverageCalc(
            static_cast<std::uint32_t>(settings.averageWndSize),
            static_cast<std::uint32_t>(settings.rejectWndSize),
            static_cast<std::uint32_t>(settings.rejectDeltaInLux), settings.mode);
        if (result != Varnholt::ERR_AVERAGE_CALC_STARTED) {
            if (result != Varnholt::ERR_SUCCESS)
                trace("Error startAverageCalc\n");
            return result;
        }
        trace("Error ERR_AVERAGE_CALC_STARTED, sleep(1000)\n");
        pause(static_cast<std::int32_t>(retryPauseMs));
        if (stopRequested_)
            return result;
    }
}

void BacklightController::restartLightAveraging(const Settings& started)
{
    // A thread that has not begun yet is ended too, so that the new start finds the session's
    // averaging lock free once it has gone.
    lightSensor_->stopAverageCalc();
    pause(static_cast<std::int32_t>(retryPauseMs));
    if (!stopRequested_ && startLightAveraging(started) == Varnholt::ERR_SUCCESS)
        pause(periodMs); // the averaging thread takes its first sample
}

namespace {

// How far below a whole level the curve may pass and still mean it: k fitted to a level gives
// that level back only up to the last bits of a double.
constexpr double levelTolerance = 1e-9;

// The level for a point y of the curve (0 to 254).
std::uint8_t levelOnCurve(double y)
{
    // Truncated, except where the curve passes through a whole level within rounding error: after
    // k was fitted to the level someone set, k ln(x) - 10 lands a hair below that level about one
    // time in seven, and truncating it would step the user's choice down by one.
    const double nearest = std::round(y);
    return static_cast<std::uint8_t>(std::fabs(y - nearest) < levelTolerance ? nearest : y);
}

} // namespace

double BacklightController::curve(double x) const
{
    double y = s_.k * std::log(x) - 10.0;
    y = std::clamp(y, 0.0, static_cast<double>(s_.maxLevel) - 1.0);
    trace("Calculated y: %.4f, x: %.4f, k: %.4f,\n", y, x, s_.k);
    return y;
}

bool BacklightController::executeABL()
{
    trace("executeABL started\n");
    std::uint8_t level = 0; // the level the controller believes is set
    std::uint8_t target = 0;
    bool firstTime = true;
    std::int32_t elapsed = periodMs; // since the last measurement

    // The filter applies from this start on; settings read while the loop runs change the curve only.
    const Settings started = s_;
    if (startLightAveraging(started) != Varnholt::ERR_SUCCESS)
        return false;
    pause(periodMs); // the averaging thread takes its first sample

    const char* reason = nullptr;
    while (reason == nullptr) {
        trace("Time pasted %d\n", static_cast<int>(elapsed));
        if (platform::takeSemaphore(newSettingsSemaphore_, 0) && !readSettings()) {
            reason = "Error readSettings\n";
            break;
        }
        // A stop request ends the loop as a disabled controller does.
        if (!s_.enabled || stopRequested_) {
            reason = "Exit the thread\n";
            break;
        }
        if (elapsed >= periodMs) {
            std::uint16_t lux = 0;
            bool sampled = false;
            if (lightSensor_->averageIlluminance(lux, sampled) != Varnholt::ERR_SUCCESS) {
                // The averaging thread ends on a failed sensor request. Left alone, the level
                // would stay where it is until an application happens to write new settings.
                trace("Error getAverageIlluminance\n");
                restartLightAveraging(started);
                continue;
            }
            if (!sampled) {
                // An average without a sample reads as darkness (or as an earlier calculation's
                // light): the level stays as it is until the sensor has given a reading.
                pause(periodMs);
                continue;
            }
            std::uint8_t devLevel = 0;
            if (readRequest(link_, backlightGetLevelRequest, &devLevel, 1) != Varnholt::ERR_SUCCESS) {
                // As a failed light request: the level keeps following the light once the
                // driver answers again, without waiting for an application to signal settings.
                trace("Error getIntensity\n");
                pause(static_cast<std::int32_t>(retryPauseMs));
                continue;
            }
            const double x = lux > 2 ? lux : 2.0;
            double y = 0.0;
            if (firstTime) {
                level = devLevel;
                firstTime = false;
                trace("firstTime: %d, %d\n", devLevel, devLevel);
                y = curve(x);
            } else if (devLevel == level) {
                y = curve(x);
            } else {
                // Someone else set the level: fit k so that the curve passes through it here.
                trace("Adaption, dev level %d current: %d\n", devLevel, level);
                y = devLevel;
                s_.k = (y + 10.0) / std::log(x);
                level = devLevel;
                trace("New y: %.4f, x: %.4f, k: %.4f,\n", y, x, s_.k);
                updateK(s_.k);
            }
            trace("Used y: %.4f\n", y);
            target = levelOnCurve(y);
            elapsed = 0;
        }
        if (level == target) {
            pause(periodMs - elapsed);
            elapsed = periodMs;
            continue;
        }
        trace("Change level from %d to %d\n", level, target);
        if (s_.softTransitions)
            level = static_cast<std::uint8_t>(level < target ? level + 1 : level - 1);
        else
            level = target;
        if (writeRequest(link_, backlightSetLevelRequest, &level, 1) != Varnholt::ERR_SUCCESS) {
            // What the device holds now is not known: the next measurement takes its level as
            // found, as the first one does, rather than as a level someone else set.
            trace("Error setIntensity\n");
            firstTime = true;
            pause(static_cast<std::int32_t>(retryPauseMs));
            elapsed = periodMs;
            continue;
        }
        if (level != target) {
            pause(softStepMs);
            elapsed += softStepMs;
        } else {
            pause(periodMs - elapsed);
            elapsed = periodMs;
        }
    }
    trace("%s", reason);
    lightSensor_->stopAverageCalc();
    trace("Stop ABL loop\n");
    return true;
}

void BacklightController::updateK(double k)
{
    if (writeSettingNumber(ablKKey, k) != Varnholt::ERR_SUCCESS)
        trace("Error BacklightController::updateK failed %f\n", k);
}

} // namespace pelmux
