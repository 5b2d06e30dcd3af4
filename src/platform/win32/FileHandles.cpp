// File handles on Windows: the Windows calls themselves (read and closed by Device.cpp's calls).
#include "platform/Device.h"

#include <windows.h>

#include <cstring>
#include <string>

namespace pelmux::platform {

Handle openFileForRead(const wchar_t* windowsPath)
{
    if (windowsPath == nullptr)
        return INVALID_HANDLE_VALUE;
    return ::CreateFileW(windowsPath, GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                         nullptr);
}

std::optional<std::wstring> callerFileName(const char* name)
{
    if (name == nullptr)
        return std::nullopt;
    // The length rule counts the caller's bytes, whatever the code page makes of them.
    const std::size_t length = std::strlen(name);
    if (length > longestCallerFileName)
        return std::nullopt;
    if (length == 0)
        return std::wstring();
    // As the C run-time's fopen reads a narrow name (CreateFileA): in the ANSI code page. Widened
    // byte by byte, "\x8E" would name U+008E instead of the U+017D that code page 1252 means.
    const int size =
        ::MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, name, static_cast<int>(length), nullptr, 0);
    if (size <= 0)
        return std::nullopt;
    std::wstring wide(static_cast<std::size_t>(size), L'\0');
    if (::MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, name, static_cast<int>(length), wide.data(),
                              size) != size)
        return std::nullopt;
    return wide;
}

Handle openImageFile(const char* name, bool exclusive)
{
    const std::optional<std::wstring> wide = callerFileName(name);
    if (!wide)
        return INVALID_HANDLE_VALUE;
    return ::CreateFileW(wide->c_str(), GENERIC_READ, exclusive ? 0 : FILE_SHARE_READ, nullptr, OPEN_EXISTING,
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
