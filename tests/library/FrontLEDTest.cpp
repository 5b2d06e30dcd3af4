// Front LED: the conversions between blink times and frequency/duty cycle, the standard colours,
// the shared object, every slot's order of checks against the simulated LED controller, and
// `pelmux led`.
#include "SimFixture.h"
#include "ToolRun.h"

#include "Waiting.h"
#include "indicators/FrontLED_Imp.h"

#include <pelmux/Pelmux.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <fstream>
#include <functional>
#include <future>
#include <limits>
#include <thread>

#include <sys/syscall.h>
#include <unistd.h>

namespace pelmux::test {
namespace PELMUX_FILE_SCOPE {

using Varnholt::FrontLED;
using Varnholt::ResultCode;

constexpr unsigned char untouched = 0xEE;

// One reference to the shared object, given back at the end of the scope.
class LedRef {
public:
    LedRef() : object_(GetFrontLED()) {}
    ~LedRef() { object_->release(); }
    LedRef(const LedRef&) = delete;
    LedRef& operator=(const LedRef&) = delete;
    FrontLED* operator->() const { return object_; }
    FrontLED& operator*() const { return *object_; }

private:
    FrontLED* object_;
};

class FrontLEDTest : public SimTest {
protected:
    void TearDown() override
    {
        EXPECT_EQ(frontLedInstance().refCount(), 0);
        SimTest::TearDown();
    }
    sim::Json ledState() { return unit().snapshot()["frontLed"]; }
    void setTiming(std::vector<int> timing)
    {
        unit().update([&](sim::Json& s) { s["frontLed"]["timing"] = timing; });
    }
};

TEST(FrontLEDConversion, FrequencyAndDutyCycleGiveBlinkTimes)
{
    struct Case {
        double frequency;
        unsigned char duty;
        ResultCode result;
        LedBlink blink;
    };
    const Case cases[] = {
        {1.0, 50, Varnholt::ERR_SUCCESS, {50, 50}},
        {0.2, 50, Varnholt::ERR_SUCCESS, {250, 250}},
        {50.0, 100, Varnholt::ERR_SUCCESS, {2, 0}},
        {50.0, 0, Varnholt::ERR_SUCCESS, {0, 2}},
        {3.0, 33, Varnholt::ERR_SUCCESS, {11, 22}}, // period 33.3: 11.0 and 22.3 truncated
        {7.0, 50, Varnholt::ERR_SUCCESS, {7, 7}},   // period 14.29: the off time from the truncated on
        {0.4, 100, Varnholt::ERR_SUCCESS, {250, 0}},
        // Longer than a byte: held at 255 each, not wrapped to 44 and 200.
        {0.2, 60, Varnholt::ERR_SUCCESS, {255, 200}},
        {0.2, 100, Varnholt::ERR_SUCCESS, {255, 0}},
        {0.2, 0, Varnholt::ERR_SUCCESS, {0, 255}},
        {0.19, 50, Varnholt::ERR_INVALID_PARAMETER_NULL, {untouched, untouched}},
        {50.1, 50, Varnholt::ERR_INVALID_PARAMETER_NULL, {untouched, untouched}},
        {1.0, 101, Varnholt::ERR_INVALID_PARAMETER_NULL, {untouched, untouched}},
        {-1.0, 50, Varnholt::ERR_INVALID_PARAMETER_NULL, {untouched, untouched}},
        {std::numeric_limits<double>::quiet_NaN(),
         50,
         Varnholt::ERR_INVALID_PARAMETER_NULL,
         {untouched, untouched}},
        {std::numeric_limits<double>::infinity(),
         50,
         Varnholt::ERR_INVALID_PARAMETER_NULL,
         {untouched, untouched}},
    };
    for (const Case& c : cases) {
        LedBlink blink{untouched, untouched};
        EXPECT_EQ(blinkOfSignal(c.frequency, c.duty, blink), c.result)
            << c.frequency << " Hz " << int(c.duty);
        EXPECT_EQ(blink, c.blink) << c.frequency << " Hz " << int(c.duty) << ": " << int(blink.onTime) << "/"
                                  << int(blink.offTime);
    }
}

TEST(FrontLEDConversion, BlinkTimesGiveFrequencyAndTruncatedDutyCycle)
{
    struct Case {
        LedBlink blink;
        ResultCode result;
        double frequency;
        unsigned char duty;
    };
    const Case cases[] = {
        {{50, 50}, Varnholt::ERR_SUCCESS, 1.0, 50},
        {{250, 250}, Varnholt::ERR_SUCCESS, 0.2, 50},
        {{2, 0}, Varnholt::ERR_SUCCESS, 50.0, 100},
        {{2, 1}, Varnholt::ERR_SUCCESS, 100.0 / 3, 66}, // 66.7 truncated
        {{1, 2}, Varnholt::ERR_SUCCESS, 100.0 / 3, 33},
        {{0, 255}, Varnholt::ERR_SUCCESS, 100.0 / 255, 0},
        {{255, 255}, Varnholt::ERR_SUCCESS, 100.0 / 510, 50}, // no overflow of the byte sum
        {{0, 0}, Varnholt::ERR_INVALID_DATA_RANGE, -1.0, untouched},
    };
    for (const Case& c : cases) {
        double frequency = -1.0;
        unsigned char duty = untouched;
        EXPECT_EQ(signalOfBlink(c.blink, frequency, duty), c.result) << int(c.blink.onTime);
        EXPECT_DOUBLE_EQ(frequency, c.frequency) << int(c.blink.onTime) << "/" << int(c.blink.offTime);
        EXPECT_EQ(duty, c.duty) << int(c.blink.onTime) << "/" << int(c.blink.offTime);
    }
}

TEST(FrontLEDConversion, StandardColoursAreFoundByTheirChannels)
{
    const std::pair<LedColor, std::int32_t> cases[] = {
        {{15, 0, 0}, 0}, {{0, 15, 0}, 1}, {{0, 0, 15}, 2}, {{0, 15, 15}, 3}, {{12, 0, 4}, 4},
        {{15, 5, 0}, 5}, {{1, 2, 3}, 6},  {{15, 0, 1}, 6}, {{0, 0, 0}, 6},   {{15, 15, 15}, 6},
    };
    for (const auto& [color, index] : cases)
        EXPECT_EQ(standardColorIndex(color), index) << int(color.red) << " " << int(color.green);
}

TEST_F(FrontLEDTest, SignalRoundTripsThroughTheController)
{
    setTiming({9, 9, 7, 8});
    LedRef led;
    EXPECT_EQ(led->setSignal(1.0, 50), Varnholt::ERR_SUCCESS);
    EXPECT_EQ(ledState()["timing"], sim::Json({50, 50, 7, 8})) << "timing bytes 2 and 3 are kept";
    double frequency = 0.0;
    unsigned char duty = 0;
    EXPECT_EQ(led->getSignal(frequency, duty), Varnholt::ERR_SUCCESS);
    EXPECT_DOUBLE_EQ(frequency, 1.0);
    EXPECT_EQ(duty, 50);
    EXPECT_EQ(led->setSignal(50.0, 100), Varnholt::ERR_SUCCESS);
    EXPECT_EQ(ledState()["timing"], sim::Json({2, 0, 7, 8}));
    EXPECT_EQ(ledState()["light"]["mode"], "steady");
}

// On and off time 0: no period. Nothing is written, and the outputs keep their values.
TEST_F(FrontLEDTest, SignalOfADarkLedWithoutPeriodIsOutOfRange)
{
    setTiming({0, 0, 1, 2});
    LedRef led;
    double frequency = -1.0;
    unsigned char duty = untouched;
    EXPECT_EQ(led->getSignal(frequency, duty), Varnholt::ERR_INVALID_DATA_RANGE);
    EXPECT_EQ(frequency, -1.0);
    EXPECT_EQ(duty, untouched);
    EXPECT_EQ(unit().requestCount(ledReadTimingRequest), 2u) << "on and off time read separately";
}

// Each timing setter replaces its own byte and keeps the other three; each getter reads its byte.
TEST_F(FrontLEDTest, TimingBytesAreReadAndReplacedOneByOne)
{
    using Setter = ResultCode (FrontLED::*)(unsigned char);
    using Getter = ResultCode (FrontLED::*)(unsigned char&);
    const std::tuple<const char*, Setter, Getter, std::vector<int>> cases[] = {
        {"on", &FrontLED::setOnTime, &FrontLED::getOnTime, {99, 20, 30, 40}},
        {"off", &FrontLED::setOffTime, &FrontLED::getOffTime, {10, 99, 30, 40}},
        {"timing2", &FrontLED::setTiming2, &FrontLED::getTiming2, {10, 20, 99, 40}},
        {"timing3", &FrontLED::setTiming3, &FrontLED::getTiming3, {10, 20, 30, 99}},
    };
    LedRef led;
    for (const auto& [name, set, get, expected] : cases) {
        setTiming({10, 20, 30, 40});
        EXPECT_EQ(((*led).*set)(99), Varnholt::ERR_SUCCESS) << name;
        EXPECT_EQ(ledState()["timing"], sim::Json(expected)) << name;
        unsigned char value = 0;
        EXPECT_EQ(((*led).*get)(value), Varnholt::ERR_SUCCESS) << name;
        EXPECT_EQ(value, 99) << name;
    }
    setTiming({10, 20, 30, 40});
    EXPECT_EQ(led->setOff(), Varnholt::ERR_SUCCESS);
    EXPECT_EQ(ledState()["timing"], sim::Json({0, 20, 30, 40}));
    EXPECT_EQ(ledState()["light"]["mode"], "off");
}

TEST_F(FrontLEDTest, ColoursAndStandardColours)
{
    LedRef led;
    for (std::int32_t index = 0; index < 6; ++index) {
        EXPECT_EQ(led->setStandardColor(index), Varnholt::ERR_SUCCESS);
        const LedColor& c = standardColors[static_cast<std::size_t>(index)];
        EXPECT_EQ(ledState()["color"], sim::Json({c.red, c.green, c.blue})) << index;
        std::int32_t read = -1;
        EXPECT_EQ(led->getStandardColor(read), Varnholt::ERR_SUCCESS);
        EXPECT_EQ(read, index);
    }
    EXPECT_EQ(led->setColor(0, 15, 15), Varnholt::ERR_SUCCESS);
    std::int32_t index = -1;
    EXPECT_EQ(led->getStandardColor(index), Varnholt::ERR_SUCCESS);
    EXPECT_EQ(index, 3);
    EXPECT_EQ(ledState()["light"]["rgb"], "#00FFFF");
    EXPECT_EQ(led->setColor(1, 2, 3), Varnholt::ERR_SUCCESS);
    EXPECT_EQ(led->getStandardColor(index), Varnholt::ERR_SUCCESS);
    EXPECT_EQ(index, 6);
    unsigned char r = 0, g = 0, b = 0;
    EXPECT_EQ(led->getColor(r, g, b), Varnholt::ERR_SUCCESS);
    EXPECT_EQ(std::make_tuple(r, g, b), std::make_tuple(1, 2, 3));
}

TEST_F(FrontLEDTest, ControlFlagIsOneOnlyForOne)
{
    LedRef led;
    for (const auto& [value, written] : {std::pair{1, 1}, {2, 0}, {0, 0}, {-1, 0}, {257, 0}}) {
        EXPECT_EQ(led->setControlFlag(value), Varnholt::ERR_SUCCESS);
        EXPECT_EQ(ledState()["controlFlag"], written) << value;
    }
    // The byte read is taken as signed: set only above 0.
    for (const auto& [raw, flag] : {std::pair{1, 1}, {0x7F, 1}, {0, 0}, {0x80, 0}, {0xFF, 0}}) {
        unit().update([raw = raw](sim::Json& s) { s["frontLed"]["controlFlag"] = raw; });
        std::int32_t read = -1;
        EXPECT_EQ(led->getControlFlag(read), Varnholt::ERR_SUCCESS);
        EXPECT_EQ(read, flag) << raw;
    }
}

// Range checks come before the open test; a range fault touches nothing.
TEST_F(FrontLEDTest, OrderOfChecksRangeBeforeOpen)
{
    const std::pair<const char*, std::function<ResultCode(FrontLED&)>> refused[] = {
        {"setColor red 16", [](FrontLED& l) { return l.setColor(16, 0, 0); }},
        {"setColor blue 255", [](FrontLED& l) { return l.setColor(0, 0, 255); }},
        {"setStandardColor 6", [](FrontLED& l) { return l.setStandardColor(6); }},
        {"setStandardColor -1", [](FrontLED& l) { return l.setStandardColor(-1); }},
        {"setSignal 0.19", [](FrontLED& l) { return l.setSignal(0.19, 50); }},
        {"setSignal 50.1", [](FrontLED& l) { return l.setSignal(50.1, 50); }},
        {"setSignal duty 101", [](FrontLED& l) { return l.setSignal(1.0, 101); }},
    };
    {
        LedRef led;
        for (const auto& [name, run] : refused)
            EXPECT_EQ(run(*led), Varnholt::ERR_INVALID_PARAMETER_NULL) << name;
        EXPECT_EQ(unit().requestCount(), 0u);
    }
    stopUnit();
    LedRef led;
    for (const auto& [name, run] : refused)
        EXPECT_EQ(run(*led), Varnholt::ERR_INVALID_PARAMETER_NULL) << name << " without the driver";
}

TEST_F(FrontLEDTest, WithoutTheDriverEveryRequestAnswersOpenFailed)
{
    stopUnit();
    LedRef led;
    double frequency = -1.0;
    unsigned char byte = untouched, g = untouched, b = untouched;
    std::int32_t number = -1;
    const std::pair<const char*, std::function<ResultCode()>> operations[] = {
        {"getSignal", [&] { return led->getSignal(frequency, byte); }},
        {"getOnTime", [&] { return led->getOnTime(byte); }},
        {"getOffTime", [&] { return led->getOffTime(byte); }},
        {"getTiming2", [&] { return led->getTiming2(byte); }},
        {"getTiming3", [&] { return led->getTiming3(byte); }},
        {"getStandardColor", [&] { return led->getStandardColor(number); }},
        {"getColor", [&] { return led->getColor(byte, g, b); }},
        {"getControlFlag", [&] { return led->getControlFlag(number); }},
        {"setSignal", [&] { return led->setSignal(1.0, 50); }},
        {"setOnTime", [&] { return led->setOnTime(1); }},
        {"setOffTime", [&] { return led->setOffTime(1); }},
        {"setTiming2", [&] { return led->setTiming2(1); }},
        {"setTiming3", [&] { return led->setTiming3(1); }},
        {"setStandardColor", [&] { return led->setStandardColor(0); }},
        {"setColor", [&] { return led->setColor(1, 1, 1); }},
        {"setOff", [&] { return led->setOff(); }},
        {"setControlFlag", [&] { return led->setControlFlag(1); }},
    };
    for (const auto& [name, run] : operations)
        EXPECT_EQ(run(), Varnholt::ERR_OPEN_FAILED) << name;
    EXPECT_TRUE(frequency == -1.0 && byte == untouched && g == untouched && number == -1);
}

// Reads judge the failure and the returned count, leaving outputs untouched; a failed timing read
// writes nothing; writes judge the failure only.
TEST_F(FrontLEDTest, DriverFaultsGiveTheirCodes)
{
    LedRef led;
    const std::tuple<const char*, std::uint32_t, std::function<ResultCode(unsigned char&)>> reads[] = {
        {"getOnTime", ledReadTimingRequest, [&](unsigned char& out) { return led->getOnTime(out); }},
        {"getColor", ledReadColorRequest, [&](unsigned char& out) { return led->getColor(out, out, out); }},
        {"getControlFlag", ledReadFlagRequest,
         [&](unsigned char& out) {
             std::int32_t flag = 0;
             const ResultCode r = led->getControlFlag(flag);
             if (r == Varnholt::ERR_SUCCESS)
                 out = static_cast<unsigned char>(flag);
             return r;
         }},
    };
    for (const auto& [name, code, run] : reads) {
        for (const auto& [fault, expected] : {std::pair{0, Varnholt::ERR_IOCTRL_OPERATION_FAILED},
                                              {1, Varnholt::ERR_BUFFER_SIZE_ERROR},
                                              {2, Varnholt::ERR_BUFFER_SIZE_ERROR}}) {
            unit().clearFaults();
            if (fault == 0)
                unit().failRequest(code);
            else
                unit().forceReturned(code, fault == 1 ? 0 : 5);
            unsigned char out = untouched;
            EXPECT_EQ(run(out), expected) << name << " fault " << fault;
            EXPECT_EQ(out, untouched) << name;
        }
    }
    unit().clearFaults();
    unit().failRequest(ledReadTimingRequest, 1);
    EXPECT_EQ(led->setTiming2(5), Varnholt::ERR_IOCTRL_OPERATION_FAILED);
    EXPECT_EQ(led->setSignal(1.0, 50), Varnholt::ERR_SUCCESS) << "one fault only";
    EXPECT_EQ(unit().requestCount(ledWriteTimingRequest), 2u) << "nothing written after the failed read";

    // setSignal stops at a failed on-time write; the off time is not written.
    unit().failRequest(ledWriteTimingRequest, 1);
    EXPECT_EQ(led->setSignal(2.0, 50), Varnholt::ERR_IOCTRL_OPERATION_FAILED);
    EXPECT_EQ(unit().requestCount(ledWriteTimingRequest), 3u);

    // The count of a write is not judged.
    for (const std::uint32_t code : {ledWriteTimingRequest, ledWriteColorRequest, ledWriteFlagRequest})
        unit().forceReturned(code, 0);
    EXPECT_EQ(led->setOnTime(3), Varnholt::ERR_SUCCESS);
    EXPECT_EQ(led->setColor(1, 1, 1), Varnholt::ERR_SUCCESS);
    EXPECT_EQ(led->setControlFlag(1), Varnholt::ERR_SUCCESS);
}

// Whether a thread of this process sleeps in the kernel on a lock (a futex).
bool sleepsOnALock(pid_t thread)
{
    std::ifstream call("/proc/self/task/" + std::to_string(thread) + "/syscall");
    long number = -1;
    return static_cast<bool>(call >> number) && number == SYS_futex;
}

// Two threads change different timing bytes at once, each through a driver handle of its own, so
// that nothing but the library keeps their read-modify-writes apart. The unit holds the first
// thread's read until the second thread has read as well (both would then write back the record
// they read, and one change would be lost) or sleeps on a lock, waiting for its turn.
TEST_F(FrontLEDTest, TimingChangesOfTwoThreadsTakeTurns)
{
    setTiming({10, 20, 30, 40});
    FrontLED_Imp first;
    FrontLED_Imp second;
    const sim::ControlHandler model = unit().controlHandler(ledReadTimingRequest);
    ASSERT_TRUE(model);
    std::atomic<int> reads{0};
    std::atomic<pid_t> secondThread{0};
    std::promise<void> firstRead;
    std::future<void> secondMayStart = firstRead.get_future();
    unit().onControl(ledReadTimingRequest, [&](sim::Unit& u, const sim::ControlRequest& request) {
        const sim::ControlReply answer = model(u, request);
        if (reads++ == 0) {
            firstRead.set_value();
            // The unit serves the second handle meanwhile; the first thread gets the record as it
            // was when its read arrived.
            u.mutex().unlock();
            EXPECT_TRUE(waitUntil([&] {
                return reads.load() >= 2 || (secondThread.load() != 0 && sleepsOnALock(secondThread.load()));
            })) << "the second thread neither read nor waited";
            u.mutex().lock();
        }
        return answer;
    });
    std::thread other([&] {
        secondMayStart.wait();
        // Named only now: the wait above slept on a lock of its own.
        secondThread = static_cast<pid_t>(::syscall(SYS_gettid));
        EXPECT_EQ(second.setOffTime(88), Varnholt::ERR_SUCCESS);
    });
    EXPECT_EQ(first.setOnTime(77), Varnholt::ERR_SUCCESS);
    other.join();
    EXPECT_EQ(ledState()["timing"], sim::Json({77, 88, 30, 40})) << "both changes kept";
    EXPECT_EQ(reads.load(), 2);
}

TEST_F(FrontLEDTest, OneSharedObjectPerProcess)
{
    FrontLED* first = GetFrontLED();
    FrontLED* second = GetFrontLED();
    EXPECT_EQ(first, second);
    EXPECT_EQ(frontLedInstance().refCount(), 2);
    first->release();
    EXPECT_EQ(second->setColor(0, 15, 0), Varnholt::ERR_SUCCESS) << "still usable after one release";
    second->release();
    EXPECT_EQ(frontLedInstance().refCount(), 0);
}

TEST_F(FrontLEDTest, ToolSetsAndShowsTheLed)
{
    const std::tuple<std::string, int, const char*, sim::Json> cases[] = {
        {"led color cyan", 0, "color", {0, 15, 15}},
        {"led color 1 2 3", 0, "color", {1, 2, 3}},
        {"led color 16 0 0", 2, "color", {1, 2, 3}},
        {"led color pink", 2, "color", {1, 2, 3}},
        {"led blink 2 25", 0, "timing", {12, 38, 0, 0}},
        {"led blink 0.1 50", 2, "timing", {12, 38, 0, 0}}, // refused by the argument check
        {"led off", 0, "timing", {0, 38, 0, 0}},
    };
    for (const auto& [arguments, exitCode, key, expected] : cases) {
        EXPECT_EQ(runTool(arguments).first, exitCode) << arguments;
        EXPECT_EQ(ledState()[key], expected) << arguments;
    }
    setTiming({50, 50, 0, 0});
    const auto [code, output] = runTool("--json led");
    EXPECT_EQ(code, 0);
    const sim::Json shown = sim::Json::parse(output);
    EXPECT_EQ(shown["color"]["standard"], 6);
    EXPECT_EQ(shown["signal"]["dutyCycle"], 50);
    EXPECT_EQ(shown["timing"]["onMs"], 500);
}

} // namespace PELMUX_FILE_SCOPE
} // namespace pelmux::test
