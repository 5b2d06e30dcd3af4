// Buzzer: the tone's range and clamping, every slot's order of checks, blocking and threaded buzzes
// against the simulated buzzer, the buzzing lock, release during a threaded buzz, and
// `pelmux buzzer`.
#include "SimFixture.h"
#include "ToolRun.h"

#include "indicators/Buzzer_Imp.h"
#include "platform/Semaphore.h"

#include <pelmux/Pelmux.h>

#include <functional>

namespace pelmux::test {
namespace PELMUX_FILE_SCOPE {

using Varnholt::Buzzer;
using Varnholt::ResultCode;

constexpr std::uint16_t untouched = 0xBEEF;

// One buzzer object, given back at the end of the scope.
class BuzzerRef {
public:
    BuzzerRef() : object_(GetBuzzer()) {}
    ~BuzzerRef()
    {
        if (object_ != nullptr)
            object_->release();
    }
    BuzzerRef(const BuzzerRef&) = delete;
    BuzzerRef& operator=(const BuzzerRef&) = delete;
    Buzzer* operator->() const { return object_; }
    Buzzer& operator*() const { return *object_; }
    void release()
    {
        object_->release();
        object_ = nullptr;
    }

private:
    Buzzer* object_;
};

// Whether the session's buzzing lock is free now (taken and given back at once).
bool buzzingLockFree()
{
    const platform::SemaphoreHandle lock = platform::createSemaphore(buzzingLockName);
    const bool taken = platform::takeSemaphore(lock, 0);
    if (taken)
        platform::giveSemaphore(lock);
    platform::closeSemaphore(lock);
    return taken;
}

class BuzzerTest : public SimTest {
protected:
    sim::Json buzzer() { return unit().snapshot()["buzzer"]; }
    void setTone(int frequency, int volume)
    {
        unit().update([&](sim::Json& s) {
            s["buzzer"]["frequency"] = frequency;
            s["buzzer"]["volume"] = volume;
        });
    }
};

TEST(BuzzerTone, ClampedIntoWhatTheBuzzerCanSound)
{
    const std::pair<BuzzerSettings, BuzzerSettings> cases[] = {
        {{200, 10}, {700, 10}},        {{0, 0}, {700, 0}},         {{699, 51}, {700, 51}},
        {{700, 52}, {700, 51}},        {{10000, 20}, {10000, 20}}, {{10001, 20}, {10000, 20}},
        {{65535, 65535}, {10000, 51}}, {{2000, 25}, {2000, 25}},
    };
    for (const auto& [stored, clamped] : cases)
        EXPECT_EQ(clampedTone(stored), clamped) << stored.frequency << " Hz, volume " << stored.volume;
}

TEST_F(BuzzerTest, FrequencyAndVolumeLimitsAndTheKeptHalf)
{
    using Setter = ResultCode (Buzzer::*)(std::uint16_t);
    const std::tuple<Setter, std::uint16_t, ResultCode, int, int> cases[] = {
        {&Buzzer::setFrequency, 699, Varnholt::ERR_INVALID_PARAMETER_NULL, 2000, 25},
        {&Buzzer::setFrequency, 700, Varnholt::ERR_SUCCESS, 700, 25},
        {&Buzzer::setFrequency, 10000, Varnholt::ERR_SUCCESS, 10000, 25},
        {&Buzzer::setFrequency, 10001, Varnholt::ERR_INVALID_PARAMETER_NULL, 2000, 25},
        {&Buzzer::setFrequency, 0, Varnholt::ERR_INVALID_PARAMETER_NULL, 2000, 25},
        {&Buzzer::setVolume, 52, Varnholt::ERR_INVALID_PARAMETER_NULL, 2000, 25},
        {&Buzzer::setVolume, 51, Varnholt::ERR_SUCCESS, 2000, 51},
        {&Buzzer::setVolume, 0, Varnholt::ERR_SUCCESS, 2000, 0},
    };
    BuzzerRef b;
    for (const auto& [set, value, result, frequency, volume] : cases) {
        setTone(2000, 25);
        const auto writes = unit().requestCount(buzzerWriteSettingsRequest);
        EXPECT_EQ(((*b).*set)(value), result) << value;
        EXPECT_EQ(buzzer()["frequency"], frequency) << value;
        EXPECT_EQ(buzzer()["volume"], volume) << value;
        if (result != Varnholt::ERR_SUCCESS) {
            EXPECT_EQ(unit().requestCount(buzzerWriteSettingsRequest), writes)
                << "nothing written: " << value;
        }
    }
    std::uint16_t read = 0;
    EXPECT_EQ(b->getFrequency(read), Varnholt::ERR_SUCCESS);
    EXPECT_EQ(read, 2000);
    EXPECT_EQ(b->getVolume(read), Varnholt::ERR_SUCCESS);
    EXPECT_EQ(read, 0);
}

// A stored tone the buzzer cannot sound is written back clamped before the switch, which carries
// the clamped tone; a tone in range is not written again.
TEST_F(BuzzerTest, SoundingClampsTheStoredTone)
{
    const std::tuple<int, int, int, int, std::size_t> cases[] = {
        {200, 10, 700, 10, 1},
        {12000, 60, 10000, 51, 1},
        {2000, 51, 2000, 51, 0},
    };
    BuzzerRef b;
    for (const auto& [frequency, volume, soundedFrequency, soundedVolume, writes] : cases) {
        setTone(frequency, volume);
        const auto before = unit().requestCount(buzzerWriteSettingsRequest);
        EXPECT_EQ(b->setSounding(true), Varnholt::ERR_SUCCESS);
        EXPECT_EQ(unit().requestCount(buzzerWriteSettingsRequest) - before, writes) << frequency;
        EXPECT_EQ(buzzer()["frequency"], soundedFrequency);
        EXPECT_EQ(buzzer()["tone"], sim::Json({{"frequency", soundedFrequency}, {"volume", soundedVolume}}));
        bool on = false;
        EXPECT_EQ(b->isSounding(on), Varnholt::ERR_SUCCESS);
        EXPECT_TRUE(on);
        EXPECT_EQ(b->setSounding(false), Varnholt::ERR_SUCCESS);
        EXPECT_EQ(b->isSounding(on), Varnholt::ERR_SUCCESS);
        EXPECT_FALSE(on);
    }
    EXPECT_EQ(buzzer()["log"].size(), 3u);
    EXPECT_EQ(buzzer()["log"][1]["frequency"], 10000);

    // A failed clamped write ends it before the switch.
    setTone(100, 10);
    unit().failRequest(buzzerWriteSettingsRequest, 1);
    EXPECT_EQ(b->setSounding(true), Varnholt::ERR_IOCTRL_OPERATION_FAILED);
    EXPECT_EQ(buzzer()["on"], false);
}

// The identity names no display (no lower-case x): every operation answers ERR_NOT_SUPPORTED first,
// also with arguments out of range, and nothing reaches the unit nor takes the buzzing lock.
TEST_F(BuzzerTest, WithoutABuzzerEveryOperationIsNotSupported)
{
    sim::Json profile = sim::defaultProfile();
    std::string identity = profile["eeproms"]["unit"].get<std::string>();
    identity.replace(identity.find("800x480"), 7, "800X480");
    profile["eeproms"]["unit"] = identity;
    startUnit(profile);
    BuzzerRef b;
    std::uint16_t value = untouched;
    bool on = false;
    const std::pair<const char*, std::function<ResultCode()>> operations[] = {
        {"getFrequency", [&] { return b->getFrequency(value); }},
        {"getVolume", [&] { return b->getVolume(value); }},
        {"isSounding", [&] { return b->isSounding(on); }},
        {"setFrequency", [&] { return b->setFrequency(1); }},
        {"setVolume", [&] { return b->setVolume(99); }},
        {"setSounding", [&] { return b->setSounding(true); }},
        {"buzz blocking", [&] { return b->buzz(10, true); }},
        {"buzz", [&] { return b->buzz(10, false); }},
    };
    for (const auto& [name, run] : operations)
        EXPECT_EQ(run(), Varnholt::ERR_NOT_SUPPORTED) << name;
    EXPECT_EQ(unit().requestCount(), 0u);
    EXPECT_EQ(value, untouched);
    EXPECT_TRUE(buzzingLockFree());
}

// No driver (and no identity: the buzzer counts as fitted): the range comes before the open test;
// a blocking buzz answers the failed switch and gives the lock back; a threaded one answers success.
TEST_F(BuzzerTest, WithoutTheDriverRangeComesBeforeOpen)
{
    stopUnit();
    BuzzerRef b;
    std::uint16_t value = untouched;
    bool on = false;
    const std::pair<const char*, std::function<ResultCode()>> operations[] = {
        {"getFrequency", [&] { return b->getFrequency(value); }},
        {"getVolume", [&] { return b->getVolume(value); }},
        {"isSounding", [&] { return b->isSounding(on); }},
        {"setFrequency in range", [&] { return b->setFrequency(800); }},
        {"setVolume in range", [&] { return b->setVolume(3); }},
        {"setSounding", [&] { return b->setSounding(true); }},
        {"buzz blocking", [&] { return b->buzz(10, true); }},
    };
    for (const auto& [name, run] : operations)
        EXPECT_EQ(run(), Varnholt::ERR_OPEN_FAILED) << name;
    EXPECT_EQ(b->setFrequency(699), Varnholt::ERR_INVALID_PARAMETER_NULL);
    EXPECT_EQ(b->setVolume(52), Varnholt::ERR_INVALID_PARAMETER_NULL);
    EXPECT_EQ(value, untouched);
    EXPECT_TRUE(buzzingLockFree());
    EXPECT_EQ(b->buzz(10, false), Varnholt::ERR_SUCCESS);
    b.release();
    EXPECT_TRUE(buzzingLockFree());
}

TEST_F(BuzzerTest, DriverFaultsGiveTheirCodes)
{
    BuzzerRef b;
    const std::tuple<const char*, std::uint32_t, std::function<ResultCode()>> reads[] = {
        {"getFrequency", buzzerReadSettingsRequest,
         [&] {
             std::uint16_t v = untouched;
             const ResultCode r = b->getFrequency(v);
             return r == Varnholt::ERR_SUCCESS || v == untouched ? r : Varnholt::ERR_CODE_NOT_EXIST;
         }},
        {"setVolume", buzzerReadSettingsRequest, [&] { return b->setVolume(1); }},
        {"setSounding", buzzerReadSettingsRequest, [&] { return b->setSounding(true); }},
        {"isSounding", buzzerReadStateRequest,
         [&] {
             bool on = true;
             const ResultCode r = b->isSounding(on);
             return r == Varnholt::ERR_SUCCESS || on ? r : Varnholt::ERR_CODE_NOT_EXIST;
         }},
    };
    for (const auto& [name, code, run] : reads) {
        // -1: the request fails; otherwise the count reported, wrong for both reads.
        for (const auto& [fault, expected] : {std::pair{-1, Varnholt::ERR_IOCTRL_OPERATION_FAILED},
                                              {0, Varnholt::ERR_BUFFER_SIZE_ERROR},
                                              {5, Varnholt::ERR_BUFFER_SIZE_ERROR}}) {
            unit().clearFaults();
            if (fault < 0)
                unit().failRequest(code);
            else
                unit().forceReturned(code, static_cast<std::uint32_t>(fault));
            EXPECT_EQ(run(), expected) << name << " fault " << fault;
        }
    }
    unit().clearFaults();
    EXPECT_EQ(unit().requestCount(buzzerWriteSettingsRequest), 0u) << "nothing written after a failed read";
    EXPECT_EQ(unit().requestCount(buzzerSwitchRequest), 0u);
    // Writes do not judge the count; the on/off byte is taken as signed.
    unit().forceReturned(buzzerWriteSettingsRequest, 0);
    unit().forceReturned(buzzerSwitchRequest, 0);
    EXPECT_EQ(b->setFrequency(900), Varnholt::ERR_SUCCESS);
    EXPECT_EQ(b->setSounding(false), Varnholt::ERR_SUCCESS);
    for (const auto& [raw, sounding] : {std::pair{1, true}, {0x7F, true}, {0x80, false}, {0, false}}) {
        unit().forceOutput(buzzerReadStateRequest, {static_cast<std::uint8_t>(raw)}, 1);
        bool on = !sounding;
        EXPECT_EQ(b->isSounding(on), Varnholt::ERR_SUCCESS);
        EXPECT_EQ(on, sounding) << raw;
    }
}

// A blocking buzz sounds for its duration and is off when it returns; a failed switch-on answers its
// code without waiting and gives the lock back.
TEST_F(BuzzerTest, BlockingBuzzSoundsForItsDuration)
{
    platform::setTimeScale(1.0);
    BuzzerRef b;
    EXPECT_EQ(b->buzz(40, true), Varnholt::ERR_SUCCESS);
    platform::setTimeScale(0.0);
    EXPECT_EQ(buzzer()["on"], false);
    ASSERT_EQ(buzzer()["log"].size(), 1u);
    EXPECT_GE(buzzer()["log"][0]["durationMs"].get<double>(), 35.0);
    EXPECT_GT(buzzer()["log"][0]["startMs"].get<std::int64_t>(), 0);
    EXPECT_TRUE(buzzingLockFree());

    unit().failRequest(buzzerSwitchRequest, 1);
    EXPECT_EQ(b->buzz(60000, true), Varnholt::ERR_IOCTRL_OPERATION_FAILED);
    EXPECT_EQ(unit().requestCount(buzzerSwitchRequest), 3u) << "not switched off after a failed switch-on";
    EXPECT_TRUE(buzzingLockFree());
}

// While a buzz holds the session's lock, every other buzz answers ERR_FUNCTION_IN_PROGRESS before
// touching the unit; the settings operations still work.
TEST_F(BuzzerTest, OneTimedBuzzAtATime)
{
    BuzzerRef b;
    const platform::SemaphoreHandle lock = platform::createSemaphore(buzzingLockName);
    ASSERT_TRUE(platform::takeSemaphore(lock, 0));
    for (const bool blocking : {true, false})
        EXPECT_EQ(b->buzz(10, blocking), Varnholt::ERR_FUNCTION_IN_PROGRESS) << blocking;
    EXPECT_EQ(unit().requestCount(buzzerSwitchRequest), 0u);
    EXPECT_EQ(b->setVolume(5), Varnholt::ERR_SUCCESS);
    platform::giveSemaphore(lock);
    platform::closeSemaphore(lock);
    EXPECT_EQ(b->buzz(10, true), Varnholt::ERR_SUCCESS);
}

// A threaded buzz answers at once and holds the lock until the buzzer is off again; releasing its
// object meanwhile waits for the buzz to end, so the thread never runs on a freed object.
TEST_F(BuzzerTest, ReleaseDuringAThreadedBuzzWaitsForItsEnd)
{
    platform::setTimeScale(0.01);
    BuzzerRef other;
    BuzzerRef b;
    EXPECT_EQ(b->buzz(20000, false), Varnholt::ERR_SUCCESS); // 200 ms at this scale
    EXPECT_EQ(other->buzz(10, false), Varnholt::ERR_FUNCTION_IN_PROGRESS);
    EXPECT_EQ(b->buzz(10, true), Varnholt::ERR_FUNCTION_IN_PROGRESS) << "the same object too";
    b.release();
    EXPECT_EQ(buzzer()["on"], false) << "switched off before release returned";
    ASSERT_EQ(buzzer()["log"].size(), 1u);
    EXPECT_GE(buzzer()["log"][0]["durationMs"].get<double>(), 150.0);
    EXPECT_TRUE(buzzingLockFree());

    // One object, several threaded buzzes one after the other: each earlier thread is waited for.
    for (int i = 0; i < 3; ++i) {
        while (other->buzz(100, false) == Varnholt::ERR_FUNCTION_IN_PROGRESS)
            platform::sleepMs(100);
    }
    other.release();
    EXPECT_EQ(buzzer()["log"].size(), 4u);
    EXPECT_EQ(buzzer()["on"], false);
    platform::setTimeScale(0.0);
}

TEST_F(BuzzerTest, ToolSetsTheToneAndBuzzes)
{
    const std::tuple<std::string, int, int, int, std::size_t> cases[] = {
        {"buzzer tone 1500 30", 0, 1500, 30, 0},
        {"buzzer tone 600 30", 2, 1500, 30, 0}, // refused by the argument check
        {"buzzer tone 1500 52", 2, 1500, 30, 0},
        {"buzzer buzz 5 --wait", 0, 1500, 30, 1},
        {"buzzer buzz 5", 0, 1500, 30, 2},
    };
    for (const auto& [arguments, exitCode, frequency, volume, logged] : cases) {
        EXPECT_EQ(runTool(arguments).first, exitCode) << arguments;
        EXPECT_EQ(buzzer()["frequency"], frequency) << arguments;
        EXPECT_EQ(buzzer()["volume"], volume) << arguments;
        EXPECT_EQ(buzzer()["log"].size(), logged) << arguments;
        EXPECT_EQ(buzzer()["on"], false) << arguments;
    }
    const auto [code, output] = runTool("--json buzzer");
    EXPECT_EQ(code, 0);
    const sim::Json shown = sim::Json::parse(output);
    EXPECT_EQ(shown["frequency"]["value"], 1500);
    EXPECT_EQ(shown["sounding"]["on"], false);
}

} // namespace PELMUX_FILE_SCOPE
} // namespace pelmux::test
