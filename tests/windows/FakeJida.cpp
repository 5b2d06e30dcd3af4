// A stand-in for the board vendor's Jida.dll, for the Windows checks under wine: one board with a
// unit identity EEPROM (address byte 0xAE) and one temperature sensor. Exported by ordinal only,
// standard calling convention, so that the library's calls are checked argument by argument.
#include <windows.h>

#include <cstring>
#include <cwchar>

namespace {

constexpr DWORD boardHandle = 0x5A;
const char identity[] = "PCB_SERIAL:4711\nUNIT_SERIAL:W-1\nDATA:2\nDISPLAY:800x480\nDIGIO:4\n";
BYTE eeprom[4096];
bool initialised = false;

bool eepromReady()
{
    static bool filled = false;
    if (!filled) {
        std::memset(eeprom, 0xFF, sizeof eeprom);
        std::memcpy(eeprom, identity, sizeof identity - 1);
        filled = true;
    }
    return true;
}

} // namespace

extern "C" {

DWORD __stdcall fakeBoardLibInit()
{
    return initialised ? 1 : 0;
}
DWORD __stdcall fakeBoardLibSetup(DWORD flag)
{
    initialised = flag == 1;
    return initialised ? 1 : 0;
}
DWORD __stdcall fakeBoardLibExit()
{
    return 1;
}
DWORD __stdcall fakeBoardCount(const char* className, DWORD flags)
{
    return className == nullptr && flags == 0 ? 1 : 0;
}
DWORD __stdcall fakeBoardOpen(const wchar_t* className, DWORD number, DWORD flags, DWORD* handle)
{
    if (!initialised || number != 0 || flags != 0 || handle == nullptr)
        return 0;
    if (className != nullptr && std::wcscmp(className, L"CPU") != 0)
        return 0;
    *handle = boardHandle;
    return 1;
}
DWORD __stdcall fakeBoardClose(DWORD)
{
    return 1;
}
DWORD __stdcall fakeBoardI2cReadRegister(DWORD, DWORD, BYTE, WORD, BYTE*)
{
    return 0;
}
DWORD __stdcall fakeBoardI2cWriteRegister(DWORD, DWORD, BYTE, WORD, BYTE)
{
    return 0;
}
DWORD __stdcall fakeBoardI2cWrite(DWORD handle, DWORD busType, BYTE address, const BYTE* data, DWORD length)
{
    if (handle != boardHandle || busType != 0 || address != 0xAE || length < 2 || length > 34 ||
        !eepromReady())
        return 0;
    const DWORD offset = (static_cast<DWORD>(data[0]) << 8) | data[1];
    for (DWORD i = 2; i < length; ++i)
        eeprom[(offset + i - 2) % sizeof eeprom] = data[i];
    return 1;
}
DWORD __stdcall fakeBoardI2cWriteRead(DWORD handle, DWORD busType, BYTE address, const BYTE* writeData,
                                      DWORD writeLength, BYTE* readData, DWORD readLength)
{
    if (handle != boardHandle || busType != 0 || address != 0xAE || writeLength != 2 || !eepromReady())
        return 0;
    const DWORD offset = (static_cast<DWORD>(writeData[0]) << 8) | writeData[1];
    if (offset + readLength > sizeof eeprom)
        return 0;
    std::memcpy(readData, eeprom + offset, readLength);
    return 1;
}
DWORD __stdcall fakeBoardTempCount(DWORD handle)
{
    return handle == boardHandle ? 1 : 0;
}
DWORD __stdcall fakeBoardTempCurrent(DWORD handle, DWORD index, LONG* value, DWORD* status)
{
    if (handle != boardHandle || index != 0)
        return 0;
    *value = -5500;
    *status = 1;
    return 1;
}
DWORD __stdcall fakeBoardTempInfo(DWORD handle, DWORD index, DWORD* info)
{
    if (handle != boardHandle || index != 0 || info[0] != 44)
        return 0;
    info[1] = 7;
    return 1;
}

} // extern "C"
