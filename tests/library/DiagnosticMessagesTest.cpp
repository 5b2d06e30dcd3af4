// The four message functions of the diagnostics, checked against the supervisor's hardware error
// table as its firmware documentation lists it (pasted below in that form, and parsed here).
#include <pelmux/Pelmux.h>

#include <gtest/gtest.h>

#include <cstring>
#include <cwchar>
#include <regex>
#include <string>
#include <vector>

namespace pelmux::test {
namespace PELMUX_FILE_SCOPE {

// The supervisor's hardware error table, as its documentation lists it.
const char* const documentedTable =
    R"(0 "No Error"; 1 "FPGA CONF Read Error"; 2 "FPGACONF Unexpected Value"; 3 "CBRESET Read Error"; )"
    R"(4 "SUS3Read Error"; 5 "SUS4Read Error"; 6 "SUS5Read Error"; 7 "PG 5VSTBY Read Error"; )"
    R"(8 "PG 5VSTBY Unexpected Value"; 9 "CAN PWR OK Read Error"; 10 "VID PWR OK Read Error"; )"
    R"(11 "LVDS BL EN Read Error"; 12 "LVDS VDD EN Read Error"; 13 "EXTCTRL ON Read Error"; )"
    R"(14 "FPBTN ON Read Error"; 15 "24V Read Error"; 16 "24V Out Of Limits"; 17 "24VIN Read Error"; )"
    R"(18 "24VIN Out Of Limits"; 19 "12V Read Error"; 20 "12V Out Of Limits"; )"
    R"(21 "12VVIDEO Read Error"; 22 "12VVIDEO Out Of Limits"; 23 "5VSTBY Read Error"; )"
    R"(24 "5VSTBY Out Of Limits"; 25 "5VRead Error"; 26 "5V Out Of Limits"; 27 "3V3 Read Error"; )"
    R"(28 "3V3 Out Of Limits"; 29 "TFTVOL Read Error"; 30 "TFTVOL Out Of Limits"; 31 "1V9 Read Error"; )"
    R"(32 "1V9 Out Of Limits"; 33 "1V8 Read Error"; 34 "1V8 Out Of Limits"; 35 "1V5 Read Error"; )"
    R"(36 "1V5 Out Of Limits"; 37 "1V2 Read Error"; 38 "1V2 Out Of Limits"; 39 "1V05 Read Error"; )"
    R"(40 "1V05 Out Of Limits"; 41 "1V0 Read Error"; 42 "1V0 Out Of Limits"; 43 "0V9 Read Error"; )"
    R"(44 "0V9 Out Of Limits"; 45 "I2CTEMP Read Error"; 46 "I2CTEMP Out Of Limits"; )"
    R"(47 "STM32TEMP Read Error"; 48 "STM32TEMP Out Of Limits"; 49 "BLTYPE Unexpected EEPROM Value"; )"
    R"(50 "FPBTN Unexpected EEPROM Value"; 51 "EXTCTRL Unexpected EEPROM Value"; )"
    R"(52 "LowRange24V Unexpected EEPROM Value"; 53 "SuspToRAM  Unexpected EEPROM Value"; )"
    R"(54 "CANPWR Unexpected EEPROM Value"; 55 "VID1PWR Unexpected EEPROM Value"; )"
    R"(56 "VID2PWR Unexpected EEPROM Value"; 57 "VID3PWR Unexpected EEPROM Value"; )"
    R"(58 "VID4PWR Unexpected EEPROM Value"; 59 "EXTFAN Unexpected EEPROM Value"; )"
    R"(60 "LED Unexpected EEPROM Value"; 61 "UnitType Unexpected EEPROM Value"; )"
    R"(62 "BLTYPE Read Error EEPROM"; 63 "FPBTN Read Error EEPROM"; 64 "EXTCTRL Read Error EEPROM"; )"
    R"(65 "MaxSuspTime Read Error EEPROM"; 66 "LowRange24V Read Error EEPROM"; )"
    R"(67 "SuspToRAM Read Error EEPROM"; 68 "CANPWR Read Error EEPROM"; )"
    R"(69 "VID1PWR Read Error EEPROM"; 70 "VID2PWR Read Error EEPROM"; 71 "VID3PWR Read Error EEPROM"; )"
    R"(72 "VID4PWR Read Error EEPROM"; 73 "EXTFAN Read Error EEPROM"; 74 "LED Read Error EEPROM "; )"
    R"(75 "UnitType Read Error EEPROM "; 76 "RCCInit"; 77 "DriverInit"; 78 "SetSUPPLYRESET"; )"
    R"(79 "RelSUPPLYRESET"; 80 "SetSYSRESET"; 81 "RelSYSRESET"; 82 "SetPWRBTN"; 83 "RelPWRBTN"; )"
    R"(84 "OnBL"; 85 "OffBL"; 86 "EXTFANOn"; 87 "EXTFANOff"; 88 "PWRENOn"; 89 "PWRENOff"; )"
    R"(90 "MPPWRENOn"; 91 "MPPWRENOff"; 92 "CANPWRENOn"; 93 "CANPWRENOff"; 94 "VID1PWRENOn"; )"
    R"(95 "VID1PWRENOff"; 96 "VID2PWRENOn"; 97 "VID2PWRENOff"; 98 "VID3PWRENOn"; 99 "VID3PWRENOff"; )"
    R"(100 "VID4PWRENOn"; 101 "VID4PWRENOff"; 102 "HEATACTOn"; 103 "HEATACTOff"; 104 "SetLEDCol"; )"
    R"(105 "SetLEDFreq"; 106 "ManageLED"; 107 "ManageCANPwr"; 108 "ManageMPPwr"; 109 "ManageVidPwr"; )"
    R"(110 "ManagePowSup"; 111 "ManageReset"; 112 "SSState"; 113 "VarWrapAround"; )"
    R"(114 "FPBTN Unexpected Value"; 115 "EXTCTRL Unexpected Value"; 116 "MAINPWROK Read Error"; )"
    R"(117 "FRONTSPARE Read Error"; 118 "TIMERRead Error"; 119 "ManageDiagnostics"; )"
    R"(120 "FPBTNTimOut Read Error EEPROM"; 121 "EXTCTRLTimOut Read Error EEPROM"; )"
    R"(122 "FPBTNAndExtCtrlDisabled"; 123 "SWVerRead Error"; 124 "SWVerWrite Error"; )"
    R"(125 "ManageActDeAct"; 126 "TickTimeOutTimer"; 127 "OperateModeStateError"; )"
    R"(128 "Heating Temperature Read Error EEPROM"; 129 "MP could not be started"; )"
    R"(130 "Read Error EEPROM"; 131 "TimeOut Waiting For Supply Voltages".)";

std::vector<std::pair<int, std::string>> parseDocumentedTable()
{
    std::vector<std::pair<int, std::string>> entries;
    const std::string text = documentedTable;
    const std::regex entry("(\\d+) \"([^\"]*)\"");
    for (auto it = std::sregex_iterator(text.begin(), text.end(), entry); it != std::sregex_iterator(); ++it)
        entries.emplace_back(std::stoi((*it)[1].str()), (*it)[2].str());
    return entries;
}

std::wstring widen(const std::string& text)
{
    return std::wstring(text.begin(), text.end());
}

TEST(DiagnosticMessages, EveryHardwareErrorTextIsTheTablesCharacterForCharacter)
{
    const auto entries = parseDocumentedTable();
    ASSERT_EQ(entries.size(), 132u);
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const auto& [code, text] = entries[i];
        ASSERT_EQ(code, static_cast<int>(i));
        EXPECT_STREQ(Varnholt::GetHwErrorStatusStringA(code), text.c_str()) << code;
        EXPECT_STREQ(Varnholt::GetHwErrorStatusStringW(code), widen(text).c_str()) << code;
    }
}

TEST(DiagnosticMessages, TheBlanksTheTableKeeps)
{
    EXPECT_STREQ(Varnholt::GetHwErrorStatusStringA(53), "SuspToRAM  Unexpected EEPROM Value");
    EXPECT_STREQ(Varnholt::GetHwErrorStatusStringA(74), "LED Read Error EEPROM ");
    EXPECT_STREQ(Varnholt::GetHwErrorStatusStringW(75), L"UnitType Read Error EEPROM ");
    EXPECT_STREQ(Varnholt::GetHwErrorStatusStringA(4), "SUS3Read Error");
}

TEST(DiagnosticMessages, HardwareErrorCodesUseTheLowSixteenBits)
{
    EXPECT_STREQ(Varnholt::GetHwErrorStatusStringA(0), "No Error");
    EXPECT_STREQ(Varnholt::GetHwErrorStatusStringA(131), "TimeOut Waiting For Supply Voltages");
    for (const unsigned code : {132u, 133u, 1000u, 65535u, 0xFFFFFFFFu}) {
        EXPECT_STREQ(Varnholt::GetHwErrorStatusStringA(code), "Unknown error code") << code;
        EXPECT_STREQ(Varnholt::GetHwErrorStatusStringW(code), L"Unknown error code") << code;
    }
    EXPECT_STREQ(Varnholt::GetHwErrorStatusStringA(65536), "No Error");
    EXPECT_STREQ(Varnholt::GetHwErrorStatusStringW(65536 + 131), L"TimeOut Waiting For Supply Voltages");
}

TEST(DiagnosticMessages, StartupReasonsByTheLowSixteenBits)
{
    const std::pair<unsigned, const char*> known[] = {
        {15, "Power on start-up"}, {85, "Front Panel Button"},   {170, "External Control Signal"},
        {240, "OS Restart"},       {65551, "Power on start-up"}, {0xFFFF00F0u, "OS Restart"},
    };
    for (const auto& [code, text] : known) {
        EXPECT_STREQ(Varnholt::GetStartupReasonStringA(code), text) << code;
        EXPECT_STREQ(Varnholt::GetStartupReasonStringW(code), widen(text).c_str()) << code;
    }
    EXPECT_STREQ(Varnholt::GetStartupReasonStringW(170), L"External Control Signal");
    for (const unsigned code : {0u, 16u, 255u, 65535u, 65536u, 14u, 86u})
        EXPECT_STREQ(Varnholt::GetStartupReasonStringW(code), L"Unknown") << code;
}

TEST(DiagnosticMessages, TextsAreStaticAndNarrowEqualsWide)
{
    for (unsigned code = 0; code < 140; ++code) {
        const char* narrow = Varnholt::GetHwErrorStatusStringA(code);
        EXPECT_EQ(narrow, Varnholt::GetHwErrorStatusStringA(code));
        const wchar_t* wide = Varnholt::GetHwErrorStatusStringW(code);
        ASSERT_EQ(std::strlen(narrow), std::wcslen(wide)) << code;
        for (std::size_t k = 0; narrow[k] != '\0'; ++k)
            EXPECT_EQ(static_cast<wchar_t>(narrow[k]), wide[k]) << code;
    }
}

} // namespace PELMUX_FILE_SCOPE
} // namespace pelmux::test
