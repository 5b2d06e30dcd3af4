// The automatic backlight controller against the simulated unit: the curve, the adaptation to a
// level set by someone else, soft transitions, the repair of its settings, and its thread's end.
#include "SimFixture.h"

#include "Waiting.h"
#include "display/BacklightController.h"
#include "frame/SettingsFile.h"
#include "frame/Trace.h"

#include <pelmux/Pelmux.h>

#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace pelmux::test {
namespace PELMUX_FILE_SCOPE {

constexpr std::uint32_t measureRequest = 0x222514;

// Collects the trace texts for one test.
class TraceLog {
public:
    TraceLog()
    {
        setTraceSink([this](std::string_view text) {
            std::lock_guard lock(mutex_);
            texts_.emplace_back(text);
        });
    }
    ~TraceLog() { setTraceSink({}); }
    // How many texts begin with `prefix`.
    std::size_t count(const std::string& prefix) const
    {
        std::lock_guard lock(mutex_);
        std::size_t n = 0;
        for (const auto& t : texts_)
            n += t.starts_with(prefix) ? 1 : 0;
        return n;
    }
    bool contains(const std::string& text) const
    {
        std::lock_guard lock(mutex_);
        for (const auto& t : texts_)
            if (t == text)
                return true;
        return false;
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::string> texts_;
};

std::string setting(const std::string& key)
{
    SettingsFile file;
    file.loadSettings(settingsPath());
    const auto found = file.entries().find(key);
    return found == file.entries().end() ? "(missing)" : found->second;
}

void writeSettings(const std::vector<std::pair<std::string, std::string>>& values)
{
    SettingsFile file;
    file.loadSettings(settingsPath());
    for (const auto& [key, value] : values)
        file.setValue(key, value);
}

class BacklightControllerTest : public SimTest {
protected:
    void SetUp() override
    {
        SimTest::SetUp();
        // Fast, but not so fast that the loops spin: an 800 ms period takes 8 ms.
        platform::setTimeScale(0.01);
    }

    // The sensor reads these raw channel bytes in the standard range from now on.
    void lightReads(std::uint8_t channel1, std::uint8_t channel2)
    {
        unit().forceOutput(measureRequest, {channel1, channel2});
    }
    void setLevel(int level)
    {
        unit().update([&](sim::Json& s) { s["backlight"]["level"] = level; });
    }
    std::vector<int> levelsSent()
    {
        const sim::Json state = unit().snapshot();
        return state["backlight"].value("history", std::vector<int>{});
    }
    int level() { return unit().snapshot()["backlight"]["level"].get<int>(); }
    // The simulated sensor sees this light from now on (its model, not forced bytes).
    void ambient(int lux)
    {
        unit().update([&](sim::Json& s) { s["lightSensor"]["lux"] = lux; });
    }
};

struct CurveCase {
    const char* name;
    std::uint8_t channel1, channel2; // raw bytes whose illuminance is `lux`
    int lux;
    int target;
};

// With k = 50: the curve 50 ln(lux) - 10, ln taken of at least 2, clamped below 255.
const CurveCase curveCases[] = {
    {"dark", 0x80, 0x80, 0, 24},        {"one lux", 0x83, 0x80, 1, 24},   {"two lux", 0x86, 0x80, 2, 24},
    {"three lux", 0x88, 0x80, 3, 44},   {"ten lux", 0x95, 0x80, 10, 105}, {"hundred", 0xC1, 0x85, 100, 220},
    {"clamped", 0xF4, 0x9D, 1000, 254},
};

TEST_F(BacklightControllerTest, DrivesTheLevelAlongTheCurve)
{
    for (const auto& c : curveCases) {
        SCOPED_TRACE(c.name);
        lightReads(c.channel1, c.channel2);
        setLevel(7);
        unit().update([](sim::Json& s) { s["backlight"]["history"] = sim::Json::array(); });
        writeSettings({{"ABL_status", "1"}, {"ABL_bSoftTransitions", "0"}, {"ABL_k", "50"}});
        BacklightController controller;
        ASSERT_EQ(controller.startThread(), Varnholt::ERR_SUCCESS);
        EXPECT_TRUE(waitUntil([&] { return level() == c.target; })) << c.lux << " lux: level " << level();
        // Straight there: no level from an average that held no sample yet.
        EXPECT_EQ(levelsSent(), std::vector<int>{c.target});
    }
}

struct LearnCase {
    int level; // set by hand at 100 lux
    const char* k;
    const char* trace;
};

// The fitted k is stored so that it reads back as itself, and the curve gives the user's level
// back: at 151 the curve landed a hair below it in the running loop, at 153 after a restart with
// the k of six digits ("35.395"); either stepped the level down by one.
const LearnCase learnCases[] = {
    {150, "34.74355855226014", "New y: 150.0000, x: 100.0000, k: 34.7436,\n"},
    {151, "34.960705793211766", "New y: 151.0000, x: 100.0000, k: 34.9607,\n"},
    {153, "35.395000275115024", "New y: 153.0000, x: 100.0000, k: 35.3950,\n"},
};

TEST_F(BacklightControllerTest, LearnsALevelSetByHandAndKeepsIt)
{
    lightReads(0xC1, 0x85); // 100 lux
    for (const auto& c : learnCases) {
        SCOPED_TRACE(c.level);
        setLevel(7);
        writeSettings({{"ABL_status", "1"}, {"ABL_bSoftTransitions", "0"}, {"ABL_k", "50"}});
        TraceLog traces;
        {
            BacklightController controller;
            ASSERT_EQ(controller.startThread(), Varnholt::ERR_SUCCESS);
            ASSERT_TRUE(waitUntil([&] { return level() == 220; }));
            const std::size_t sent = levelsSent().size();

            setLevel(c.level); // the user's choice, on the unit itself
            ASSERT_TRUE(waitUntil([&] { return setting("ABL_k") == c.k; })) << setting("ABL_k");
            EXPECT_TRUE(
                traces.contains("Adaption, dev level " + std::to_string(c.level) + " current: 220\n"));
            EXPECT_TRUE(traces.contains(c.trace));
            // Two measurements on the learnt curve: it passes through the user's level.
            const std::size_t curves = traces.count("Calculated y: ");
            ASSERT_TRUE(waitUntil([&] { return traces.count("Calculated y: ") >= curves + 2; }));
            EXPECT_EQ(level(), c.level);
            EXPECT_EQ(levelsSent().size(), sent);
        }
        // A controller started later reads k back from the file and keeps the level too.
        const std::size_t sent = levelsSent().size();
        BacklightController restarted;
        const std::size_t curves = traces.count("Calculated y: ");
        ASSERT_EQ(restarted.startThread(), Varnholt::ERR_SUCCESS);
        ASSERT_TRUE(waitUntil([&] { return traces.count("Calculated y: ") >= curves + 2; }));
        EXPECT_EQ(level(), c.level);
        EXPECT_EQ(levelsSent().size(), sent);
    }
}

TEST_F(BacklightControllerTest, SoftTransitionsStepOneLevelAtATime)
{
    lightReads(0xD3, 0x80); // 236 lux: k 20.14 aims at level 100, k 22.05 at 110
    for (const bool soft : {true, false}) {
        SCOPED_TRACE(soft ? "soft" : "direct");
        setLevel(7);
        writeSettings({{"ABL_status", "1"}, {"ABL_bSoftTransitions", "0"}, {"ABL_k", "20.14"}});
        Varnholt::Backlight* backlight = GetBacklight();
        ASSERT_NE(backlight, nullptr);
        BacklightController controller;
        ASSERT_EQ(controller.startThread(), Varnholt::ERR_SUCCESS);
        ASSERT_TRUE(waitUntil([&] { return level() == 100; }));

        // A steeper curve, announced as an application does: the next measurement aims at 110.
        unit().update([](sim::Json& s) { s["backlight"]["history"] = sim::Json::array(); });
        writeSettings({{"ABL_k", "22.05"}});
        ASSERT_EQ(backlight->setSoftTransitions(soft), Varnholt::ERR_SUCCESS);
        ASSERT_TRUE(waitUntil([&] { return level() == 110; }));
        const std::vector<int> expected =
            soft ? std::vector<int>{101, 102, 103, 104, 105, 106, 107, 108, 109, 110} : std::vector<int>{110};
        EXPECT_EQ(levelsSent(), expected);
        backlight->release();
    }
}

struct RepairCase {
    const char* name;
    std::vector<std::pair<std::string, std::string>> file;
    bool ok;
    std::vector<std::pair<std::string, std::string>> after;
};

const RepairCase repairCases[] = {
    {"fresh unit",
     {},
     true,
     {{"ABL_averageWndSize", "5"},
      {"ABL_bSoftTransitions", "1"},
      {"ABL_k", "50"},
      {"ABL_mode", "2"},
      {"ABL_rejectDeltaInLux", "50"},
      {"ABL_rejectWndSize", "5"},
      {"ABL_status", "0"}}},
    {"status missing, the rest kept",
     {{"ABL_averageWndSize", "7"},
      {"ABL_bSoftTransitions", "0"},
      {"ABL_k", "41.5"},
      {"ABL_mode", "1"},
      {"ABL_rejectDeltaInLux", "80"},
      {"ABL_rejectWndSize", "3"}},
     true,
     {{"ABL_averageWndSize", "7"},
      {"ABL_bSoftTransitions", "0"},
      {"ABL_k", "41.5"},
      {"ABL_mode", "1"},
      {"ABL_rejectDeltaInLux", "80"},
      {"ABL_rejectWndSize", "3"},
      {"ABL_status", "0"}}},
    {"unparsable values back to their defaults",
     {{"ABL_k", "steep"}, {"ABL_mode", "auto"}, {"ABL_status", "1"}},
     true,
     {{"ABL_k", "50"}, {"ABL_mode", "2"}, {"ABL_status", "1"}}},
    {"sound file left as it is",
     {{"ABL_averageWndSize", "5"},
      {"ABL_bSoftTransitions", "1"},
      {"ABL_k", "34.7436"},
      {"ABL_mode", "2"},
      {"ABL_rejectDeltaInLux", "50"},
      {"ABL_rejectWndSize", "5"},
      {"ABL_status", "1"}},
     true,
     {{"ABL_k", "34.7436"}, {"ABL_status", "1"}}},
};

TEST_F(BacklightControllerTest, ReadSettingsRepairsTheFile)
{
    for (const auto& c : repairCases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove(root().path() + "/C/ProgramData/Varnholt/Pelmux.ini");
        writeSettings(c.file);
        BacklightController controller;
        EXPECT_EQ(controller.readSettings(), c.ok);
        for (const auto& [key, value] : c.after)
            EXPECT_EQ(setting(key), value) << key;
    }
}

TEST_F(BacklightControllerTest, KeepsTheLevelUntilTheAverageHasItsFirstSample)
{
    // The sensor's first readings come without their valid bit: the average has no sample for a
    // while, and the controller must not take its empty value for darkness.
    ambient(1000);
    unit().update([](sim::Json& s) { s["lightSensor"]["notReady"] = 5; });
    setLevel(7);
    writeSettings({{"ABL_status", "1"}, {"ABL_bSoftTransitions", "0"}, {"ABL_k", "50"}});
    BacklightController controller;
    ASSERT_EQ(controller.startThread(), Varnholt::ERR_SUCCESS);
    ASSERT_TRUE(waitUntil([&] { return level() == 254; })) << level();
    EXPECT_EQ(levelsSent(), std::vector<int>{254});
}

TEST_F(BacklightControllerTest, FollowsTheLightAgainAfterAFailedRequest)
{
    // A failed light request ends the averaging thread, which the controller starts again; a
    // failed level request is asked again.
    const std::pair<std::uint32_t, std::vector<std::string>> cases[] = {
        {measureRequest, {"Error getIlluminance\n", "Error getAverageIlluminance\n"}},
        {0x222418, {"Error getIntensity\n"}},
        {0x22241C, {"Error setIntensity\n"}}};
    for (const auto& [code, texts] : cases) {
        SCOPED_TRACE(texts.back());
        ambient(1000);
        setLevel(7);
        unit().update([](sim::Json& s) { s["backlight"]["history"] = sim::Json::array(); });
        writeSettings({{"ABL_status", "1"}, {"ABL_bSoftTransitions", "0"}, {"ABL_k", "50"}});
        TraceLog traces;
        BacklightController controller;
        ASSERT_EQ(controller.startThread(), Varnholt::ERR_SUCCESS);
        ASSERT_TRUE(waitUntil([&] { return level() == 254; })) << level();

        unit().failRequest(code, 1);
        ambient(20);
        EXPECT_TRUE(waitUntil([&] { return level() == 139; })) << level(); // 50 ln 20 - 10
        for (const std::string& text : texts)
            EXPECT_TRUE(traces.contains(text)) << text;
        EXPECT_EQ(levelsSent(), (std::vector<int>{254, 139}));
    }
}

TEST_F(BacklightControllerTest, AZeroAverageWindowKeepsTheControllerIdle)
{
    lightReads(0xC1, 0x85);
    setLevel(7);
    writeSettings({{"ABL_status", "1"}, {"ABL_averageWndSize", "0"}});
    TraceLog traces;
    BacklightController controller;
    ASSERT_EQ(controller.startThread(), Varnholt::ERR_SUCCESS);
    ASSERT_TRUE(waitUntil([&] { return traces.contains("Error startAverageCalc\n"); }));
    EXPECT_TRUE(levelsSent().empty());
}

TEST_F(BacklightControllerTest, StartsOnceAndStopsWhereverItWaits)
{
    for (const char* status : {"0", "1"}) {
        SCOPED_TRACE(status);
        lightReads(0xC1, 0x85);
        writeSettings({{"ABL_status", status}});
        TraceLog traces;
        {
            BacklightController controller;
            ASSERT_EQ(controller.startThread(), Varnholt::ERR_SUCCESS);
            EXPECT_EQ(controller.startThread(), Varnholt::ERR_INITIALISATION_FAILED);
            ASSERT_TRUE(waitUntil([&] { return traces.contains("Execute " + std::string(status) + "\n"); }));
        } // the destructor stops the thread, waiting or running, and joins it
        EXPECT_TRUE(traces.contains("Destructor\n"));
    }
}

} // namespace PELMUX_FILE_SCOPE
} // namespace pelmux::test
