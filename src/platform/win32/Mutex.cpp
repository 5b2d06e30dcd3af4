#include "platform/Mutex.h"

#include <windows.h>

namespace pelmux::platform {

static_assert(sizeof(SRWLOCK) == sizeof(void*), "a slim reader/writer lock is one pointer");

void Mutex::lock()
{
    ::AcquireSRWLockExclusive(reinterpret_cast<PSRWLOCK>(&srw_));
}

void Mutex::unlock()
{
    ::ReleaseSRWLockExclusive(reinterpret_cast<PSRWLOCK>(&srw_));
}

} // namespace pelmux::platform
