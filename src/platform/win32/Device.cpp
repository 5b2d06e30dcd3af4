// Device and file handles on Windows: the Windows calls themselves.
#include "platform/Device.h"

#include <windows.h>

#include <string>

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

Handle openFileForRead(const wchar_t* windowsPath)
{
    if (windowsPath == nullptr)
        return INVALID_HANDLE_VALUE;
    return ::CreateFileW(windowsPath, GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                         nullptr);
}

Handle openImageFile(const char* name, bool exclusive)
{
    if (name == nullptr)
        return INVALID_HANDLE_VALUE;
    std::wstring wide;
    for (const char* c = name; *c != '\0'; ++c)
        wide += static_cast<wchar_t>(static_cast<unsigned char>(*c));
    if (wide.size() >= MAX_PATH)
        return INVALID_HANDLE_VALUE;
    return ::CreateFileW(wide.c_str(), GENERIC_READ, exclusive ? 0 : FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
}

bool fileSize(Handle file, std::uint64_t* size)
{
    LARGE_INTEGER value{};
    if (size == nullptr || ::GetFileSizeEx(file, &value) == FALSE)
        return false;
    *size = static_cast<std::uint64_t>(value.QuadPart);
    return true;
}

bool readHandle(Handle handle, void* buffer, std::uint32_t capacity, std::uint32_t* bytesRead)
{
    DWORD count = 0;
    const BOOL ok = ::ReadFile(handle, buffer, capacity, &count, nullptr);
    if (bytesRead != nullptr)
        *bytesRead = count;
    return ok != FALSE;
}

Handle createFile(const wchar_t* path)
{
    if (path == nullptr)
        return INVALID_HANDLE_VALUE;
    return ::CreateFileW(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                         nullptr);
}

bool writeHandle(Handle handle, const void* data, std::uint32_t size, std::uint32_t* written)
{
    DWORD count = 0;
    const BOOL ok = ::WriteFile(handle, data, size, &count, nullptr);
    if (written != nullptr)
        *written = count;
    return ok != FALSE;
}

void closeHandle(Handle handle)
{
    if (handle != INVALID_HANDLE_VALUE && handle != nullptr)
        ::CloseHandle(handle);
}

} // namespace pelmux::platform
