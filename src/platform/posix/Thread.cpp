#include "platform/Thread.h"

#include <new>
#include <pthread.h>

namespace pelmux::platform {

namespace {

struct Started {
    pthread_t thread{};
    void (*body)(void*) = nullptr;
    void* argument = nullptr;
};

void* trampoline(void* started)
{
    auto* s = static_cast<Started*>(started);
    // A worker's own pieces answer exhausted memory; whatever they could not foresee ends this
    // thread, never the host process.
    try {
        s->body(s->argument);
    } catch (const std::bad_alloc&) {
    }
    return nullptr;
}

} // namespace

ThreadHandle startThread(void (*body)(void*), void* argument)
{
    auto* started = new (std::nothrow) Started;
    if (started == nullptr)
        return nullptr;
    started->body = body;
    started->argument = argument;
    if (::pthread_create(&started->thread, nullptr, trampoline, started) != 0) {
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
    ::pthread_join(started->thread, nullptr);
    delete started;
}

} // namespace pelmux::platform
