// The registry on Linux: folders and files under PELMUX_ROOT/registry/HKEY_LOCAL_MACHINE. Values
// are read and replaced through the seam's own whole-file read and one-step replacement.
#include "platform/Registry.h"

#include "platform/Files.h"
#include "platform/posix/Root.h"

#include <cstring>
#include <string>

#include <sys/stat.h>

namespace pelmux::platform {

namespace {

struct OpenKey {
    std::wstring folder; // the key's folder as a host path
    KeyAccess access;
};

// A name that stays one folder entry: not empty, not "." or "..", no separator of either system.
bool plainComponent(std::wstring_view name)
{
    return !name.empty() && name != L"." && name != L".." &&
           name.find_first_of(L"/\\") == std::wstring_view::npos;
}

// The key's folder below the root, or empty when a component cannot be a folder of its own.
std::wstring keyFolder(std::wstring_view path)
{
    std::wstring folder = L"registry/HKEY_LOCAL_MACHINE";
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = path.find(L'\\', start);
        const std::wstring_view component =
            path.substr(start, end == std::wstring_view::npos ? std::wstring_view::npos : end - start);
        if (!plainComponent(component))
            return {};
        folder += L'/';
        folder += component;
        if (end == std::wstring_view::npos)
            return folder;
        start = end + 1;
    }
}

const OpenKey* keyOf(void* handle)
{
    return static_cast<const OpenKey*>(handle);
}

} // namespace

bool RegistryKey::open(const wchar_t* path, KeyAccess access)
{
    close();
    if (path == nullptr)
        return false;
    const std::wstring below = keyFolder(path);
    const auto root = widePath(posix::root());
    if (below.empty() || !root)
        return false;
    const std::wstring folder = *root + L"/" + below;
    struct stat info {};
    if (::stat(posix::toUtf8(folder).c_str(), &info) != 0 || !S_ISDIR(info.st_mode))
        return false;
    handle_ = new OpenKey{folder, access};
    return true;
}

bool RegistryKey::queryValue(const wchar_t* name, void* data, std::uint32_t capacity,
                             std::uint32_t& size) const
{
    // A key opened for writing only may not be read, as KEY_WRITE lacks KEY_QUERY_VALUE.
    if (handle_ == nullptr || keyOf(handle_)->access != KeyAccess::Read || name == nullptr ||
        !plainComponent(name))
        return false;
    const FileContent value = readWholeFile(keyOf(handle_)->folder + L"/" + name, capacity);
    if (value.status != ReadStatus::Ok)
        return false;
    if (!value.bytes.empty())
        std::memcpy(data, value.bytes.data(), value.bytes.size());
    size = static_cast<std::uint32_t>(value.bytes.size());
    return true;
}

bool RegistryKey::setStringValue(const wchar_t* name, const void* data, std::uint32_t size) const
{
    if (handle_ == nullptr || keyOf(handle_)->access != KeyAccess::Write || name == nullptr ||
        !plainComponent(name))
        return false;
    const std::string_view bytes(static_cast<const char*>(data), size);
    return replaceFile(keyOf(handle_)->folder + L"/" + name, bytes) == ReplaceStatus::Done;
}

void RegistryKey::close()
{
    delete keyOf(handle_);
    handle_ = nullptr;
}

} // namespace pelmux::platform
