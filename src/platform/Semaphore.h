// Semaphores with the meaning of the Windows objects the library has always used: initial count 1,
// maximum count 1, named (shared by every process that opens the same name) or unnamed (one
// process). As on Windows, the count belongs to no handle and no thread: any handle of any process
// may give it back, and a process that has taken it cannot take it again before it is given back.
//
// Unlike a plain Windows semaphore, a named one recovers from a holder that ends without giving
// its count back (killed, say), even while other processes keep the name open: a waiter takes the
// count over. A process that lives keeps what it took, whether or not it still has a handle open.
//
// The win32/ implementation keeps the kernel semaphore under its name (CreateSemaphoreA with a
// null DACL and handles no child process inherits), so that other programs of the unit that use
// it alone still meet it, and records a taker of this library beside it (see win32/Semaphore.cpp):
// a recorded holder that has ended is taken over within about 100 ms of a waiter's wait; a count
// taken by a program that does not record itself is waited for as before. Without its companion
// objects (a name too long for them, their names taken by other kinds of object, no memory left) a
// named semaphore works as a plain one.
//
// On Linux a named semaphore is scoped to PELMUX_ROOT and keeps the Windows lifetime: it exists
// while some process holds a handle to it, and once the last handle is gone (also when its process
// was killed) the next one opened starts again at count 1. A killed taker's count is given back at
// once.
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
// no limit; other time-outs follow the time scale of platform/Time.h). A named one held by a
// recorded holder that has ended is taken over, also with a time-out of 0. Answers whether it was
// taken; false also when the wait itself fails. A null handle is never taken. On Linux a process
// that cannot record itself as a taker (no token file can be made under PELMUX_ROOT) is answered
// false at once.
bool takeSemaphore(SemaphoreHandle semaphore, std::uint32_t timeoutMs);

// Gives the semaphore back (count + 1). Answers false, changing nothing, when the count is at its
// maximum already or the handle is null.
bool giveSemaphore(SemaphoreHandle semaphore);

// Closes a handle from createSemaphore; null is ignored. A count still held through it stays held.
void closeSemaphore(SemaphoreHandle semaphore);

// Whether a name without namespace prefix already names the same object in every session of the
// machine: true on Linux (no sessions) and in Windows session 0 (services), whose names lie in the
// global namespace; false in the sessions of logged-on users, where "Global\" reaches the objects
// that every session shares.
bool unprefixedNamesSpanSessions();

} // namespace pelmux::platform
