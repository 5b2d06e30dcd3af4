// Waits of the library. Every pause goes through here so that tests can run them fast.
#pragma once

#include <cstdint>

namespace pelmux::platform {

// Sleeps for `milliseconds` (Sleep). On the simulated unit the time scale applies.
void sleepMs(std::uint32_t milliseconds);

// A sleep that another thread can end early: the pauses of the library's worker threads, so that a
// stop request ends them at once without the thread waking up again and again to look for it.
// Once woken, every sleep returns at once until reset.
class Alarm {
public:
    Alarm();
    ~Alarm();
    Alarm(const Alarm&) = delete;
    Alarm& operator=(const Alarm&) = delete;

    // Sleeps for `milliseconds` (the time scale applies, as for sleepMs) or until wake(); answers
    // whether it was woken.
    bool sleep(std::uint32_t milliseconds);
    // Ends the current sleep and every later one until reset().
    void wake();
    void reset();

private:
    void* state_;
};

// Scales every later wait: 1.0 is real time, 0.01 makes a 200 ms pause take 2 ms. The posix layer
// starts from PELMUX_TIME_SCALE when that is set; Windows always waits in real time.
void setTimeScale(double scale);
double timeScale();

} // namespace pelmux::platform
