// Semaphores with the meaning of the Windows objects the library has always used: initial count 1,
// maximum count 1, named (shared by every process that opens the same name) or unnamed (one
// process). The win32/ implementation makes the Windows calls themselves (CreateSemaphoreA with a
// null DACL and handles no child process inherits, WaitForSingleObject, ReleaseSemaphore,
// CloseHandle).
//
// On Linux a named semaphore is scoped to PELMUX_ROOT and keeps the Windows lifetime: it exists
// while some process holds a handle to it, and once the last handle is gone (also when its process
// was killed) the next one opened starts again at count 1. Unlike Windows, a process killed while
// it has taken a named semaphore gives its count back at once, even while other processes keep the
// name open; a process that lives keeps what it took, whether or not it still has a handle open.
// As on Windows, the count belongs to no handle and no thread: any handle of any process may give
// it back, and a process that has taken it cannot take it again before it is given back.
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
// taken. A null handle is never taken. On Linux a process that cannot record itself as a taker
// (no token file can be made under PELMUX_ROOT) is answered false at once.
bool takeSemaphore(SemaphoreHandle semaphore, std::uint32_t timeoutMs);

// Gives the semaphore back (count + 1). Answers false, changing nothing, when the count is at its
// maximum already or the handle is null.
bool giveSemaphore(SemaphoreHandle semaphore);

// Closes a handle from createSemaphore; null is ignored.
void closeSemaphore(SemaphoreHandle semaphore);

} // namespace pelmux::platform
