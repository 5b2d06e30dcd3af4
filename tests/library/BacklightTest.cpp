// Backlight: the shared object, its driver requests, the controller settings it writes and reads, the
// notifications of the controller and the service, and `pelmux backlight`.
#include "SimFixture.h"

#include "display/BacklightController.h"
#include "display/Backlight_Imp.h"
#include "frame/SettingsFile.h"
#include "integration/Process.h"
#include "platform/Semaphore.h"

#include <pelmux/Pelmux.h>

#include <array>
#include <atomic>
#include <functional>
#include <sstream>
#include <thread>
#include <tuple>
#include <vector>

namespace pelmux::test {
namespace PELMUX_FILE_SCOPE {

using Varnholt::Backlight;
using Varnholt::ResultCode;
using Operation = std::function<ResultCode(Backlight&)>;

constexpr std::uint32_t getLevelCode = 0x222418;
constexpr std::uint32_t setLevelCode = 0x22241C;
constexpr std::uint32_t statusCode = 0x222420;
constexpr unsigned char untouched = 0xEE;

// One reference to the shared object, given back at the end of the scope.
class BacklightRef {
public:
    BacklightRef() : object_(GetBacklight()) {}
    ~BacklightRef() { object_->release(); }
    BacklightRef(const BacklightRef&) = delete;
    BacklightRef& operator=(const BacklightRef&) = delete;
    Backlight* operator->() const { return object_; }
    Backlight& operator*() const { return *object_; }

private:
    Backlight* object_;
};

// Takes the controller's semaphore without waiting: whether a notification was there.
bool takeNotification()
{
    const platform::SemaphoreHandle handle = platform::createSemaphore(newBacklightSettingsName);
    const bool taken = platform::takeSemaphore(handle, 0);
    platform::closeSemaphore(handle);
    return taken;
}

class BacklightTest : public SimTest {
protected:
    void TearDown() override
    {
        EXPECT_EQ(backlightInstance().refCount(), 0);
        SimTest::TearDown();
    }
    std::string settingsFile() const { return root().path() + "/C/ProgramData/Varnholt/Pelmux.ini"; }
    void writeSettings(const std::string& text) const
    {
        root().writeFile("C/ProgramData/Varnholt/Pelmux.ini", text);
    }
    std::string settingsText() const
    {
        std::stringstream text;
        text << std::ifstream(settingsFile(), std::ios::binary).rdbuf();
        return text.str();
    }
    SettingsEntries settings() const
    {
        SettingsEntries entries;
        readSettingsText(settingsText(), entries);
        return entries;
    }
    sim::Json backlightState() { return unit().snapshot()["backlight"]; }
};

// Where the operations below put their outputs.
unsigned char byteOut;
bool flagOut;
double kOut;
std::int32_t numbersOut[4];

// Every slot but release, once each.
const std::pair<const char*, Operation> everyOperation[] = {
    {"getIntensity", [](Backlight& b) { return b.getIntensity(&byteOut); }},
    {"setIntensity", [](Backlight& b) { return b.setIntensity(100); }},
    {"getStatus", [](Backlight& b) { return b.getStatus(&byteOut); }},
    {"enable", [](Backlight& b) { return b.enableAutomaticBacklight(); }},
    {"disable", [](Backlight& b) { return b.disableAutomaticBacklight(); }},
    {"status", [](Backlight& b) { return b.getAutomaticBacklightStatus(&flagOut); }},
    {"soft", [](Backlight& b) { return b.setSoftTransitions(true); }},
    {"parameters", [](Backlight& b) { return b.getAutomaticBacklightParameters(&flagOut, &kOut); }},
    {"set filter", [](Backlight& b) { return b.setAutomaticBacklightFilter(5, 5, 50, 2); }},
    {"filter",
     [](Backlight& b) {
         return b.getAutomaticBacklightFilter(numbersOut, numbersOut + 1, numbersOut + 2, numbersOut + 3);
     }},
    {"get led dimming", [](Backlight& b) { return b.getLedDimming(&flagOut); }},
    {"set led dimming", [](Backlight& b) { return b.setLedDimming(1); }},
    {"null output", [](Backlight& b) { return b.getStatus(nullptr); }},
};

TEST_F(BacklightTest, LevelsPassToTheDriverUnchanged)
{
    BacklightRef backlight;
    for (const unsigned char level : {0, 1, 128, 255}) {
        EXPECT_EQ(backlight->setIntensity(level), Varnholt::ERR_SUCCESS) << int(level);
        EXPECT_EQ(backlightState()["level"], level);
        unsigned char read = untouched;
        EXPECT_EQ(backlight->getIntensity(&read), Varnholt::ERR_SUCCESS);
        EXPECT_EQ(read, level);
    }
    unit().update([](sim::Json& s) { s["backlight"]["status"] = 0xA7; });
    unsigned char status = 0;
    EXPECT_EQ(backlight->getStatus(&status), Varnholt::ERR_SUCCESS);
    EXPECT_EQ(status, 0xA7);
    // The unit keeps the newest 64 levels set, oldest first.
    for (int level = 0; level < 70; ++level)
        backlight->setIntensity(static_cast<unsigned char>(level));
    EXPECT_EQ(backlightState()["history"].size(), 64u);
    EXPECT_EQ(backlightState()["history"].front(), 6);
}

TEST_F(BacklightTest, DriverFaultsGiveTheirCodesAndLeaveTheOutputUntouched)
{
    const std::pair<std::uint32_t, std::function<ResultCode(Backlight&, unsigned char&)>> requests[] = {
        {getLevelCode, [](Backlight& b, unsigned char& out) { return b.getIntensity(&out); }},
        {setLevelCode, [](Backlight& b, unsigned char&) { return b.setIntensity(9); }},
        {statusCode, [](Backlight& b, unsigned char& out) { return b.getStatus(&out); }},
    };
    const std::pair<std::function<void(sim::Unit&, std::uint32_t)>, ResultCode> faults[] = {
        {[](sim::Unit& u, std::uint32_t c) { u.failRequest(c); }, Varnholt::ERR_IOCTRL_OPERATION_FAILED},
        {[](sim::Unit& u, std::uint32_t c) { u.forceReturned(c, 0); }, Varnholt::ERR_BUFFER_SIZE_ERROR},
        {[](sim::Unit& u, std::uint32_t c) { u.forceReturned(c, 2); }, Varnholt::ERR_BUFFER_SIZE_ERROR},
    };
    BacklightRef backlight;
    for (const auto& [code, run] : requests) {
        for (const auto& [inject, expected] : faults) {
            unit().clearFaults();
            inject(unit(), code);
            unsigned char out = untouched;
            EXPECT_EQ(run(*backlight, out), expected) << std::hex << code;
            EXPECT_EQ(out, untouched) << std::hex << code;
        }
    }
}

// No driver when the object is made (nor unit identity: the display counts as present): requests
// answer ERR_OPEN_FAILED, ahead of the null test; the settings do not need the driver.
TEST_F(BacklightTest, DriverAbsentGivesOpenFailed)
{
    stopUnit();
    BacklightRef backlight;
    unsigned char out = untouched;
    EXPECT_EQ(backlight->getIntensity(&out), Varnholt::ERR_OPEN_FAILED);
    EXPECT_EQ(backlight->setIntensity(1), Varnholt::ERR_OPEN_FAILED);
    EXPECT_EQ(backlight->getStatus(nullptr), Varnholt::ERR_OPEN_FAILED);
    EXPECT_EQ(out, untouched);
    EXPECT_EQ(backlight->enableAutomaticBacklight(), Varnholt::ERR_SUCCESS);
    EXPECT_EQ(settings().at("ABL_status"), "1");
}

// A null output is refused before anything is read or stored, also where the other output could
// take its value.
TEST_F(BacklightTest, NullOutputsAreRefused)
{
    writeSettings("ABL_bSoftTransitions=1\nABL_k=40\nABL_mode=2\n");
    BacklightRef backlight;
    bool flag = false;
    std::int32_t v[4] = {-1, -1, -1, -1};
    EXPECT_EQ(backlight->getIntensity(nullptr), Varnholt::ERR_INVALID_PARAMETER_NULL);
    EXPECT_EQ(backlight->getAutomaticBacklightParameters(&flag, nullptr),
              Varnholt::ERR_INVALID_PARAMETER_NULL);
    EXPECT_EQ(backlight->getAutomaticBacklightFilter(nullptr, v, v, v), Varnholt::ERR_INVALID_PARAMETER_NULL);
    EXPECT_EQ(backlight->getLedDimming(nullptr), Varnholt::ERR_INVALID_PARAMETER_NULL);
    EXPECT_TRUE(!flag && v[0] == -1);
    EXPECT_EQ(unit().requestCount(getLevelCode), 0u);
}

// The identity names no display (no "x"): ERR_NOT_SUPPORTED from every operation, with neither the
// driver, the settings file, the controller's semaphore nor the service touched.
TEST_F(BacklightTest, WithoutADisplayNothingIsTouched)
{
    sim::Json profile = sim::defaultProfile();
    std::string identity = profile["eeproms"]["unit"].get<std::string>();
    identity.replace(identity.find("800x480"), 7, "800X480");
    profile["eeproms"]["unit"] = identity;
    startUnit(profile);
    BacklightRef backlight;
    EXPECT_TRUE(takeNotification()); // the count a new semaphore starts with
    for (const auto& [name, run] : everyOperation)
        EXPECT_EQ(run(*backlight), Varnholt::ERR_NOT_SUPPORTED) << name;
    EXPECT_EQ(unit().requestCount(), 0u);
    EXPECT_FALSE(std::filesystem::exists(settingsFile()));
    EXPECT_FALSE(takeNotification());
    EXPECT_FALSE(unit().snapshot()["service"].contains("controls"));
}

// Slots 3, 4, 6 and 8 tell the controller; notifications it has not taken yet collapse into one.
TEST_F(BacklightTest, SettingsWritesNotifyTheControllerOnce)
{
    BacklightRef backlight;
    EXPECT_TRUE(takeNotification());
    for (const auto& [name, run] : everyOperation) {
        const std::string op = name;
        run(*backlight);
        run(*backlight);
        EXPECT_EQ(takeNotification(), op == "enable" || op == "disable" || op == "soft" || op == "set filter")
            << name;
        EXPECT_FALSE(takeNotification()) << name;
    }
}

TEST_F(BacklightTest, WritesSetTheirKeyAndKeepTheRest)
{
    const std::tuple<Operation, const char*, const char*> cases[] = {
        {[](Backlight& b) { return b.enableAutomaticBacklight(); }, "ABL_status", "1"},
        {[](Backlight& b) { return b.disableAutomaticBacklight(); }, "ABL_status", "0"},
        {[](Backlight& b) { return b.setSoftTransitions(true); }, "ABL_bSoftTransitions", "1"},
        {[](Backlight& b) { return b.setLedDimming(1); }, "UseLEDDimming", "1"},
        {[](Backlight& b) { return b.setLedDimming(2); }, "UseLEDDimming", "0"},
    };
    BacklightRef backlight;
    for (const auto& [run, key, expected] : cases) {
        writeSettings("ABL_status=x\nABL_bSoftTransitions=x\nUseLEDDimming=x\nOther=kept\n");
        EXPECT_EQ(run(*backlight), Varnholt::ERR_SUCCESS) << key << expected;
        const SettingsEntries entries = settings();
        EXPECT_EQ(entries.at(key), expected);
        EXPECT_EQ(entries.size(), 4u) << key << expected;
    }
}

// The four filter keys go in argument order, the mode last (a new key is written last, with
// spaces); no range is judged, and they read back as written.
TEST_F(BacklightTest, FilterKeysAreWrittenInOrder)
{
    BacklightRef backlight;
    EXPECT_EQ(backlight->setAutomaticBacklightFilter(0, 0, 0, 7), Varnholt::ERR_SUCCESS);
    EXPECT_EQ(settingsText(),
              "ABL_averageWndSize=0\nABL_rejectDeltaInLux=0\nABL_rejectWndSize=0\nABL_mode = 7\n");
    EXPECT_EQ(backlight->setAutomaticBacklightFilter(5, -3, 2147483647, 1), Varnholt::ERR_SUCCESS);
    std::int32_t v[4] = {};
    EXPECT_EQ(backlight->getAutomaticBacklightFilter(v, v + 1, v + 2, v + 3), Varnholt::ERR_SUCCESS);
    EXPECT_EQ((std::array{v[0], v[1], v[2], v[3]}), (std::array{5, -3, 2147483647, 1}));
}

// The read rules: a missing or unparsable value fails with ERR_DATATYPE_MISMATCH; what is stored
// before the failure shows as a value, what is left untouched as "-".
TEST_F(BacklightTest, SettingsReadRules)
{
    const auto status = [](Backlight& b) {
        bool on = true;
        const ResultCode r = b.getAutomaticBacklightStatus(&on);
        return std::to_string(r) + " " + std::to_string(on);
    };
    const auto parameters = [](Backlight& b) {
        bool soft = true;
        double k = -1;
        const ResultCode r = b.getAutomaticBacklightParameters(&soft, &k);
        return std::to_string(r) + " " + std::to_string(soft) + " " +
               (k == -1 ? "-" : std::to_string(int(k)));
    };
    const auto filter = [](Backlight& b) {
        std::int32_t v[4] = {-1, -1, -1, -1}; // average, reject, delta, mode
        std::string text = std::to_string(b.getAutomaticBacklightFilter(v, v + 1, v + 2, v + 3));
        for (const std::int32_t value : {v[3], v[0], v[1], v[2]})
            text += value == -1 ? " -" : " " + std::to_string(value);
        return text;
    };
    const auto dimming = [](Backlight& b, bool start) {
        bool on = start;
        const ResultCode r = b.getLedDimming(&on);
        return std::to_string(r) + " " + std::to_string(on);
    };
    const auto dimmingOn = [&](Backlight& b) { return dimming(b, false); };
    const auto dimmingOff = [&](Backlight& b) { return dimming(b, true); };
    const std::tuple<const char*, std::function<std::string(Backlight&)>, const char*> cases[] = {
        {"", status, "4 0"},
        {"ABL_status=on\n", status, "4 0"},
        {"ABL_status=0\n", status, "0 0"},
        {"ABL_status= 7x\n", status, "0 1"},
        {"ABL_bSoftTransitions=0\nABL_k=42.5\n", parameters, "0 0 42"},
        {"ABL_k=50\n", parameters, "4 1 -"},
        {"ABL_bSoftTransitions=0\n", parameters, "4 0 -"},
        {"ABL_bSoftTransitions=0\nABL_k=1e999\n", parameters, "4 0 -"},
        {"ABL_mode=1\nABL_averageWndSize=4\nABL_rejectWndSize=3\nABL_rejectDeltaInLux=80\n", filter,
         "0 1 4 3 80"},
        {"ABL_averageWndSize=4\nABL_rejectWndSize=3\nABL_rejectDeltaInLux=80\n", filter, "4 - - - -"},
        {"ABL_mode=2\nABL_averageWndSize=x\nABL_rejectWndSize=3\nABL_rejectDeltaInLux=80\n", filter,
         "4 2 - - -"},
        {"ABL_mode=0\nABL_averageWndSize=4\nABL_rejectWndSize=3\n", filter, "4 0 4 3 -"},
        {"", dimmingOn, "0 1"},
        {"UseLEDDimming=1\n", dimmingOn, "0 1"},
        {"UseLEDDimming=2\n", dimmingOff, "0 0"},
        {"UseLEDDimming=abc\n", dimmingOff, "0 0"},
    };
    BacklightRef backlight;
    for (const auto& [file, read, expected] : cases) {
        writeSettings(file);
        EXPECT_EQ(read(*backlight), expected) << file;
        EXPECT_EQ(settingsText(), file) << "a read writes nothing";
    }
}

// The key is written whatever the service answers; a service that took the control saw 132.
TEST_F(BacklightTest, LedDimmingTellsTheService)
{
    const std::pair<sim::Json, ResultCode> cases[] = {
        {sim::Json::object(), Varnholt::ERR_SUCCESS},
        {{{"installed", false}}, Varnholt::ERR_OPEN_FAILED},
        {{{"refuse", sim::Json::array({132})}}, Varnholt::ERR_EXECUTE_COMMAND_FAILED},
    };
    BacklightRef backlight;
    for (const auto& [service, expected] : cases) {
        unit().update([&](sim::Json& s) { s["service"] = service; });
        writeSettings("UseLEDDimming=x\n");
        EXPECT_EQ(backlight->setLedDimming(1), expected) << service;
        EXPECT_EQ(settings().at("UseLEDDimming"), "1") << service;
        const sim::Json taken = expected == Varnholt::ERR_SUCCESS ? sim::Json::array({132}) : sim::Json();
        EXPECT_EQ(unit().snapshot()["service"]["controls"], taken) << service;
    }
}

TEST_F(BacklightTest, OneSharedObjectUntilTheLastRelease)
{
    Backlight* first = GetBacklight();
    Backlight* second = GetBacklight();
    EXPECT_EQ(first, second);
    first->release();
    EXPECT_EQ(backlightInstance().refCount(), 1);
    unsigned char level = 0;
    EXPECT_EQ(second->getIntensity(&level), Varnholt::ERR_SUCCESS);
    EXPECT_EQ(level, 180);
    // The last release closes the semaphore too: with no handle left the name ends, and the next one
    // made starts at 1 again although this process took the count.
    EXPECT_TRUE(takeNotification());
    second->release();
    EXPECT_TRUE(takeNotification());
}

TEST_F(BacklightTest, ThreadsShareTheObject)
{
    platform::setTimeScale(0.01);
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&failures, t] {
            for (int i = 0; i < 8; ++i) {
                BacklightRef backlight;
                unsigned char level = 0;
                failures += backlight->setIntensity(static_cast<unsigned char>(i)) != Varnholt::ERR_SUCCESS;
                failures += backlight->getIntensity(&level) != Varnholt::ERR_SUCCESS;
                failures += (t % 2 ? backlight->enableAutomaticBacklight()
                                   : backlight->disableAutomaticBacklight()) != Varnholt::ERR_SUCCESS;
            }
        });
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(unit().requestCount(setLevelCode), 32u);
}

// `pelmux backlight`: each command's exit code and what it left on the unit.
TEST_F(BacklightTest, ToolCommands)
{
    const auto run = [&](std::vector<std::string> args) {
        args.insert(args.begin(), PELMUX_TOOL);
        return runCommand(args, root().path());
    };
    const std::tuple<std::vector<std::string>, int, std::function<bool()>> steps[] = {
        {{"backlight", "set", "77"}, 0, [&] { return backlightState()["level"] == 77; }},
        {{"backlight", "set", "256"}, 2, [&] { return backlightState()["level"] == 77; }},
        {{"backlight", "auto", "on"}, 0, [&] { return settings().at("ABL_status") == "1"; }},
        {{"backlight", "filter", "3", "4", "60", "1"}, 0, [&] { return settings().at("ABL_mode") == "1"; }},
        {{"backlight", "filter", "3", "4"}, 2, [&] { return settings().at("ABL_averageWndSize") == "3"; }},
        {{"backlight", "led-dimming", "off"},
         0,
         [&] {
             return settings().at("UseLEDDimming") == "0" &&
                    unit().snapshot()["service"]["counts"]["132"] == 1;
         }},
        {{"backlight", "get"}, 1, [] { return true; }}, // the soft-transition flag and k are not set
    };
    for (const auto& [args, exitCode, check] : steps) {
        const CommandResult result = run(args);
        EXPECT_EQ(result.exitCode, exitCode) << args[1] << ": " << result.output;
        EXPECT_TRUE(check()) << args[1];
    }
    writeSettings(settingsText() + "ABL_bSoftTransitions=0\nABL_k=42.5\n");
    const CommandResult all = run({"--json", "backlight", "get"});
    ASSERT_EQ(all.exitCode, 0) << all.output;
    const sim::Json json = sim::Json::parse(all.output);
    EXPECT_EQ(json["parameters"], sim::Json({{"result", 0}, {"softTransitions", false}, {"k", 42.5}}));
    EXPECT_EQ(json["filter"]["rejectDeltaInLux"], 60);
}

} // namespace PELMUX_FILE_SCOPE
} // namespace pelmux::test
