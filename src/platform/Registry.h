// The registry under HKEY_LOCAL_MACHINE: open an existing key, read a value's raw bytes, write a
// string value, close. The win32/ implementation calls RegOpenKeyExW, RegQueryValueExW,
// RegSetValueExW and RegCloseKey. The posix/ one keeps the registry in files: the key
// "A\B" is the folder PELMUX_ROOT/registry/HKEY_LOCAL_MACHINE/A/B (components as written), and a
// value is a file of that folder named after it, holding the raw data bytes exactly as written.
#pragma once

#include <cstdint>

namespace pelmux::platform {

enum class KeyAccess {
    Read,  // KEY_READ: values can be queried
    Write, // KEY_WRITE: values can be set
};

// One open key; closed by close() or at the end of its life.
class RegistryKey {
public:
    RegistryKey() = default;
    ~RegistryKey() { close(); }
    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;

    // Opens the existing key `path` ("SYSTEM\CurrentControlSet\...") under HKEY_LOCAL_MACHINE for
    // reading or writing; a key that does not exist is never created. False when it is missing or
    // refused, or on Linux when a component of the path is empty, "." or ".." or holds a '/'. A key
    // open before is closed first.
    bool open(const wchar_t* path, KeyAccess access);

    // Copies the raw data of the value `name`, of any type, into `data` and answers its size in
    // bytes in `size`. False (nothing to rely on in `data`) when the key is not open for reading, the
    // value is missing, or its data holds more than `capacity` bytes.
    bool queryValue(const wchar_t* name, void* data, std::uint32_t capacity, std::uint32_t& size) const;

    // Writes the value `name` as REG_SZ with exactly `size` bytes of `data` (the caller puts the
    // UTF-16LE text, its terminator and whatever follows into them). False when the key is not open
    // for writing or the write fails. On Linux the value is replaced in one step: a writer that dies
    // leaves the old value whole.
    bool setStringValue(const wchar_t* name, const void* data, std::uint32_t size) const;

    // Closes the key when it is open.
    void close();

    bool isOpen() const { return handle_ != nullptr; }

private:
    void* handle_ = nullptr;
};

} // namespace pelmux::platform
