// Power: the supervisor's power outputs, state code and command; features, gate, re-open, CLI.
#include "ToolRun.h"
#include "VendorFixture.h"

#include "supervisor/Power_Imp.h"

#include <pelmux/Pelmux.h>

#include <climits>
#include <functional>

namespace pelmux::test {
namespace PELMUX_FILE_SCOPE {

using Varnholt::Power;
using Varnholt::ResultCode;
using Call = std::function<ResultCode(Power&)>;

constexpr ResultCode ok = Varnholt::ERR_SUCCESS;

// A power object of the test's own, released at the end.
class PowerTest : public SimTest {
protected:
    void SetUp() override
    {
        SimTest::SetUp();
        make();
    }
    void TearDown() override
    {
        if (power_ != nullptr)
            power_->release();
        SimTest::TearDown();
    }
    // A new object, built from the unit identity as it is now.
    void make()
    {
        if (power_ != nullptr)
            power_->release();
        power_ = GetPower();
        ASSERT_NE(power_, nullptr);
    }
    Power& power() { return *power_; }
    sim::Json state() { return unit().snapshot()["power"]; }

private:
    Power* power_ = nullptr;
};

enum class Needs { Nothing, Display, Can, Video, Gate };

// Every slot: a call with a valid argument, and one with a refused argument or a null output.
struct Slot {
    const char* name;
    Needs needs;
    std::uint32_t code;
    Call call;
    Call refused;
};

// A getter: called with an output, and with none.
template <class T>
Slot getter(const char* name, Needs needs, std::uint32_t code, ResultCode (Power::*get)(T*))
{
    return {name, needs, code,
            [get](Power& p) {
                T value{};
                return (p.*get)(&value);
            },
            [get](Power& p) { return (p.*get)(nullptr); }};
}

template <class T> Slot setter(const char* name, Needs needs, std::uint32_t code, ResultCode (Power::*set)(T))
{
    return {name, needs, code, [set](Power& p) { return (p.*set)(1); }, {}};
}

const std::vector<Slot>& slots()
{
    using P = Power;
    static const std::vector<Slot> all = {
        getter("getDisplayPowerStatus", Needs::Display, 0x222490, &P::getDisplayPowerStatus),
        getter("getCanPowerStatus", Needs::Can, 0x222498, &P::getCanPowerStatus),
        getter("getVideoPowerStatus", Needs::Video, 0x2224A0, &P::getVideoPowerStatus),
        getter("getAuxPowerStatus", Needs::Nothing, 0x2224A8, &P::getAuxPowerStatus),
        setter("setDisplayPowerStatus", Needs::Display, 0x222494, &P::setDisplayPowerStatus),
        setter("setCanPowerStatus", Needs::Can, 0x22249C, &P::setCanPowerStatus),
        {"setVideoPowerStatus", Needs::Video, 0x2224A4, [](Power& p) { return p.setVideoPowerStatus(15); },
         [](Power& p) { return p.setVideoPowerStatus(16); }},
        setter("setAuxPowerStatus", Needs::Nothing, 0x2224AC, &P::setAuxPowerStatus),
        getter("getPowerStateCode", Needs::Gate, 0x2224B0, &P::getPowerStateCode),
        {"sendPowerCommand", Needs::Nothing, 0x2224B4, [](Power& p) { return p.sendPowerCommand(); }, {}},
    };
    return all;
}

TEST_F(PowerTest, OnlyOneMeansOn)
{
    const struct {
        const char* what;
        ResultCode (Power::*set)(int);
        const char* key;
    } outputs[] = {
        {"display", &Power::setDisplayPowerStatus, "display"},
        {"CAN", &Power::setCanPowerStatus, "can"},
        {"aux", &Power::setAuxPowerStatus, "aux"},
    };
    const struct {
        int value;
        int sent;
    } values[] = {{1, 1}, {0, 0}, {2, 0}, {-1, 0}, {INT_MAX, 0}, {INT_MIN, 0}, {257, 0}};
    for (const auto& output : outputs) {
        for (const auto& v : values) {
            unit().update([&](sim::Json& s) { s["power"][output.key] = 0x55; });
            EXPECT_EQ((power().*output.set)(v.value), ok) << output.what << " " << v.value;
            EXPECT_EQ(state()[output.key], v.sent) << output.what << " " << v.value;
        }
    }
}

TEST_F(PowerTest, ReadsMapAnyNonZeroByteToOnAndPassTheRestUnchanged)
{
    const struct {
        ResultCode (Power::*get)(int*);
        const char* key;
    } outputs[] = {
        {&Power::getDisplayPowerStatus, "display"},
        {&Power::getCanPowerStatus, "can"},
        {&Power::getAuxPowerStatus, "aux"},
    };
    const struct {
        int byte;
        int status;
    } bytes[] = {{0, 0}, {1, 1}, {2, 1}, {0x80, 1}, {0xFF, 1}};
    for (const auto& output : outputs) {
        for (const auto& b : bytes) {
            unit().update([&](sim::Json& s) { s["power"][output.key] = b.byte; });
            int status = 77;
            EXPECT_EQ((power().*output.get)(&status), ok) << output.key << " " << b.byte;
            EXPECT_EQ(status, b.status) << output.key << " " << b.byte;
        }
    }
    unit().update([](sim::Json& s) { s["power"]["video"] = 0xA3; });
    unsigned char mask = 0;
    EXPECT_EQ(power().getVideoPowerStatus(&mask), ok);
    EXPECT_EQ(mask, 0xA3);
    EXPECT_EQ(power().setVideoPowerStatus(9), ok);
    EXPECT_EQ(state()["video"], 9);
}

TEST_F(PowerTest, StateCodeIsJudgedAndGated)
{
    const struct {
        std::vector<int> version;
        int byte;
        ResultCode result;
        int code;
    } cases[] = {
        {{1, 3, 0, 0}, 6, ok, 6},
        {{1, 3, 0, 0}, 0, ok, 0},
        {{1, 3, 0, 0}, 7, Varnholt::ERR_INVALID_DATA_RANGE, 77},
        {{1, 3, 0, 0}, 0xFF, Varnholt::ERR_INVALID_DATA_RANGE, 77},
        {{0, 9, 0, 0}, 3, ok, 3},
        {{0, 10, 0, 0}, 3, ok, 3},
        {{0, 8, 99, 99}, 3, Varnholt::ERR_NEWER_SS_REQUIRED, 77},
    };
    for (const auto& c : cases) {
        unit().update([&](sim::Json& s) {
            s["versions"]["supervisor"] = c.version;
            s["power"]["state"] = c.byte;
        });
        const std::size_t before = unit().requestCount(0x2224B0);
        int code = 77;
        EXPECT_EQ(power().getPowerStateCode(&code), c.result) << c.byte;
        EXPECT_EQ(code, c.code) << c.byte;
        EXPECT_EQ(unit().requestCount(0x2224B0),
                  before + (c.result == Varnholt::ERR_NEWER_SS_REQUIRED ? 0 : 1));
    }
    // The gate comes before the null test.
    EXPECT_EQ(power().getPowerStateCode(nullptr), Varnholt::ERR_NEWER_SS_REQUIRED);
}

TEST_F(PowerTest, TheCommandSendsZeroAndJudgesOnlyTheRequest)
{
    const struct {
        std::function<void(sim::Unit&)> fault;
        ResultCode result;
    } cases[] = {
        {{}, ok},
        {[](sim::Unit& u) { u.forceReturned(0x2224B4, 0, 1); }, ok},
        {[](sim::Unit& u) { u.forceReturned(0x2224B4, 9, 1); }, ok},
        {[](sim::Unit& u) { u.failRequest(0x2224B4, 1); }, Varnholt::ERR_IOCTRL_OPERATION_FAILED},
    };
    for (const auto& c : cases) {
        if (c.fault)
            c.fault(unit());
        EXPECT_EQ(power().sendPowerCommand(), c.result);
    }
    EXPECT_EQ(state()["commands"], 3);
    EXPECT_EQ(state()["lastCommand"], 0);
}

TEST_F(PowerTest, AbsentFeaturesAreRefusedBeforeTheArgumentAndTheRequest)
{
    const struct {
        const char* line;
        Needs absent;
    } units[] = {{"CAN:0", Needs::Can}, {"VIDEO:0", Needs::Video}, {"DISPLAY:none", Needs::Display}};
    for (const auto& u : units) {
        // The first line of a key counts: the absent feature's line comes first.
        setEeprom(unit(), "unit", lines({"PCB_SERIAL:12345", u.line, "CAN:2", "VIDEO:2", "DISPLAY:800x480"}));
        make();
        for (const Slot& slot : slots()) {
            const std::size_t before = unit().requestCount(slot.code);
            const ResultCode expected = slot.needs == u.absent ? Varnholt::ERR_NOT_SUPPORTED : ok;
            EXPECT_EQ(slot.call(power()), expected) << u.line << ": " << slot.name;
            if (slot.needs == u.absent && slot.refused) {
                EXPECT_EQ(slot.refused(power()), Varnholt::ERR_NOT_SUPPORTED) << u.line << ": " << slot.name;
            }
            EXPECT_EQ(unit().requestCount(slot.code), before + (expected == ok ? 1 : 0))
                << u.line << ": " << slot.name;
        }
    }
}

TEST_F(PowerTest, ThreeFeaturesAreLearntFromOneReadingOfTheIdentity)
{
    using platform::vendorOrdinal::boardOpen;
    const std::size_t start = vendorCalls(unit(), boardOpen);
    Power* another = GetPower();
    const std::size_t forPower = vendorCalls(unit(), boardOpen) - start;
    another->release();
    Varnholt::About* about = GetAbout();
    const std::size_t forAbout = vendorCalls(unit(), boardOpen) - start - forPower;
    about->release();
    EXPECT_GT(forAbout, 0u);
    // All three fields are in the unit EEPROM: one of About's two records.
    EXPECT_EQ(2 * forPower, forAbout);
}

TEST_F(PowerTest, RefusedArgumentsAndNullOutputsSendNothing)
{
    for (const Slot& slot : slots()) {
        if (!slot.refused)
            continue;
        const ResultCode expected =
            slot.code == 0x2224A4 ? Varnholt::ERR_INVALID_DATA_RANGE : Varnholt::ERR_INVALID_PARAMETER_NULL;
        EXPECT_EQ(slot.refused(power()), expected) << slot.name;
        EXPECT_EQ(unit().requestCount(slot.code), 0u) << slot.name;
    }
    EXPECT_EQ(power().setVideoPowerStatus(255), Varnholt::ERR_INVALID_DATA_RANGE);
    EXPECT_EQ(unit().requestCount(0x2224A4), 0u);
}

TEST_F(PowerTest, DriverFaultsGiveTheirCodesAndWriteNothing)
{
    const struct {
        const char* what;
        std::function<void(sim::Unit&, std::uint32_t)> fault;
        ResultCode result;
    } faults[] = {
        {"fails", [](sim::Unit& u, std::uint32_t c) { u.failRequest(c, 1); },
         Varnholt::ERR_IOCTRL_OPERATION_FAILED},
        {"0 bytes", [](sim::Unit& u, std::uint32_t c) { u.forceReturned(c, 0, 1); },
         Varnholt::ERR_BUFFER_SIZE_ERROR},
        {"2 bytes", [](sim::Unit& u, std::uint32_t c) { u.forceReturned(c, 2, 1); },
         Varnholt::ERR_BUFFER_SIZE_ERROR},
    };
    for (const Slot& slot : slots()) {
        if (slot.code == 0x2224B4)
            continue; // the command's count is not judged
        for (const auto& f : faults) {
            f.fault(unit(), slot.code);
            EXPECT_EQ(slot.call(power()), f.result) << slot.name << ": " << f.what;
        }
    }
    int status = 77;
    unit().forceReturned(0x222490, 0, 1);
    EXPECT_EQ(power().getDisplayPowerStatus(&status), Varnholt::ERR_BUFFER_SIZE_ERROR);
    EXPECT_EQ(status, 77);
}

TEST_F(PowerTest, EveryOperationOpensTheDriverWhileItIsClosed)
{
    // Made while the unit lacks CAN, so that an absent feature would show if it came first.
    setEeprom(unit(), "unit", lines({"PCB_SERIAL:12345", "CAN:0", "VIDEO:0", "DISPLAY:0"}));
    make();
    stopUnit();
    for (const Slot& slot : slots()) {
        EXPECT_EQ(slot.call(power()), Varnholt::ERR_OPEN_FAILED) << slot.name;
        if (slot.refused) {
            EXPECT_EQ(slot.refused(power()), Varnholt::ERR_OPEN_FAILED) << slot.name;
        }
    }
    startUnit(sim::defaultProfile());
    int status = 0;
    EXPECT_EQ(power().getAuxPowerStatus(&status), ok);
    EXPECT_EQ(power().getCanPowerStatus(&status), Varnholt::ERR_NOT_SUPPORTED);
    EXPECT_EQ(unit().requestCount(0x2224A8), 1u);
}

TEST_F(PowerTest, CommandLineSwitchesAndShows)
{
    struct Case {
        const char* arguments;
        int exitCode;        // -1: any failure of the command line's own checks
        const char* pointer; // a field of the JSON answer ("" when stdout stays empty)
        sim::Json expected;
    };
    const Case cases[] = {
        {"--json power aux on", 0, "/on", true}, {"--json power display off", 0, "/result", 0},
        {"--json power video 5", 0, "/mask", 5}, {"--json power", 0, "/aux/on", true},
        {"--json power", 0, "/state/code", 2},   {"--json power command", 0, "/result", 0},
        {"power video 16", 2, "", nullptr},      {"power can maybe", -1, "", nullptr},
    };
    for (const auto& c : cases) {
        const auto [code, output] = runTool(c.arguments);
        if (c.exitCode == -1)
            EXPECT_NE(code, 0) << c.arguments;
        else
            EXPECT_EQ(code, c.exitCode) << c.arguments << '\n' << output;
        if (*c.pointer == '\0') {
            EXPECT_EQ(output, "") << c.arguments;
            continue;
        }
        const sim::Json answer = sim::Json::parse(output, nullptr, false);
        ASSERT_FALSE(answer.is_discarded()) << c.arguments << '\n' << output;
        EXPECT_EQ(answer.value(sim::Json::json_pointer(c.pointer), sim::Json()), c.expected) << c.arguments;
    }
    EXPECT_EQ(state()["aux"], 1);
    EXPECT_EQ(state()["display"], 0);
    EXPECT_EQ(state()["video"], 5);
    EXPECT_EQ(state()["commands"], 1);
    unit().failRequest(0x2224AC);
    const auto [code, output] = runTool("power aux off");
    EXPECT_EQ(code, 1);
    EXPECT_EQ(output, "");
}

} // namespace PELMUX_FILE_SCOPE
} // namespace pelmux::test
