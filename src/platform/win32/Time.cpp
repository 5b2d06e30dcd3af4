#include "platform/Time.h"

#include <windows.h>

namespace pelmux::platform {

void sleepMs(std::uint32_t milliseconds)
{
    ::Sleep(milliseconds);
}

// The product always waits in real time; the scale only serves the simulated unit.
void setTimeScale(double) {}

double timeScale()
{
    return 1.0;
}

} // namespace pelmux::platform
