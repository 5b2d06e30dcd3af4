#include "platform/Registry.h"

#include <windows.h>

namespace pelmux::platform {

namespace {

HKEY keyOf(void* handle)
{
    return static_cast<HKEY>(handle);
}

} // namespace

bool RegistryKey::open(const wchar_t* path, KeyAccess access)
{
    close();
    HKEY key = nullptr;
    const REGSAM rights = access == KeyAccess::Read ? KEY_READ : KEY_WRITE;
    if (path == nullptr || ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, rights, &key) != ERROR_SUCCESS)
        return false;
    handle_ = key;
    return true;
}

bool RegistryKey::queryValue(const wchar_t* name, void* data, std::uint32_t capacity,
                             std::uint32_t& size) const
{
    if (handle_ == nullptr)
        return false;
    DWORD type = 0; // any type is taken
    DWORD bytes = capacity;
    if (::RegQueryValueExW(keyOf(handle_), name, nullptr, &type, static_cast<BYTE*>(data), &bytes) !=
        ERROR_SUCCESS)
        return false;
    size = bytes;
    return true;
}

bool RegistryKey::setStringValue(const wchar_t* name, const void* data, std::uint32_t size) const
{
    if (handle_ == nullptr)
        return false;
    return ::RegSetValueExW(keyOf(handle_), name, 0, REG_SZ, static_cast<const BYTE*>(data), size) ==
           ERROR_SUCCESS;
}

void RegistryKey::close()
{
    if (handle_ != nullptr)
        ::RegCloseKey(keyOf(handle_));
    handle_ = nullptr;
}

} // namespace pelmux::platform
