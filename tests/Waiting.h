// Waiting for an event in a test: the condition is polled until it holds, never a fixed pause that
// a slow machine or a sanitizer build overruns.
#pragma once

#include <chrono>
#include <functional>
#include <thread>

namespace pelmux::test {

// Polls `condition` until it holds (true) or `limit` has passed without (false). The limit is
// generous: it only bounds how long a failing test takes.
inline bool waitUntil(const std::function<bool()>& condition,
                      std::chrono::milliseconds limit = std::chrono::seconds(30))
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

} // namespace pelmux::test
