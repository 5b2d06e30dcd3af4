// Semaphores on Windows: the kernel objects themselves, open to every account, and for a named one
// three companion objects that record whether a program of this library holds its count, so that a
// holder that was killed does not keep it for good.
//
// A Windows semaphore has no owner: while any other program keeps a handle to the name, a count
// that a killed program took stays taken. So, beside the semaphore NAME:
// - "NAME#guard", a mutex, orders every look at the record and every change of it. It is held only
//   for a few calls by a thread inside take or give; when its holder is killed in between, Windows
//   reports it abandoned to the next thread that gets it.
// - "NAME#taken", a manual-reset event, is set while a taker of this library holds the count: the
//   count is recorded. A count taken by a program that uses the semaphore alone is not.
// - "NAME#holder", an event that only the recorded holder keeps open: it exists exactly as long as
//   some handle to it is open, and the kernel closes a process's handles however the process ends.
//   The record therefore names no process (no id to be reused, no rights needed to open another
//   account's process) and holds across sessions for a "Global\" name without a shared section,
//   which a program outside session 0 may not create there.
//
// A take gets the guard and the count in one wait (WaitForMultipleObjects with bWaitAll), so that a
// count never leaves the semaphore without the guard, and records itself before it lets the guard
// go. It waits in slices; between two it looks at the record: a recorded count whose holder event
// is gone belongs to a process that has ended, and the waiter takes it over (the count stays 0, the
// waiter records itself). A count that is not recorded is waited for as a plain semaphore is. A
// give sets the count free and clears the record, under the guard. The record belongs to the
// process, not to a thread: the firmware job's thread gives back what the caller's thread took.
#include "platform/Semaphore.h"

#include "platform/win32/EveryAccount.h"
#include "platform/win32/SemaphoreParts.h"

#include <windows.h>

#include <cstdint>
#include <cstring>
#include <new>

namespace pelmux::platform {

namespace {

// How long a waiter waits for the count before it looks at the record again: the longest a killed
// holder keeps a waiter waiting.
constexpr DWORD waitSliceMs = 100;
// The guard is held for a few calls only; a thread that cannot get it within this time (its holder
// is suspended in a debugger, say) acts without it or answers the count busy.
constexpr DWORD guardWaitMs = 2000;

constexpr const char* guardSuffix = "#guard";
constexpr const char* takenSuffix = "#taken";
constexpr const char* holderSuffix = "#holder";
// Room for the longest name Windows takes (MAX_PATH, with its NUL) and the longest suffix.
constexpr std::size_t nameRoom = MAX_PATH + 8;

// A named semaphore with its companions.
struct Semaphore {
    HANDLE count = nullptr;
    HANDLE guard = nullptr;
    HANDLE taken = nullptr;
    // This process's handle to the holder event while it holds the count through this handle.
    HANDLE holder = nullptr;
    char holderName[nameRoom] = {};
};

// A semaphore without companions needs no memory of its own: its handle is the kernel handle with
// the lowest bit set (Windows leaves the two lowest bits of a handle to the application; an object
// of ours lies at an even address).
constexpr std::uintptr_t plainTag = 1;

SemaphoreHandle plainHandle(HANDLE count)
{
    return reinterpret_cast<SemaphoreHandle>(reinterpret_cast<std::uintptr_t>(count) | plainTag);
}

// The kernel semaphore of a plain handle, null for one with companions.
HANDLE plainCount(SemaphoreHandle handle)
{
    const auto bits = reinterpret_cast<std::uintptr_t>(handle);
    return (bits & plainTag) != 0 ? reinterpret_cast<HANDLE>(bits & ~plainTag) : nullptr;
}

Semaphore* object(SemaphoreHandle handle)
{
    return static_cast<Semaphore*>(handle);
}

// `name` followed by `suffix` in `out`; false when that is longer than Windows takes.
bool suffixed(const char* name, const char* suffix, char (&out)[nameRoom])
{
    const std::size_t length = std::strlen(name);
    const std::size_t extra = std::strlen(suffix);
    if (length + extra >= MAX_PATH)
        return false;
    std::memcpy(out, name, length);
    std::memcpy(out + length, suffix, extra + 1);
    return true;
}

// Makes the guard and the record event of `name`; leaves both null when either cannot be made (a
// name too long for a suffix, or one taken by an object of another type).
void makeCompanions(const char* name, SECURITY_ATTRIBUTES* attributes, Semaphore& semaphore)
{
    char guardName[nameRoom];
    char takenName[nameRoom];
    if (!suffixed(name, guardSuffix, guardName) || !suffixed(name, takenSuffix, takenName) ||
        !suffixed(name, holderSuffix, semaphore.holderName))
        return;
    semaphore.guard = ::CreateMutexA(attributes, FALSE, guardName);
    semaphore.taken = ::CreateEventA(attributes, TRUE, FALSE, takenName);
    if (semaphore.guard == nullptr || semaphore.taken == nullptr) {
        if (semaphore.guard != nullptr)
            ::CloseHandle(semaphore.guard);
        if (semaphore.taken != nullptr)
            ::CloseHandle(semaphore.taken);
        semaphore.guard = nullptr;
        semaphore.taken = nullptr;
    }
}

// Whether a thread of this process got the guard; `abandoned` tells that its last holder ended
// while it held it.
bool getGuard(const Semaphore& semaphore, bool& abandoned)
{
    const DWORD result = ::WaitForSingleObject(semaphore.guard, guardWaitMs);
    abandoned = result == WAIT_ABANDONED;
    return result == WAIT_OBJECT_0 || abandoned;
}

// Records this process as the holder of the count it now holds (under the guard).
void recordHolder(Semaphore& semaphore)
{
    // A holder event still open here stands for a count that another process gave back.
    if (semaphore.holder != nullptr)
        ::CloseHandle(semaphore.holder);
    EveryAccount access;
    semaphore.holder = ::CreateEventA(access.attributes(), TRUE, FALSE, semaphore.holderName);
    // Without a holder event the count is held unrecorded: better than recorded with no holder,
    // which another waiter would take over at once.
    if (semaphore.holder != nullptr)
        ::SetEvent(semaphore.taken);
    else
        ::ResetEvent(semaphore.taken);
}

// Whether some process keeps the holder event open (also when it cannot be told).
bool holderLives(const Semaphore& semaphore)
{
    HANDLE holder = ::OpenEventA(SYNCHRONIZE, FALSE, semaphore.holderName);
    if (holder != nullptr) {
        ::CloseHandle(holder);
        return true;
    }
    return ::GetLastError() != ERROR_FILE_NOT_FOUND;
}

// Under the guard, after the count was found taken: whether its holder is known to have ended. A
// recorded count whose holder event is gone has lost its holder. So has a count that is not
// recorded when the guard's last holder ended while holding it: it was killed after it had taken
// the count and before it recorded itself (a program that uses the semaphore alone and holds the
// count then, which the kernel does not tell apart, loses it; both together are very unlikely).
bool holderEnded(const Semaphore& semaphore, bool guardAbandoned)
{
    const bool recorded = ::WaitForSingleObject(semaphore.taken, 0) == WAIT_OBJECT_0;
    return (recorded || guardAbandoned) && !holderLives(semaphore);
}

// Between two waits: takes the count when it is free, or over from a holder that has ended.
bool takeFreeOrOrphaned(Semaphore& semaphore)
{
    bool abandoned = false;
    if (!getGuard(semaphore, abandoned))
        return false;
    const bool taken =
        ::WaitForSingleObject(semaphore.count, 0) == WAIT_OBJECT_0 || holderEnded(semaphore, abandoned);
    if (taken)
        recordHolder(semaphore);
    ::ReleaseMutex(semaphore.guard);
    return taken;
}

bool takeRecorded(Semaphore& semaphore, std::uint32_t timeoutMs)
{
    const ULONGLONG start = ::GetTickCount64();
    HANDLE both[2] = {semaphore.guard, semaphore.count};
    for (;;) {
        const ULONGLONG waited = ::GetTickCount64() - start;
        const bool limited = timeoutMs != waitForever;
        const DWORD left = !limited              ? INFINITE
                           : waited >= timeoutMs ? 0
                                                 : static_cast<DWORD>(timeoutMs - waited);
        const DWORD result = ::WaitForMultipleObjects(2, both, TRUE, left < waitSliceMs ? left : waitSliceMs);
        if (result < WAIT_OBJECT_0 + 2 || (result >= WAIT_ABANDONED_0 && result < WAIT_ABANDONED_0 + 2)) {
            // Guard and count at once; an abandoned guard changes nothing: the count was free.
            recordHolder(semaphore);
            ::ReleaseMutex(semaphore.guard);
            return true;
        }
        if (result != WAIT_TIMEOUT)
            return false;
        if (takeFreeOrOrphaned(semaphore))
            return true;
        if (limited && left == 0)
            return false;
    }
}

} // namespace

SemaphoreHandle createSemaphore(const char* name)
{
    // Every account may open and use the objects; no child process inherits a handle, which would
    // keep a named semaphore alive with its count taken after its taker ended.
    EveryAccount access;
    if (access.attributes() == nullptr)
        return nullptr;
    // When the name exists already, the existing object is opened and the counts do not apply.
    HANDLE count = ::CreateSemaphoreA(access.attributes(), 1, 1, name);
    if (count == nullptr)
        return nullptr;
    // Without memory for the companions a named semaphore works as a plain one.
    Semaphore* semaphore = name != nullptr && *name != '\0' ? new (std::nothrow) Semaphore : nullptr;
    if (semaphore != nullptr) {
        semaphore->count = count;
        makeCompanions(name, access.attributes(), *semaphore);
        if (semaphore->guard != nullptr)
            return semaphore;
        delete semaphore;
    }
    return plainHandle(count);
}

bool takeSemaphore(SemaphoreHandle handle, std::uint32_t timeoutMs)
{
    if (handle == nullptr)
        return false;
    if (HANDLE count = plainCount(handle))
        return ::WaitForSingleObject(count, timeoutMs == waitForever ? INFINITE : timeoutMs) == WAIT_OBJECT_0;
    return takeRecorded(*object(handle), timeoutMs);
}

bool giveSemaphore(SemaphoreHandle handle)
{
    if (handle == nullptr)
        return false;
    if (HANDLE count = plainCount(handle))
        return ::ReleaseSemaphore(count, 1, nullptr) != FALSE;
    Semaphore& semaphore = *object(handle);
    // Without the guard (its holder is stuck) the count is given all the same; the record then
    // stays set with no holder, which the next look finds free or takes over, as it is.
    bool abandoned = false;
    const bool guarded = getGuard(semaphore, abandoned);
    const bool given = ::ReleaseSemaphore(semaphore.count, 1, nullptr) != FALSE;
    if (given) {
        if (guarded)
            ::ResetEvent(semaphore.taken);
        if (semaphore.holder != nullptr)
            ::CloseHandle(semaphore.holder);
        semaphore.holder = nullptr;
    }
    if (guarded)
        ::ReleaseMutex(semaphore.guard);
    return given;
}

void closeSemaphore(SemaphoreHandle handle)
{
    if (handle == nullptr)
        return;
    if (HANDLE count = plainCount(handle)) {
        ::CloseHandle(count);
        return;
    }
    Semaphore* semaphore = object(handle);
    // A count still held through this handle stays this process's for its life, as a plain
    // semaphore's does: its holder event stays open (the handle is left to the process's end).
    ::CloseHandle(semaphore->count);
    ::CloseHandle(semaphore->guard);
    ::CloseHandle(semaphore->taken);
    delete semaphore;
}

SemaphoreParts semaphoreParts(SemaphoreHandle handle)
{
    if (HANDLE count = plainCount(handle))
        return {count, nullptr, nullptr, nullptr};
    const Semaphore& semaphore = *object(handle);
    return {semaphore.count, semaphore.guard, semaphore.taken, semaphore.holder};
}

bool unprefixedNamesSpanSessions()
{
    DWORD session = 0;
    return ::ProcessIdToSessionId(::GetCurrentProcessId(), &session) && session == 0;
}

} // namespace pelmux::platform
