// Semaphores on Windows: the kernel objects themselves, open to every account.
#include "platform/Semaphore.h"

#include <windows.h>

namespace pelmux::platform {

SemaphoreHandle createSemaphore(const char* name)
{
    // A present, null DACL lets every account open and use the object.
    SECURITY_DESCRIPTOR descriptor;
    if (!::InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) ||
        !::SetSecurityDescriptorDacl(&descriptor, TRUE, nullptr, FALSE))
        return nullptr;
    SECURITY_ATTRIBUTES attributes;
    attributes.nLength = sizeof attributes;
    attributes.lpSecurityDescriptor = &descriptor;
    attributes.bInheritHandle = TRUE;
    // When the name exists already, the existing object is opened and the counts do not apply.
    return ::CreateSemaphoreA(&attributes, 1, 1, name);
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
