// Links every function the public headers declare from the installed library, calls each one,
// and prints one line per check ("ok" or "FAIL") and a count. A name the library (or on Windows
// its import library) does not give fails the link or the start; a name that reaches the wrong
// entry fails its check.
#include <pelmux/Pelmux.h>

#include <cstdio>
#include <cstring>
#include <cwchar>

namespace {

// The factory builds an object, and the object's release slot takes it back.
template <typename Interface> bool builds(Interface*(PELMUX_STDCALL* factory)())
{
    Interface* object = factory();
    if (object == nullptr)
        return false;
    object->release();
    return true;
}

bool libraryVersionIs1500()
{
    Varnholt::AuxVersion* versions = GetAuxVersion();
    unsigned char v[4] = {9, 9, 9, 9};
    const Varnholt::ResultCode result = versions->getLibraryVersion(&v[0], &v[1], &v[2], &v[3]);
    versions->release();
    return result == Varnholt::ERR_SUCCESS && v[0] == 1 && v[1] == 5 && v[2] == 0 && v[3] == 0;
}

struct Check {
    const char* name;
    bool (*passes)();
};

const Check checks[] = {
    {"GetErrorStringA(0)",
     [] { return std::strcmp(Varnholt::GetErrorStringA(Varnholt::ERR_SUCCESS), "ERR_SUCCESS") == 0; }},
    {"GetErrorStringA(1)",
     [] { return std::strcmp(Varnholt::GetErrorStringA(Varnholt::ERR_OPEN_FAILED), "Open failed") == 0; }},
    {"GetErrorStringW(25)",
     [] {
         return std::wcscmp(Varnholt::GetErrorStringW(Varnholt::ERR_NEWER_SS_REQUIRED),
                            L"A newer version of SS is required") == 0;
     }},
    {"GetHwErrorStatusStringA(0)",
     [] { return std::strcmp(Varnholt::GetHwErrorStatusStringA(0), "No Error") == 0; }},
    {"GetHwErrorStatusStringW(131)",
     [] {
         return std::wcscmp(Varnholt::GetHwErrorStatusStringW(131), L"TimeOut Waiting For Supply Voltages") ==
                0;
     }},
    {"GetStartupReasonStringA(85)",
     [] { return std::strcmp(Varnholt::GetStartupReasonStringA(85), "Front Panel Button") == 0; }},
    {"GetStartupReasonStringW(240)",
     [] { return std::wcscmp(Varnholt::GetStartupReasonStringW(240), L"OS Restart") == 0; }},
    {"AuxVersion::getLibraryVersion", libraryVersionIs1500},
    {"GetAbout", [] { return builds(&GetAbout); }},
    {"GetAdc", [] { return builds(&GetAdc); }},
    {"GetAuxVersion", [] { return builds(&GetAuxVersion); }},
    {"GetBacklight", [] { return builds(&GetBacklight); }},
    {"GetBattery", [] { return builds(&GetBattery); }},
    {"GetBuzzer", [] { return builds(&GetBuzzer); }},
    {"GetPelmuxPrivate", [] { return builds(&GetPelmuxPrivate); }},
    {"GetCanSetting", [] { return builds(&GetCanSetting); }},
    {"GetConfig", [] { return builds(&GetConfig); }},
    {"GetDiagnostic", [] { return builds(&GetDiagnostic); }},
    {"GetDigIO", [] { return builds(&GetDigIO); }},
    {"GetFirmwareUpgrade", [] { return builds(&GetFirmwareUpgrade); }},
    {"GetFrontLED", [] { return builds(&GetFrontLED); }},
    {"GetLightsensor", [] { return builds(&GetLightsensor); }},
    {"GetPower", [] { return builds(&GetPower); }},
    {"GetPowerMgr", [] { return builds(&GetPowerMgr); }},
    {"GetTelematics", [] { return builds(&GetTelematics); }},
    {"GetTouchScreen", [] { return builds(&GetTouchScreen); }},
    {"GetTouchScreenCalib", [] { return builds(&GetTouchScreenCalib); }},
    {"GetVideo", [] { return builds(&GetVideo); }},
};

} // namespace

int main()
{
    int failed = 0;
    for (const Check& check : checks) {
        const bool ok = check.passes();
        failed += ok ? 0 : 1;
        std::printf("%-4s %s\n", ok ? "ok" : "FAIL", check.name);
    }
    std::printf("%d checks, %d failed\n", static_cast<int>(sizeof checks / sizeof checks[0]), failed);
    return failed == 0 ? 0 : 1;
}
