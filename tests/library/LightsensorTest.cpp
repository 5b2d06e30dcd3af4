// The ambient light sensor: the lux of its raw bytes, the range requests, the averaging windows,
// the averaging thread against the simulated sensor, and `pelmux light` / `pelmux sim set`.
#include "ToolRun.h"
#include "VendorFixture.h"

#include "display/Lightsensor_Imp.h"
#include "frame/Trace.h"

#include <pelmux/Pelmux.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <mutex>
#include <sys/wait.h>
#include <thread>

namespace pelmux::test {
namespace PELMUX_FILE_SCOPE {

using Varnholt::Lightsensor;
using Varnholt::ResultCode;

constexpr std::uint16_t untouchedLux = 0xBEEF;
constexpr unsigned char untouchedRaw = 0x11;

// Collects every trace text while it lives.
class TraceCapture {
public:
    TraceCapture()
    {
        previous_ = setTraceSink([this](std::string_view text) {
            std::lock_guard lock(mutex_);
            texts_.emplace_back(text);
        });
    }
    ~TraceCapture() { setTraceSink(std::move(previous_)); }

    std::vector<std::string> texts()
    {
        std::lock_guard lock(mutex_);
        return texts_;
    }
    std::size_t count(const std::string& text)
    {
        const auto all = texts();
        return static_cast<std::size_t>(std::count(all.begin(), all.end(), text));
    }

private:
    std::mutex mutex_;
    std::vector<std::string> texts_;
    TraceSink previous_;
};

// Polls `done` for up to 5 s of real time.
bool eventually(const std::function<bool()>& done)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (std::chrono::steady_clock::now() < deadline) {
        if (done())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return done();
}

class LightsensorTest : public SimTest {
protected:
    void setSensor(const char* key, const sim::Json& value)
    {
        unit().update([&](sim::Json& s) { s["lightSensor"][key] = value; });
    }
    int simRange() { return unit().snapshot()["lightSensor"]["range"].get<int>(); }

    // The average once it satisfies `good`, or 0 when it does not within 5 s.
    std::uint16_t averageOnceItReads(Lightsensor* sensor, const std::function<bool(std::uint16_t)>& good)
    {
        std::uint16_t lux = 0;
        const bool reached = eventually(
            [&] { return sensor->getAverageIlluminance(&lux) == Varnholt::ERR_SUCCESS && good(lux); });
        return reached ? lux : 0;
    }
};

class AveragingTest : public LightsensorTest {
protected:
    void SetUp() override
    {
        LightsensorTest::SetUp();
        // 80 sleeps of 10 ms become 8 ms a sample: fast, without spinning.
        platform::setTimeScale(0.01);
    }
};

// ---------------------------------------------------------------- the arithmetic

TEST(LightArithmetic, RingsHoldOneSlotMoreThanTheWindow)
{
    const auto ring = LuxRing::make(3);
    ASSERT_NE(ring, nullptr);
    EXPECT_EQ(ring->brightnessInLux, std::vector<std::uint32_t>(4, 0));
    // Windows whose block (16 + 4 n bytes) reaches 2 GiB are refused, the largest one too, whose
    // size n + 1 would wrap to 0 in 32 bits.
    EXPECT_EQ(LuxRing::make(0x1FFFFFFC), nullptr);
    EXPECT_EQ(LuxRing::make(0xFFFFFFFF), nullptr);
}

struct RangeCase {
    std::uint8_t channel1;
    std::int32_t range;
    std::int32_t mode;
    RangeAction action;
};

TEST(LightArithmetic, RangeActionsFollowChannelOneRangeAndMode)
{
    using Varnholt::RANGE_EXTENDED;
    using Varnholt::RANGE_STANDARD;
    const RangeCase cases[] = {
        {0xFF, RANGE_STANDARD, 2, RangeAction::SwitchExtended},
        {0xFF, RANGE_EXTENDED, 2, RangeAction::Saturated},
        {0xFF, RANGE_STANDARD, 0, RangeAction::Saturated},
        {0xFF, RANGE_STANDARD, 1, RangeAction::Saturated},
        {0xFF, RANGE_STANDARD, 7, RangeAction::Saturated},
        {0xFE, RANGE_STANDARD, 2, RangeAction::Keep},
        {0xD4, RANGE_EXTENDED, 2, RangeAction::SwitchStandard}, // count 639
        {0x80, RANGE_EXTENDED, 2, RangeAction::SwitchStandard},
        {0xD5, RANGE_EXTENDED, 2, RangeAction::Keep}, // count 671
        {0xD4, RANGE_STANDARD, 2, RangeAction::Keep},
        {0xD4, RANGE_EXTENDED, 1, RangeAction::Keep},
    };
    for (const auto& c : cases)
        EXPECT_EQ(rangeActionFor(c.channel1, c.range, c.mode), c.action)
            << std::hex << int(c.channel1) << " range " << c.range << " mode " << c.mode;
}

struct WindowCase {
    const char* what;
    std::uint32_t averageWndSize;
    std::uint32_t rejectWndSize;
    std::uint32_t rejectDeltaInLux;
    std::vector<std::uint32_t> samples;
    std::uint32_t average;
    std::size_t rejected;
};

TEST(LightArithmetic, WindowsAverageAndRejectSamples)
{
    const WindowCase cases[] = {
        {"the first sample fills the window", 3, 1, 50, {100, 100, 100, 400}, 200, 0},
        {"one sample alone", 5, 0, 50, {250}, 250, 0},
        {"the oldest leaves the window", 2, 1, 1, {100, 200, 300, 400}, 350, 0},
        {"a window of one", 1, 1, 50, {10, 20, 30}, 30, 0},
        {"a spread beyond the delta is rejected", 3, 3, 50, {100, 100, 200, 200, 200}, 133, 2},
        {"a spread of exactly the delta is kept", 2, 2, 50, {100, 150}, 125, 0},
        {"a rejected sample stays in the reject window", 2, 2, 10, {100, 105, 200, 105}, 102, 2},
        {"min and max are unsigned", 1, 2, 60000, {0, 65535, 0}, 0, 2},
        {"the sum of a long window does not wrap", 70000, 1, 50, {65535, 65535}, 65535, 0},
    };
    for (const auto& c : cases) {
        TraceCapture traces;
        CtrlData data;
        data.averageWndSize = c.averageWndSize;
        data.rejectWndSize = c.rejectWndSize;
        data.rejectDeltaInLux = c.rejectDeltaInLux;
        if (c.rejectWndSize > 1)
            data.pReject = LuxRing::make(c.rejectWndSize);
        data.pAverage = LuxRing::make(c.averageWndSize);
        for (const std::uint32_t lux : c.samples)
            ASSERT_EQ(addSample(data, lux), 0u) << c.what;
        EXPECT_EQ(data.average, c.average) << c.what;
        EXPECT_EQ(traces.count("Sample rejected\n"), c.rejected) << c.what;
        EXPECT_EQ(traces.count("First sample\n"), 1u) << c.what;
    }
    // A record without an averaging window ends the thread.
    TraceCapture traces;
    CtrlData data;
    data.pAverage = LuxRing::make(0);
    EXPECT_EQ(addSample(data, 80), 8u);
    EXPECT_EQ(traces.texts().back(), "Error sCtrlData.averageWndSize = 0\n");
}

// ---------------------------------------------------------------- one measurement

struct LuxCase {
    std::uint8_t channel1;
    std::uint8_t channel2;
    int range;
    ResultCode result;
    std::uint16_t lux;
};

TEST_F(LightsensorTest, RawBytesGiveTheirLuxInBothRanges)
{
    const LuxCase cases[] = {
        {0x80, 0x80, 0, Varnholt::ERR_SUCCESS, 0},
        {0x80, 0x80, 1, Varnholt::ERR_SUCCESS, 0},
        {0xDA, 0xBC, 0, Varnholt::ERR_SUCCESS, 236},
        {0xDA, 0xBC, 1, Varnholt::ERR_SUCCESS, 1180},
        {0xFF, 0x80, 0, Varnholt::ERR_SUCCESS, 1565},
        {0xFF, 0x80, 1, Varnholt::ERR_SUCCESS, 7825},
        {0xFF, 0xF0, 0, Varnholt::ERR_SUCCESS, 1565}, // saturated: the range's largest, not less
        {0xFF, 0xFF, 1, Varnholt::ERR_SUCCESS, 7825},
        {0xE0, 0xC0, 0, Varnholt::ERR_SUCCESS, 303},
        {0xBC, 0xDA, 0, Varnholt::ERR_SUCCESS, 0}, // channel 2 above channel 1
        {0xDA, 0xDA, 0, Varnholt::ERR_SUCCESS, 0},
        {0x81, 0x80, 0, Varnholt::ERR_SUCCESS, 0}, // 0.39 truncated
        {0x83, 0x80, 1, Varnholt::ERR_SUCCESS, 5}, // 1 lux, scaled after truncation
        {0x7F, 0x80, 0, Varnholt::ERR_INVALID_DATA_RANGE, untouchedLux},
        {0x80, 0x7F, 0, Varnholt::ERR_INVALID_DATA_RANGE, untouchedLux},
        {0x00, 0x00, 1, Varnholt::ERR_INVALID_DATA_RANGE, untouchedLux},
    };
    Lightsensor* sensor = GetLightsensor();
    for (const auto& c : cases) {
        unit().forceOutput(lightMeasureRequest, {c.channel1, c.channel2}, 1);
        setSensor("range", c.range);
        std::uint16_t lux = untouchedLux;
        unsigned char raw1 = untouchedRaw;
        unsigned char raw2 = untouchedRaw;
        const std::string what = std::to_string(c.channel1) + "/" + std::to_string(c.channel2) + " range " +
                                 std::to_string(c.range);
        EXPECT_EQ(sensor->getIlluminanceChannels(&lux, &raw1, &raw2), c.result) << what;
        EXPECT_EQ(lux, c.lux) << what;
        const bool stored = c.result == Varnholt::ERR_SUCCESS;
        EXPECT_EQ(raw1, stored ? c.channel1 : untouchedRaw) << what;
        EXPECT_EQ(raw2, stored ? c.channel2 : untouchedRaw) << what;

        // Slot 1 measures the same way.
        unit().forceOutput(lightMeasureRequest, {c.channel1, c.channel2}, 1);
        std::uint16_t alone = untouchedLux;
        EXPECT_EQ(sensor->getIlluminance(&alone), c.result) << what;
        EXPECT_EQ(alone, c.lux) << what;
    }
    sensor->release();
}

struct FaultCase {
    const char* what;
    std::function<void(sim::Unit&)> inject;
    ResultCode result;
    bool stored; // lux (unscaled) and raw bytes written in spite of the result
};

TEST_F(LightsensorTest, DriverFaultsGiveTheirCodes)
{
    const FaultCase cases[] = {
        {"measurement fails", [](sim::Unit& u) { u.failRequest(lightMeasureRequest, 1); },
         Varnholt::ERR_IOCTRL_OPERATION_FAILED, false},
        {"measurement gives 1 byte", [](sim::Unit& u) { u.forceOutput(lightMeasureRequest, {0xDA}, 1); },
         Varnholt::ERR_BUFFER_SIZE_ERROR, false},
        {"measurement reports 3 bytes", [](sim::Unit& u) { u.forceReturned(lightMeasureRequest, 3, 1); },
         Varnholt::ERR_BUFFER_SIZE_ERROR, false},
        {"range read fails", [](sim::Unit& u) { u.failRequest(lightGetRangeRequest, 1); },
         Varnholt::ERR_IOCTRL_OPERATION_FAILED, true},
        {"range read gives nothing", [](sim::Unit& u) { u.forceReturned(lightGetRangeRequest, 0, 1); },
         Varnholt::ERR_BUFFER_SIZE_ERROR, true},
        {"range 2", [](sim::Unit& u) { u.forceOutput(lightGetRangeRequest, {2}, 1); },
         Varnholt::ERR_INVALID_DATA_RANGE, true},
    };
    Lightsensor* sensor = GetLightsensor();
    setSensor("range", 1);
    for (const auto& c : cases) {
        unit().clearFaults();
        // Channel bytes 0xDA, 0xBC: 236 lux unscaled.
        unit().forceOutput(lightMeasureRequest, {0xDA, 0xBC}, 1);
        c.inject(unit());
        std::uint16_t lux = untouchedLux;
        unsigned char raw1 = untouchedRaw;
        unsigned char raw2 = untouchedRaw;
        EXPECT_EQ(sensor->getIlluminanceChannels(&lux, &raw1, &raw2), c.result) << c.what;
        EXPECT_EQ(lux, c.stored ? 236 : untouchedLux) << c.what;
        EXPECT_EQ(raw1, c.stored ? 0xDA : untouchedRaw) << c.what;
        EXPECT_EQ(raw2, c.stored ? 0xBC : untouchedRaw) << c.what;
    }
    sensor->release();
}

TEST_F(LightsensorTest, TheSimulatedSensorFollowsItsIlluminance)
{
    struct Case {
        double lux;
        int range;
        std::uint8_t channel1;
        std::uint16_t read;
    };
    // The codes round each count down, so a reading lies within a few per cent of the light set;
    // beyond the range channel 1 stays at full scale, and the reading at the range's largest.
    const Case cases[] = {
        {0, 0, 0x80, 0},       {10, 0, 0x99, 9},      {300, 0, 0xE0, 303},
        {1000, 0, 0xFA, 958},  {1200, 0, 0xFF, 1565}, {3000, 1, 0xEF, 2840},
        {5000, 1, 0xFA, 4790}, {40, 1, 0x95, 35},     {5000, 0, 0xFF, 1565},
    };
    Lightsensor* sensor = GetLightsensor();
    for (const auto& c : cases) {
        setSensor("lux", c.lux);
        setSensor("range", c.range);
        std::uint16_t lux = 0;
        unsigned char raw1 = 0;
        unsigned char raw2 = 0;
        ASSERT_EQ(sensor->getIlluminanceChannels(&lux, &raw1, &raw2), Varnholt::ERR_SUCCESS) << c.lux;
        EXPECT_EQ(raw1, c.channel1) << c.lux;
        EXPECT_EQ(lux, c.read) << c.lux;
    }
    sensor->release();
}

// ---------------------------------------------------------------- the range requests

TEST_F(LightsensorTest, RangesAreSentAndReadBack)
{
    Lightsensor* sensor = GetLightsensor();
    struct Case {
        std::int32_t range;
        ResultCode result;
        int simRange;
    };
    const Case cases[] = {
        {1, Varnholt::ERR_SUCCESS, 1},
        {0, Varnholt::ERR_SUCCESS, 0},
        {2, Varnholt::ERR_INVALID_PARAMETER_NULL, 0},
        {-1, Varnholt::ERR_INVALID_PARAMETER_NULL, 0},
        {0x101, Varnholt::ERR_INVALID_PARAMETER_NULL, 0}, // not cut to its low byte
    };
    for (const auto& c : cases) {
        const std::size_t sent = unit().requestCount(lightSetRangeRequest);
        EXPECT_EQ(sensor->setOperatingRange(c.range), c.result) << c.range;
        EXPECT_EQ(unit().requestCount(lightSetRangeRequest), sent + (c.result == 0 ? 1 : 0)) << c.range;
        EXPECT_EQ(simRange(), c.simRange) << c.range;
        std::int32_t read = -5;
        EXPECT_EQ(sensor->getOperatingRange(&read), Varnholt::ERR_SUCCESS);
        EXPECT_EQ(read, c.simRange);
    }
    // The set request's returned count is not judged; its failure is.
    unit().forceReturned(lightSetRangeRequest, 0, 1);
    EXPECT_EQ(sensor->setOperatingRange(1), Varnholt::ERR_SUCCESS);
    unit().failRequest(lightSetRangeRequest, 1);
    EXPECT_EQ(sensor->setOperatingRange(1), Varnholt::ERR_IOCTRL_OPERATION_FAILED);
    // A range the driver should not answer.
    setSensor("range", 3);
    std::int32_t read = -5;
    EXPECT_EQ(sensor->getOperatingRange(&read), Varnholt::ERR_INVALID_DATA_RANGE);
    EXPECT_EQ(read, -5);
    sensor->release();

    // Without the driver the open test comes before the value test.
    stopUnit();
    Lightsensor* closed = GetLightsensor();
    EXPECT_EQ(closed->setOperatingRange(2), Varnholt::ERR_OPEN_FAILED);
    EXPECT_EQ(closed->setOperatingRange(1), Varnholt::ERR_OPEN_FAILED);
    EXPECT_EQ(closed->getOperatingRange(&read), Varnholt::ERR_OPEN_FAILED);
    std::uint16_t lux = untouchedLux;
    EXPECT_EQ(closed->getIlluminance(&lux), Varnholt::ERR_OPEN_FAILED);
    EXPECT_EQ(closed->startAverageCalc(5, 5, 50, 2), Varnholt::ERR_OPEN_FAILED);
    EXPECT_EQ(closed->startAverageCalc(5, 5, 50, 2), Varnholt::ERR_OPEN_FAILED) << "the lock was given back";
    closed->release();
}

// ---------------------------------------------------------------- preconditions

// Without a display every slot but release answers 2, before the null test; with one, null outputs
// answer 9. Neither sends a request.
TEST_F(LightsensorTest, DisplayAndNullTestsComeFirst)
{
    for (const bool display : {false, true}) {
        setEeprom(unit(), "unit", lines({"PCB_SERIAL:1", display ? "DISPLAY:800x480" : "DISPLAY:none"}));
        const std::size_t before = unit().requestCount();
        Lightsensor* sensor = GetLightsensor();
        std::uint16_t lux = untouchedLux;
        unsigned char raw = untouchedRaw;
        const ResultCode nulls[] = {
            sensor->getIlluminanceChannels(nullptr, &raw, &raw),
            sensor->getIlluminanceChannels(&lux, nullptr, &raw),
            sensor->getIlluminanceChannels(&lux, &raw, nullptr),
            sensor->getIlluminance(nullptr),
            sensor->getAverageIlluminance(nullptr),
            sensor->getOperatingRange(nullptr),
        };
        for (const ResultCode result : nulls)
            EXPECT_EQ(result, display ? Varnholt::ERR_INVALID_PARAMETER_NULL : Varnholt::ERR_NOT_SUPPORTED);
        if (!display) {
            EXPECT_EQ(sensor->startAverageCalc(0, 0, 0, 2), Varnholt::ERR_NOT_SUPPORTED);
            EXPECT_EQ(sensor->startAverageCalc(5, 5, 50, 2), Varnholt::ERR_NOT_SUPPORTED);
            EXPECT_EQ(sensor->stopAverageCalc(), Varnholt::ERR_NOT_SUPPORTED);
            EXPECT_EQ(sensor->setOperatingRange(2), Varnholt::ERR_NOT_SUPPORTED);
            EXPECT_EQ(sensor->getIlluminance(&lux), Varnholt::ERR_NOT_SUPPORTED);
        }
        EXPECT_EQ(lux, untouchedLux);
        EXPECT_EQ(raw, untouchedRaw);
        EXPECT_EQ(unit().requestCount(), before) << display;
        sensor->release();
    }
}

TEST_F(AveragingTest, StartChecksItsArgumentsBeforeTheLock)
{
    Lightsensor* first = GetLightsensor();
    Lightsensor* second = GetLightsensor();
    EXPECT_NE(first, second);
    ASSERT_EQ(first->startAverageCalc(5, 1, 50, 2), Varnholt::ERR_SUCCESS);
    struct Case {
        std::uint32_t averageWndSize, rejectWndSize, rejectDeltaInLux;
        std::int32_t mode;
        ResultCode result;
    };
    const Case cases[] = {
        {5, 5, 0, 2, Varnholt::ERR_INVALID_DATA_RANGE},
        {0, 5, 50, 2, Varnholt::ERR_INVALID_DATA_RANGE},
        {0, 5, 0, 2, Varnholt::ERR_INVALID_DATA_RANGE},
        // Sound arguments meet the lock the first object holds, whatever the window and the mode.
        {5, 5, 50, 2, Varnholt::ERR_AVERAGE_CALC_STARTED},
        {1, 0, 1, -3, Varnholt::ERR_AVERAGE_CALC_STARTED},
    };
    for (const auto& c : cases)
        EXPECT_EQ(second->startAverageCalc(c.averageWndSize, c.rejectWndSize, c.rejectDeltaInLux, c.mode),
                  c.result)
            << c.averageWndSize << "/" << c.rejectDeltaInLux;
    EXPECT_EQ(first->startAverageCalc(5, 1, 50, 2), Varnholt::ERR_AVERAGE_CALC_STARTED);
    EXPECT_EQ(second->setOperatingRange(1), Varnholt::ERR_AVERAGE_CALC_STARTED);
    EXPECT_EQ(first->setOperatingRange(1), Varnholt::ERR_AVERAGE_CALC_STARTED);
    std::uint16_t lux = 0;
    EXPECT_EQ(second->getAverageIlluminance(&lux), Varnholt::ERR_FUNCTION_NOT_RUNNING);
    first->release();
    second->release();
}

TEST_F(LightsensorTest, WindowsTooLargeToAllocateStartNothing)
{
    TraceCapture traces;
    Lightsensor* sensor = GetLightsensor();
    const std::size_t sent = unit().requestCount(lightSetRangeRequest);
    EXPECT_EQ(sensor->startAverageCalc(0xFFFFFFFF, 1, 50, 2), Varnholt::ERR_INITIALISATION_FAILED);
    EXPECT_EQ(sensor->startAverageCalc(5, 0xFFFFFFFF, 50, 2), Varnholt::ERR_INITIALISATION_FAILED);
    EXPECT_EQ(traces.count("Memory alocation faild\n"), 2u);
    EXPECT_EQ(traces.count("startThread\n"), 0u);
    EXPECT_EQ(unit().requestCount(lightSetRangeRequest), sent);
    // The lock was given back each time.
    EXPECT_EQ(sensor->setOperatingRange(1), Varnholt::ERR_SUCCESS);
    sensor->release();
}

// ---------------------------------------------------------------- one step of the thread

struct StepCase {
    const char* what;
    sim::Bytes raw; // the measurement's answer; empty: the request fails
    int simRange;
    std::int32_t mode;
    bool setRangeFails;
    std::uint32_t result;
    std::int32_t rangeAfter;
    std::vector<std::string> traces;
};

TEST_F(LightsensorTest, StepsTraceAndSwitchTheRangeAtTheirPoints)
{
    const std::string saturated = "brightness[1565], ch1 [255] ch2[128]\n";
    // clang-format off
    const StepCase cases[] = {
        {"not ready", {0x7F, 0x80}, 0, 2, false, 0, 1,
         {"brightness[0], ch1 [0] ch2[0]\n", "Measure not ready!\n"}},
        {"saturated, standard range, automatic", {0xFF, 0x80}, 0, 2, false, 0, 1,
         {saturated, "Set range extended\n"}},
        {"saturated, standard mode", {0xFF, 0x80}, 0, 0, false, 0, 0,
         {saturated, "Error light sensor saturation\n"}},
        {"saturated, extended range", {0xFF, 0x80}, 1, 2, false, 0, 1,
         {"brightness[7825], ch1 [255] ch2[128]\n", "Error light sensor saturation\n"}},
        {"low in the extended range", {0xD4, 0x80}, 1, 2, false, 0, 0,
         {"brightness[1245], ch1 [212] ch2[128]\n", "Set range standard\n"}},
        {"switch refused", {0xFF, 0x80}, 0, 2, true, 7, 0,
         {saturated, "Set range extended\n", "Error setOperatingRange\n"}},
        {"measurement fails", {}, 0, 2, false, 7, 1,
         {"brightness[0], ch1 [0] ch2[0]\n", "Error getIlluminance\n"}},
        {"a sample", {0xDA, 0xBC}, 1, 2, false, 0, 1,
         {"brightness[1180], ch1 [218] ch2[188]\n", "First sample\n", "pReject->brightnessInLux[0]\n",
          "pReject->brightnessInLux[1]\n", "pReject->brightnessInLux[2]\n", "pAverage->brightnessInLux[0]\n",
          "pAverage->brightnessInLux[1]\n", "Brightness in Lux: 1180\n"}},
    };
    // clang-format on
    DriverLink link;
    link.open();
    for (const auto& c : cases) {
        unit().clearFaults();
        if (c.raw.empty())
            unit().failRequest(lightMeasureRequest, 1);
        else
            unit().forceOutput(lightMeasureRequest, c.raw, 1);
        if (c.setRangeFails)
            unit().failRequest(lightSetRangeRequest, 1);
        setSensor("range", c.simRange);
        CtrlData data;
        data.channel = &link;
        data.mode = c.mode;
        data.range = Varnholt::RANGE_EXTENDED - c.simRange; // the measurement's range read wins
        data.averageWndSize = 1;
        data.rejectWndSize = 2;
        data.rejectDeltaInLux = 50;
        data.pReject = LuxRing::make(2);
        data.pAverage = LuxRing::make(1);
        TraceCapture traces;
        EXPECT_EQ(averageStep(data), c.result) << c.what;
        EXPECT_EQ(traces.texts(), c.traces) << c.what;
        EXPECT_EQ(data.range, c.rangeAfter) << c.what;
        // The sensor's own range changes only with a switch that went through.
        const bool switched = c.result == 0 && c.traces.size() == 2 && c.traces[1].rfind("Set range", 0) == 0;
        EXPECT_EQ(simRange(), switched ? c.rangeAfter : c.simRange) << c.what;
    }
}

// ---------------------------------------------------------------- the averaging thread

TEST_F(AveragingTest, AveragesAndSwitchesTheRangeAutomatically)
{
    TraceCapture traces;
    Lightsensor* sensor = GetLightsensor();
    setSensor("range", 1);
    ASSERT_EQ(sensor->startAverageCalc(3, 3, 50, Varnholt::RANGE_MODE_AUTO), Varnholt::ERR_SUCCESS);
    EXPECT_EQ(simRange(), 0) << "automatic mode starts in the standard range";
    EXPECT_EQ(averageOnceItReads(sensor, [](std::uint16_t lux) { return lux == 303; }), 303);

    // Beyond the standard range: channel 1 at full scale, the thread switches up.
    setSensor("lux", 3000);
    EXPECT_EQ(averageOnceItReads(sensor, [](std::uint16_t lux) { return lux == 2840; }), 2840);
    EXPECT_EQ(simRange(), 1);
    EXPECT_GE(traces.count("Set range extended\n"), 1u);

    // Dark again: back to the standard range.
    setSensor("lux", 40);
    EXPECT_EQ(averageOnceItReads(sensor, [](std::uint16_t lux) { return lux < 50; }), 40);
    EXPECT_EQ(simRange(), 0);
    EXPECT_GE(traces.count("Set range standard\n"), 1u);
    EXPECT_GE(traces.count("Measure not ready!\n"), 1u) << "the sensor settles after a range change";

    EXPECT_EQ(sensor->stopAverageCalc(), Varnholt::ERR_SUCCESS);
    ASSERT_TRUE(eventually([&] { return traces.count("Exit Loop\n") == 1; }));
    std::uint16_t lux = 0;
    EXPECT_EQ(sensor->getAverageIlluminance(&lux), Varnholt::ERR_FUNCTION_NOT_RUNNING);
    const auto texts = traces.texts();
    EXPECT_EQ(texts.front(), "startThread\n");
    EXPECT_EQ(std::count(texts.begin(), texts.end(), "Thread started.\n"), 1);
    sensor->release();
}

TEST_F(AveragingTest, StartSendsTheRangeOfItsMode)
{
    struct Case {
        std::int32_t mode;
        bool sendFails;
        ResultCode result;
        int range;
    };
    const Case cases[] = {
        {1, false, Varnholt::ERR_SUCCESS, 1}, {7, false, Varnholt::ERR_SUCCESS, 1}, // another mode keeps it
        {0, false, Varnholt::ERR_SUCCESS, 0}, {1, true, Varnholt::ERR_IOCTRL_OPERATION_FAILED, 0},
        {2, false, Varnholt::ERR_SUCCESS, 0},
    };
    Lightsensor* sensor = GetLightsensor();
    for (const auto& c : cases) {
        if (c.sendFails)
            unit().failRequest(lightSetRangeRequest, 1);
        // The last calculation was stopped; its thread gives the lock back soon.
        ResultCode result = Varnholt::ERR_AVERAGE_CALC_STARTED;
        eventually([&] {
            result = sensor->startAverageCalc(2, 1, 50, c.mode);
            return result != Varnholt::ERR_AVERAGE_CALC_STARTED;
        });
        EXPECT_EQ(result, c.result) << c.mode;
        EXPECT_EQ(simRange(), c.range) << c.mode;
        sensor->stopAverageCalc();
    }
    // A failed start gave the lock back.
    EXPECT_TRUE(eventually([&] { return sensor->setOperatingRange(0) == Varnholt::ERR_SUCCESS; }));
    sensor->release();
}

TEST_F(AveragingTest, AFailedMeasurementEndsTheThreadAndFreesTheLock)
{
    TraceCapture traces;
    Lightsensor* sensor = GetLightsensor();
    Lightsensor* other = GetLightsensor();
    ASSERT_EQ(sensor->startAverageCalc(3, 1, 50, 2), Varnholt::ERR_SUCCESS);
    EXPECT_EQ(averageOnceItReads(sensor, [](std::uint16_t lux) { return lux == 303; }), 303);
    unit().failRequest(lightMeasureRequest);
    ASSERT_TRUE(eventually([&] { return traces.count("Exit Loop\n") == 1; }));
    EXPECT_EQ(traces.count("Error getIlluminance\n"), 1u);
    std::uint16_t lux = 0;
    EXPECT_EQ(sensor->getAverageIlluminance(&lux), Varnholt::ERR_FUNCTION_NOT_RUNNING);
    unit().clearFaults();
    EXPECT_EQ(other->startAverageCalc(3, 1, 50, 2), Varnholt::ERR_SUCCESS);
    other->stopAverageCalc();
    sensor->release();
    other->release();
}

TEST_F(AveragingTest, ReleaseWhileAveragingEndsTheThreadFirst)
{
    for (int round = 0; round < 5; ++round) {
        TraceCapture traces;
        Lightsensor* sensor = GetLightsensor();
        ASSERT_EQ(sensor->startAverageCalc(4, 2, 50, 2), Varnholt::ERR_SUCCESS);
        if (round % 2 == 1)
            eventually([&] { return traces.count("Brightness in Lux: 303\n") > 0; });
        sensor->release();
        EXPECT_EQ(traces.count("Exit Loop\n"), 1u) << round;
        // The lock is free for the next object.
        Lightsensor* next = GetLightsensor();
        EXPECT_EQ(next->setOperatingRange(0), Varnholt::ERR_SUCCESS) << round;
        next->release();
    }
}

TEST_F(AveragingTest, RestartsNeverRunTwoThreadsOnOneRecord)
{
    TraceCapture traces;
    Lightsensor* sensor = GetLightsensor();
    int started = 0;
    for (int round = 0; round < 30; ++round) {
        const ResultCode result = sensor->startAverageCalc(2, 2, 50, 2);
        ASSERT_TRUE(result == Varnholt::ERR_SUCCESS || result == Varnholt::ERR_AVERAGE_CALC_STARTED)
            << round << ": " << result;
        if (result == Varnholt::ERR_SUCCESS)
            ++started;
        sensor->stopAverageCalc();
    }
    EXPECT_GT(started, 1);
    sensor->release();
    // Every thread started has ended, and each start made exactly one.
    EXPECT_EQ(traces.count("startThread\n"), static_cast<std::size_t>(started));
    EXPECT_EQ(traces.count("Thread started.\n"), static_cast<std::size_t>(started));
    EXPECT_EQ(traces.count("Exit Loop\n"), static_cast<std::size_t>(started));
}

// ---------------------------------------------------------------- factory and slots

TEST_F(LightsensorTest, SlotsFollowTheBinaryInterface)
{
    Lightsensor* sensor = GetLightsensor();
    void** vtable = *reinterpret_cast<void***>(sensor);
    std::uint16_t lux = 0;
    using GetLux = ResultCode (*)(void*, std::uint16_t*);
    using SetRange = ResultCode (*)(void*, std::int32_t);
    using GetRange = ResultCode (*)(void*, std::int32_t*);
    EXPECT_EQ(reinterpret_cast<GetLux>(vtable[1])(sensor, &lux), Varnholt::ERR_SUCCESS);
    EXPECT_EQ(lux, 303);
    EXPECT_EQ(reinterpret_cast<GetLux>(vtable[2])(sensor, &lux), Varnholt::ERR_FUNCTION_NOT_RUNNING);
    EXPECT_EQ(reinterpret_cast<SetRange>(vtable[6])(sensor, 1), Varnholt::ERR_SUCCESS);
    std::int32_t range = 0;
    EXPECT_EQ(reinterpret_cast<GetRange>(vtable[5])(sensor, &range), Varnholt::ERR_SUCCESS);
    EXPECT_EQ(range, 1);
    reinterpret_cast<void (*)(void*)>(vtable[7])(sensor);
}

// ---------------------------------------------------------------- the command-line tool

TEST_F(LightsensorTest, ToolReadsAndChangesTheSimulatedSensor)
{
    auto [code, output] = runTool("--json light --raw");
    ASSERT_EQ(code, 0) << output;
    sim::Json reading = sim::Json::parse(output);
    EXPECT_EQ(reading["lux"], 303);
    EXPECT_EQ(reading["channel1"], 0xE0);
    EXPECT_EQ(reading["range"], "standard");

    struct Case {
        const char* arguments;
        int code;
        double lux;
    };
    const Case cases[] = {
        {"sim set lux 1000", 0, 1000},     {"sim set lux -1", 2, 1000},  {"sim set lux many", 2, 1000},
        {"sim set brightness 5", 2, 1000}, {"sim set range 2", 2, 1000}, {"sim set lux 2.5", 0, 2.5},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(runTool(c.arguments).first, c.code) << c.arguments;
        EXPECT_EQ(unit().snapshot()["lightSensor"]["lux"].get<double>(), c.lux) << c.arguments;
    }
    EXPECT_EQ(runTool("sim set range 1").first, 0);
    EXPECT_EQ(simRange(), 1);

    unit().failRequest(lightMeasureRequest);
    std::tie(code, output) = runTool("--json light");
    EXPECT_EQ(code, 1);
    EXPECT_EQ(sim::Json::parse(output)["result"], 7);
}

TEST_F(LightsensorTest, ToolAveragesForTheSecondsAsked)
{
    // The library's waits run ten times faster: the first sample comes long before the second.
    const auto [code, output] = runTool("--json light --average 1", "PELMUX_TIME_SCALE=0.1");
    ASSERT_EQ(code, 0) << output;
    const sim::Json samples = sim::Json::parse(output);
    ASSERT_EQ(samples.size(), 1u);
    EXPECT_EQ(samples[0]["lux"], 303);
    // The tool stopped its calculation: the lock is free again.
    Lightsensor* sensor = GetLightsensor();
    EXPECT_TRUE(eventually([&] { return sensor->setOperatingRange(0) == Varnholt::ERR_SUCCESS; }));
    sensor->release();
}

} // namespace PELMUX_FILE_SCOPE
} // namespace pelmux::test
