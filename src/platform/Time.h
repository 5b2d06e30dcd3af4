// Waits of the library. Every pause goes through here so that tests can run them fast.
#pragma once

#include <cstdint>

namespace pelmux::platform {

// Sleeps for `milliseconds` (Sleep). On the simulated unit the time scale applies.
void sleepMs(std::uint32_t milliseconds);

// Scales every later wait: 1.0 is real time, 0.01 makes a 200 ms pause take 2 ms. The posix layer
// starts from PELMUX_TIME_SCALE when that is set; Windows always waits in real time.
void setTimeScale(double scale);
double timeScale();

} // namespace pelmux::platform
