// Battery: presence from the identity record and the supervisor's firmware, the register reads and
// their conversions, the text buffers, against the simulated unit's battery controller.
#include "SimFixture.h"

#include "supervisor/Battery_Imp.h"

#include <pelmux/Pelmux.h>

#include <cstring>
#include <functional>
#include <string>

namespace pelmux::test {
namespace PELMUX_FILE_SCOPE {

using Varnholt::Battery;
using Varnholt::ResultCode;

constexpr std::uint32_t registerCode = 0x2225C0;

const std::string unitText = "PCB_SERIAL:40123456\nDATA:2\nPCB_REV:C\nCAN:2\nDISPLAY:800x480\n";

class BatteryTest : public SimTest {
protected:
    // Restarts the unit with these raw battery registers, the identity line and the supervisor.
    void startWith(const sim::Json& registers, const std::string& batteryLine = "BATTERY:1\n",
                   sim::Json supervisor = {1, 3, 0, 0})
    {
        sim::Json profile = sim::defaultProfile();
        profile["eeproms"]["unit"] = unitText + batteryLine;
        profile["versions"]["supervisor"] = std::move(supervisor);
        profile["battery"] = {{"fitted", true}, {"registers", registers}};
        startUnit(profile);
    }

    std::size_t registerReads() { return unit().requestCount(registerCode); }
};

TEST(BatteryConversions, ChargeAndStateTables)
{
    const std::pair<std::uint16_t, int> charge[] = {{0, 0},      {8100, 0},   {8142, 1},    {8183, 1},
                                                    {10200, 50}, {12299, 99}, {12300, 100}, {65535, 100}};
    for (const auto& [reading, percent] : charge)
        EXPECT_EQ(chargeLevelOf(reading), percent) << reading;

    // Only the low byte counts; the first rule that holds wins.
    const std::pair<std::uint16_t, int> state4[] = {{0x1C, 4},   {0x0C, 3},   {0x06, 2},
                                                    {0x02, 1},   {0x01, 0},   {0x00, 0},
                                                    {0x1000, 0}, {0x0110, 4}, {0xFFEF, 3}};
    for (const auto& [value, state] : state4)
        EXPECT_EQ(register4StateOf(value), state) << std::hex << value;

    const std::pair<std::uint16_t, int> state5[] = {{0x60, 5}, {0x20, 3},   {0x30, 3},  {0x10, 4},
                                                    {0x18, 4}, {0x0C, 3},   {0x06, 2},  {0x03, 1},
                                                    {0x01, 0}, {0x4000, 0}, {0xFF80, 0}};
    for (const auto& [value, state] : state5)
        EXPECT_EQ(register5StateOf(value), state) << std::hex << value;
}

// Each operation reads its registers in order and converts them; a value the unit holds in a
// register it must not read would show.
TEST_F(BatteryTest, OperationsReadTheirRegistersAndConvert)
{
    startWith({{"2", 8142},    {"3", 0xFFFE},  {"4", 0x0107}, {"5", 0x30},    {"6", 0x0203},  {"7", 7},
               {"8", 8},       {"9", 9},       {"10", 10},    {"15", 0x4142}, {"16", 0x4344}, {"17", 0x4546},
               {"18", 0x4748}, {"19", 0x494A}, {"20", 2},     {"22", 30},     {"21", 1},      {"23", 59},
               {"38", 65535},  {"39", 65535},  {"24", 81},    {"25", 56}});
    Battery* battery = GetBattery();

    unsigned char percent = 0;
    EXPECT_EQ(battery->getChargeLevel(&percent), Varnholt::ERR_SUCCESS);
    EXPECT_EQ(percent, 1);
    short value = 0;
    EXPECT_EQ(battery->getRegister3Value(&value), Varnholt::ERR_SUCCESS);
    EXPECT_EQ(value, -2);
    int state = -1;
    EXPECT_EQ(battery->getRegister4State(&state), Varnholt::ERR_SUCCESS);
    EXPECT_EQ(state, 2);
    int flag = -1;
    EXPECT_EQ(battery->getRegister4Flag(&flag), Varnholt::ERR_SUCCESS);
    EXPECT_EQ(flag, 0); // bit 0 set
    EXPECT_EQ(battery->getRegister5State(&state), Varnholt::ERR_SUCCESS);
    EXPECT_EQ(state, 3);
    short first = 0;
    short second = 0;
    EXPECT_EQ(battery->getTemperatures(&first, &second), Varnholt::ERR_SUCCESS);
    EXPECT_EQ(first, 25);
    EXPECT_EQ(second, 0);
    char text[16];
    EXPECT_EQ(battery->getVersionText(text, sizeof text), Varnholt::ERR_SUCCESS);
    EXPECT_STREQ(text, "2.3");
    EXPECT_EQ(battery->getIdentText(text, sizeof text), Varnholt::ERR_SUCCESS);
    EXPECT_STREQ(text, "ABCDEFGHIJ");
    unsigned short registers[4] = {};
    EXPECT_EQ(battery->getRegisters7To10(&registers[0], &registers[1], &registers[2], &registers[3]),
              Varnholt::ERR_SUCCESS);
    EXPECT_EQ(registers[0], 7);
    EXPECT_EQ(registers[3], 10);
    Varnholt::BatteryTimeRecord times{};
    const std::size_t before = registerReads();
    EXPECT_EQ(battery->getTimeRecord(&times), Varnholt::ERR_SUCCESS);
    EXPECT_EQ(registerReads() - before, 18u);
    EXPECT_EQ(times.values[0], 150u);
    EXPECT_EQ(times.values[1], 119u);
    EXPECT_EQ(times.values[2], 0u);
    EXPECT_EQ(times.values[8], 65535u * 60u + 65535u); // unsigned, no overflow
    battery->release();
}

// The unit's own model (percent, degrees, minutes, texts) comes back through the library unchanged.
TEST_F(BatteryTest, TheUnitsProfileValuesReadBack)
{
    Battery* battery = GetBattery();
    unsigned char percent = 0;
    EXPECT_EQ(battery->getChargeLevel(&percent), Varnholt::ERR_SUCCESS);
    EXPECT_EQ(percent, 76);
    short first = 0;
    short second = 0;
    EXPECT_EQ(battery->getTemperatures(&first, &second), Varnholt::ERR_SUCCESS);
    EXPECT_EQ(first, 29);
    EXPECT_EQ(second, 31);
    Varnholt::BatteryTimeRecord times{};
    EXPECT_EQ(battery->getTimeRecord(&times), Varnholt::ERR_SUCCESS);
    const std::uint32_t expected[9] = {415, 95, 1200, 3, 0, 60, 360, 120, 7200};
    for (int k = 0; k < 9; ++k)
        EXPECT_EQ(times.values[k], expected[k]) << k;
    char text[16];
    EXPECT_EQ(battery->getIdentText(text, sizeof text), Varnholt::ERR_SUCCESS);
    EXPECT_STREQ(text, "VHBP4400A1");
    // A charge set on the running unit is what the next reading shows.
    unit().update([](sim::Json& s) { s["battery"]["charge"] = 100; });
    EXPECT_EQ(battery->getChargeLevel(&percent), Varnholt::ERR_SUCCESS);
    EXPECT_EQ(percent, 100);
    battery->release();
}

using Operation = std::function<ResultCode(Battery&)>;

// Every operation but getBatteryPresent, with outputs that stay valid.
std::vector<std::pair<const char*, Operation>> readings()
{
    static unsigned char byte;
    static int number;
    static short word;
    static unsigned short words[4];
    static char text[32];
    static Varnholt::BatteryTimeRecord times;
    return {
        {"charge", [](Battery& b) { return b.getChargeLevel(&byte); }},
        {"register 4 state", [](Battery& b) { return b.getRegister4State(&number); }},
        {"register 4 flag", [](Battery& b) { return b.getRegister4Flag(&number); }},
        {"register 3", [](Battery& b) { return b.getRegister3Value(&word); }},
        {"register 5 state", [](Battery& b) { return b.getRegister5State(&number); }},
        {"time record", [](Battery& b) { return b.getTimeRecord(&times); }},
        {"temperatures", [](Battery& b) { return b.getTemperatures(&word, &word); }},
        {"version", [](Battery& b) { return b.getVersionText(text, sizeof text); }},
        {"registers 7 to 10",
         [](Battery& b) { return b.getRegisters7To10(&words[0], &words[1], &words[2], &words[3]); }},
        {"ident", [](Battery& b) { return b.getIdentText(text, sizeof text); }},
    };
}

TEST_F(BatteryTest, PresenceDecidesEveryOperation)
{
    struct Case {
        const char* what;
        std::string batteryLine;
        sim::Json supervisor;
        ResultCode presentResult;
        unsigned char present; // when presentResult is success
    };
    const Case cases[] = {
        {"fitted", "BATTERY:1\n", {1, 3, 0, 0}, Varnholt::ERR_SUCCESS, 1},
        {"fitted, newer supervisor", "BATTERY:1\n", {2, 0, 0, 0}, Varnholt::ERR_SUCCESS, 1},
        {"read as atoi does", "BATTERY:01x\n", {1, 3, 0, 0}, Varnholt::ERR_SUCCESS, 1},
        {"not fitted", "BATTERY:0\n", {1, 3, 0, 0}, Varnholt::ERR_SUCCESS, 0},
        {"2 is not fitted", "BATTERY:2\n", {1, 3, 0, 0}, Varnholt::ERR_SUCCESS, 0},
        {"no BATTERY line", "", {1, 3, 0, 0}, Varnholt::ERR_JIDA_EEPROM_ACCESS, 0},
        {"supervisor 1.2.9.0", "BATTERY:1\n", {1, 2, 9, 0}, Varnholt::ERR_NEWER_SS_REQUIRED, 0},
        {"supervisor 1.2.99.99", "BATTERY:1\n", {1, 2, 99, 99}, Varnholt::ERR_NEWER_SS_REQUIRED, 0},
    };
    for (const auto& c : cases) {
        startWith({{"2", 10200}}, c.batteryLine, c.supervisor);
        Battery* battery = GetBattery();
        unsigned char present = 0xEE;
        EXPECT_EQ(battery->getBatteryPresent(&present), c.presentResult) << c.what;
        EXPECT_EQ(present, c.presentResult == Varnholt::ERR_SUCCESS ? c.present : 0xEE) << c.what;
        const bool usable = c.presentResult == Varnholt::ERR_SUCCESS && c.present == 1;
        for (const auto& [name, op] : readings()) {
            const std::size_t before = registerReads();
            const ResultCode result = op(*battery);
            if (usable) {
                EXPECT_EQ(result, Varnholt::ERR_SUCCESS) << c.what << ": " << name;
            } else {
                EXPECT_EQ(result, Varnholt::ERR_NOT_SUPPORTED) << c.what << ": " << name;
                EXPECT_EQ(registerReads(), before) << c.what << ": " << name;
            }
        }
        battery->release();
    }
}

// The flag is learnt at construction; a later presence check clears it when the gate fails, and
// otherwise only reports.
TEST_F(BatteryTest, ALaterPresenceCheckOnlyClearsTheFlag)
{
    Battery* battery = GetBattery();
    unsigned char percent = 0;
    ASSERT_EQ(battery->getChargeLevel(&percent), Varnholt::ERR_SUCCESS);
    unit().update([](sim::Json& s) { s["versions"]["supervisor"] = {1, 2, 0, 0}; });
    unsigned char present = 0;
    EXPECT_EQ(battery->getBatteryPresent(&present), Varnholt::ERR_NEWER_SS_REQUIRED);
    EXPECT_EQ(battery->getChargeLevel(&percent), Varnholt::ERR_NOT_SUPPORTED);
    unit().update([](sim::Json& s) { s["versions"]["supervisor"] = {1, 3, 0, 0}; });
    EXPECT_EQ(battery->getBatteryPresent(&present), Varnholt::ERR_SUCCESS);
    EXPECT_EQ(present, 1);
    EXPECT_EQ(battery->getChargeLevel(&percent), Varnholt::ERR_NOT_SUPPORTED);
    battery->release();

    // Without a unit at construction the battery stays absent, whatever comes later.
    stopUnit();
    battery = GetBattery();
    startUnit(sim::defaultProfile());
    EXPECT_EQ(battery->getChargeLevel(&percent), Varnholt::ERR_NOT_SUPPORTED);
    battery->release();
}

TEST_F(BatteryTest, TextBuffersNeverTakeMoreThanTheirSize)
{
    struct Case {
        const char* what;
        bool ident; // getIdentText, else getVersionText
        std::uint16_t version;
        int size;
        ResultCode expected;
        const char* text;     // on success
        std::size_t requests; // register reads
    };
    const Case cases[] = {
        {"version 2.3 in 4", false, 0x0203, 4, Varnholt::ERR_SUCCESS, "2.3", 1},
        {"version 2.3 in 3", false, 0x0203, 3, Varnholt::ERR_BUFFER_SIZE_ERROR, nullptr, 1},
        {"version in 0", false, 0x0203, 0, Varnholt::ERR_BUFFER_SIZE_ERROR, nullptr, 1},
        {"version in -1", false, 0x0203, -1, Varnholt::ERR_BUFFER_SIZE_ERROR, nullptr, 1},
        {"version 255.255 in 8", false, 0xFFFF, 8, Varnholt::ERR_SUCCESS, "255.255", 1},
        {"version 255.255 in 7", false, 0xFFFF, 7, Varnholt::ERR_BUFFER_SIZE_ERROR, nullptr, 1},
        {"version 10.0 in 5", false, 0x0A00, 5, Varnholt::ERR_SUCCESS, "10.0", 1},
        {"ident in 11", true, 0, 11, Varnholt::ERR_SUCCESS, "ABCDEFGHIJ", 5},
        {"ident in 10", true, 0, 10, Varnholt::ERR_BUFFER_SIZE_ERROR, nullptr, 0},
        {"ident in 0", true, 0, 0, Varnholt::ERR_BUFFER_SIZE_ERROR, nullptr, 0},
        {"ident in -100", true, 0, -100, Varnholt::ERR_BUFFER_SIZE_ERROR, nullptr, 0},
    };
    for (const auto& c : cases) {
        startWith({{"6", c.version},
                   {"15", 0x4142},
                   {"16", 0x4344},
                   {"17", 0x4546},
                   {"18", 0x4748},
                   {"19", 0x494A}});
        Battery* battery = GetBattery();
        char buffer[32];
        std::memset(buffer, '#', sizeof buffer);
        const std::size_t before = registerReads();
        const ResultCode result =
            c.ident ? battery->getIdentText(buffer, c.size) : battery->getVersionText(buffer, c.size);
        EXPECT_EQ(result, c.expected) << c.what;
        EXPECT_EQ(registerReads() - before, c.requests) << c.what;
        const std::size_t written = c.text != nullptr ? std::strlen(c.text) + 1 : 0;
        if (c.text != nullptr) {
            EXPECT_STREQ(buffer, c.text) << c.what;
        }
        for (std::size_t k = written; k < sizeof buffer; ++k)
            ASSERT_EQ(buffer[k], '#') << c.what << " byte " << k;
        battery->release();
    }
}

TEST_F(BatteryTest, IdentTextEndsAtItsFirstZeroByte)
{
    startWith({{"15", 0x4142}, {"16", 0x4300}, {"17", 0x4546}});
    Battery* battery = GetBattery();
    char buffer[16];
    std::memset(buffer, '#', sizeof buffer);
    EXPECT_EQ(battery->getIdentText(buffer, sizeof buffer), Varnholt::ERR_SUCCESS);
    EXPECT_STREQ(buffer, "ABC");
    EXPECT_EQ(buffer[4], '#');
    battery->release();
}

TEST_F(BatteryTest, NullOutputsAreRefusedBeforeAnyRequest)
{
    Battery* battery = GetBattery();
    short word = 0;
    unsigned short w = 0;
    const std::pair<const char*, Operation> cases[] = {
        {"present", [](Battery& b) { return b.getBatteryPresent(nullptr); }},
        {"charge", [](Battery& b) { return b.getChargeLevel(nullptr); }},
        {"register 4 state", [](Battery& b) { return b.getRegister4State(nullptr); }},
        {"register 4 flag", [](Battery& b) { return b.getRegister4Flag(nullptr); }},
        {"register 3", [](Battery& b) { return b.getRegister3Value(nullptr); }},
        {"register 5 state", [](Battery& b) { return b.getRegister5State(nullptr); }},
        {"time record", [](Battery& b) { return b.getTimeRecord(nullptr); }},
        {"first temperature", [&](Battery& b) { return b.getTemperatures(nullptr, &word); }},
        {"second temperature", [&](Battery& b) { return b.getTemperatures(&word, nullptr); }},
        {"ident", [](Battery& b) { return b.getIdentText(nullptr, 11); }},
    };
    for (const auto& [what, op] : cases) {
        const std::size_t before = registerReads();
        EXPECT_EQ(op(*battery), Varnholt::ERR_INVALID_PARAMETER_NULL) << what;
        EXPECT_EQ(registerReads(), before) << what;
    }
    // The version's size rule comes first; a null buffer that would fit is refused.
    EXPECT_EQ(battery->getVersionText(nullptr, 0), Varnholt::ERR_BUFFER_SIZE_ERROR);
    EXPECT_EQ(battery->getVersionText(nullptr, 8), Varnholt::ERR_INVALID_PARAMETER_NULL);
    // A null register output fails its own read (7); the ones before it are filled.
    unsigned short seven = 0;
    const std::size_t before = registerReads();
    EXPECT_EQ(battery->getRegisters7To10(&seven, nullptr, &w, &w), Varnholt::ERR_IOCTRL_OPERATION_FAILED);
    EXPECT_EQ(seven, 4400);
    EXPECT_EQ(registerReads() - before, 1u);
    battery->release();
}

TEST_F(BatteryTest, RequestFailuresAndShortAnswers)
{
    struct Case {
        const char* what;
        std::function<void(sim::Unit&)> fault;
        ResultCode expected;
    };
    const Case cases[] = {
        {"request fails", [](sim::Unit& u) { u.failRequest(registerCode); },
         Varnholt::ERR_IOCTRL_OPERATION_FAILED},
        {"one byte back", [](sim::Unit& u) { u.forceReturned(registerCode, 1); },
         Varnholt::ERR_BUFFER_SIZE_ERROR},
        {"four bytes back", [](sim::Unit& u) { u.forceReturned(registerCode, 4); },
         Varnholt::ERR_BUFFER_SIZE_ERROR},
        {"controller silent",
         [](sim::Unit& u) { u.update([](sim::Json& s) { s["battery"]["fitted"] = false; }); },
         Varnholt::ERR_IOCTRL_OPERATION_FAILED},
    };
    for (const auto& c : cases) {
        startUnit(sim::defaultProfile());
        Battery* battery = GetBattery();
        c.fault(unit());
        for (const auto& [name, op] : readings())
            EXPECT_EQ(op(*battery), c.expected) << c.what << ": " << name;
        battery->release();
    }
}

// Outputs stay as they were on failure, except the values of the time record and the registers 7
// to 10 read before the failing register.
TEST_F(BatteryTest, WhatAFailureLeavesInTheOutputs)
{
    startWith({{"20", 1}, {"22", 2}, {"21", 3}, {"23", 4}, {"26", 5}, {"7", 70}, {"8", 80}, {"24", 60}});
    Battery* battery = GetBattery();

    // The fifth read of the record (register 26) fails: values 0 and 1 are filled, the rest stay.
    Varnholt::BatteryTimeRecord times;
    std::fill(std::begin(times.values), std::end(times.values), 0xDEADu);
    const std::size_t reads = registerReads();
    unit().update([](sim::Json& s) { s["battery"]["registers"]["26"] = 70000; }); // cannot be a register
    EXPECT_EQ(battery->getTimeRecord(&times), Varnholt::ERR_IOCTRL_OPERATION_FAILED);
    EXPECT_EQ(registerReads() - reads, 5u);
    EXPECT_EQ(times.values[0], 62u);
    EXPECT_EQ(times.values[1], 184u);
    for (int k = 2; k < 9; ++k)
        EXPECT_EQ(times.values[k], 0xDEADu) << k;

    unit().update([](sim::Json& s) { s["battery"]["registers"]["9"] = 70000; });
    unsigned short registers[4] = {1, 1, 1, 1};
    EXPECT_EQ(battery->getRegisters7To10(&registers[0], &registers[1], &registers[2], &registers[3]),
              Varnholt::ERR_IOCTRL_OPERATION_FAILED);
    EXPECT_EQ(registers[0], 70);
    EXPECT_EQ(registers[1], 80);
    EXPECT_EQ(registers[2], 1);
    EXPECT_EQ(registers[3], 1);

    unit().update([](sim::Json& s) { s["battery"]["registers"]["25"] = 70000; });
    short first = 7;
    short second = 7;
    EXPECT_EQ(battery->getTemperatures(&first, &second), Varnholt::ERR_IOCTRL_OPERATION_FAILED);
    EXPECT_EQ(first, 7);
    EXPECT_EQ(second, 7);
    battery->release();
}

TEST_F(BatteryTest, EachFactoryCallBuildsItsOwnObject)
{
    Battery* first = GetBattery();
    Battery* second = GetBattery();
    EXPECT_NE(first, second);
    first->release();
    unsigned char percent = 0;
    EXPECT_EQ(second->getChargeLevel(&percent), Varnholt::ERR_SUCCESS);
    second->release();
}

} // namespace PELMUX_FILE_SCOPE
} // namespace pelmux::test
