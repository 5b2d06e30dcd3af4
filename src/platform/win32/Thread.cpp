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
    void* reserve = nullptr; // the thread's reserve, taken by the starting thread
};

DWORD WINAPI trampoline(LPVOID started)
{
    auto* s = static_cast<Started*>(started);
    // A worker's own pieces answer exhausted memory; whatever they could not foresee ends this
    // thread, never the host process. The thread's reserve, which its start took, makes the
    // exception; a guard of the worker that used it up takes a new one at its next entry.
    const AllocationReserve reserve(s->reserve);
    try {
        s->body(s->argument);
    } catch (const std::bad_alloc&) {
    }
    return 0;
}

} // namespace

ThreadHandle startThread(void (*body)(void*), void* argument)
{
    // A thread that could not report its own exhausted memory is not started: its reserve first.
    void* reserve = takeReserveBlock();
    if (reserve == nullptr)
        return nullptr;
    auto* started = new (std::nothrow) Started;
    if (started == nullptr) {
        giveBackReserveBlock(reserve);
        return nullptr;
    }
    started->body = body;
    started->argument = argument;
    started->reserve = reserve;
    started->thread = ::CreateThread(nullptr, 0, trampoline, started, 0, nullptr);
    if (started->thread == nullptr) {
        giveBackReserveBlock(reserve);
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
