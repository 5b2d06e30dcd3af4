// The lock of the library's objects.
#pragma once

#ifndef _WIN32
#include <mutex>
#endif

namespace pelmux::platform {

// A mutual-exclusion lock that needs no memory, not even at its first use: the cross compiler's
// std::mutex allocates when it is first locked and throws when it cannot. Usable with
// std::lock_guard. On Linux it is std::mutex.
#ifdef _WIN32
class Mutex {
public:
    constexpr Mutex() = default;
    Mutex(const Mutex&) = delete;
    Mutex& operator=(const Mutex&) = delete;

    void lock();
    void unlock();

private:
    void* srw_ = nullptr; // a slim reader/writer lock, which starts as null and is never freed
};
#else
using Mutex = std::mutex;
#endif

} // namespace pelmux::platform
