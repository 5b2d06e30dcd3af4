// A stand-in for the board vendor's Jida.dll in the Windows test build: each call, received with
// the vendor's arguments by ordinal and standard calling convention, goes on as a VENDOR frame to
// the unit's "board-library" endpoint at PELMUX_UNIT, so that the readings come from the unit.
#include "platform/Vendor.h"

#include <windows.h>

namespace vendor = pelmux::platform;

extern "C" {

DWORD __stdcall unitBoardLibInit()
{
    return vendor::boardLibInit();
}
DWORD __stdcall unitBoardLibSetup(DWORD flag)
{
    return vendor::boardLibSetup(flag);
}
DWORD __stdcall unitBoardLibExit()
{
    return vendor::boardLibExit();
}
DWORD __stdcall unitBoardCount(const char* className, DWORD flags)
{
    return vendor::boardCount(className, flags);
}
DWORD __stdcall unitBoardOpen(const wchar_t* className, DWORD number, DWORD flags, DWORD* handle)
{
    vendor::BoardHandle opened = 0;
    const DWORD result = vendor::boardOpen(className, number, flags, &opened);
    if (result != 0 && handle != nullptr)
        *handle = opened;
    return result;
}
DWORD __stdcall unitBoardClose(DWORD handle)
{
    return vendor::boardClose(handle);
}
DWORD __stdcall unitBoardI2cReadRegister(DWORD handle, DWORD busType, BYTE address, WORD reg, BYTE* value)
{
    return vendor::boardI2cReadRegister(handle, busType, address, reg, value);
}
DWORD __stdcall unitBoardI2cWriteRegister(DWORD handle, DWORD busType, BYTE address, WORD reg, BYTE value)
{
    return vendor::boardI2cWriteRegister(handle, busType, address, reg, value);
}
DWORD __stdcall unitBoardI2cWrite(DWORD handle, DWORD busType, BYTE address, const BYTE* data, DWORD length)
{
    return vendor::boardI2cWrite(handle, busType, address, data, length);
}
DWORD __stdcall unitBoardI2cWriteRead(DWORD handle, DWORD busType, BYTE address, const BYTE* writeData,
                                      DWORD writeLength, BYTE* readData, DWORD readLength)
{
    return vendor::boardI2cWriteRead(handle, busType, address, writeData, writeLength, readData, readLength);
}
DWORD __stdcall unitBoardTempCount(DWORD handle)
{
    return vendor::boardTempCount(handle);
}
DWORD __stdcall unitBoardTempCurrent(DWORD handle, DWORD index, LONG* value, DWORD* status)
{
    std::int32_t reading = 0;
    std::uint32_t readingStatus = 0;
    const DWORD result = vendor::boardTempCurrent(handle, index, &reading, &readingStatus);
    if (result != 0) {
        if (value != nullptr)
            *value = reading;
        if (status != nullptr)
            *status = readingStatus;
    }
    return result;
}
DWORD __stdcall unitBoardTempInfo(DWORD handle, DWORD index, vendor::BoardTempInfo* info)
{
    return vendor::boardTempInfo(handle, index, info);
}

} // extern "C"
