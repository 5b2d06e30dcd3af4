// Pelmux.dll and the Windows platform layer on Windows (run under wine by `make test`): the export
// table as a caller's GetProcAddress sees it, operations called by slot number with the Windows
// calling conventions, an absent driver and vendor library, semaphores, the settings folder.
// Prints one line per failed check and closes with "N passed, M failed".
#include "Checks.h"
#include "frame/Semaphores.h"
#include "frame/SettingsFile.h"
#include "platform/Device.h"
#include "platform/Files.h"
#include "platform/Semaphore.h"
#include "platform/win32/SemaphoreParts.h"
#include "platform/win32/StoreAccess.h"

#include <pelmux/Pelmux.h>

#include <windows.h>

#include <shlobj.h>

#include <clocale>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <functional>
#include <string>
#include <vector>

namespace {

using checks::check;

HMODULE library = nullptr;

void* byName(const char* name)
{
    return reinterpret_cast<void*>(::GetProcAddress(library, name));
}

void* byOrdinal(int ordinal)
{
    return reinterpret_cast<void*>(::GetProcAddress(library, MAKEINTRESOURCEA(ordinal)));
}

template <class Object> void** vtableOf(Object* object)
{
    return *reinterpret_cast<void***>(object);
}

using Factory = void*(__stdcall*)();
using NarrowText = const char*(__stdcall*)(unsigned int);
using WideText = const wchar_t*(__stdcall*)(unsigned int);
// Operations are member functions: on 32-bit Windows `this` travels in ECX and the callee removes
// the other arguments from the stack. A fastcall function whose second argument (EDX) is unused
// receives exactly that, so each slot is called as fastcall(object, 0, arguments...).
using VersionSlot = Varnholt::ResultCode(__fastcall*)(void*, int, unsigned char*, unsigned char*,
                                                      unsigned char*, unsigned char*);
using ReleaseSlot = void(__fastcall*)(void*, int);
using TextSlot = Varnholt::ResultCode(__fastcall*)(void*, int, char*, int);
using WordSlot = Varnholt::ResultCode(__fastcall*)(void*, int, unsigned short*);
using TemperatureSlot = Varnholt::ResultCode(__fastcall*)(void*, int, unsigned char, short*, int*);
using VoltageSlot = Varnholt::ResultCode(__fastcall*)(void*, int, Varnholt::VoltageChannel, double*);
using FlagSlot = Varnholt::ResultCode(__fastcall*)(void*, int, std::int32_t*);
using SwitchSlot = Varnholt::ResultCode(__fastcall*)(void*, int, std::int32_t);

void exportTable()
{
    const char* names[] = {"GetAbout",
                           "GetAdc",
                           "GetAuxVersion",
                           "GetBacklight",
                           "GetBuzzer",
                           "GetPelmuxPrivate",
                           "GetCanSetting",
                           "GetConfig",
                           "GetDiagnostic",
                           "GetDigIO",
                           "Varnholt::GetErrorStringA",
                           "Varnholt::GetErrorStringW",
                           "GetFirmwareUpgrade",
                           "GetFrontLED",
                           "Varnholt::GetHwErrorStatusStringA",
                           "Varnholt::GetHwErrorStatusStringW",
                           "GetLightsensor",
                           "GetPower",
                           "Varnholt::GetStartupReasonStringA",
                           "Varnholt::GetStartupReasonStringW",
                           "GetTelematics",
                           "GetTouchScreen",
                           "GetTouchScreenCalib",
                           "GetVideo"};
    for (int i = 0; i < 24; ++i) {
        const std::string plain = names[i];
        const bool message = plain.rfind("Varnholt::", 0) == 0;
        const std::string alias = "_" + (message ? plain.substr(10) : plain) + (message ? "@4" : "@0");
        void* const entry = byName(names[i]);
        check(entry != nullptr, ("export " + plain).c_str());
        check(entry == byOrdinal(i + 1), ("ordinal of " + plain).c_str());
        check(byName(alias.c_str()) == entry, ("alias " + alias + " leads to the same code").c_str());
        check(byOrdinal(i + 25) == entry, ("ordinal of " + alias).c_str());
    }
    check(byName("GetBattery") == byOrdinal(49) && byName("_GetBattery@0") == byOrdinal(50), "GetBattery");
    check(byName("GetPowerMgr") == byOrdinal(51) && byName("_GetPowerMgr@0") == byOrdinal(52), "GetPowerMgr");
    check(byOrdinal(49) == byOrdinal(50) && byOrdinal(51) == byOrdinal(52),
          "battery and power-manager aliases");
}

void messageFunctions()
{
    auto errorA = reinterpret_cast<NarrowText>(byName("Varnholt::GetErrorStringA"));
    auto errorW = reinterpret_cast<WideText>(byName("_GetErrorStringW@4"));
    auto hwW = reinterpret_cast<WideText>(byOrdinal(16));
    auto startupA = reinterpret_cast<NarrowText>(byName("_GetStartupReasonStringA@4"));
    if (errorA == nullptr || errorW == nullptr || hwW == nullptr || startupA == nullptr) {
        check(false, "message functions present");
        return;
    }
    check(std::strcmp(errorA(0), "ERR_SUCCESS") == 0, "GetErrorStringA(0)");
    check(std::wcscmp(errorW(25), L"A newer version of SS is required") == 0, "GetErrorStringW(25)");
    check(std::wcscmp(hwW(53), L"SuspToRAM  Unexpected EEPROM Value") == 0, "GetHwErrorStatusStringW(53)");
    check(std::wcscmp(hwW(65536), L"No Error") == 0, "GetHwErrorStatusStringW uses the low 16 bits");
    check(std::strcmp(startupA(0x1000F), "Power on start-up") == 0, "GetStartupReasonStringA(0x1000F)");
}

// With no board driver and no Jida.dll every operation answers its code instead of crashing.
void operationsWithoutTheUnit()
{
    auto* versions = reinterpret_cast<Varnholt::AuxVersion*>(reinterpret_cast<Factory>(byOrdinal(3))());
    check(versions != nullptr, "GetAuxVersion by ordinal");
    if (versions != nullptr) {
        void** vtable = vtableOf(versions);
        unsigned char v[4] = {};
        check(reinterpret_cast<VersionSlot>(vtable[3])(versions, 0, &v[0], &v[1], &v[2], &v[3]) ==
                      Varnholt::ERR_SUCCESS &&
                  v[0] == 1 && v[1] == 5 && v[2] == 0 && v[3] == 0,
              "AuxVersion slot 3 gives the library version 1.5.0.0");
        check(reinterpret_cast<VersionSlot>(vtable[0])(versions, 0, &v[0], &v[1], &v[2], &v[3]) ==
                  Varnholt::ERR_OPEN_FAILED,
              "AuxVersion slot 0 without a driver gives ERR_OPEN_FAILED");
        reinterpret_cast<ReleaseSlot>(vtable[6])(versions, 0);
    }

    auto* about = reinterpret_cast<Varnholt::About*>(reinterpret_cast<Factory>(byName("GetAbout"))());
    check(about != nullptr, "GetAbout without Jida.dll still gives an object");
    if (about != nullptr) {
        char buffer[32] = "untouched";
        check(reinterpret_cast<TextSlot>(vtableOf(about)[0])(about, 0, buffer, 31) ==
                  Varnholt::ERR_JIDA_EEPROM_ACCESS,
              "About slot 0 without Jida.dll gives ERR_JIDA_EEPROM_ACCESS");
        check(std::strcmp(buffer, "untouched") == 0, "About slot 0 leaves the buffer untouched");
        reinterpret_cast<ReleaseSlot>(vtableOf(about)[20])(about, 0);
    }

    auto* diagnostic =
        reinterpret_cast<Varnholt::Diagnostic*>(reinterpret_cast<Factory>(byName("_GetDiagnostic@0"))());
    check(diagnostic != nullptr, "GetDiagnostic");
    if (diagnostic != nullptr) {
        unsigned short word = 0;
        short temperature = 0;
        int type = 0;
        check(reinterpret_cast<WordSlot>(vtableOf(diagnostic)[0])(diagnostic, 0, &word) ==
                  Varnholt::ERR_OPEN_FAILED,
              "Diagnostic slot 0 without a driver gives ERR_OPEN_FAILED");
        check(reinterpret_cast<TemperatureSlot>(vtableOf(diagnostic)[2])(
                  diagnostic, 0, 0, &temperature, &type) == Varnholt::ERR_JIDA_TEMPERATURE_READ,
              "Diagnostic slot 2 without Jida.dll gives ERR_JIDA_TEMPERATURE_READ");
        reinterpret_cast<ReleaseSlot>(vtableOf(diagnostic)[10])(diagnostic, 0);
    }

    auto* adc = reinterpret_cast<Varnholt::Adc*>(reinterpret_cast<Factory>(byName("GetAdc"))());
    check(adc != nullptr, "GetAdc");
    if (adc != nullptr) {
        double volts = 0;
        auto slot = reinterpret_cast<VoltageSlot>(vtableOf(adc)[0]);
        check(slot(adc, 0, Varnholt::VOLTAGE_24V, nullptr) == Varnholt::ERR_INVALID_PARAMETER_NULL,
              "Adc slot 0 tests the pointer before the driver");
        check(slot(adc, 0, Varnholt::VOLTAGE_24V, &volts) == Varnholt::ERR_OPEN_FAILED,
              "Adc slot 0 without a driver gives ERR_OPEN_FAILED");
        reinterpret_cast<ReleaseSlot>(vtableOf(adc)[1])(adc, 0);
    }

    // Without the vendor library no module counts as fitted; release sits at slot 10 of 19.
    auto* telematics = reinterpret_cast<Varnholt::Telematics*>(reinterpret_cast<Factory>(byOrdinal(21))());
    check(telematics != nullptr, "GetTelematics");
    if (telematics != nullptr) {
        check(reinterpret_cast<Factory>(byName("_GetTelematics@0"))() == telematics,
              "a second GetTelematics gives the same object");
        std::int32_t flag = 7;
        check(reinterpret_cast<FlagSlot>(vtableOf(telematics)[0])(telematics, 0, &flag) ==
                      Varnholt::ERR_SUCCESS &&
                  flag == 0,
              "Telematics slot 0 without Jida.dll reports no module");
        check(reinterpret_cast<FlagSlot>(vtableOf(telematics)[1])(telematics, 0, &flag) ==
                  Varnholt::ERR_GSM_GPRS_NOT_AVAILABLE,
              "Telematics slot 1 without Jida.dll gives ERR_GSM_GPRS_NOT_AVAILABLE");
        check(reinterpret_cast<SwitchSlot>(vtableOf(telematics)[17])(telematics, 0, 1) ==
                  Varnholt::ERR_GPS_NOT_AVAILABLE,
              "Telematics slot 17 without Jida.dll gives ERR_GPS_NOT_AVAILABLE");
        check(reinterpret_cast<FlagSlot>(vtableOf(telematics)[11])(telematics, 0, &flag) ==
                  Varnholt::ERR_BLUETOOTH_NOT_AVAILABLE,
              "Telematics slot 11 without Jida.dll gives ERR_BLUETOOTH_NOT_AVAILABLE");
        reinterpret_cast<ReleaseSlot>(vtableOf(telematics)[10])(telematics, 0);
        reinterpret_cast<ReleaseSlot>(vtableOf(telematics)[10])(telematics, 0);
    }
}

// An About object from GetAbout whose slot 0 reads the stand-in's PCB_SERIAL; the caller releases it.
Varnholt::About* aboutReadingPcbSerial(const char* what)
{
    auto* about = reinterpret_cast<Varnholt::About*>(reinterpret_cast<Factory>(byName("GetAbout"))());
    check(about != nullptr, "GetAbout");
    if (about != nullptr) {
        char buffer[32] = {};
        check(reinterpret_cast<TextSlot>(vtableOf(about)[0])(about, 0, buffer, 31) == Varnholt::ERR_SUCCESS &&
                  std::strcmp(buffer, "4711") == 0,
              what);
    }
    return about;
}

// With the stand-in vendor library: the identity EEPROM and the temperature sensor through the
// ordinals, the standard calling convention and the arguments of each call.
void operationsWithTheVendorLibrary()
{
    auto* about = aboutReadingPcbSerial("About slot 0 reads PCB_SERIAL from the unit EEPROM");
    if (about != nullptr) {
        char buffer[32] = {};
        check(reinterpret_cast<TextSlot>(vtableOf(about)[1])(about, 0, buffer, 31) == Varnholt::ERR_SUCCESS &&
                  std::strcmp(buffer, "W-1") == 0,
              "About slot 1 reads UNIT_SERIAL");
        check(reinterpret_cast<TextSlot>(vtableOf(about)[12])(about, 0, buffer, 31) ==
                  Varnholt::ERR_JIDA_EEPROM_ACCESS,
              "the expansion EEPROM, which the board lacks, gives ERR_JIDA_EEPROM_ACCESS");
        reinterpret_cast<ReleaseSlot>(vtableOf(about)[20])(about, 0);
    }
    auto* diagnostic = reinterpret_cast<Varnholt::Diagnostic*>(reinterpret_cast<Factory>(byOrdinal(9))());
    if (diagnostic != nullptr) {
        short temperature = 0;
        int type = 0;
        check(reinterpret_cast<TemperatureSlot>(vtableOf(diagnostic)[2])(diagnostic, 0, 0, &temperature,
                                                                         &type) == Varnholt::ERR_SUCCESS &&
                  temperature == -5 && type == 7,
              "Diagnostic slot 2 reads sensor 0: -5500 thousandths give -5, type 7");
        check(reinterpret_cast<TemperatureSlot>(vtableOf(diagnostic)[2])(
                  diagnostic, 0, 1, &temperature, &type) == Varnholt::ERR_JIDA_TEMPERATURE_READ,
              "a sensor index beyond the count gives ERR_JIDA_TEMPERATURE_READ");
        reinterpret_cast<ReleaseSlot>(vtableOf(diagnostic)[10])(diagnostic, 0);
    }
}

// A Jida.dll whose ordinal 80 (the sensor description) is missing between others, and whose
// export table holds an address outside the image at its place, as a damaged table can: the
// operations that need it answer their failure code, the others still work.
void operationsWithAGapInTheVendorLibrary()
{
    if (auto* about =
            aboutReadingPcbSerial("the ordinals that are present still work: About slot 0 reads PCB_SERIAL"))
        reinterpret_cast<ReleaseSlot>(vtableOf(about)[20])(about, 0);
    auto* diagnostic = reinterpret_cast<Varnholt::Diagnostic*>(reinterpret_cast<Factory>(byOrdinal(9))());
    check(diagnostic != nullptr, "GetDiagnostic");
    if (diagnostic != nullptr) {
        short temperature = 99;
        int type = 99;
        check(reinterpret_cast<TemperatureSlot>(vtableOf(diagnostic)[2])(
                  diagnostic, 0, 0, &temperature, &type) == Varnholt::ERR_JIDA_TEMPERATURE_READ,
              "Diagnostic slot 2 without ordinal 80 gives ERR_JIDA_TEMPERATURE_READ");
        check(temperature == 99 && type == 99, "Diagnostic slot 2 leaves its outputs untouched");
        reinterpret_cast<ReleaseSlot>(vtableOf(diagnostic)[10])(diagnostic, 0);
    }
}

// Run from a folder without Jida.dll, beside "vendor", which has one: a Jida.dll planted in the
// current folder or on the PATH never runs inside the host, and one that arrives beside the program
// after a failed load is loaded by the next call.
void vendorLibraryFolders()
{
    const std::wstring own = checks::ownPath();
    const std::wstring folder = own.substr(0, own.find_last_of(L'\\') + 1);
    const std::wstring planted = folder + L"..\\vendor";
    wchar_t path[32768] = {};
    ::GetEnvironmentVariableW(L"PATH", path, 32768);
    const std::wstring searchPath = planted + L";" + path;
    struct Case {
        const char* what;
        std::function<bool()> arrange; // before the call, in turn
        bool loaded;
    };
    const Case cases[] = {
        {"a Jida.dll in the current folder is not loaded",
         [&] { return ::SetCurrentDirectoryW(planted.c_str()) != FALSE; }, false},
        {"a Jida.dll on the PATH is not loaded",
         [&] { return ::SetEnvironmentVariableW(L"PATH", searchPath.c_str()) != FALSE; }, false},
        {"a Jida.dll copied beside the program after failed loads is loaded",
         [&] {
             return ::CopyFileW((planted + L"\\Jida.dll").c_str(), (folder + L"Jida.dll").c_str(), FALSE) !=
                    FALSE;
         },
         true},
    };
    for (const Case& c : cases) {
        check(c.arrange(), std::string(c.what) + ": arranged");
        auto* about = reinterpret_cast<Varnholt::About*>(reinterpret_cast<Factory>(byName("GetAbout"))());
        if (about == nullptr) {
            check(false, std::string(c.what) + ": GetAbout");
            continue;
        }
        char buffer[32] = {};
        const Varnholt::ResultCode result =
            reinterpret_cast<TextSlot>(vtableOf(about)[0])(about, 0, buffer, 31);
        check(c.loaded ? result == Varnholt::ERR_SUCCESS && std::strcmp(buffer, "4711") == 0
                       : result == Varnholt::ERR_JIDA_EEPROM_ACCESS,
              std::string(c.what) + ": About slot 0 answers " + std::to_string(result));
        reinterpret_cast<ReleaseSlot>(vtableOf(about)[20])(about, 0);
    }
}

// A file name the application gives as 8-bit text means what its own C run-time makes of it: the
// ANSI code page (1252 under wine here), not one character per byte.
void callerFileNames()
{
    check(::GetACP() == 1252, "the ANSI code page of this run is 1252");
    wchar_t temporary[MAX_PATH] = {};
    ::GetTempPathW(MAX_PATH, temporary);
    char narrowFolder[MAX_PATH] = {};
    ::GetTempPathA(MAX_PATH, narrowFolder);
    struct Case {
        const char* what;
        const char* narrow;
        const wchar_t* wide;
    };
    const Case cases[] = {
        {"Z with caron (0x8E)", "pelmux-\x8E.hex", L"pelmux-\u017D.hex"},
        {"the euro sign (0x80)", "pelmux-\x80.hex", L"pelmux-\u20AC.hex"},
        {"a with umlaut (0xE4)", "pelmux-\xE4.hex", L"pelmux-\u00E4.hex"},
    };
    for (const Case& c : cases) {
        const std::string narrow = std::string(narrowFolder) + c.narrow;
        const std::wstring wide = std::wstring(temporary) + c.wide;
        HANDLE made = ::CreateFileW(wide.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        ::CloseHandle(made);
        std::FILE* own = std::fopen(narrow.c_str(), "rb");
        check(own != nullptr, std::string(c.what) + ": the application's fopen finds the file");
        if (own != nullptr)
            std::fclose(own);
        check(pelmux::platform::callerFileName(narrow.c_str()) == wide,
              std::string(c.what) + ": the wide name");
        const pelmux::platform::Handle opened = pelmux::platform::openImageFile(narrow.c_str(), true);
        check(opened != pelmux::platform::invalidHandle(),
              std::string(c.what) + ": an image of that name opens");
        pelmux::platform::closeHandle(opened);
        ::DeleteFileW(wide.c_str());
    }
    // The length rule counts the caller's bytes.
    const std::string longest(pelmux::platform::longestCallerFileName, 'x');
    check(pelmux::platform::callerFileName(longest.c_str()).has_value() &&
              !pelmux::platform::callerFileName((longest + "x").c_str()).has_value(),
          "259 bytes are a name, 260 are not");
}

// A failed control request reports no count, even where Windows hands back the part that fitted:
// a message-mode pipe peeked with a buffer smaller than its message fails with ERROR_MORE_DATA.
void deviceControlCounts()
{
    constexpr DWORD pipePeek = 0x11400C; // FSCTL_PIPE_PEEK
    const wchar_t* name = L"\\\\.\\pipe\\pelmux-windows-checks";
    HANDLE server = ::CreateNamedPipeW(name, PIPE_ACCESS_DUPLEX, PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE, 1,
                                       4096, 4096, 0, nullptr);
    HANDLE client = ::CreateFileW(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    DWORD written = 0;
    check(server != INVALID_HANDLE_VALUE && client != INVALID_HANDLE_VALUE &&
              ::WriteFile(server, "a message longer than the buffer", 32, &written, nullptr),
          "message-mode pipe with a waiting message");
    unsigned char output[24] = {};
    std::uint32_t returned = 12345;
    const bool ok =
        pelmux::platform::deviceControl(client, pipePeek, nullptr, 0, output, sizeof output, &returned);
    check(!ok && ::GetLastError() == ERROR_MORE_DATA,
          "a peek into a short buffer fails with ERROR_MORE_DATA");
    check(returned == 0, "the failed request reports 0 bytes, not " + std::to_string(returned));
    std::uint32_t fitting = 0;
    unsigned char large[64] = {};
    check(pelmux::platform::deviceControl(client, pipePeek, nullptr, 0, large, sizeof large, &fitting) &&
              fitting == 16 + 32,
          "a request that succeeds reports its count: " + std::to_string(fitting));
    ::CloseHandle(client);
    ::CloseHandle(server);
}

void semaphores()
{
    pelmux::platform::SemaphoreHandle first = nullptr;
    pelmux::platform::SemaphoreHandle second = nullptr;
    check(pelmux::createSemaphore("PELMUX_WINDOWS_CHECK", first) && first != nullptr,
          "named semaphore created");
    check(pelmux::createSemaphore("PELMUX_WINDOWS_CHECK", second) && second != nullptr,
          "named semaphore opened");
    check(pelmux::platform::takeSemaphore(first, 0), "a new semaphore can be taken");
    check(!pelmux::platform::takeSemaphore(second, 0), "a taken semaphore refuses another handle");
    check(pelmux::platform::giveSemaphore(first), "given back");
    check(!pelmux::platform::giveSemaphore(first), "maximum count 1");
    check(pelmux::platform::takeSemaphore(second, pelmux::platform::waitForever),
          "taken through the other handle");
    pelmux::platform::giveSemaphore(second);
    pelmux::platform::closeSemaphore(first);
    pelmux::platform::closeSemaphore(second);

    pelmux::platform::SemaphoreHandle unnamed = nullptr;
    check(pelmux::createSemaphore(nullptr, unnamed) && pelmux::platform::takeSemaphore(unnamed, 0),
          "unnamed semaphore");
    pelmux::platform::closeSemaphore(unnamed);

    // A child the host starts with handle inheritance would keep a taken semaphore alive after
    // its taker ended, or its holder record alive after the holder ended.
    for (const char* name : {"PELMUX_WINDOWS_CHECK", static_cast<const char*>(nullptr)}) {
        pelmux::platform::SemaphoreHandle handle = nullptr;
        pelmux::createSemaphore(name, handle);
        const bool taken = pelmux::platform::takeSemaphore(handle, 0);
        const auto parts =
            taken ? pelmux::platform::semaphoreParts(handle) : pelmux::platform::SemaphoreParts{};
        bool inherited = !taken || (name != nullptr && parts.holder == nullptr);
        for (DWORD flags = 0; void* part : {parts.count, parts.guard, parts.taken, parts.holder})
            inherited |=
                part != nullptr && (!::GetHandleInformation(part, &flags) || flags & HANDLE_FLAG_INHERIT);
        check(!inherited,
              std::string(name != nullptr ? "named" : "unnamed") + " semaphore handles are not inheritable");
        pelmux::platform::giveSemaphore(handle);
        pelmux::platform::closeSemaphore(handle);
    }
}

void settingsFile()
{
    const std::string path = pelmux::settingsPath();
    const std::string tail = "\\Varnholt\\Pelmux.ini";
    check(path.size() > tail.size() && path.compare(path.size() - tail.size(), tail.size(), tail) == 0,
          ("settings path ends in \\Varnholt\\Pelmux.ini: " + path).c_str());
    check(path != "C:\\Pelmux.ini", "the common application-data folder was found");
    ::DeleteFileA(path.c_str());
    {
        pelmux::SettingsFile settings;
        check(settings.holdsLock(), "the settings file lock is taken");
        settings.loadSettings(path);
        check(settings.setValue("ABL_mode", "2"), "first write");
    }
    {
        pelmux::SettingsFile settings;
        settings.loadSettings(path);
        check(settings.getValue("ABL_mode") == "2", "value read back");
        check(settings.setValue("ABL_k", "50"), "second write");
    }
    char content[256] = {};
    DWORD read = 0;
    HANDLE file =
        ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        ::ReadFile(file, content, sizeof content - 1, &read, nullptr);
        ::CloseHandle(file);
    }
    check(std::strcmp(content, "ABL_mode=2\r\nABL_k = 50\r\n") == 0,
          (std::string("file lines end in CR LF, new key last: ") + content).c_str());
    ::DeleteFileA(path.c_str());
}

// The rights the settings folder and files are made with, read back from the descriptor: what an
// account may do with the object itself and (the folder) with files made in it without rights of
// their own.
void storeRights()
{
    using Kind = pelmux::platform::StoreAccess::Kind;
    constexpr DWORD changeRights = WRITE_DAC | WRITE_OWNER;
    struct Case {
        Kind kind;
        WELL_KNOWN_SID_TYPE who;
        DWORD needed;
        DWORD forbidden;
        DWORD forbiddenInherited;
    };
    const Case cases[] = {
        {Kind::Folder, WinLocalSystemSid, FILE_ALL_ACCESS, 0, 0},
        {Kind::Folder, WinBuiltinAdministratorsSid, FILE_ALL_ACCESS, 0, 0},
        {Kind::Folder, WinAuthenticatedUserSid, FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_ADD_FILE,
         changeRights | DELETE | FILE_DELETE_CHILD | FILE_ADD_SUBDIRECTORY, changeRights},
        {Kind::Folder, WinCreatorOwnerRightsSid, FILE_LIST_DIRECTORY,
         changeRights | DELETE | FILE_DELETE_CHILD, changeRights},
        {Kind::File, WinLocalSystemSid, FILE_ALL_ACCESS, 0, 0},
        {Kind::File, WinBuiltinAdministratorsSid, FILE_ALL_ACCESS, 0, 0},
        {Kind::File, WinAuthenticatedUserSid, FILE_READ_DATA | FILE_WRITE_DATA | DELETE, changeRights, 0},
    };
    for (const Case& c : cases) {
        pelmux::platform::StoreAccess access(c.kind);
        const std::string label = std::string(c.kind == Kind::Folder ? "folder" : "file") +
                                  ", well-known SID " + std::to_string(c.who);
        void* descriptor =
            access.attributes() != nullptr ? access.attributes()->lpSecurityDescriptor : nullptr;
        BOOL present = FALSE;
        BOOL defaulted = FALSE;
        PACL dacl = nullptr;
        SECURITY_DESCRIPTOR_CONTROL control = 0;
        DWORD revision = 0;
        ACL_SIZE_INFORMATION size{};
        check(descriptor != nullptr && ::GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted) &&
                  dacl != nullptr && ::GetSecurityDescriptorControl(descriptor, &control, &revision) &&
                  (control & SE_DACL_PROTECTED) != 0 &&
                  ::GetAclInformation(dacl, &size, sizeof size, AclSizeInformation),
              label + ": a protected DACL, nothing inherited");
        unsigned char sid[SECURITY_MAX_SID_SIZE];
        DWORD sidSize = sizeof sid;
        ::CreateWellKnownSid(c.who, nullptr, sid, &sidSize);
        DWORD own = 0;
        DWORD inherited = 0;
        for (DWORD i = 0; dacl != nullptr && i < size.AceCount; ++i) {
            void* entry = nullptr;
            if (!::GetAce(dacl, i, &entry) ||
                !::EqualSid(&static_cast<ACCESS_ALLOWED_ACE*>(entry)->SidStart, sid))
                continue;
            const auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(entry);
            own |= (allowed->Header.AceFlags & INHERIT_ONLY_ACE) != 0 ? 0 : allowed->Mask;
            inherited |= (allowed->Header.AceFlags & OBJECT_INHERIT_ACE) != 0 ? allowed->Mask : 0;
        }
        check((own & c.needed) == c.needed && (own & c.forbidden) == 0 &&
                  (inherited & c.forbiddenInherited) == 0,
              label + ": rights " + std::to_string(own) + ", inherited by files " +
                  std::to_string(inherited));
    }
}

// A snapshot's save removes only what the library made beside it and whose writer has ended: the
// application's own temporary files of that name stay, whatever digits they carry.
void callerFileLeftovers()
{
    wchar_t temporary[MAX_PATH] = {};
    ::GetTempPathW(MAX_PATH, temporary);
    const std::wstring folder = temporary;
    const struct {
        const wchar_t* name;
        bool kept;
    } cases[] = {
        {L"pelmux-shot.bmp.7.tmp", true},
        {L"pelmux-shot.bmp.1999-12-31.tmp", true},
        {L"pelmux-shot.bmp.pelmux-4000000000-1-2-3.tmp", false},
        {L"other-shot.bmp.pelmux-4000000000-1-2-3.tmp", true},
    };
    for (const auto& c : cases)
        ::CloseHandle(
            ::CreateFileW((folder + c.name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    check(pelmux::platform::saveCallerFile((folder + L"pelmux-shot.bmp").c_str(), "BM") ==
              pelmux::platform::SaveStatus::Saved,
          "a snapshot saved beside temporary files");
    for (const auto& c : cases) {
        const std::wstring path = folder + c.name;
        check((::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES) == c.kept,
              std::string(path.begin(), path.end()) + (c.kept ? " stays" : " is removed"));
        ::DeleteFileW(path.c_str());
    }
    ::DeleteFileW((folder + L"pelmux-shot.bmp").c_str());
}

} // namespace

// Without arguments: no unit, no vendor library. "vendor": the stand-in Jida.dll lies beside;
// "vendor-gap": one whose ordinal 80 is missing; "vendor-late": none beside, one in "..\vendor";
// "vendor-own": Pelmux.dll and the stand-in in the folder "pelmux" below, none beside the program. "oom": the
// factories and operations on exhausted memory ("oom-row N": one operation's process). "hold <ms>": the
// helper process of the settings checks, no checks of its own. Run with a common application-data folder
// whose name holds a letter that code pages read differently (run.sh sets it): a locale the application sets
// after the settings path was resolved must not lead the settings file into another folder.
void settingsPathOutlivesALocaleChange()
{
    pelmux::settingsPath(); // resolved in the "C" locale, the folder made
    wchar_t folder[MAX_PATH] = {};
    check(::SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA | CSIDL_FLAG_CREATE, nullptr, SHGFP_TYPE_CURRENT,
                             folder) == S_OK &&
              std::wcschr(folder, L'\u00E4') != nullptr,
          "the application-data folder of this run holds an a-umlaut (it is set in run.sh)");
    check(std::setlocale(LC_ALL, ".1251") != nullptr, "a Cyrillic code page is set");
    {
        pelmux::SettingsFile settings;
        settings.loadSettings(pelmux::settingsPath());
        check(settings.setValue("Locale", "kept"), "written after the locale changed");
    }
    std::setlocale(LC_ALL, "C");
    const std::wstring file = std::wstring(folder) + L"\\Varnholt\\Pelmux.ini";
    check(::GetFileAttributesW(file.c_str()) != INVALID_FILE_ATTRIBUTES,
          "the settings file lies in the folder resolved first");
    ::DeleteFileW(file.c_str());
}

int main(int argc, char** argv)
{
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "hold" && argc > 2)
        return checks::holdSettingsFile(static_cast<unsigned>(std::strtoul(argv[2], nullptr, 10)));
    if (mode == "oom-row" && argc > 2)
        return checks::outOfMemoryRow(argv[2]);
    if (mode == "lock" && argc > 2)
        return checks::holdLock(static_cast<unsigned>(std::strtoul(argv[2], nullptr, 10)));
    if (mode == "count")
        return checks::countUnderSettingsLock();
    if (mode == "oom") {
        checks::outOfMemoryChecks();
        return checks::summary();
    }
    if (mode == "locale") {
        settingsPathOutlivesALocaleChange();
        return checks::summary();
    }
    if (mode == "vendor-own") {
        // Pelmux.dll in a folder of its own below the program, beside its Jida.dll.
        const std::wstring own = checks::ownPath();
        library =
            ::LoadLibraryW((own.substr(0, own.find_last_of(L'\\') + 1) + L"pelmux\\Pelmux.dll").c_str());
    } else {
        library = ::LoadLibraryW(L"Pelmux.dll");
    }
    check(library != nullptr, "Pelmux.dll loads");
    if (library != nullptr && (mode == "vendor" || mode == "vendor-own")) {
        operationsWithTheVendorLibrary();
    } else if (library != nullptr && mode == "vendor-gap") {
        operationsWithAGapInTheVendorLibrary();
    } else if (library != nullptr && mode == "vendor-late") {
        vendorLibraryFolders();
    } else if (library != nullptr) {
        exportTable();
        messageFunctions();
        operationsWithoutTheUnit();
        checks::displayChecks(library);
        checks::canChecks(library);
    }
    if (library != nullptr)
        ::FreeLibrary(library);
    if (mode == "vendor-gap" || mode == "vendor-late" || mode == "vendor-own")
        return checks::summary();
    semaphores();
    settingsFile();
    if (mode.empty()) {
        deviceControlCounts();
        callerFileNames();
        callerFileLeftovers();
        storeRights();
        checks::settingsSwapChecks();
    }
    return checks::summary();
}
