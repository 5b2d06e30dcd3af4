// File handles on Windows: the Windows calls themselves (read and closed by Device.cpp's calls).
#include "platform/Device.h"

#include <windows.h>

#include <string>

namespace pelmux::platform {

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

} // namespace pelmux::platform
