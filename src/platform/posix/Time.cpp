#include "platform/Time.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <new>
#include <thread>

namespace pelmux::platform {

namespace {

double initialScale()
{
    if (const char* env = std::getenv("PELMUX_TIME_SCALE"); env != nullptr) {
        char* end = nullptr;
        const double value = std::strtod(env, &end);
        if (end != env && value >= 0.0 && value <= 1000.0)
            return value;
    }
    return 1.0;
}

std::atomic<double>& scale()
{
    static std::atomic<double> value{initialScale()};
    return value;
}

} // namespace

void sleepMs(std::uint32_t milliseconds)
{
    const auto duration = std::chrono::duration<double, std::milli>(milliseconds * scale().load());
    std::this_thread::sleep_for(duration);
}

namespace {

struct AlarmState {
    std::mutex mutex;
    std::condition_variable changed;
    bool woken = false;
};

AlarmState& alarmState(void* state)
{
    return *static_cast<AlarmState*>(state);
}

} // namespace

Alarm::Alarm() : state_(new AlarmState) {}

Alarm::~Alarm()
{
    delete &alarmState(state_);
}

bool Alarm::sleep(std::uint32_t milliseconds)
{
    AlarmState& s = alarmState(state_);
    const auto duration = std::chrono::duration<double, std::milli>(milliseconds * scale().load());
    std::unique_lock lock(s.mutex);
    return s.changed.wait_for(lock, duration, [&] { return s.woken; });
}

void Alarm::wake()
{
    AlarmState& s = alarmState(state_);
    {
        std::lock_guard lock(s.mutex);
        s.woken = true;
    }
    s.changed.notify_all();
}

void Alarm::reset()
{
    AlarmState& s = alarmState(state_);
    std::lock_guard lock(s.mutex);
    s.woken = false;
}

void setTimeScale(double value)
{
    scale().store(value);
}

double timeScale()
{
    return scale().load();
}

} // namespace pelmux::platform
