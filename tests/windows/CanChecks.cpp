// CAN settings of Pelmux.dll on Windows: the slots called by number against the real registry,
// in a parameter key the check makes itself and removes afterwards.
#include "Checks.h"

#include <pelmux/Pelmux.h>

#include <windows.h>

#include <cstdint>
#include <string>

namespace checks {

namespace {

template <class Object> void** vtableOf(Object* object)
{
    return *reinterpret_cast<void***>(object);
}

// Operations are member functions: `this` in ECX, the callee clears the stack (see WindowsChecks.cpp).
using ReleaseSlot = void(__fastcall*)(void*, int);
using GetRateSlot = Varnholt::ResultCode(__fastcall*)(void*, int, unsigned char, std::uint16_t*);
using GetTypeSlot = Varnholt::ResultCode(__fastcall*)(void*, int, unsigned char, std::int32_t*);
using SetRateSlot = Varnholt::ResultCode(__fastcall*)(void*, int, unsigned char, std::uint16_t);
using SetTypeSlot = Varnholt::ResultCode(__fastcall*)(void*, int, unsigned char, std::int32_t);

const wchar_t* const parameters = L"SYSTEM\\CurrentControlSet\\Services\\CanXilinxVH\\Parameters";
const wchar_t* const device0 = L"SYSTEM\\CurrentControlSet\\Services\\CanXilinxVH\\Parameters\\Device0";

// The data size and text of a value of Device0, or size 0 when it cannot be read.
std::pair<DWORD, std::wstring> storedValue(const wchar_t* name)
{
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, device0, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return {0, {}};
    wchar_t data[256] = {};
    DWORD size = sizeof data - sizeof(wchar_t);
    DWORD type = 0;
    const LONG result = ::RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(data), &size);
    ::RegCloseKey(key);
    if (result != ERROR_SUCCESS || type != REG_SZ)
        return {0, {}};
    return {size, data};
}

} // namespace

void canChecks(void* library)
{
    HKEY created = nullptr;
    check(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, device0, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                            nullptr, &created, nullptr) == ERROR_SUCCESS,
          "the CAN driver's key Device0 is made");
    if (created != nullptr)
        ::RegCloseKey(created);
    ::RegDeleteKeyW(HKEY_LOCAL_MACHINE,
                    L"SYSTEM\\CurrentControlSet\\Services\\CanXilinxVH\\Parameters\\Device3");

    using Factory = void*(__stdcall*)();
    const auto factory = reinterpret_cast<Factory>(
        reinterpret_cast<void*>(::GetProcAddress(static_cast<HMODULE>(library), "GetCanSetting")));
    void* can = factory != nullptr ? factory() : nullptr;
    check(can != nullptr, "GetCanSetting");
    if (can != nullptr) {
        void** slots = vtableOf(can);
        // Without the vendor library the identity cannot be read: CAN counts as present.
        check(reinterpret_cast<SetRateSlot>(slots[2])(can, 0, 1, 125) == Varnholt::ERR_SUCCESS,
              "CanSetting slot 2 sets channel 1 to 125 kbit/s");
        std::uint16_t rate = 0;
        check(reinterpret_cast<GetRateSlot>(slots[0])(can, 0, 1, &rate) == Varnholt::ERR_SUCCESS &&
                  rate == 125,
              "CanSetting slot 0 reads 125 kbit/s back: " + std::to_string(rate));
        const auto baudRate = storedValue(L"BaudRate");
        check(baudRate.first == 40 && baudRate.second == L"125000",
              "\"BaudRate\" is REG_SZ \"125000\" in 40 bytes: " + std::to_string(baudRate.first));
        check(reinterpret_cast<SetTypeSlot>(slots[3])(can, 0, 1, Varnholt::FRAMETYPE_STANDARD_EXTENDED) ==
                  Varnholt::ERR_SUCCESS,
              "CanSetting slot 3 sets both frame types");
        std::int32_t type = -1;
        check(reinterpret_cast<GetTypeSlot>(slots[1])(can, 0, 1, &type) == Varnholt::ERR_SUCCESS &&
                  type == Varnholt::FRAMETYPE_STANDARD_EXTENDED,
              "CanSetting slot 1 reads both frame types back");
        const auto mode = storedValue(L"Mode");
        check(mode.first == 255 && mode.second == L"Standard, Extended",
              "\"Mode\" is REG_SZ \"Standard, Extended\" in 255 bytes: " + std::to_string(mode.first));
        check(reinterpret_cast<SetRateSlot>(slots[2])(can, 0, 4, 500) == Varnholt::ERR_OPEN_FAILED,
              "setting channel 4 without its key Device3 gives ERR_OPEN_FAILED");
        rate = 7;
        check(reinterpret_cast<GetRateSlot>(slots[0])(can, 0, 4, &rate) == Varnholt::ERR_NOT_SUPPORTED &&
                  rate == 7,
              "reading channel 4 without its key gives ERR_NOT_SUPPORTED and leaves the output");
        HKEY device3 = nullptr;
        check(::RegOpenKeyExW(HKEY_LOCAL_MACHINE,
                              L"SYSTEM\\CurrentControlSet\\Services\\CanXilinxVH\\Parameters\\Device3", 0,
                              KEY_READ, &device3) == ERROR_FILE_NOT_FOUND,
              "a set does not make the key");
        check(reinterpret_cast<SetRateSlot>(slots[2])(can, 0, 5, 500) == Varnholt::ERR_INVALID_PARAMETER_NULL,
              "channel 5 gives ERR_INVALID_PARAMETER_NULL");
        reinterpret_cast<ReleaseSlot>(slots[4])(can, 0);
    }
    ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, device0);
    ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, parameters);
    ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Services\\CanXilinxVH");
}

} // namespace checks
