// The kernel objects behind a semaphore handle of win32/Semaphore.cpp, for the Windows checks.
#pragma once

#include "platform/Semaphore.h"

namespace pelmux::platform {

struct SemaphoreParts {
    void* count;  // the semaphore
    void* guard;  // a named one's guard mutex; null for an unnamed one or a plain named one
    void* taken;  // a named one's record event; null where guard is
    void* holder; // the holder event this handle keeps open while its process holds the count
};

// The parts of `semaphore` (not null).
SemaphoreParts semaphoreParts(SemaphoreHandle semaphore);

} // namespace pelmux::platform
