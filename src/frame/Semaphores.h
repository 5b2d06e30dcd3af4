// The one way the library makes its semaphores, named and unnamed: the settings lock, the
// firmware upgrade's locks, the light sensor's and the controller's, the buzzer's.
#pragma once

#include "platform/Semaphore.h"

namespace pelmux {

// Creates or opens a semaphore with initial and maximum count 1 that every account may use, with a
// handle that child processes do not inherit; a null name makes an unnamed one. On failure answers
// false and leaves `handle` as it was. Does not block.
bool createSemaphore(const char* name, platform::SemaphoreHandle& handle);

} // namespace pelmux
