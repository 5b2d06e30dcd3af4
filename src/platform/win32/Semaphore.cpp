// Semaphores on Windows: the kernel objects themselves, open to every account.
#include "platform/Semaphore.h"

#include "platform/win32/EveryAccount.h"

#include <windows.h>

namespace pelmux::platform {

SemaphoreHandle createSemaphore(const char* name)
{
    // Every account may open and use the object; no child process inherits the handle, which
    // would keep a named semaphore alive with its count taken after its taker ended.
    EveryAccount access;
    if (access.attributes() == nullptr)
        return nullptr;
    // When the name exists already, the existing object is opened and the counts do not apply.
    return ::CreateSemaphoreA(access.attributes(), 1, 1, name);
}

bool takeSemaphore(SemaphoreHandle semaphore, std::uint32_t timeoutMs)
{
    if (semaphore == nullptr)
        return false;
    return ::WaitForSingleObject(semaphore, timeoutMs == waitForever ? INFINITE : timeoutMs) == WAIT_OBJECT_0;
}

bool giveSemaphore(SemaphoreHandle semaphore)
{
    return semaphore != nullptr && ::ReleaseSemaphore(semaphore, 1, nullptr) != FALSE;
}

void closeSemaphore(SemaphoreHandle semaphore)
{
    if (semaphore != nullptr)
        ::CloseHandle(semaphore);
}

} // namespace pelmux::platform
