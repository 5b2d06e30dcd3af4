#include "platform/Time.h"

#include <windows.h>

namespace pelmux::platform {

void sleepMs(std::uint32_t milliseconds)
{
    ::Sleep(milliseconds);
}

// A manual-reset event: set by wake, cleared by reset.
Alarm::Alarm() : state_(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

Alarm::~Alarm()
{
    if (state_ != nullptr)
        ::CloseHandle(state_);
}

bool Alarm::sleep(std::uint32_t milliseconds)
{
    // Without an event (no kernel objects left) the sleep cannot be ended early, but still sleeps.
    if (state_ == nullptr) {
        ::Sleep(milliseconds);
        return false;
    }
    return ::WaitForSingleObject(state_, milliseconds) == WAIT_OBJECT_0;
}

void Alarm::wake()
{
    if (state_ != nullptr)
        ::SetEvent(state_);
}

void Alarm::reset()
{
    if (state_ != nullptr)
        ::ResetEvent(state_);
}

// The product always waits in real time; the scale only serves the simulated unit.
void setTimeScale(double) {}

double timeScale()
{
    return 1.0;
}

} // namespace pelmux::platform
