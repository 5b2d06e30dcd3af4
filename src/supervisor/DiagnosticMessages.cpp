// Texts of the supervisor's hardware error status codes and start-up reasons.
#include <pelmux/Pelmux.h>

#include "frame/MessageTable.h"

namespace {

constexpr pelmux::MessagePair hwErrorTexts[132] = {
    {"No Error", L"No Error"},                                                           // 0
    {"FPGA CONF Read Error", L"FPGA CONF Read Error"},                                   // 1
    {"FPGACONF Unexpected Value", L"FPGACONF Unexpected Value"},                         // 2
    {"CBRESET Read Error", L"CBRESET Read Error"},                                       // 3
    {"SUS3Read Error", L"SUS3Read Error"},                                               // 4
    {"SUS4Read Error", L"SUS4Read Error"},                                               // 5
    {"SUS5Read Error", L"SUS5Read Error"},                                               // 6
    {"PG 5VSTBY Read Error", L"PG 5VSTBY Read Error"},                                   // 7
    {"PG 5VSTBY Unexpected Value", L"PG 5VSTBY Unexpected Value"},                       // 8
    {"CAN PWR OK Read Error", L"CAN PWR OK Read Error"},                                 // 9
    {"VID PWR OK Read Error", L"VID PWR OK Read Error"},                                 // 10
    {"LVDS BL EN Read Error", L"LVDS BL EN Read Error"},                                 // 11
    {"LVDS VDD EN Read Error", L"LVDS VDD EN Read Error"},                               // 12
    {"EXTCTRL ON Read Error", L"EXTCTRL ON Read Error"},                                 // 13
    {"FPBTN ON Read Error", L"FPBTN ON Read Error"},                                     // 14
    {"24V Read Error", L"24V Read Error"},                                               // 15
    {"24V Out Of Limits", L"24V Out Of Limits"},                                         // 16
    {"24VIN Read Error", L"24VIN Read Error"},                                           // 17
    {"24VIN Out Of Limits", L"24VIN Out Of Limits"},                                     // 18
    {"12V Read Error", L"12V Read Error"},                                               // 19
    {"12V Out Of Limits", L"12V Out Of Limits"},                                         // 20
    {"12VVIDEO Read Error", L"12VVIDEO Read Error"},                                     // 21
    {"12VVIDEO Out Of Limits", L"12VVIDEO Out Of Limits"},                               // 22
    {"5VSTBY Read Error", L"5VSTBY Read Error"},                                         // 23
    {"5VSTBY Out Of Limits", L"5VSTBY Out Of Limits"},                                   // 24
    {"5VRead Error", L"5VRead Error"},                                                   // 25
    {"5V Out Of Limits", L"5V Out Of Limits"},                                           // 26
    {"3V3 Read Error", L"3V3 Read Error"},                                               // 27
    {"3V3 Out Of Limits", L"3V3 Out Of Limits"},                                         // 28
    {"TFTVOL Read Error", L"TFTVOL Read Error"},                                         // 29
    {"TFTVOL Out Of Limits", L"TFTVOL Out Of Limits"},                                   // 30
    {"1V9 Read Error", L"1V9 Read Error"},                                               // 31
    {"1V9 Out Of Limits", L"1V9 Out Of Limits"},                                         // 32
    {"1V8 Read Error", L"1V8 Read Error"},                                               // 33
    {"1V8 Out Of Limits", L"1V8 Out Of Limits"},                                         // 34
    {"1V5 Read Error", L"1V5 Read Error"},                                               // 35
    {"1V5 Out Of Limits", L"1V5 Out Of Limits"},                                         // 36
    {"1V2 Read Error", L"1V2 Read Error"},                                               // 37
    {"1V2 Out Of Limits", L"1V2 Out Of Limits"},                                         // 38
    {"1V05 Read Error", L"1V05 Read Error"},                                             // 39
    {"1V05 Out Of Limits", L"1V05 Out Of Limits"},                                       // 40
    {"1V0 Read Error", L"1V0 Read Error"},                                               // 41
    {"1V0 Out Of Limits", L"1V0 Out Of Limits"},                                         // 42
    {"0V9 Read Error", L"0V9 Read Error"},                                               // 43
    {"0V9 Out Of Limits", L"0V9 Out Of Limits"},                                         // 44
    {"I2CTEMP Read Error", L"I2CTEMP Read Error"},                                       // 45
    {"I2CTEMP Out Of Limits", L"I2CTEMP Out Of Limits"},                                 // 46
    {"STM32TEMP Read Error", L"STM32TEMP Read Error"},                                   // 47
    {"STM32TEMP Out Of Limits", L"STM32TEMP Out Of Limits"},                             // 48
    {"BLTYPE Unexpected EEPROM Value", L"BLTYPE Unexpected EEPROM Value"},               // 49
    {"FPBTN Unexpected EEPROM Value", L"FPBTN Unexpected EEPROM Value"},                 // 50
    {"EXTCTRL Unexpected EEPROM Value", L"EXTCTRL Unexpected EEPROM Value"},             // 51
    {"LowRange24V Unexpected EEPROM Value", L"LowRange24V Unexpected EEPROM Value"},     // 52
    {"SuspToRAM  Unexpected EEPROM Value", L"SuspToRAM  Unexpected EEPROM Value"},       // 53
    {"CANPWR Unexpected EEPROM Value", L"CANPWR Unexpected EEPROM Value"},               // 54
    {"VID1PWR Unexpected EEPROM Value", L"VID1PWR Unexpected EEPROM Value"},             // 55
    {"VID2PWR Unexpected EEPROM Value", L"VID2PWR Unexpected EEPROM Value"},             // 56
    {"VID3PWR Unexpected EEPROM Value", L"VID3PWR Unexpected EEPROM Value"},             // 57
    {"VID4PWR Unexpected EEPROM Value", L"VID4PWR Unexpected EEPROM Value"},             // 58
    {"EXTFAN Unexpected EEPROM Value", L"EXTFAN Unexpected EEPROM Value"},               // 59
    {"LED Unexpected EEPROM Value", L"LED Unexpected EEPROM Value"},                     // 60
    {"UnitType Unexpected EEPROM Value", L"UnitType Unexpected EEPROM Value"},           // 61
    {"BLTYPE Read Error EEPROM", L"BLTYPE Read Error EEPROM"},                           // 62
    {"FPBTN Read Error EEPROM", L"FPBTN Read Error EEPROM"},                             // 63
    {"EXTCTRL Read Error EEPROM", L"EXTCTRL Read Error EEPROM"},                         // 64
    {"MaxSuspTime Read Error EEPROM", L"MaxSuspTime Read Error EEPROM"},                 // 65
    {"LowRange24V Read Error EEPROM", L"LowRange24V Read Error EEPROM"},                 // 66
    {"SuspToRAM Read Error EEPROM", L"SuspToRAM Read Error EEPROM"},                     // 67
    {"CANPWR Read Error EEPROM", L"CANPWR Read Error EEPROM"},                           // 68
    {"VID1PWR Read Error EEPROM", L"VID1PWR Read Error EEPROM"},                         // 69
    {"VID2PWR Read Error EEPROM", L"VID2PWR Read Error EEPROM"},                         // 70
    {"VID3PWR Read Error EEPROM", L"VID3PWR Read Error EEPROM"},                         // 71
    {"VID4PWR Read Error EEPROM", L"VID4PWR Read Error EEPROM"},                         // 72
    {"EXTFAN Read Error EEPROM", L"EXTFAN Read Error EEPROM"},                           // 73
    {"LED Read Error EEPROM ", L"LED Read Error EEPROM "},                               // 74
    {"UnitType Read Error EEPROM ", L"UnitType Read Error EEPROM "},                     // 75
    {"RCCInit", L"RCCInit"},                                                             // 76
    {"DriverInit", L"DriverInit"},                                                       // 77
    {"SetSUPPLYRESET", L"SetSUPPLYRESET"},                                               // 78
    {"RelSUPPLYRESET", L"RelSUPPLYRESET"},                                               // 79
    {"SetSYSRESET", L"SetSYSRESET"},                                                     // 80
    {"RelSYSRESET", L"RelSYSRESET"},                                                     // 81
    {"SetPWRBTN", L"SetPWRBTN"},                                                         // 82
    {"RelPWRBTN", L"RelPWRBTN"},                                                         // 83
    {"OnBL", L"OnBL"},                                                                   // 84
    {"OffBL", L"OffBL"},                                                                 // 85
    {"EXTFANOn", L"EXTFANOn"},                                                           // 86
    {"EXTFANOff", L"EXTFANOff"},                                                         // 87
    {"PWRENOn", L"PWRENOn"},                                                             // 88
    {"PWRENOff", L"PWRENOff"},                                                           // 89
    {"MPPWRENOn", L"MPPWRENOn"},                                                         // 90
    {"MPPWRENOff", L"MPPWRENOff"},                                                       // 91
    {"CANPWRENOn", L"CANPWRENOn"},                                                       // 92
    {"CANPWRENOff", L"CANPWRENOff"},                                                     // 93
    {"VID1PWRENOn", L"VID1PWRENOn"},                                                     // 94
    {"VID1PWRENOff", L"VID1PWRENOff"},                                                   // 95
    {"VID2PWRENOn", L"VID2PWRENOn"},                                                     // 96
    {"VID2PWRENOff", L"VID2PWRENOff"},                                                   // 97
    {"VID3PWRENOn", L"VID3PWRENOn"},                                                     // 98
    {"VID3PWRENOff", L"VID3PWRENOff"},                                                   // 99
    {"VID4PWRENOn", L"VID4PWRENOn"},                                                     // 100
    {"VID4PWRENOff", L"VID4PWRENOff"},                                                   // 101
    {"HEATACTOn", L"HEATACTOn"},                                                         // 102
    {"HEATACTOff", L"HEATACTOff"},                                                       // 103
    {"SetLEDCol", L"SetLEDCol"},                                                         // 104
    {"SetLEDFreq", L"SetLEDFreq"},                                                       // 105
    {"ManageLED", L"ManageLED"},                                                         // 106
    {"ManageCANPwr", L"ManageCANPwr"},                                                   // 107
    {"ManageMPPwr", L"ManageMPPwr"},                                                     // 108
    {"ManageVidPwr", L"ManageVidPwr"},                                                   // 109
    {"ManagePowSup", L"ManagePowSup"},                                                   // 110
    {"ManageReset", L"ManageReset"},                                                     // 111
    {"SSState", L"SSState"},                                                             // 112
    {"VarWrapAround", L"VarWrapAround"},                                                 // 113
    {"FPBTN Unexpected Value", L"FPBTN Unexpected Value"},                               // 114
    {"EXTCTRL Unexpected Value", L"EXTCTRL Unexpected Value"},                           // 115
    {"MAINPWROK Read Error", L"MAINPWROK Read Error"},                                   // 116
    {"FRONTSPARE Read Error", L"FRONTSPARE Read Error"},                                 // 117
    {"TIMERRead Error", L"TIMERRead Error"},                                             // 118
    {"ManageDiagnostics", L"ManageDiagnostics"},                                         // 119
    {"FPBTNTimOut Read Error EEPROM", L"FPBTNTimOut Read Error EEPROM"},                 // 120
    {"EXTCTRLTimOut Read Error EEPROM", L"EXTCTRLTimOut Read Error EEPROM"},             // 121
    {"FPBTNAndExtCtrlDisabled", L"FPBTNAndExtCtrlDisabled"},                             // 122
    {"SWVerRead Error", L"SWVerRead Error"},                                             // 123
    {"SWVerWrite Error", L"SWVerWrite Error"},                                           // 124
    {"ManageActDeAct", L"ManageActDeAct"},                                               // 125
    {"TickTimeOutTimer", L"TickTimeOutTimer"},                                           // 126
    {"OperateModeStateError", L"OperateModeStateError"},                                 // 127
    {"Heating Temperature Read Error EEPROM", L"Heating Temperature Read Error EEPROM"}, // 128
    {"MP could not be started", L"MP could not be started"},                             // 129
    {"Read Error EEPROM", L"Read Error EEPROM"},                                         // 130
    {"TimeOut Waiting For Supply Voltages", L"TimeOut Waiting For Supply Voltages"},     // 131
};

constexpr pelmux::MessagePair unknownHwError{"Unknown error code", L"Unknown error code"};

const pelmux::MessagePair& startupReason(unsigned int code)
{
    static constexpr pelmux::MessagePair powerOn{"Power on start-up", L"Power on start-up"};
    static constexpr pelmux::MessagePair frontButton{"Front Panel Button", L"Front Panel Button"};
    static constexpr pelmux::MessagePair externalSignal{"External Control Signal",
                                                        L"External Control Signal"};
    static constexpr pelmux::MessagePair osRestart{"OS Restart", L"OS Restart"};
    static constexpr pelmux::MessagePair unknown{"Unknown", L"Unknown"};
    switch (code & 0xFFFFu) {
    case 15:
        return powerOn;
    case 85:
        return frontButton;
    case 170:
        return externalSignal;
    case 240:
        return osRestart;
    default:
        return unknown;
    }
}

const pelmux::MessagePair& hwError(unsigned int code)
{
    // Only the low 16 bits of the argument carry the code.
    return pelmux::lookupMessage(hwErrorTexts, code & 0xFFFFu, unknownHwError);
}

} // namespace

namespace Varnholt {

const char* PELMUX_STDCALL GetHwErrorStatusStringA(unsigned int code)
{
    return hwError(static_cast<unsigned int>(code)).narrow;
}

const wchar_t* PELMUX_STDCALL GetHwErrorStatusStringW(unsigned int code)
{
    return hwError(static_cast<unsigned int>(code)).wide;
}

const char* PELMUX_STDCALL GetStartupReasonStringA(unsigned int code)
{
    return startupReason(static_cast<unsigned int>(code)).narrow;
}

const wchar_t* PELMUX_STDCALL GetStartupReasonStringW(unsigned int code)
{
    return startupReason(static_cast<unsigned int>(code)).wide;
}

} // namespace Varnholt
