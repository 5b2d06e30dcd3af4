#include "platform/Time.h"

#include <atomic>
#include <chrono>
#include <cstdlib>
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

void setTimeScale(double value)
{
    scale().store(value);
}

double timeScale()
{
    return scale().load();
}

} // namespace pelmux::platform
