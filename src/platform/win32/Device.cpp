// Device handles on Windows: the Windows calls themselves. readHandle and closeHandle serve file
// handles too.
#include "platform/Device.h"

#include <windows.h>

namespace pelmux::platform {

Handle invalidHandle()
{
    return INVALID_HANDLE_VALUE;
}

Handle openDevice(const wchar_t* name)
{
    if (name == nullptr)
        return INVALID_HANDLE_VALUE;
    return ::CreateFileW(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                         nullptr);
}

bool deviceNotFound()
{
    return ::GetLastError() == ERROR_FILE_NOT_FOUND;
}

bool deviceControl(Handle device, std::uint32_t code, const void* input, std::uint32_t inputSize,
                   void* output, std::uint32_t outputSize, std::uint32_t* returned)
{
    DWORD count = 0;
    const BOOL ok = ::DeviceIoControl(device, code, const_cast<void*>(input), inputSize, output, outputSize,
                                      &count, nullptr);
    // A failed request may still report a count (ERROR_MORE_DATA gives the part that fitted): the
    // callers take the count only from a request that succeeded.
    if (returned != nullptr)
        *returned = ok != FALSE ? count : 0;
    return ok != FALSE;
}

bool readHandle(Handle handle, void* buffer, std::uint32_t capacity, std::uint32_t* bytesRead)
{
    DWORD count = 0;
    const BOOL ok = ::ReadFile(handle, buffer, capacity, &count, nullptr);
    if (bytesRead != nullptr)
        *bytesRead = count;
    return ok != FALSE;
}

void closeHandle(Handle handle)
{
    if (handle != INVALID_HANDLE_VALUE && handle != nullptr)
        ::CloseHandle(handle);
}

} // namespace pelmux::platform
