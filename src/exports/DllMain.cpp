// The module entry point of Pelmux.dll, and the entry points behind the message functions that
// the export table names "Varnholt::GetErrorStringA" and so on. The entry point runs no code of
// the library's own: it only reports success.
#include <pelmux/Pelmux.h>

#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID)
{
    return TRUE;
}

extern "C" {

const char* __stdcall pelmux_GetErrorStringA(Varnholt::ResultCode code)
{
    return Varnholt::GetErrorStringA(code);
}
const wchar_t* __stdcall pelmux_GetErrorStringW(Varnholt::ResultCode code)
{
    return Varnholt::GetErrorStringW(code);
}
const char* __stdcall pelmux_GetHwErrorStatusStringA(unsigned int code)
{
    return Varnholt::GetHwErrorStatusStringA(code);
}
const wchar_t* __stdcall pelmux_GetHwErrorStatusStringW(unsigned int code)
{
    return Varnholt::GetHwErrorStatusStringW(code);
}
const char* __stdcall pelmux_GetStartupReasonStringA(unsigned int code)
{
    return Varnholt::GetStartupReasonStringA(code);
}
const wchar_t* __stdcall pelmux_GetStartupReasonStringW(unsigned int code)
{
    return Varnholt::GetStartupReasonStringW(code);
}

} // extern "C"
