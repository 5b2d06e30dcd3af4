#include "platform/Thread.h"

#include "platform/Memory.h"

#include <new>
#include <windows.h>

namespace pelmux::platform {

namespace {

struct Started {
    HANDLE thread = nullptr;
    void (*body)(void*) = nullptr;
    void* argument = nullptr;
};

DWORD WINAPI trampoline(LPVOID started)
{
    auto* s = static_cast<Started*>(started);
    // A worker's own pieces answer exhausted memory; whatever they could not foresee ends this
    // thread, never the host process. The reserve is looked for first, so that the exception can be
    // made at all.
    keepAllocationReserve();
    try {
        s->body(s->argument);
    } catch (const std::bad_alloc&) {
    }
    return 0;
}

} // namespace

ThreadHandle startThread(void (*body)(void*), void* argument)
{
    auto* started = new (std::nothrow) Started;
    if (started == nullptr)
        return nullptr;
    started->body = body;
    started->argument = argument;
    started->thread = ::CreateThread(nullptr, 0, trampoline, started, 0, nullptr);
    if (started->thread == nullptr) {
        delete started;
        return nullptr;
    }
    return started;
}

void joinThread(ThreadHandle thread)
{
    if (thread == nullptr)
        return;
    auto* started = static_cast<Started*>(thread);
    ::WaitForSingleObject(started->thread, INFINITE);
    ::CloseHandle(started->thread);
    delete started;
}

} // namespace pelmux::platform
