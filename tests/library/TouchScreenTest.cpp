#include "SimFixture.h"

#include <pelmux/Pelmux.h>

#include <functional>
#include <string>
#include <vector>

namespace pelmux::test {
namespace PELMUX_FILE_SCOPE {

using Varnholt::ResultCode;
using Varnholt::TouchScreen;

constexpr std::uint32_t modeRead = 0x222554;
constexpr std::uint32_t modeWrite = 0x222558;
constexpr std::uint32_t valueRead = 0x2225A0;
constexpr std::uint32_t valueWrite = 0x222594;
constexpr std::uint32_t parameterRead = 0x2225B8;
constexpr std::uint32_t parameterWrite = 0x2225BC;
constexpr std::uint32_t touchCodes[] = {modeRead,   modeWrite,     valueRead,
                                        valueWrite, parameterRead, parameterWrite};
const char* const driverName = "\\\\.\\PelmuxDrv";

// The default unit with identity lines replaced (or added, or removed with an empty value).
sim::Json profileWithIdentity(const std::vector<std::pair<std::string, std::string>>& lines)
{
    sim::Json profile = sim::defaultProfile();
    std::string text = profile["eeproms"]["unit"].get<std::string>();
    for (const auto& [key, value] : lines) {
        const auto at = text.find(key + ":");
        if (at != std::string::npos)
            text.erase(at, text.find('\n', at) + 1 - at);
        if (!value.empty())
            text += key + ":" + value + "\n";
    }
    profile["eeproms"]["unit"] = text;
    return profile;
}

class TouchScreenTest : public SimTest {
protected:
    void setFront(std::vector<int> version)
    {
        unit().update([&](sim::Json& s) { s["versions"]["front"] = version; });
    }
    int parameter(const std::string& code)
    {
        return unit().snapshot()["touch"]["parameters"][code].get<int>();
    }
    std::size_t touchRequests()
    {
        std::size_t total = 0;
        for (const auto code : touchCodes)
            total += unit().requestCount(code);
        return total;
    }
    // Builds the object while the driver cannot be opened; the unit answers again afterwards, so
    // that the firmware gates (which open the driver themselves) can read the front version.
    TouchScreen* closedTouchScreen()
    {
        unit().addEndpoint(driverName, [](const sim::Json&) { return false; });
        TouchScreen* touch = GetTouchScreen();
        unit().addEndpoint(driverName);
        return touch;
    }
};

// Every index reaches its own controller code with its own value rule, and reads back in the units
// it was given in. Indices 6 and 7 are out of code order.
TEST_F(TouchScreenTest, ParametersReachTheirCodesWithTheirValueRules)
{
    struct Case {
        std::int32_t index;
        std::uint16_t value;
        const char* code;
        int stored;
        std::uint16_t readBack;
    };
    const Case cases[] = {
        {0, 65535, "4", 65535, 65535},
        {1, 4095, "5", 4095, 4095},
        {2, 0, "6", 0, 0},
        {3, 1000, "7", 4000, 1000},
        {4, 16383, "8", 65532, 16383},
        {5, 1, "9", 4, 1},
        {6, 12, "11", 48, 12},
        {7, 32767, "10", 32767, 32767},
        {8, 7, "12", 1, 1},
        {8, 0, "12", 0, 0},
        {9, 32767, "13", 32767, 32767},
        {10, 40000, "14", 40000, 40000},
        {11, 513, "19", 513, 513},
    };
    TouchScreen* touch = GetTouchScreen();
    ASSERT_NE(touch, nullptr);
    for (const auto& c : cases) {
        EXPECT_EQ(touch->setTouchParameter(c.index, c.value), Varnholt::ERR_SUCCESS) << c.index;
        EXPECT_EQ(parameter(c.code), c.stored) << c.index;
        std::uint16_t value = 0xEEEE;
        EXPECT_EQ(touch->getTouchParameter(c.index, &value), Varnholt::ERR_SUCCESS) << c.index;
        EXPECT_EQ(value, c.readBack) << c.index;
    }
    touch->release();
}

TEST_F(TouchScreenTest, ValuesOutsideTheRangeAndUnknownIndicesSendNothing)
{
    const std::pair<std::int32_t, std::uint16_t> refused[] = {
        {1, 4096},  {2, 4096},  {3, 16384}, {4, 65535}, {5, 16384}, {6, 16384},
        {7, 32768}, {9, 32768}, {12, 0},    {-1, 0},    {255, 1},
    };
    TouchScreen* touch = GetTouchScreen();
    for (const auto& [index, value] : refused) {
        EXPECT_EQ(touch->setTouchParameter(index, value), Varnholt::ERR_INVALID_DATA_RANGE) << index;
        std::uint16_t read = 0xEEEE;
        if (index < 0 || index > 11) {
            EXPECT_EQ(touch->getTouchParameter(index, &read), Varnholt::ERR_INVALID_DATA_RANGE) << index;
            EXPECT_EQ(read, 0xEEEE);
        }
    }
    EXPECT_EQ(touchRequests(), 0u);
    touch->release();
}

TEST_F(TouchScreenTest, ModeSendsItsTwoLowBitsAndReadsOnlyKnownModes)
{
    TouchScreen* touch = GetTouchScreen();
    const std::pair<unsigned char, int> sent[] = {{6, 2}, {3, 3}, {0, 0}, {0xFF, 3}, {5, 1}};
    for (const auto& [mode, expected] : sent) {
        EXPECT_EQ(touch->setTouchMode(mode), Varnholt::ERR_SUCCESS) << int(mode);
        EXPECT_EQ(unit().snapshot()["touch"]["mode"], expected) << int(mode);
    }
    const std::pair<int, ResultCode> answers[] = {{0, Varnholt::ERR_SUCCESS},
                                                  {3, Varnholt::ERR_SUCCESS},
                                                  {4, Varnholt::ERR_INVALID_DATA_RANGE},
                                                  {255, Varnholt::ERR_INVALID_DATA_RANGE}};
    for (const auto& [byte, expected] : answers) {
        unit().update([&](sim::Json& s) { s["touch"]["mode"] = byte; });
        std::int32_t mode = -7;
        EXPECT_EQ(touch->getTouchMode(&mode), expected) << byte;
        EXPECT_EQ(mode, expected == Varnholt::ERR_SUCCESS ? byte : -7) << byte;
    }
    EXPECT_EQ(touch->setTouchValue(0xBEEF), Varnholt::ERR_SUCCESS);
    std::uint16_t value = 0;
    EXPECT_EQ(touch->getTouchValue(&value), Varnholt::ERR_SUCCESS);
    EXPECT_EQ(value, 0xBEEF);
    touch->release();
}

// Slots 0 to 3 need front firmware 0.5; parameter 0 too, every other parameter 1.0. The gate comes
// before the index test.
TEST_F(TouchScreenTest, FrontFirmwareGates)
{
    struct Case {
        std::vector<int> front;
        bool settings; // slots 0 to 3 pass
        bool first;    // parameter 0 passes
        bool others;   // parameters 1 to 11 pass
    };
    const Case cases[] = {
        {{0, 4, 99, 99}, false, false, false}, {{0, 5, 0, 0}, true, true, false},
        {{0, 9, 0, 0}, true, true, false},     {{0, 99, 99, 99}, true, true, false},
        {{1, 0, 0, 0}, true, true, true},      {{0, 100, 0, 0}, true, true, true},
    };
    const auto expect = [](bool pass) {
        return pass ? Varnholt::ERR_SUCCESS : Varnholt::ERR_NEWER_FRONT_UC_REQUIRED;
    };
    for (const auto& c : cases) {
        setFront(c.front);
        TouchScreen* touch = GetTouchScreen();
        std::int32_t mode = 0;
        std::uint16_t value = 0;
        const std::string at = "front " + sim::Json(c.front).dump();
        EXPECT_EQ(touch->getTouchMode(&mode), expect(c.settings)) << at;
        EXPECT_EQ(touch->getTouchValue(&value), expect(c.settings)) << at;
        EXPECT_EQ(touch->setTouchMode(1), expect(c.settings)) << at;
        EXPECT_EQ(touch->setTouchValue(1), expect(c.settings)) << at;
        EXPECT_EQ(touch->setTouchParameter(0, 1), expect(c.first)) << at;
        EXPECT_EQ(touch->getTouchParameter(0, &value), expect(c.first)) << at;
        EXPECT_EQ(touch->setTouchParameter(1, 1), expect(c.others)) << at;
        EXPECT_EQ(touch->getTouchParameter(11, &value), expect(c.others)) << at;
        EXPECT_EQ(touch->setTouchParameter(12, 1),
                  c.others ? Varnholt::ERR_INVALID_DATA_RANGE : Varnholt::ERR_NEWER_FRONT_UC_REQUIRED)
            << at;
        EXPECT_EQ(touch->setTouchParameter(3, 16384),
                  c.others ? Varnholt::ERR_INVALID_DATA_RANGE : Varnholt::ERR_NEWER_FRONT_UC_REQUIRED)
            << at;
        touch->release();
    }
}

// A unit without a display, or whose touch field is not exactly 1, has no touch screen; a field
// that cannot be read counts as present.
TEST_F(TouchScreenTest, FeatureProbe)
{
    struct Case {
        std::vector<std::pair<std::string, std::string>> identity;
        bool present;
    };
    const Case cases[] = {
        {{{"TOUCH", "0"}}, false},
        {{{"TOUCH", "2"}}, false},
        {{{"DISPLAY", "0"}}, false},
        {{{"DISPLAY", "800X480"}}, false},
        {{{"DISPLAY", "1024x768"}, {"TOUCH", "1"}}, true},
        {{{"TOUCH", ""}}, true},
        {{{"DISPLAY", ""}, {"TOUCH", "0"}}, false},
    };
    for (const auto& c : cases) {
        startUnit(profileWithIdentity(c.identity));
        TouchScreen* touch = GetTouchScreen();
        const ResultCode expected = c.present ? Varnholt::ERR_SUCCESS : Varnholt::ERR_NOT_SUPPORTED;
        std::int32_t mode = 0;
        std::uint16_t value = 0;
        const std::string at = sim::Json(c.identity).dump();
        EXPECT_EQ(touch->getTouchMode(&mode), expected) << at;
        EXPECT_EQ(touch->getTouchValue(&value), expected) << at;
        EXPECT_EQ(touch->setTouchMode(1), expected) << at;
        EXPECT_EQ(touch->setTouchValue(1), expected) << at;
        EXPECT_EQ(touch->setTouchParameter(1, 1), expected) << at;
        EXPECT_EQ(touch->getTouchParameter(1, &value), expected) << at;
        // The feature test comes before the gate: nothing reads the front version either.
        if (!c.present) {
            EXPECT_EQ(unit().requestCount(0x2224F8) + touchRequests(), 0u) << at;
        }
        touch->release();
    }
}

// Slots 0-3: open, feature, gate. Parameters: feature, gate, index, value, open.
TEST_F(TouchScreenTest, OrderOfChecks)
{
    TouchScreen* touch = closedTouchScreen();
    std::int32_t mode = 0;
    std::uint16_t value = 0;
    setFront({0, 1, 0, 0});
    EXPECT_EQ(touch->getTouchMode(&mode), Varnholt::ERR_OPEN_FAILED);
    EXPECT_EQ(touch->setTouchValue(1), Varnholt::ERR_OPEN_FAILED);
    EXPECT_EQ(touch->setTouchParameter(0, 1), Varnholt::ERR_NEWER_FRONT_UC_REQUIRED);
    setFront({1, 0, 0, 0});
    EXPECT_EQ(touch->setTouchParameter(12, 1), Varnholt::ERR_INVALID_DATA_RANGE);
    EXPECT_EQ(touch->setTouchParameter(3, 16384), Varnholt::ERR_INVALID_DATA_RANGE);
    EXPECT_EQ(touch->setTouchParameter(3, 1000), Varnholt::ERR_OPEN_FAILED);
    EXPECT_EQ(touch->getTouchParameter(3, &value), Varnholt::ERR_OPEN_FAILED);
    EXPECT_EQ(touch->getTouchParameter(3, nullptr), Varnholt::ERR_OPEN_FAILED);
    touch->release();

    // Without a touch screen and without a driver: the open test leads slots 0 to 3 only.
    startUnit(profileWithIdentity({{"TOUCH", "0"}}));
    touch = closedTouchScreen();
    EXPECT_EQ(touch->setTouchMode(1), Varnholt::ERR_OPEN_FAILED);
    EXPECT_EQ(touch->setTouchParameter(1, 1), Varnholt::ERR_NOT_SUPPORTED);
    EXPECT_EQ(touch->getTouchParameter(1, &value), Varnholt::ERR_NOT_SUPPORTED);
    touch->release();

    // A null output is refused after the gate, before any request.
    startUnit(sim::defaultProfile());
    touch = GetTouchScreen();
    EXPECT_EQ(touch->getTouchMode(nullptr), Varnholt::ERR_INVALID_PARAMETER_NULL);
    EXPECT_EQ(touch->getTouchValue(nullptr), Varnholt::ERR_INVALID_PARAMETER_NULL);
    EXPECT_EQ(touch->getTouchParameter(2, nullptr), Varnholt::ERR_INVALID_PARAMETER_NULL);
    EXPECT_EQ(touchRequests(), 0u);
    setFront({0, 4, 0, 0});
    EXPECT_EQ(touch->getTouchMode(nullptr), Varnholt::ERR_NEWER_FRONT_UC_REQUIRED);
    touch->release();
}

TEST_F(TouchScreenTest, DriverFaultsGiveTheirCodesAndLeaveOutputsUntouched)
{
    struct Case {
        const char* what;
        std::uint32_t code;
        std::function<ResultCode(TouchScreen&, std::uint16_t&)> call;
        bool countJudged;
    };
    const Case cases[] = {
        {"getTouchMode", modeRead,
         [](TouchScreen& t, std::uint16_t& out) {
             std::int32_t mode = out;
             const ResultCode r = t.getTouchMode(&mode);
             out = static_cast<std::uint16_t>(mode);
             return r;
         },
         true},
        {"getTouchValue", valueRead, [](TouchScreen& t, std::uint16_t& out) { return t.getTouchValue(&out); },
         true},
        {"setTouchMode", modeWrite, [](TouchScreen& t, std::uint16_t&) { return t.setTouchMode(1); }, true},
        {"setTouchValue", valueWrite, [](TouchScreen& t, std::uint16_t&) { return t.setTouchValue(9); },
         true},
        {"getTouchParameter", parameterRead,
         [](TouchScreen& t, std::uint16_t& out) { return t.getTouchParameter(4, &out); }, true},
        {"setTouchParameter", parameterWrite,
         [](TouchScreen& t, std::uint16_t&) { return t.setTouchParameter(4, 9); }, false},
    };
    TouchScreen* touch = GetTouchScreen();
    for (const auto& c : cases) {
        const std::uint16_t untouched = 0xEEEE;
        std::uint16_t out = untouched;
        unit().failRequest(c.code, 1);
        EXPECT_EQ(c.call(*touch, out), Varnholt::ERR_IOCTRL_OPERATION_FAILED) << c.what;
        EXPECT_EQ(out, untouched) << c.what;
        unit().forceReturned(c.code, 3, 1);
        EXPECT_EQ(c.call(*touch, out),
                  c.countJudged ? Varnholt::ERR_BUFFER_SIZE_ERROR : Varnholt::ERR_SUCCESS)
            << c.what;
        EXPECT_EQ(out, untouched) << c.what;
    }
    touch->release();
}

TEST_F(TouchScreenTest, DriverAbsent)
{
    stopUnit();
    TouchScreen* touch = GetTouchScreen();
    ASSERT_NE(touch, nullptr);
    std::int32_t mode = 0;
    EXPECT_EQ(touch->getTouchMode(&mode), Varnholt::ERR_OPEN_FAILED);
    // The gate cannot read the front version without the driver either.
    EXPECT_EQ(touch->setTouchParameter(0, 1), Varnholt::ERR_NEWER_FRONT_UC_REQUIRED);
    touch->release();
}

} // namespace PELMUX_FILE_SCOPE
} // namespace pelmux::test
