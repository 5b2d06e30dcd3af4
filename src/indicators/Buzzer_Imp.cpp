#include "indicators/Buzzer_Imp.h"

#include "frame/LittleEndian.h"
#include "frame/OutputReference.h"
#include "frame/Semaphores.h"
#include "identity/FeatureProbe.h"
#include "platform/Time.h"

#include <algorithm>
#include <array>

namespace pelmux {

namespace {

std::array<std::uint8_t, 4> settingsBytes(const BuzzerSettings& settings)
{
    std::array<std::uint8_t, 4> bytes{};
    putWord(bytes.data(), settings.frequency);
    putWord(bytes.data() + 2, settings.volume);
    return bytes;
}

} // namespace

BuzzerSettings clampedTone(BuzzerSettings settings)
{
    settings.frequency = std::clamp(settings.frequency, minBuzzerFrequency, maxBuzzerFrequency);
    settings.volume = std::min(settings.volume, maxBuzzerVolume);
    return settings;
}

Buzzer_Imp::Buzzer_Imp()
{
    createSemaphore(buzzingLockName, buzzingInProgress_);
    link_.open();
    buzzerPresent_ = probeFeature(Feature::Display);
}

Buzzer_Imp::~Buzzer_Imp()
{
    platform::closeSemaphore(buzzingInProgress_);
}

void Buzzer_Imp::release()
{
    joinBuzzThread();
    delete this;
}

void Buzzer_Imp::joinBuzzThread()
{
    std::lock_guard lock(threadMutex_);
    platform::joinThread(thread_);
    thread_ = nullptr;
}

ResultCode Buzzer_Imp::readSettings(BuzzerSettings& settings)
{
    if (!buzzerPresent_)
        return Varnholt::ERR_NOT_SUPPORTED;
    std::array<std::uint8_t, 4> bytes{};
    const ResultCode result = readRequest(link_, buzzerReadSettingsRequest, bytes.data(), bytes.size());
    if (result == Varnholt::ERR_SUCCESS) {
        settings.frequency = wordAt(bytes.data());
        settings.volume = wordAt(bytes.data() + 2);
    }
    return result;
}

ResultCode Buzzer_Imp::writeSettings(const BuzzerSettings& settings)
{
    const auto bytes = settingsBytes(settings);
    return issue(link_, buzzerWriteSettingsRequest, bytes.data(), bytes.size(), nullptr, 0, Count::Unchecked);
}

ResultCode Buzzer_Imp::readTone(std::uint16_t BuzzerSettings::*field, std::uint16_t* value)
{
    if (!buzzerPresent_)
        return Varnholt::ERR_NOT_SUPPORTED;
    if (value == nullptr)
        return Varnholt::ERR_INVALID_PARAMETER_NULL;
    BuzzerSettings settings;
    const ResultCode result = readSettings(settings);
    if (result == Varnholt::ERR_SUCCESS)
        *value = settings.*field;
    return result;
}

ResultCode Buzzer_Imp::getFrequency(std::uint16_t& frequency)
{
    return readTone(&BuzzerSettings::frequency, outputAddress(&frequency));
}

ResultCode Buzzer_Imp::getVolume(std::uint16_t& volume)
{
    return readTone(&BuzzerSettings::volume, outputAddress(&volume));
}

ResultCode Buzzer_Imp::isSounding(bool& on)
{
    if (!buzzerPresent_)
        return Varnholt::ERR_NOT_SUPPORTED;
    bool* const onOut = outputAddress(&on);
    if (onOut == nullptr)
        return Varnholt::ERR_INVALID_PARAMETER_NULL;
    std::uint8_t state = 0;
    const ResultCode result = readRequest(link_, buzzerReadStateRequest, &state, 1);
    if (result == Varnholt::ERR_SUCCESS)
        *onOut = static_cast<std::int8_t>(state) > 0;
    return result;
}

ResultCode Buzzer_Imp::setFrequency(std::uint16_t frequency)
{
    if (!buzzerPresent_)
        return Varnholt::ERR_NOT_SUPPORTED;
    if (frequency < minBuzzerFrequency || frequency > maxBuzzerFrequency)
        return Varnholt::ERR_INVALID_PARAMETER_NULL;
    BuzzerSettings settings;
    const ResultCode result = readSettings(settings);
    if (result != Varnholt::ERR_SUCCESS)
        return result;
    settings.frequency = frequency;
    return writeSettings(settings);
}

ResultCode Buzzer_Imp::setVolume(std::uint16_t volume)
{
    if (!buzzerPresent_)
        return Varnholt::ERR_NOT_SUPPORTED;
    if (volume > maxBuzzerVolume)
        return Varnholt::ERR_INVALID_PARAMETER_NULL;
    BuzzerSettings settings;
    const ResultCode result = readSettings(settings);
    if (result != Varnholt::ERR_SUCCESS)
        return result;
    settings.volume = volume;
    return writeSettings(settings);
}

ResultCode Buzzer_Imp::setSounding(bool on)
{
    BuzzerSettings settings;
    ResultCode result = readSettings(settings);
    if (result != Varnholt::ERR_SUCCESS)
        return result;
    const BuzzerSettings tone = clampedTone(settings);
    if (tone != settings) {
        result = writeSettings(tone);
        if (result != Varnholt::ERR_SUCCESS)
            return result;
    }
    // The switch carries the tone too: its first three bytes (frequency, low byte of the volume).
    const auto bytes = settingsBytes(tone);
    const std::uint8_t request[4] = {static_cast<std::uint8_t>(on ? 1 : 0), bytes[0], bytes[1], bytes[2]};
    return issue(link_, buzzerSwitchRequest, request, sizeof request, nullptr, 0, Count::Unchecked);
}

ResultCode Buzzer_Imp::buzz(std::uint32_t durationMs, bool blocking)
{
    if (!buzzerPresent_)
        return Varnholt::ERR_NOT_SUPPORTED;
    if (!platform::takeSemaphore(buzzingInProgress_, 0))
        return Varnholt::ERR_FUNCTION_IN_PROGRESS;
    if (blocking) {
        const ResultCode result = setSounding(true);
        if (result == Varnholt::ERR_SUCCESS) {
            platform::sleepMs(durationMs);
            setSounding(false);
        }
        platform::giveSemaphore(buzzingInProgress_);
        return result;
    }
    // This object's previous buzz thread has given the semaphore back but may not have returned
    // yet: wait for it, so that its handle is not lost.
    joinBuzzThread();
    std::lock_guard lock(threadMutex_);
    buzzDuration_ = durationMs;
    thread_ = platform::startThread(buzzThread, this);
    if (thread_ == nullptr) {
        platform::giveSemaphore(buzzingInProgress_);
        return Varnholt::ERR_CREATING_THREAD;
    }
    return Varnholt::ERR_SUCCESS;
}

void Buzzer_Imp::buzzThread(void* object)
{
    auto& self = *static_cast<Buzzer_Imp*>(object);
    // The results are not looked at: nobody waits for them.
    self.setSounding(true);
    platform::sleepMs(self.buzzDuration_);
    self.setSounding(false);
    platform::giveSemaphore(self.buzzingInProgress_);
}

} // namespace pelmux
