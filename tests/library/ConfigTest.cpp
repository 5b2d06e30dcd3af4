// Config: the supervisor's stored settings, their encodings, the order of checks, the command line.
#include "SavedState.h"
#include "ToolRun.h"
#include "VendorFixture.h"

#include "supervisor/Config_Imp.h"

#include <pelmux/Pelmux.h>

#include <climits>
#include <cmath>
#include <functional>
#include <limits>

namespace pelmux::test {
namespace PELMUX_FILE_SCOPE {

using Varnholt::Config;
using Varnholt::ResultCode;
using Call = std::function<ResultCode(Config&)>;

constexpr ResultCode ok = Varnholt::ERR_SUCCESS;

// Holds one reference for the test and gives it back at the end.
class ConfigTest : public SimTest {
protected:
    void SetUp() override
    {
        SimTest::SetUp();
        obtain();
    }
    void TearDown() override
    {
        drop();
        EXPECT_EQ(configInstance().refCount(), 0);
        SimTest::TearDown();
    }
    void obtain()
    {
        config_ = GetConfig();
        ASSERT_NE(config_, nullptr);
    }
    void drop()
    {
        if (config_ != nullptr)
            config_->release();
        config_ = nullptr;
    }
    // A fresh object, built from the unit as it is now.
    void rebuild()
    {
        drop();
        obtain();
    }
    Config& config() { return *config_; }

    void supervisor(std::vector<int> version)
    {
        unit().update([&](sim::Json& s) { s["versions"]["supervisor"] = version; });
    }

    // Replaces the model of a write request by one that keeps what arrived.
    std::shared_ptr<sim::Bytes> capture(std::uint32_t code)
    {
        auto sent = std::make_shared<sim::Bytes>();
        unit().onControl(code, [sent](sim::Unit&, const sim::ControlRequest& request) {
            *sent = request.input;
            return sim::ControlReply::consumed(request.input.size());
        });
        return sent;
    }

private:
    Config* config_ = nullptr;
};

TEST(ConfigConversions, VoltsAndDegreesBothWays)
{
    const struct {
        std::uint16_t raw;
        double volts;
    } toVolts[] = {
        {1000, 9.66796875}, {900, 8.701171875}, {0, 0.0}, {2482, 23.9958984375}, {4095, 39.5903320312}};
    for (const auto& c : toVolts)
        EXPECT_NEAR(configVoltsFromRaw(c.raw), c.volts, 1e-9) << c.raw;
    EXPECT_EQ(configVoltsFromRaw(1000), 9.66796875); // exact: multiplied first, divided last

    const struct {
        double volts;
        std::optional<std::uint16_t> raw;
    } fromVolts[] = {
        {24.0, 2482},
        {9.0, 930},
        {28.0, 2896},
        {9.66796875, 1000},
        {20.0, 2068}, // 2068.68...: truncated, not rounded
        {8.99, std::nullopt},
        {28.01, std::nullopt},
        {-24.0, std::nullopt},
        {std::numeric_limits<double>::quiet_NaN(), std::nullopt},
        {std::numeric_limits<double>::infinity(), std::nullopt},
    };
    for (const auto& c : fromVolts)
        EXPECT_EQ(configRawFromVolts(c.volts), c.raw) << c.volts;

    const struct {
        std::uint16_t raw;
        std::optional<short> celsius;
    } toCelsius[] = {{31, -25},
                     {56, 0},
                     {61, 5},
                     {30, std::nullopt},
                     {62, std::nullopt},
                     {0, std::nullopt},
                     {65535, std::nullopt}};
    for (const auto& c : toCelsius)
        EXPECT_EQ(configCelsiusFromRaw(c.raw), c.celsius) << c.raw;

    const struct {
        short celsius;
        std::optional<std::uint16_t> raw;
    } fromCelsius[] = {{-25, 31},
                       {5, 61},
                       {0, 56},
                       {6, std::nullopt},
                       {-26, std::nullopt},
                       {SHRT_MIN, std::nullopt},
                       {SHRT_MAX, std::nullopt}};
    for (const auto& c : fromCelsius)
        EXPECT_EQ(configRawFromCelsius(c.celsius), c.raw) << c.celsius;
}

TEST_F(ConfigTest, OneSharedObjectWhileReferenced)
{
    Config* second = GetConfig();
    EXPECT_EQ(second, &config());
    EXPECT_EQ(configInstance().refCount(), 2);
    second->release();
    EXPECT_EQ(configInstance().refCount(), 1);
}

// A getter's output as a number: 77 (as it was before the call) unless the getter stores another.
template <class T> std::function<ResultCode(Config&, double&)> output(ResultCode (Config::*get)(T*))
{
    return [get](Config& c, double& out) {
        T value = 77;
        const ResultCode result = (c.*get)(&value);
        out = value;
        return result;
    };
}

// Getters against answers the unit is made to give: the value stored, or the result and nothing stored.
TEST_F(ConfigTest, AnswersAreDecodedAndJudged)
{
    struct Case {
        const char* what;
        std::uint32_t code;
        sim::Bytes answer;
        std::function<ResultCode(Config&, double&)> get;
        ResultCode result;
        double value;
    };
    const ResultCode range = Varnholt::ERR_INVALID_DATA_RANGE;
    const Case cases[] = {
        {"selector1 word 0", 0x22255C, {0, 0}, output(&Config::getSelector1), range, 77},
        {"selector1 word 1", 0x22255C, {1, 0}, output(&Config::getSelector1), ok, 1},
        {"selector1 word 3", 0x22255C, {3, 0}, output(&Config::getSelector1), ok, 3},
        {"selector1 word 4", 0x22255C, {4, 0}, output(&Config::getSelector1), range, 77},
        {"selector1 word 0x0101", 0x22255C, {1, 1}, output(&Config::getSelector1), range, 77},
        {"selector2 word 0", 0x222564, {0, 0}, output(&Config::getSelector2), ok, 0},
        {"selector2 word 3", 0x222564, {3, 0}, output(&Config::getSelector2), range, 77},
        {"selector3 word 2", 0x222584, {2, 0}, output(&Config::getSelector3), ok, 2},
        {"selector4 word 0xFFFF", 0x22258C, {0xFF, 0xFF}, output(&Config::getSelector4), range, 77},
        {"paired word 1 is word 1",
         0x2224B8,
         {0x34, 0x12, 0x05, 0x00},
         output(&Config::getPairedWord1),
         ok,
         5},
        {"paired word 2 is word 1",
         0x2224C8,
         {0x01, 0x00, 0xEF, 0xBE},
         output(&Config::getPairedWord2),
         ok,
         0xBEEF},
        {"long setting",
         0x2224C0,
         {0x01, 0x02, 0x03, 0x84},
         output(&Config::getLongSetting),
         ok,
         0x84030201u},
        {"CAN power zero-extended", 0x2224D0, {0xFF, 0xFF}, output(&Config::getCanPowerConfig), ok, 65535},
        {"video power is byte 0", 0x2224D8, {0x07, 0xFF}, output(&Config::getVideoPowerConfig), ok, 7},
        {"word setting zero-extended", 0x2224E0, {0x00, 0x80}, output(&Config::getWordSetting), ok, 0x8000},
        {"voltage raw 1000", 0x2224E8, {0xE8, 0x03}, output(&Config::getVoltageSetting), ok, 9.66796875},
        {"voltage raw 900 reads 9 V", 0x2224E8, {0x84, 0x03}, output(&Config::getVoltageSetting), ok, 9.0},
        {"voltage raw 0 reads 9 V", 0x2224E8, {0x00, 0x00}, output(&Config::getVoltageSetting), ok, 9.0},
        {"temperature raw 56", 0x22254C, {56, 0}, output(&Config::getTemperatureSetting), ok, 0},
        {"temperature raw 31", 0x22254C, {31, 0}, output(&Config::getTemperatureSetting), ok, -25},
        {"temperature raw 61", 0x22254C, {61, 0}, output(&Config::getTemperatureSetting), ok, 5},
        {"temperature raw 30", 0x22254C, {30, 0}, output(&Config::getTemperatureSetting), range, 77},
        {"temperature raw 62", 0x22254C, {62, 0}, output(&Config::getTemperatureSetting), range, 77},
        {"temperature raw 0x011F", 0x22254C, {31, 1}, output(&Config::getTemperatureSetting), range, 77},
        {"flag word 2 is on", 0x2225A4, {2, 0}, output(&Config::getFlagSetting), ok, 1},
        {"flag word 0x0100 is on", 0x2225A4, {0, 1}, output(&Config::getFlagSetting), ok, 1},
        {"flag word 0 is off", 0x2225A4, {0, 0}, output(&Config::getFlagSetting), ok, 0},
    };
    for (const auto& c : cases) {
        unit().forceOutput(c.code, c.answer, 1);
        double value = 0;
        EXPECT_EQ(c.get(config(), value), c.result) << c.what;
        EXPECT_EQ(value, c.value) << c.what;
    }
}

// Every setter's request and bytes.
TEST_F(ConfigTest, SettersSendTheirWireEncoding)
{
    struct Case {
        const char* what;
        Call set;
        std::uint32_t code;
        sim::Bytes sent;
    };
    const Case cases[] = {
        {"selector1 3", [](Config& c) { return c.setSelector1(3); }, 0x222560, {3, 0}},
        {"selector1 1", [](Config& c) { return c.setSelector1(1); }, 0x222560, {1, 0}},
        {"selector2 0", [](Config& c) { return c.setSelector2(0); }, 0x222580, {0, 0}},
        {"selector3 2", [](Config& c) { return c.setSelector3(2); }, 0x222588, {2, 0}},
        {"selector4 1", [](Config& c) { return c.setSelector4(1); }, 0x222590, {1, 0}},
        {"long", [](Config& c) { return c.setLongSetting(0x84030201u); }, 0x2224C4, {0x01, 0x02, 0x03, 0x84}},
        {"paired word 2",
         [](Config& c) { return c.setPairedWord2(0xBEEF); },
         0x2224CC,
         {0x01, 0x00, 0xEF, 0xBE}},
        {"CAN power", [](Config& c) { return c.setCanPowerConfig(0x1234); }, 0x2224D4, {0x34, 0x12}},
        {"video power 15", [](Config& c) { return c.setVideoPowerConfig(15); }, 0x2224DC, {15, 0}},
        {"word", [](Config& c) { return c.setWordSetting(0xFFFF); }, 0x2224E4, {0xFF, 0xFF}},
        {"24 V sends 2482", [](Config& c) { return c.setVoltageSetting(24.0); }, 0x2224EC, {0xB2, 0x09}},
        {"9 V sends 930", [](Config& c) { return c.setVoltageSetting(9.0); }, 0x2224EC, {0xA2, 0x03}},
        {"28 V sends 2896", [](Config& c) { return c.setVoltageSetting(28.0); }, 0x2224EC, {0x50, 0x0B}},
        {"-25 degrees send 31", [](Config& c) { return c.setTemperatureSetting(-25); }, 0x222550, {31, 0}},
        {"5 degrees send 61", [](Config& c) { return c.setTemperatureSetting(5); }, 0x222550, {61, 0}},
        {"flag as given", [](Config& c) { return c.setFlagSetting(0x0107); }, 0x2225A8, {0x07, 0x01}},
    };
    for (const auto& c : cases) {
        const auto sent = capture(c.code);
        EXPECT_EQ(c.set(config()), ok) << c.what;
        EXPECT_EQ(*sent, c.sent) << c.what;
    }
}

TEST_F(ConfigTest, PairedWord1KeepsWord0OfItsRead)
{
    unit().forceOutput(0x2224B8, {0x34, 0x12, 0x05, 0x00}, 1);
    auto sent = capture(0x2224BC);
    ASSERT_EQ(config().setPairedWord1(7), ok);
    EXPECT_EQ(*sent, (sim::Bytes{0x34, 0x12, 0x07, 0x00}));

    // A read that fails stops the operation: nothing is written.
    const struct {
        const char* what;
        std::function<void(sim::Unit&)> fault;
        ResultCode result;
    } faults[] = {
        {"read fails", [](sim::Unit& u) { u.failRequest(0x2224B8, 1); },
         Varnholt::ERR_IOCTRL_OPERATION_FAILED},
        {"read short", [](sim::Unit& u) { u.forceReturned(0x2224B8, 2, 1); },
         Varnholt::ERR_BUFFER_SIZE_ERROR},
    };
    for (const auto& f : faults) {
        f.fault(unit());
        EXPECT_EQ(config().setPairedWord1(9), f.result) << f.what;
        EXPECT_EQ(unit().requestCount(0x2224BC), 1u) << f.what;
    }
}

// A refused argument is refused before any request.
TEST_F(ConfigTest, RefusedArgumentsSendNothing)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const struct {
        const char* what;
        Call set;
        std::uint32_t code;
    } cases[] = {
        {"selector1 0", [](Config& c) { return c.setSelector1(0); }, 0x222560},
        {"selector1 4", [](Config& c) { return c.setSelector1(4); }, 0x222560},
        {"selector2 3", [](Config& c) { return c.setSelector2(3); }, 0x222580},
        {"selector2 -1", [](Config& c) { return c.setSelector2(-1); }, 0x222580},
        {"selector3 3", [](Config& c) { return c.setSelector3(3); }, 0x222588},
        {"selector4 65536", [](Config& c) { return c.setSelector4(65536); }, 0x222590},
        {"video power 16", [](Config& c) { return c.setVideoPowerConfig(16); }, 0x2224DC},
        {"8.99 V", [](Config& c) { return c.setVoltageSetting(8.99); }, 0x2224EC},
        {"28.01 V", [](Config& c) { return c.setVoltageSetting(28.01); }, 0x2224EC},
        {"not a number of volts", [nan](Config& c) { return c.setVoltageSetting(nan); }, 0x2224EC},
        {"6 degrees", [](Config& c) { return c.setTemperatureSetting(6); }, 0x222550},
        {"-26 degrees", [](Config& c) { return c.setTemperatureSetting(-26); }, 0x222550},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.set(config()), Varnholt::ERR_INVALID_DATA_RANGE) << c.what;
        EXPECT_EQ(unit().requestCount(c.code), 0u) << c.what;
    }
}

// Every slot with what it needs. `call` passes a valid argument; `refused` an argument out of range
// (setters with one) or a null output (getters).
struct Slot {
    const char* name;
    ConfigNeed need;
    std::uint32_t code;
    Call call;
    Call refused;
};

// A getter: called with an output, and with none.
template <class T>
Slot getter(const char* name, ConfigNeed need, std::uint32_t code, ResultCode (Config::*get)(T*))
{
    return {name, need, code,
            [get](Config& c) {
                T value{};
                return (c.*get)(&value);
            },
            [get](Config& c) { return (c.*get)(nullptr); }};
}

// A setter: called with a valid value, and with one out of range where the setter has a range.
template <class T>
Slot setter(const char* name, ConfigNeed need, std::uint32_t code, ResultCode (Config::*set)(T), T valid,
            std::optional<T> outOfRange = std::nullopt)
{
    Call refused;
    if (outOfRange)
        refused = [set, bad = *outOfRange](Config& c) { return (c.*set)(bad); };
    return {name, need, code, [set, valid](Config& c) { return (c.*set)(valid); }, refused};
}

const std::vector<Slot>& slots()
{
    using N = ConfigNeed;
    using C = Config;
    static const std::vector<Slot> all = {
        getter("getSelector1", N::Supervisor100, 0x22255C, &C::getSelector1),
        getter("getSelector2", N::Supervisor100, 0x222564, &C::getSelector2),
        getter("getSelector3", N::Supervisor100, 0x222584, &C::getSelector3),
        getter("getSelector4", N::Supervisor100, 0x22258C, &C::getSelector4),
        getter("getPairedWord1", N::Nothing, 0x2224B8, &C::getPairedWord1),
        getter("getLongSetting", N::Nothing, 0x2224C0, &C::getLongSetting),
        getter("getPairedWord2", N::Nothing, 0x2224C8, &C::getPairedWord2),
        getter("getCanPowerConfig", N::Can, 0x2224D0, &C::getCanPowerConfig),
        getter("getVideoPowerConfig", N::Video, 0x2224D8, &C::getVideoPowerConfig),
        getter("getWordSetting", N::Nothing, 0x2224E0, &C::getWordSetting),
        getter("getVoltageSetting", N::Nothing, 0x2224E8, &C::getVoltageSetting),
        getter("getTemperatureSetting", N::Supervisor090, 0x22254C, &C::getTemperatureSetting),
        getter("getFlagSetting", N::Supervisor103, 0x2225A4, &C::getFlagSetting),
        setter("setSelector1", N::Supervisor100, 0x222560, &C::setSelector1, 2, {0}),
        setter("setSelector2", N::Supervisor100, 0x222580, &C::setSelector2, 1, {3}),
        setter("setSelector3", N::Supervisor100, 0x222588, &C::setSelector3, 1, {3}),
        setter("setSelector4", N::Supervisor100, 0x222590, &C::setSelector4, 1, {3}),
        // Its first request is the read of the record.
        setter<unsigned short>("setPairedWord1", N::Nothing, 0x2224B8, &C::setPairedWord1, 3),
        setter<unsigned>("setLongSetting", N::Nothing, 0x2224C4, &C::setLongSetting, 3),
        setter<unsigned short>("setPairedWord2", N::Nothing, 0x2224CC, &C::setPairedWord2, 3),
        setter<unsigned short>("setCanPowerConfig", N::Can, 0x2224D4, &C::setCanPowerConfig, 1),
        setter<unsigned char>("setVideoPowerConfig", N::Video, 0x2224DC, &C::setVideoPowerConfig, 5, {16}),
        setter<unsigned short>("setWordSetting", N::Nothing, 0x2224E4, &C::setWordSetting, 3),
        setter("setVoltageSetting", N::Nothing, 0x2224EC, &C::setVoltageSetting, 12.0, {30.0}),
        setter<short>("setTemperatureSetting", N::Supervisor090, 0x222550, &C::setTemperatureSetting, 0, {6}),
        setter<unsigned short>("setFlagSetting", N::Supervisor103, 0x2225A8, &C::setFlagSetting, 1),
    };
    return all;
}

TEST_F(ConfigTest, GatesFollowTheSupervisorVersion)
{
    ASSERT_EQ(slots().size(), 26u);
    const struct {
        std::vector<int> version;
        bool passes090, passes100, passes103;
    } versions[] = {
        {{0, 8, 99, 99}, false, false, false}, {{0, 9, 0, 0}, true, false, false},
        {{0, 10, 0, 0}, true, false, false},   {{1, 0, 2, 9}, true, true, false},
        {{1, 0, 3, 0}, true, true, true},      {{1, 0, 0, 200}, true, true, false},
    };
    for (const auto& v : versions) {
        supervisor(v.version);
        for (const Slot& slot : slots()) {
            const bool passes = slot.need == ConfigNeed::Supervisor090   ? v.passes090
                                : slot.need == ConfigNeed::Supervisor100 ? v.passes100
                                : slot.need == ConfigNeed::Supervisor103 ? v.passes103
                                                                         : true;
            const std::size_t before = unit().requestCount(slot.code);
            const std::string what = std::string(slot.name) + " on " + std::to_string(v.version[0]) + "." +
                                     std::to_string(v.version[1]) + "." + std::to_string(v.version[2]) + "." +
                                     std::to_string(v.version[3]);
            EXPECT_EQ(slot.call(config()), passes ? ok : Varnholt::ERR_NEWER_SS_REQUIRED) << what;
            EXPECT_EQ(unit().requestCount(slot.code), before + (passes ? 1 : 0)) << what;
            // The gate comes before the argument's range and the null test.
            if (!passes && slot.refused) {
                EXPECT_EQ(slot.refused(config()), Varnholt::ERR_NEWER_SS_REQUIRED) << what;
            }
        }
    }
}

TEST_F(ConfigTest, FeaturesComeFromTheUnitIdentityAtConstruction)
{
    setEeprom(unit(), "unit", lines({"PCB_SERIAL:12345", "CAN:0", "VIDEO:0", "DISPLAY:800x480"}));
    // The object in use keeps what it learnt when it was made.
    int value = 0;
    EXPECT_EQ(config().getCanPowerConfig(&value), ok);
    rebuild();
    supervisor({0, 0, 0, 0});
    for (const Slot& slot : slots()) {
        if (slot.need != ConfigNeed::Can && slot.need != ConfigNeed::Video)
            continue;
        const std::size_t before = unit().requestCount(slot.code);
        EXPECT_EQ(slot.call(config()), Varnholt::ERR_NOT_SUPPORTED) << slot.name;
        // The feature comes before the argument's range and the null test.
        if (slot.refused) {
            EXPECT_EQ(slot.refused(config()), Varnholt::ERR_NOT_SUPPORTED) << slot.name;
        }
        EXPECT_EQ(unit().requestCount(slot.code), before) << slot.name;
    }
    // The other settings go on; a feature has nothing to do with a firmware gate.
    unsigned short word = 0;
    EXPECT_EQ(config().getPairedWord1(&word), ok);
}

TEST_F(ConfigTest, TheOpenTestComesFirstAndIsNotRepeated)
{
    drop();
    stopUnit();
    obtain();
    startUnit(sim::defaultProfile());
    // The driver is there now, and the firmware too old for every gate: the object opened its driver
    // once, at construction, and answers ERR_OPEN_FAILED before anything else.
    supervisor({0, 0, 0, 0});
    for (const Slot& slot : slots()) {
        EXPECT_EQ(slot.call(config()), Varnholt::ERR_OPEN_FAILED) << slot.name;
        if (slot.refused) {
            EXPECT_EQ(slot.refused(config()), Varnholt::ERR_OPEN_FAILED) << slot.name;
        }
    }
    EXPECT_EQ(unit().requestCount(), 0u);
    // The next object made while the driver is there works.
    rebuild();
    supervisor({1, 3, 0, 0});
    for (const Slot& slot : slots())
        EXPECT_EQ(slot.call(config()), ok) << slot.name;
}

TEST_F(ConfigTest, NullOutputsAndDriverFaultsWriteNothing)
{
    for (const Slot& slot : slots()) {
        if (slot.name[0] != 'g')
            continue;
        EXPECT_EQ(slot.refused(config()), Varnholt::ERR_INVALID_PARAMETER_NULL) << slot.name;
        EXPECT_EQ(unit().requestCount(slot.code), 0u) << slot.name;
    }
    const struct {
        const char* what;
        std::function<void(sim::Unit&, std::uint32_t)> fault;
        ResultCode result;
    } faults[] = {
        {"fails", [](sim::Unit& u, std::uint32_t c) { u.failRequest(c, 1); },
         Varnholt::ERR_IOCTRL_OPERATION_FAILED},
        {"1 byte", [](sim::Unit& u, std::uint32_t c) { u.forceReturned(c, 1, 1); },
         Varnholt::ERR_BUFFER_SIZE_ERROR},
        {"5 bytes", [](sim::Unit& u, std::uint32_t c) { u.forceReturned(c, 5, 1); },
         Varnholt::ERR_BUFFER_SIZE_ERROR},
    };
    for (const Slot& slot : slots()) {
        for (const auto& f : faults) {
            f.fault(unit(), slot.code);
            EXPECT_EQ(slot.call(config()), f.result) << slot.name << ": " << f.what;
        }
    }
    double volts = 77.0;
    unit().forceReturned(0x2224E8, 1, 1);
    EXPECT_EQ(config().getVoltageSetting(&volts), Varnholt::ERR_BUFFER_SIZE_ERROR);
    EXPECT_EQ(volts, 77.0);
}

// What the library writes, the unit keeps as the supervisor means it, and gives back.
TEST_F(ConfigTest, SettingsRoundTripThroughTheUnit)
{
    ASSERT_EQ(config().setVoltageSetting(24.0), ok);
    ASSERT_EQ(config().setTemperatureSetting(-7), ok);
    ASSERT_EQ(config().setPairedWord1(0x4321), ok);
    ASSERT_EQ(config().setVideoPowerConfig(9), ok);
    const sim::Json kept = unit().snapshot()["config"];
    EXPECT_NEAR(kept["voltageSetting"].get<double>(), 23.9958984375, 1e-9);
    EXPECT_EQ(kept["temperatureSetting"], -7);
    EXPECT_EQ(kept["pairedWord1"], sim::Json::array({4660, 0x4321}));
    double volts = 0;
    short celsius = 0;
    unsigned short word = 0;
    unsigned char mask = 0;
    EXPECT_EQ(config().getVoltageSetting(&volts), ok);
    EXPECT_EQ(volts, configVoltsFromRaw(2482));
    EXPECT_EQ(config().getTemperatureSetting(&celsius), ok);
    EXPECT_EQ(celsius, -7);
    EXPECT_EQ(config().getPairedWord1(&word), ok);
    EXPECT_EQ(word, 0x4321);
    EXPECT_EQ(config().getVideoPowerConfig(&mask), ok);
    EXPECT_EQ(mask, 9);
}

TEST_F(ConfigTest, WrittenSettingsSurviveARestartOfTheUnit)
{
    const std::string path = sim::savedStatePath(root().path());
    sim::saveStateTo(unit(), path);
    ASSERT_EQ(config().setSelector1(3), ok);
    ASSERT_EQ(config().setLongSetting(123456789), ok);
    drop();
    startUnit(sim::withSavedState(sim::defaultProfile(), path));
    obtain();
    int selector = 0;
    unsigned int setting = 0;
    EXPECT_EQ(config().getSelector1(&selector), ok);
    EXPECT_EQ(selector, 3);
    EXPECT_EQ(config().getLongSetting(&setting), ok);
    EXPECT_EQ(setting, 123456789u);
}

// `pelmux sim` makes its unit save what it keeps before the first request can reach it.
TEST(ConfigPersistence, TheUnitIsPreparedBeforeItServes)
{
    TempRoot root;
    bool answeredEarly = true;
    sim::SimulatedUnit simulated(root.path(), sim::defaultProfile(), [&](sim::Unit&) {
        answeredEarly =
            sim::sendUnitCommand(root.path() + "/board.sock", R"({"cmd":"clear"})").value("ok", false);
    });
    EXPECT_FALSE(answeredEarly);
    EXPECT_TRUE(sim::sendUnitCommand(root.path() + "/board.sock", R"({"cmd":"clear"})").value("ok", false));
}

TEST_F(ConfigTest, CommandLineSetsAndGetsByName)
{
    struct Case {
        const char* arguments;
        int exitCode;
        const char* pointer; // a field of the JSON answer ("" when stdout stays empty)
        sim::Json expected;
    };
    const Case cases[] = {
        {"--json config set voltage 24", 0, "/value", configVoltsFromRaw(2482)},
        {"--json config get voltage", 0, "/value", configVoltsFromRaw(2482)},
        {"--json config set temperature -5", 0, "/value", -5},
        {"--json config get temperature", 0, "/value", -5},
        {"--json config set selector2 2", 0, "/value", 2},
        {"--json config set flag off", 0, "/value", false},
        {"--json config set video-power 0x0C", 0, "/value", 12},
        {"--json config set selector1 4", 1, "/result", 8},
        {"--json config set voltage 28.5", 1, "/result", 8},
        {"--json config list", 0, "/temperature/value", -5},
        {"config set selector1 two", 2, "", nullptr},
        {"config set word 65536", 2, "", nullptr},
        {"config get nothing", 2, "", nullptr},
        {"config set temperature 9", 1, "", nullptr},
    };
    for (const auto& c : cases) {
        const auto [code, output] = runTool(c.arguments);
        EXPECT_EQ(code, c.exitCode) << c.arguments << '\n' << output;
        if (*c.pointer == '\0') {
            EXPECT_EQ(output, "") << c.arguments;
            continue;
        }
        const sim::Json answer = sim::Json::parse(output, nullptr, false);
        ASSERT_FALSE(answer.is_discarded()) << c.arguments << '\n' << output;
        EXPECT_EQ(answer.value(sim::Json::json_pointer(c.pointer), sim::Json()), c.expected) << c.arguments;
    }
    EXPECT_EQ(unit().snapshot()["config"]["temperatureSetting"], -5);
    const auto [code, output] = runTool("config get voltage");
    EXPECT_EQ(code, 0);
    EXPECT_EQ(output, "24.00 V\n");
}

} // namespace PELMUX_FILE_SCOPE
} // namespace pelmux::test
