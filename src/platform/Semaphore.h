// Semaphores with the meaning of the Windows objects the library has always used: initial count 1,
// maximum count 1, named (shared by every process that opens the same name) or unnamed (one
// process). The win32/ implementation makes the Windows calls themselves (CreateSemaphoreA with a
// null DACL and inheritable handles, WaitForSingleObject, ReleaseSemaphore, CloseHandle).
//
// On Linux a named semaphore is scoped to PELMUX_ROOT and keeps the Windows lifetime: it exists
// while some process holds a handle to it, and once the last handle is gone (also when its process
// was killed) the next one opened starts again at count 1.
#pragma once

#include <cstdint>

namespace pelmux::platform {

using SemaphoreHandle = void*;

// A wait without time limit (INFINITE).
inline constexpr std::uint32_t waitForever = 0xFFFFFFFFu;

// Creates the semaphore `name`, or opens it when it exists already (its count is then kept);
// a null name makes an unnamed one. Returns null when it cannot be made.
SemaphoreHandle createSemaphore(const char* name);

// Takes the semaphore (count 1 -> 0), waiting at most `timeoutMs` (0: do not wait, waitForever:
// no limit; other time-outs follow the time scale of platform/Time.h). Answers whether it was
// taken. A null handle is never taken.
bool takeSemaphore(SemaphoreHandle semaphore, std::uint32_t timeoutMs);

// Gives the semaphore back (count + 1). Answers false, changing nothing, when the count is at its
// maximum already or the handle is null.
bool giveSemaphore(SemaphoreHandle semaphore);

// Closes a handle from createSemaphore; null is ignored.
void closeSemaphore(SemaphoreHandle semaphore);

} // namespace pelmux::platform
