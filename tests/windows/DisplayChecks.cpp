// The display interfaces of Pelmux.dll on Windows without the unit: slots called by number, the
// service control towards a service that is not installed, the light sensor's locks, and the
// automatic backlight controller's thread (CreateThread, the global settings semaphore) started
// and stopped through the maintenance interface.
#include "Checks.h"
#include "frame/SettingsFile.h"

#include <pelmux/Pelmux.h>

#include <windows.h>

#include <string>

namespace checks {

namespace {

template <class Object> void** vtableOf(Object* object)
{
    return *reinterpret_cast<void***>(object);
}

// Operations are member functions: `this` in ECX, the callee clears the stack (see WindowsChecks.cpp).
using ReleaseSlot = void(__fastcall*)(void*, int);
using NoArgumentSlot = Varnholt::ResultCode(__fastcall*)(void*, int);
using ByteOutSlot = Varnholt::ResultCode(__fastcall*)(void*, int, unsigned char*);
using BoolOutSlot = Varnholt::ResultCode(__fastcall*)(void*, int, bool*);
using IntSlot = Varnholt::ResultCode(__fastcall*)(void*, int, std::int32_t);
using LuxSlot = Varnholt::ResultCode(__fastcall*)(void*, int, std::uint16_t*);
using StartAverageSlot = Varnholt::ResultCode(__fastcall*)(void*, int, std::uint32_t, std::uint32_t,
                                                           std::uint32_t, std::int32_t);
using SetSettingSlot = Varnholt::ResultCode(__fastcall*)(void*, int, const char*, const char*);
using GetSettingSlot = Varnholt::ResultCode(__fastcall*)(void*, int, const char*, char*, std::int32_t);

// A new object from the exported factory `name`, or null.
void* objectFrom(HMODULE library, const char* name)
{
    using Factory = void*(__stdcall*)();
    const auto factory = reinterpret_cast<Factory>(reinterpret_cast<void*>(::GetProcAddress(library, name)));
    return factory != nullptr ? factory() : nullptr;
}

std::string setting(const char* key)
{
    pelmux::SettingsFile file;
    file.loadSettings(pelmux::settingsPath());
    const auto found = file.entries().find(key);
    return found == file.entries().end() ? "(missing)" : found->second;
}

void backlight(HMODULE library)
{
    void* object = objectFrom(library, "GetBacklight");
    check(object != nullptr, "GetBacklight");
    if (object == nullptr)
        return;
    void** slots = vtableOf(object);
    unsigned char level = 99;
    check(reinterpret_cast<ByteOutSlot>(slots[0])(object, 0, &level) == Varnholt::ERR_OPEN_FAILED &&
              level == 99,
          "Backlight slot 0 without the driver: open failed, level untouched");
    check(reinterpret_cast<NoArgumentSlot>(slots[3])(object, 0) == Varnholt::ERR_SUCCESS &&
              setting("ABL_status") == "1",
          "Backlight slot 3 writes ABL_status=1");
    bool enabled = false;
    check(reinterpret_cast<BoolOutSlot>(slots[5])(object, 0, &enabled) == Varnholt::ERR_SUCCESS && enabled,
          "Backlight slot 5 reads the status back");
    HANDLE notification =
        ::OpenSemaphoreA(SYNCHRONIZE, FALSE, "Global\\PELMUX_BACKLIGHT_NEW_SETTINGS_TO_READ");
    check(notification != nullptr, "the controller's semaphore lies in the global namespace");
    if (notification != nullptr)
        ::CloseHandle(notification);
    check(reinterpret_cast<IntSlot>(slots[11])(object, 0, 1) == Varnholt::ERR_OPEN_FAILED,
          "Backlight slot 11 with no PelmuxService installed: open failed");
    bool dimming = false;
    check(setting("UseLEDDimming") == "1" &&
              reinterpret_cast<BoolOutSlot>(slots[10])(object, 0, &dimming) == Varnholt::ERR_SUCCESS &&
              dimming,
          "the LED dimming key is written although the service is missing");
    reinterpret_cast<ReleaseSlot>(slots[12])(object, 0);
}

void lightSensor(HMODULE library)
{
    void* object = objectFrom(library, "GetLightsensor");
    check(object != nullptr, "GetLightsensor");
    if (object == nullptr)
        return;
    void** slots = vtableOf(object);
    std::uint16_t lux = 7;
    check(reinterpret_cast<LuxSlot>(slots[1])(object, 0, &lux) == Varnholt::ERR_OPEN_FAILED && lux == 7,
          "Lightsensor slot 1 without the driver: open failed");
    check(reinterpret_cast<StartAverageSlot>(slots[3])(object, 0, 5, 5, 0, 2) ==
              Varnholt::ERR_INVALID_DATA_RANGE,
          "Lightsensor slot 3 refuses a reject delta of 0");
    // The range cannot be sent without the driver: the start fails and gives the session lock back.
    check(reinterpret_cast<StartAverageSlot>(slots[3])(object, 0, 5, 5, 50, 2) == Varnholt::ERR_OPEN_FAILED,
          "Lightsensor slot 3 without the driver: open failed");
    check(reinterpret_cast<IntSlot>(slots[6])(object, 0, 2) == Varnholt::ERR_OPEN_FAILED,
          "Lightsensor slot 6: the open test comes before the value test, and the lock is free");
    check(reinterpret_cast<LuxSlot>(slots[2])(object, 0, &lux) == Varnholt::ERR_FUNCTION_NOT_RUNNING,
          "Lightsensor slot 2 with no averaging running");
    reinterpret_cast<ReleaseSlot>(slots[7])(object, 0);
}

void controller(HMODULE library)
{
    void* object = objectFrom(library, "GetPelmuxPrivate");
    check(object != nullptr, "GetPelmuxPrivate");
    if (object == nullptr)
        return;
    void** slots = vtableOf(object);
    check(reinterpret_cast<SetSettingSlot>(slots[5])(object, 0, "ABL_status", "0") == Varnholt::ERR_SUCCESS,
          "PelmuxPrivate slot 5 writes a key");
    char value[8] = {};
    check(reinterpret_cast<GetSettingSlot>(slots[6])(object, 0, "ABL_status", value, sizeof value) ==
                  Varnholt::ERR_SUCCESS &&
              std::string(value) == "0",
          "PelmuxPrivate slot 6 reads it back");
    check(reinterpret_cast<NoArgumentSlot>(slots[4])(object, 0) == Varnholt::ERR_SUCCESS,
          "PelmuxPrivate slot 4 starts the controller thread");
    check(reinterpret_cast<NoArgumentSlot>(slots[4])(object, 0) == Varnholt::ERR_INITIALISATION_FAILED,
          "a second start is refused");
    // The controller's first pass repairs the file: every key it uses is written.
    bool repaired = false;
    for (int i = 0; i < 200 && !repaired; ++i) {
        repaired = setting("ABL_mode") == "2" && setting("ABL_k") == "50";
        if (!repaired)
            ::Sleep(20);
    }
    check(repaired, "the controller's thread wrote its settings");
    const DWORD before = ::GetTickCount();
    reinterpret_cast<ReleaseSlot>(slots[8])(object, 0);
    check(::GetTickCount() - before < 5000, "releasing the interface stops the waiting controller thread");
}

} // namespace

void displayChecks(void* module)
{
    const auto library = static_cast<HMODULE>(module);
    ::DeleteFileA(pelmux::settingsPath().c_str());
    backlight(library);
    lightSensor(library);
    controller(library);
    ::DeleteFileA(pelmux::settingsPath().c_str());
}

} // namespace checks
