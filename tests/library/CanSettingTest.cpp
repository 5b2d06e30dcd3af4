// CAN settings against the file-backed registry of a simulated unit, the registry seam on Linux,
// the unit's CAN keys and `pelmux can`.
#include "SimFixture.h"
#include "ToolRun.h"

#include "comms/CanSetting_Imp.h"
#include "platform/Registry.h"

#include <pelmux/Pelmux.h>

#include <filesystem>
#include <fstream>
#include <iterator>

namespace pelmux::test {
namespace PELMUX_FILE_SCOPE {

using Varnholt::CanFrameType;
using Varnholt::CanSetting;
using Varnholt::ResultCode;
using Bytes = std::vector<std::uint8_t>;

constexpr std::uint16_t untouchedRate = 4242;
constexpr auto untouchedType = static_cast<CanFrameType>(77);

// UTF-16LE of an ASCII text, with its terminator when `terminated`, zero bytes up to `size`.
Bytes utf16(const std::string& text, std::size_t size = 0, bool terminated = true)
{
    Bytes data;
    for (const char c : text) {
        data.push_back(static_cast<std::uint8_t>(c));
        data.push_back(0);
    }
    if (terminated)
        data.insert(data.end(), {0, 0});
    if (data.size() < size)
        data.resize(size, 0);
    return data;
}

class CanSettingTest : public SimTest {
protected:
    std::filesystem::path keyFolder(int device) const
    {
        return std::filesystem::path(root().path()) /
               "registry/HKEY_LOCAL_MACHINE/SYSTEM/CurrentControlSet/Services/CanXilinxVH/Parameters" /
               ("Device" + std::to_string(device));
    }
    void writeValue(int device, const std::string& name, const Bytes& data) const
    {
        std::ofstream(keyFolder(device) / name, std::ios::binary)
            .write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
    }
    Bytes readValue(int device, const std::string& name) const
    {
        std::ifstream in(keyFolder(device) / name, std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    // Every value of Device0 to Device3, to tell that an operation wrote nothing.
    std::vector<Bytes> allValues() const
    {
        std::vector<Bytes> values;
        for (int device = 0; device < 4; ++device) {
            values.push_back(readValue(device, "BaudRate"));
            values.push_back(readValue(device, "Mode"));
        }
        return values;
    }
    // Restarts the unit with the identity field "CAN" set to `count`.
    void startWithCanCount(const std::string& count)
    {
        sim::Json profile = sim::defaultProfile();
        std::string text = profile["eeproms"]["unit"].get<std::string>();
        const std::size_t at = text.find("CAN:");
        text.replace(at, text.find('\n', at) - at, "CAN:" + count);
        profile["eeproms"]["unit"] = text;
        startUnit(profile);
    }
    std::pair<ResultCode, std::uint16_t> rateOf(unsigned char channel)
    {
        CanSetting* can = GetCanSetting();
        std::uint16_t rate = untouchedRate;
        const ResultCode result = can->getBaudRate(channel, &rate);
        can->release();
        return {result, rate};
    }
    std::pair<ResultCode, CanFrameType> typeOf(unsigned char channel)
    {
        CanSetting* can = GetCanSetting();
        CanFrameType type = untouchedType;
        const ResultCode result = can->getFrameType(channel, &type);
        can->release();
        return {result, type};
    }
};

TEST_F(CanSettingTest, ChannelsOneToFourUseDeviceZeroToThreeAndOthersAreRefused)
{
    for (int device = 0; device < 4; ++device) {
        writeValue(device, "BaudRate", utf16(std::to_string((device + 1) * 100000), 40));
        writeValue(device, "Mode", utf16(device == 3 ? "Extended" : "Standard", 255));
    }
    struct Case {
        unsigned char channel;
        ResultCode result;
        std::uint16_t rate;
    };
    const Case cases[] = {
        {0, Varnholt::ERR_INVALID_PARAMETER_NULL, untouchedRate},
        {1, Varnholt::ERR_SUCCESS, 100},
        {2, Varnholt::ERR_SUCCESS, 200},
        {4, Varnholt::ERR_SUCCESS, 400},
        {5, Varnholt::ERR_INVALID_PARAMETER_NULL, untouchedRate},
        {255, Varnholt::ERR_INVALID_PARAMETER_NULL, untouchedRate},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(rateOf(c.channel), std::make_pair(c.result, c.rate)) << int(c.channel);
        EXPECT_EQ(typeOf(c.channel).first, c.result) << int(c.channel);
    }
    EXPECT_EQ(typeOf(4).second, Varnholt::FRAMETYPE_EXTENDED);
    EXPECT_EQ(canParameterKey(1), L"SYSTEM\\CurrentControlSet\\Services\\CanXilinxVH\\Parameters\\Device0");

    // Out-of-range arguments write nothing.
    const auto before = allValues();
    CanSetting* can = GetCanSetting();
    for (const unsigned char channel : {0, 5, 255}) {
        EXPECT_EQ(can->setBaudRate(channel, 500), Varnholt::ERR_INVALID_PARAMETER_NULL) << int(channel);
        EXPECT_EQ(can->setFrameType(channel, Varnholt::FRAMETYPE_EXTENDED),
                  Varnholt::ERR_INVALID_PARAMETER_NULL);
    }
    EXPECT_EQ(can->setBaudRate(1, 1001), Varnholt::ERR_INVALID_PARAMETER_NULL);
    EXPECT_EQ(can->setBaudRate(4, 65535), Varnholt::ERR_INVALID_PARAMETER_NULL);
    EXPECT_EQ(can->setFrameType(1, static_cast<CanFrameType>(3)), Varnholt::ERR_INVALID_PARAMETER_NULL);
    EXPECT_EQ(can->setFrameType(1, static_cast<CanFrameType>(-1)), Varnholt::ERR_INVALID_PARAMETER_NULL);
    EXPECT_EQ(allValues(), before);
    EXPECT_EQ(can->setBaudRate(4, 125), Varnholt::ERR_SUCCESS);
    can->release();
    EXPECT_EQ(readValue(3, "BaudRate"), utf16("125000", 40));
}

TEST_F(CanSettingTest, StoredBaudRateTextsReadAsKilobitsLikeAtoiThenUnsignedDivision)
{
    struct Case {
        Bytes stored;
        std::uint16_t rate;
    };
    const Case cases[] = {
        {utf16("125000", 40), 125},
        {utf16("999", 40), 0},
        {utf16("1000000", 40), 1000},
        {utf16("  \t+500000", 40), 500},
        {utf16("250000 bit/s"), 250},
        {utf16("bits", 40), 0},
        {utf16(""), 0},
        {{}, 0}, // no data at all
        // Negative numbers divide as unsigned ones: 4294967291 / 1000 = 4294967, low 16 bits.
        {utf16("  -5"), static_cast<std::uint16_t>(4294967u & 0xFFFFu)},
        // Beyond 32 bits atoi stops at its largest value.
        {utf16("99999999999"), static_cast<std::uint16_t>(2147483u & 0xFFFFu)},
        // Kilobits beyond 16 bits keep their low 16 bits.
        {utf16("70000000"), static_cast<std::uint16_t>(70000u & 0xFFFFu)},
        // A text without terminator ends with its data; nothing after the data is read.
        {utf16("800000", 0, false), 800},
        // The terminator ends the text; bytes after it do not count.
        {Bytes{'1', 0, '2', 0, 0, 0, '9', 0, '9', 0}, 0},
        {utf16("1\xE9"
               "5000"),
         0}, // a character beyond ASCII ends the digits
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        writeValue(0, "BaudRate", cases[i].stored);
        EXPECT_EQ(rateOf(1), std::make_pair(Varnholt::ERR_SUCCESS, cases[i].rate)) << "case " << i;
    }
}

TEST_F(CanSettingTest, ModeTextsMustMatchExactly)
{
    struct Case {
        Bytes stored;
        ResultCode result;
        CanFrameType type;
    };
    const Case cases[] = {
        {utf16("Standard", 255), Varnholt::ERR_SUCCESS, Varnholt::FRAMETYPE_STANDARD},
        {utf16("Extended", 255), Varnholt::ERR_SUCCESS, Varnholt::FRAMETYPE_EXTENDED},
        {utf16("Standard, Extended", 255), Varnholt::ERR_SUCCESS, Varnholt::FRAMETYPE_STANDARD_EXTENDED},
        {utf16("Extended", 0, false), Varnholt::ERR_SUCCESS, Varnholt::FRAMETYPE_EXTENDED},
        {utf16("standard", 255), Varnholt::ERR_CODE_NOT_EXIST, untouchedType},
        {utf16("STANDARD"), Varnholt::ERR_CODE_NOT_EXIST, untouchedType},
        {utf16("Standard "), Varnholt::ERR_CODE_NOT_EXIST, untouchedType},
        {utf16("Standard,Extended"), Varnholt::ERR_CODE_NOT_EXIST, untouchedType},
        {utf16("Stand"), Varnholt::ERR_CODE_NOT_EXIST, untouchedType},
        {utf16(""), Varnholt::ERR_CODE_NOT_EXIST, untouchedType},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        writeValue(1, "Mode", cases[i].stored);
        EXPECT_EQ(typeOf(2), std::make_pair(cases[i].result, cases[i].type)) << "case " << i;
    }
}

TEST_F(CanSettingTest, WritesUtf16TextTerminatorAndZerosInFixedSizes)
{
    struct Case {
        std::function<ResultCode(CanSetting&)> set;
        const char* value;
        Bytes expected;
    };
    const Case cases[] = {
        {[](CanSetting& c) { return c.setBaudRate(1, 0); }, "BaudRate", utf16("0", 40)},
        {[](CanSetting& c) { return c.setBaudRate(1, 125); }, "BaudRate", utf16("125000", 40)},
        {[](CanSetting& c) { return c.setBaudRate(1, 1000); }, "BaudRate", utf16("1000000", 40)},
        {[](CanSetting& c) { return c.setFrameType(1, Varnholt::FRAMETYPE_EXTENDED); }, "Mode",
         utf16("Extended", 255)},
        {[](CanSetting& c) { return c.setFrameType(1, Varnholt::FRAMETYPE_STANDARD_EXTENDED); }, "Mode",
         utf16("Standard, Extended", 255)},
        {[](CanSetting& c) { return c.setFrameType(1, Varnholt::FRAMETYPE_STANDARD); }, "Mode",
         utf16("Standard", 255)},
    };
    for (const Case& c : cases) {
        // A longer old value leaves no trace behind the new one.
        writeValue(0, c.value, Bytes(255, 0x41));
        CanSetting* can = GetCanSetting();
        EXPECT_EQ(c.set(*can), Varnholt::ERR_SUCCESS);
        can->release();
        EXPECT_EQ(readValue(0, c.value), c.expected) << c.value;
    }
    // What was written reads back, and the replacements left no temporary files in the key.
    EXPECT_EQ(rateOf(1).second, 1000);
    EXPECT_EQ(typeOf(1).second, Varnholt::FRAMETYPE_STANDARD);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(keyFolder(0)), {}), 2);
}

TEST_F(CanSettingTest, RegistryFailuresGiveTheirCodes)
{
    struct Case {
        const char* what;
        std::function<void()> arrange;
        ResultCode getRate, getType, setRate, setType;
    };
    const auto removeKey = [this] { std::filesystem::remove_all(keyFolder(3)); };
    const auto removeValues = [this] {
        std::filesystem::remove(keyFolder(3) / "BaudRate");
        std::filesystem::remove(keyFolder(3) / "Mode");
    };
    const auto oversized = [this] {
        writeValue(3, "BaudRate", utf16("250000", 256));
        writeValue(3, "Mode", utf16("Standard", 256));
    };
    const auto valuesAsFolders = [this, removeValues] {
        removeValues();
        std::filesystem::create_directory(keyFolder(3) / "BaudRate");
        std::filesystem::create_directory(keyFolder(3) / "Mode");
    };
    const auto keyAsFile = [this] {
        std::filesystem::remove_all(keyFolder(3));
        std::ofstream(keyFolder(3)) << "not a key";
    };
    const Case cases[] = {
        {"key missing", removeKey, Varnholt::ERR_NOT_SUPPORTED, Varnholt::ERR_NOT_SUPPORTED,
         Varnholt::ERR_OPEN_FAILED, Varnholt::ERR_OPEN_FAILED},
        {"key is a file", keyAsFile, Varnholt::ERR_NOT_SUPPORTED, Varnholt::ERR_NOT_SUPPORTED,
         Varnholt::ERR_OPEN_FAILED, Varnholt::ERR_OPEN_FAILED},
        {"values missing", removeValues, Varnholt::ERR_NOT_SUPPORTED, Varnholt::ERR_NOT_SUPPORTED,
         Varnholt::ERR_SUCCESS, Varnholt::ERR_SUCCESS},
        {"values over 255 bytes", oversized, Varnholt::ERR_NOT_SUPPORTED, Varnholt::ERR_NOT_SUPPORTED,
         Varnholt::ERR_SUCCESS, Varnholt::ERR_SUCCESS},
        {"values are folders", valuesAsFolders, Varnholt::ERR_NOT_SUPPORTED, Varnholt::ERR_NOT_SUPPORTED,
         Varnholt::ERR_UNKNOWN_FEATURE, Varnholt::ERR_UNKNOWN_FEATURE},
    };
    for (const Case& c : cases) {
        startUnit(sim::defaultProfile());
        c.arrange();
        EXPECT_EQ(rateOf(4), std::make_pair(c.getRate, untouchedRate)) << c.what;
        EXPECT_EQ(typeOf(4), std::make_pair(c.getType, untouchedType)) << c.what;
        CanSetting* can = GetCanSetting();
        EXPECT_EQ(can->setBaudRate(4, 500), c.setRate) << c.what;
        EXPECT_EQ(can->setFrameType(4, Varnholt::FRAMETYPE_EXTENDED), c.setType) << c.what;
        can->release();
        // A set never creates the key.
        EXPECT_EQ(std::filesystem::is_directory(keyFolder(3)), c.setRate != Varnholt::ERR_OPEN_FAILED)
            << c.what;
        std::filesystem::remove_all(keyFolder(3));
    }
}

// Without CAN channels every operation answers ERR_NOT_SUPPORTED, but only after its argument checks;
// setFrameType judges the frame type after the availability.
TEST_F(CanSettingTest, UnitWithoutCanRefusesAfterTheArgumentChecks)
{
    struct Case {
        const char* what;
        std::function<ResultCode(CanSetting&)> call;
        ResultCode withCan, withoutCan;
    };
    std::uint16_t rate = 0;
    CanFrameType type = Varnholt::FRAMETYPE_STANDARD;
    const auto notSupported = Varnholt::ERR_NOT_SUPPORTED;
    const auto badArgument = Varnholt::ERR_INVALID_PARAMETER_NULL;
    const Case cases[] = {
        {"get rate", [&](CanSetting& c) { return c.getBaudRate(1, &rate); }, Varnholt::ERR_SUCCESS,
         notSupported},
        {"get rate, null", [](CanSetting& c) { return c.getBaudRate(1, nullptr); }, badArgument, badArgument},
        {"get rate, channel 5", [&](CanSetting& c) { return c.getBaudRate(5, &rate); }, badArgument,
         badArgument},
        {"get type", [&](CanSetting& c) { return c.getFrameType(2, &type); }, Varnholt::ERR_SUCCESS,
         notSupported},
        {"get type, null", [](CanSetting& c) { return c.getFrameType(2, nullptr); }, badArgument,
         badArgument},
        {"get type, channel 0", [&](CanSetting& c) { return c.getFrameType(0, &type); }, badArgument,
         badArgument},
        {"set rate", [](CanSetting& c) { return c.setBaudRate(3, 500); }, Varnholt::ERR_SUCCESS,
         notSupported},
        {"set rate 1001", [](CanSetting& c) { return c.setBaudRate(3, 1001); }, badArgument, badArgument},
        {"set rate, channel 0", [](CanSetting& c) { return c.setBaudRate(0, 500); }, badArgument,
         badArgument},
        {"set type", [](CanSetting& c) { return c.setFrameType(4, Varnholt::FRAMETYPE_EXTENDED); },
         Varnholt::ERR_SUCCESS, notSupported},
        {"set type, channel 5", [](CanSetting& c) { return c.setFrameType(5, Varnholt::FRAMETYPE_EXTENDED); },
         badArgument, badArgument},
        {"set type 3", [](CanSetting& c) { return c.setFrameType(4, static_cast<CanFrameType>(3)); },
         badArgument, notSupported},
    };
    for (const char* count : {"2", "0"}) {
        startWithCanCount(count);
        const bool present = std::string(count) != "0";
        const auto before = allValues();
        for (const Case& c : cases) {
            CanSetting* can = GetCanSetting();
            EXPECT_EQ(c.call(*can), present ? c.withCan : c.withoutCan) << c.what << ", CAN " << count;
            can->release();
        }
        if (!present) {
            EXPECT_EQ(allValues(), before);
        }
    }
    // A unit whose identity cannot be read counts as having CAN.
    sim::Json profile = sim::defaultProfile();
    profile["eeproms"].erase("unit");
    startUnit(profile);
    EXPECT_EQ(rateOf(1), std::make_pair(Varnholt::ERR_SUCCESS, std::uint16_t{250}));
}

TEST_F(CanSettingTest, UnitLaysOutFourDevicesAndKeepsWhatIsThere)
{
    for (int device = 0; device < 4; ++device) {
        EXPECT_EQ(readValue(device, "BaudRate"), utf16("250000", 40)) << device;
        EXPECT_EQ(readValue(device, "Mode"), utf16("Standard", 255)) << device;
    }
    EXPECT_FALSE(std::filesystem::exists(keyFolder(4)));
    writeValue(2, "Mode", utf16("Extended", 255));
    std::filesystem::remove(keyFolder(1) / "BaudRate");
    startUnit(sim::defaultProfile());
    EXPECT_EQ(readValue(2, "Mode"), utf16("Extended", 255));
    EXPECT_EQ(readValue(1, "BaudRate"), utf16("250000", 40));

    // Raw bytes and unusable key names in a profile.
    sim::Json profile = sim::defaultProfile();
    profile["machine"]["registry"] = {
        {"A\\B", {{"Raw", {{"hex", "3100320000"}}}, {"Odd", {{"hex", "123"}}}, {"..", {{"sz", "x"}}}}},
        {"A\\..\\C", {{"V", {{"sz", "x"}}}}},
        {"A\\\\D", {{"V", {{"sz", "x"}}}}},
    };
    startUnit(profile);
    const auto machine = std::filesystem::path(root().path()) / "registry/HKEY_LOCAL_MACHINE";
    std::ifstream raw(machine / "A/B/Raw", std::ios::binary);
    EXPECT_EQ(Bytes(std::istreambuf_iterator<char>(raw), {}), (Bytes{0x31, 0x00, 0x32, 0x00, 0x00}));
    EXPECT_FALSE(std::filesystem::exists(machine / "A/B/Odd"));
    EXPECT_FALSE(std::filesystem::exists(machine / "C"));
    EXPECT_FALSE(std::filesystem::exists(machine / "A/D"));
}

TEST_F(CanSettingTest, RegistrySeamRefusesPathsThatLeaveTheirKey)
{
    const auto machine = std::filesystem::path(root().path()) / "registry/HKEY_LOCAL_MACHINE";
    std::filesystem::create_directories(machine / "A/B");
    std::ofstream(machine / "A/V") << "outside";
    const wchar_t* refused[] = {L"A\\..\\A\\B", L"..\\HKEY_LOCAL_MACHINE\\A",
                                L"A\\.\\B",     L"A\\\\B",
                                L"\\A\\B",      L"A\\B\\",
                                L"A/B",         L"",
                                L"..",          L"A\\B/..\\.."};
    for (const wchar_t* path : refused) {
        platform::RegistryKey key;
        EXPECT_FALSE(key.open(path, platform::KeyAccess::Read)) << std::filesystem::path(path);
        EXPECT_FALSE(key.open(path, platform::KeyAccess::Write)) << std::filesystem::path(path);
        EXPECT_FALSE(key.isOpen());
    }
    platform::RegistryKey writer;
    ASSERT_TRUE(writer.open(L"A\\B", platform::KeyAccess::Write));
    const char data[] = {'x', 0};
    for (const wchar_t* name : {L"..", L".", L"", L"../V", L"..\\V"})
        EXPECT_FALSE(writer.setStringValue(name, data, 2)) << std::filesystem::path(name);
    EXPECT_TRUE(writer.setStringValue(L"V", data, 2));
    std::uint32_t size = 0;
    char buffer[8] = {};
    // Access as opened: a key open for writing is not read, one open for reading is not written.
    EXPECT_FALSE(writer.queryValue(L"V", buffer, sizeof buffer, size));
    platform::RegistryKey reader;
    ASSERT_TRUE(reader.open(L"A\\B", platform::KeyAccess::Read));
    EXPECT_FALSE(reader.setStringValue(L"V", data, 2));
    EXPECT_FALSE(reader.queryValue(L"..\\V", buffer, sizeof buffer, size));
    EXPECT_FALSE(reader.queryValue(L"V", buffer, 1, size)); // more data than room
    ASSERT_TRUE(reader.queryValue(L"V", buffer, sizeof buffer, size));
    EXPECT_EQ(size, 2u);
    EXPECT_EQ(std::string(buffer, 2), std::string(data, 2));
    std::ifstream outside(machine / "A/V");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(outside), {}), "outside");
}

TEST_F(CanSettingTest, ToolShowsAndSetsChannels)
{
    const auto [code, output] = runTool("--json can get");
    ASSERT_EQ(code, 0) << output;
    const sim::Json all = sim::Json::parse(output);
    ASSERT_EQ(all.size(), 4u);
    EXPECT_EQ(all[3]["channel"], 4);
    EXPECT_EQ(all[3]["rate"]["kbits"], 250);
    EXPECT_EQ(all[3]["frames"]["text"], "Standard");

    EXPECT_EQ(runTool("can set 2 --rate 500 --frames both").first, 0);
    const sim::Json second = sim::Json::parse(runTool("--json can get 2").second);
    ASSERT_EQ(second.size(), 1u);
    EXPECT_EQ(second[0]["rate"]["kbits"], 500);
    EXPECT_EQ(second[0]["frames"]["type"], 2);
    EXPECT_NE(runTool("can get").second.find("Channel 2  500 kbit/s, Standard, Extended"), std::string::npos);

    EXPECT_EQ(runTool("can set 2").first, 2);
    EXPECT_NE(runTool("can set 5 --rate 100").first, 0);
    EXPECT_NE(runTool("can set 1 --rate 1001").first, 0);
    EXPECT_NE(runTool("can set 1 --frames mixed").first, 0);
    EXPECT_EQ(readValue(0, "BaudRate"), utf16("250000", 40));

    std::filesystem::remove_all(keyFolder(0));
    const auto [failed, text] = runTool("can set 1 --rate 125 --frames extended");
    EXPECT_EQ(failed, 1);
    EXPECT_NE(text.find("Open failed (ERR_OPEN_FAILED, 1)"), std::string::npos) << text;
    EXPECT_EQ(text.find("Frame type"), std::string::npos) << text; // stops at the first failure
    EXPECT_EQ(runTool("can get 1").first, 1);
}

} // namespace PELMUX_FILE_SCOPE
} // namespace pelmux::test
