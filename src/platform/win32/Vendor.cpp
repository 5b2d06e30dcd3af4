// The vendor board library on Windows: "Jida.dll", loaded at run time and called by ordinal
// only, with the standard calling convention. A missing DLL or a missing entry makes the call
// answer 0, as a failed call of the library would, and leaves its outputs untouched.
#include "platform/Vendor.h"

#include "platform/ExportDirectory.h"

#include <windows.h>

#include <atomic>
#include <cstddef>

namespace pelmux::platform {

namespace {

using InitFn = DWORD(__stdcall*)();
using SetupFn = DWORD(__stdcall*)(DWORD flag);
using ExitFn = DWORD(__stdcall*)();
using CountFn = DWORD(__stdcall*)(const char* className, DWORD flags);
using OpenFn = DWORD(__stdcall*)(const wchar_t* className, DWORD number, DWORD flags, DWORD* handle);
using CloseFn = DWORD(__stdcall*)(DWORD handle);
using I2cReadRegisterFn = DWORD(__stdcall*)(DWORD handle, DWORD busType, BYTE address, WORD reg, BYTE* value);
using I2cWriteRegisterFn = DWORD(__stdcall*)(DWORD handle, DWORD busType, BYTE address, WORD reg, BYTE value);
using I2cWriteFn = DWORD(__stdcall*)(DWORD handle, DWORD busType, BYTE address, const BYTE* data,
                                     DWORD length);
using I2cWriteReadFn = DWORD(__stdcall*)(DWORD handle, DWORD busType, BYTE address, const BYTE* writeData,
                                         DWORD writeLength, BYTE* readData, DWORD readLength);
using TempCountFn = DWORD(__stdcall*)(DWORD handle);
using TempCurrentFn = DWORD(__stdcall*)(DWORD handle, DWORD index, LONG* value, DWORD* status);
using TempInfoFn = DWORD(__stdcall*)(DWORD handle, DWORD index, BoardTempInfo* info);

constexpr wchar_t vendorLibraryName[] = L"Jida.dll";

// A full path to the vendor library, built without the heap: the first call that loads it may come
// on exhausted memory, and a missing library must still be answered as missing. A folder whose
// path does not fit (longer than the long-path limit of these calls) is not tried.
class VendorPath {
public:
    // The folder of a module (null: the application's executable).
    bool inFolderOf(HMODULE module)
    {
        const DWORD length = ::GetModuleFileNameW(module, path_, capacity);
        if (length == 0 || length >= capacity)
            return false;
        std::size_t folder = length;
        while (folder > 0 && path_[folder - 1] != L'\\' && path_[folder - 1] != L'/')
            --folder;
        return folder > 0 && append(folder);
    }

    bool inSystemFolder()
    {
        const UINT length = ::GetSystemDirectoryW(path_, capacity);
        if (length == 0 || length >= capacity - 1)
            return false;
        path_[length] = L'\\';
        return append(length + 1);
    }

    const wchar_t* text() const { return path_; }

private:
    static constexpr DWORD capacity = 1024;

    // Puts the library's name after the folder's `folder` characters (separator included).
    bool append(std::size_t folder)
    {
        const std::size_t name = sizeof vendorLibraryName / sizeof vendorLibraryName[0]; // with its null
        if (folder + name > capacity)
            return false;
        for (std::size_t i = 0; i < name; ++i)
            path_[folder + i] = vendorLibraryName[i];
        return true;
    }

    wchar_t path_[capacity];
};

// The module this code is part of (Pelmux.dll), wherever it was loaded from.
HMODULE ownModule()
{
    HMODULE module = nullptr;
    const BOOL found = ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                                GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                                            reinterpret_cast<LPCWSTR>(&ownModule), &module);
    return found ? module : nullptr;
}

// Jida.dll from the application's folder, from the folder of Pelmux.dll itself (installed in a
// folder of its own beside its Jida.dll, it is as trusted as that folder) or from the system
// folder, never through the normal search order, which also takes the current folder and the PATH:
// a DLL planted there would run inside the host. A system without the search flags (they came with
// an update of Windows 7) refuses them as an invalid parameter; then the folders are named in full.
HMODULE loadVendorLibrary()
{
    const HMODULE module = ::LoadLibraryExW(
        vendorLibraryName, nullptr, LOAD_LIBRARY_SEARCH_APPLICATION_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (module != nullptr)
        return module;
    const bool searchFlagsKnown = ::GetLastError() != ERROR_INVALID_PARAMETER;
    const HMODULE own = ownModule();
    VendorPath path;
    if (searchFlagsKnown) {
        if (own == nullptr || !path.inFolderOf(own))
            return nullptr;
        // Its own dependencies are looked for beside it and in the system folder.
        return ::LoadLibraryExW(path.text(), nullptr,
                                LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
    }
    // Its own dependencies are looked for beside it first.
    if (path.inFolderOf(nullptr))
        if (const HMODULE found = ::LoadLibraryExW(path.text(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH))
            return found;
    if (own != nullptr && path.inFolderOf(own))
        if (const HMODULE found = ::LoadLibraryExW(path.text(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH))
            return found;
    if (path.inSystemFolder())
        return ::LoadLibraryExW(path.text(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    return nullptr;
}

// The library, loaded by the first call that finds it; it then stays loaded for the life of the
// process. A load that failed is tried again by the next call: the vendor library may be installed
// while the host runs.
HMODULE library()
{
    static std::atomic<HMODULE> loaded{nullptr};
    HMODULE module = loaded.load();
    if (module != nullptr)
        return module;
    module = loadVendorLibrary();
    HMODULE earlier = nullptr;
    // Two threads that loaded it at once: one reference is enough.
    if (module != nullptr && !loaded.compare_exchange_strong(earlier, module)) {
        ::FreeLibrary(module);
        return earlier;
    }
    return module;
}

// Whether the loaded DLL's export table gives the ordinal a function inside the image. For an
// ordinal in a gap of the table GetProcAddress may answer an address that is not null and leads
// nowhere; only an ordinal the table names is called.
bool exported(HMODULE module, std::uint16_t ordinal)
{
    // The module handle is the start of the mapped image; its headers lie in its first region.
    const auto* image = reinterpret_cast<const std::uint8_t*>(module);
    MEMORY_BASIC_INFORMATION region;
    if (::VirtualQuery(image, &region, sizeof region) == 0)
        return false;
    const std::size_t headerBytes = static_cast<std::size_t>(
        static_cast<const std::uint8_t*>(region.BaseAddress) + region.RegionSize - image);
    const auto size = imageSize(image, headerBytes);
    return size && exportedFunction(image, *size, ordinal).has_value();
}

// The entry of an ordinal, or null when the DLL or the entry is missing.
template <class Fn> Fn entry(std::uint16_t ordinal)
{
    const HMODULE module = library();
    if (module == nullptr || !exported(module, ordinal))
        return nullptr;
    const FARPROC proc = ::GetProcAddress(module, MAKEINTRESOURCEA(ordinal));
    if (proc == nullptr)
        return nullptr;
    // Through the generic function type, which converts to any other without a warning.
    return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(proc));
}

} // namespace

std::uint32_t boardLibInit()
{
    const auto fn = entry<InitFn>(vendorOrdinal::boardLibInit);
    return fn != nullptr ? fn() : 0;
}

std::uint32_t boardLibSetup(std::uint32_t flag)
{
    const auto fn = entry<SetupFn>(vendorOrdinal::boardLibSetup);
    return fn != nullptr ? fn(flag) : 0;
}

std::uint32_t boardLibExit()
{
    const auto fn = entry<ExitFn>(vendorOrdinal::boardLibExit);
    return fn != nullptr ? fn() : 0;
}

std::uint32_t boardCount(const char* className, std::uint32_t flags)
{
    const auto fn = entry<CountFn>(vendorOrdinal::boardCount);
    return fn != nullptr ? fn(className, flags) : 0;
}

std::uint32_t boardOpen(const wchar_t* className, std::uint32_t number, std::uint32_t flags,
                        BoardHandle* handle)
{
    const auto fn = entry<OpenFn>(vendorOrdinal::boardOpen);
    if (fn == nullptr)
        return 0;
    DWORD opened = 0;
    const DWORD result = fn(className, number, flags, &opened);
    if (result != 0 && handle != nullptr)
        *handle = opened;
    return result;
}

std::uint32_t boardClose(BoardHandle handle)
{
    const auto fn = entry<CloseFn>(vendorOrdinal::boardClose);
    return fn != nullptr ? fn(handle) : 0;
}

std::uint32_t boardI2cReadRegister(BoardHandle handle, std::uint32_t busType, std::uint8_t address,
                                   std::uint16_t reg, std::uint8_t* value)
{
    const auto fn = entry<I2cReadRegisterFn>(vendorOrdinal::boardI2cReadRegister);
    return fn != nullptr ? fn(handle, busType, address, reg, value) : 0;
}

std::uint32_t boardI2cWriteRegister(BoardHandle handle, std::uint32_t busType, std::uint8_t address,
                                    std::uint16_t reg, std::uint8_t value)
{
    const auto fn = entry<I2cWriteRegisterFn>(vendorOrdinal::boardI2cWriteRegister);
    return fn != nullptr ? fn(handle, busType, address, reg, value) : 0;
}

std::uint32_t boardI2cWrite(BoardHandle handle, std::uint32_t busType, std::uint8_t address,
                            const std::uint8_t* data, std::uint32_t length)
{
    const auto fn = entry<I2cWriteFn>(vendorOrdinal::boardI2cWrite);
    return fn != nullptr ? fn(handle, busType, address, data, length) : 0;
}

std::uint32_t boardI2cWriteRead(BoardHandle handle, std::uint32_t busType, std::uint8_t address,
                                const std::uint8_t* writeData, std::uint32_t writeLength,
                                std::uint8_t* readData, std::uint32_t readLength)
{
    const auto fn = entry<I2cWriteReadFn>(vendorOrdinal::boardI2cWriteRead);
    return fn != nullptr ? fn(handle, busType, address, writeData, writeLength, readData, readLength) : 0;
}

std::uint32_t boardTempCount(BoardHandle handle)
{
    const auto fn = entry<TempCountFn>(vendorOrdinal::boardTempCount);
    return fn != nullptr ? fn(handle) : 0;
}

std::uint32_t boardTempCurrent(BoardHandle handle, std::uint32_t index, std::int32_t* value,
                               std::uint32_t* status)
{
    const auto fn = entry<TempCurrentFn>(vendorOrdinal::boardTempCurrent);
    if (fn == nullptr)
        return 0;
    LONG reading = 0;
    DWORD readingStatus = 0;
    const DWORD result = fn(handle, index, &reading, &readingStatus);
    if (result != 0) {
        if (value != nullptr)
            *value = static_cast<std::int32_t>(reading);
        if (status != nullptr)
            *status = readingStatus;
    }
    return result;
}

std::uint32_t boardTempInfo(BoardHandle handle, std::uint32_t index, BoardTempInfo* info)
{
    const auto fn = entry<TempInfoFn>(vendorOrdinal::boardTempInfo);
    return fn != nullptr ? fn(handle, index, info) : 0;
}

} // namespace pelmux::platform
