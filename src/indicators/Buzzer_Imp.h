#pragma once

#include "frame/DriverChannel.h"
#include "platform/Mutex.h"
#include "platform/Semaphore.h"
#include "platform/Thread.h"

#include <pelmux/Buzzer.h>

#include <cstdint>
#include <mutex>

namespace pelmux {

// Driver requests of the buzzer.
inline constexpr std::uint32_t buzzerReadSettingsRequest = 0x222520;  // 4 bytes: the settings record
inline constexpr std::uint32_t buzzerWriteSettingsRequest = 0x222524; // 4 bytes in
inline constexpr std::uint32_t buzzerReadStateRequest = 0x222528;     // 1 byte: on when above 0
inline constexpr std::uint32_t buzzerSwitchRequest = 0x22252C;        // 4 bytes in: on/off, then the tone

// Held by the one timed buzz of the session.
inline constexpr const char* buzzingLockName = "PELMUX_BUZZING_IN_PROGRESS";

// The tone the buzzer can sound.
inline constexpr std::uint16_t minBuzzerFrequency = 700;
inline constexpr std::uint16_t maxBuzzerFrequency = 10000;
inline constexpr std::uint16_t maxBuzzerVolume = 51;

// The buzzer's settings record: frequency in hertz and volume, each 16 bits little-endian.
struct BuzzerSettings {
    std::uint16_t frequency = 0;
    std::uint16_t volume = 0;
    friend bool operator==(const BuzzerSettings&, const BuzzerSettings&) = default;
};

// The tone brought into what the buzzer can sound: a frequency below 700 Hz becomes 700, one above
// 10000 Hz becomes 10000, a volume above 51 becomes 51.
BuzzerSettings clampedTone(BuzzerSettings settings);

// The unit's buzzer. Whether the unit has one is decided once, when the object is made, from the
// display entry of the unit identity; without it every operation but release answers
// ERR_NOT_SUPPORTED (2) first, and a null output reference ERR_INVALID_PARAMETER_NULL (9) next. A
// timed buzz holds the session-wide semaphore "PELMUX_BUZZING_IN_PROGRESS" until the buzzer is off
// again; the settings and on/off operations do not take it and may run during a buzz.
class Buzzer_Imp final : public Varnholt::Buzzer {
public:
    // Creates or opens "PELMUX_BUZZING_IN_PROGRESS", opens the driver and asks the unit identity
    // whether a display (and so a buzzer) is fitted; an identity that cannot be read counts as
    // fitted. Failures are not reported here: the operations answer them.
    Buzzer_Imp();
    Buzzer_Imp(const Buzzer_Imp&) = delete;
    Buzzer_Imp& operator=(const Buzzer_Imp&) = delete;

    ResultCode getFrequency(std::uint16_t& frequency) override;
    ResultCode getVolume(std::uint16_t& volume) override;
    ResultCode isSounding(bool& on) override;
    ResultCode setFrequency(std::uint16_t frequency) override;
    ResultCode setVolume(std::uint16_t volume) override;
    ResultCode setSounding(bool on) override;
    ResultCode buzz(std::uint32_t durationMs, bool blocking) override;
    // Waits for the end of a timed buzz this object started (the buzz thread uses the driver handle
    // and the semaphore until the buzzer is off), then closes both and frees the object.
    void release() override;

private:
    ~Buzzer_Imp();

    // The presence test, then the open test, then the settings read.
    ResultCode readSettings(BuzzerSettings& settings);
    // One field of the settings record for a getter: the presence test, the null test
    // (ERR_INVALID_PARAMETER_NULL), then the read.
    ResultCode readTone(std::uint16_t BuzzerSettings::*field, std::uint16_t* value);
    // Writes the settings record; the returned count is not judged.
    ResultCode writeSettings(const BuzzerSettings& settings);
    static void buzzThread(void* object);
    // Waits for the end of this object's last buzz thread, if any.
    void joinBuzzThread();

    DriverLink link_;
    std::uint32_t buzzDuration_ = 0;
    platform::SemaphoreHandle buzzingInProgress_ = nullptr;
    bool buzzerPresent_ = true;
    platform::Mutex threadMutex_; // guards thread_
    platform::ThreadHandle thread_ = nullptr;
};

} // namespace pelmux
