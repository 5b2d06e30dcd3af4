// PowerMgr: the mode state machine with the control codes the unit's service received, and the
// three settings keys of the hand-shake, written and read through the settings file.
#include "SimFixture.h"

#include "frame/SettingsFile.h"

#include <pelmux/Pelmux.h>

#include <string>
#include <vector>

namespace pelmux::test {
namespace PELMUX_FILE_SCOPE {

using Varnholt::PowerMgr;
using Varnholt::ResultCode;

class PowerMgrTest : public SimTest {
protected:
    sim::Json controls()
    {
        const sim::Json state = unit().snapshot();
        const auto* taken = state.contains("service") ? &state["service"] : nullptr;
        return taken != nullptr && taken->contains("controls") ? (*taken)["controls"] : sim::Json::array();
    }

    static std::string setting(const std::string& key)
    {
        SettingsFile file;
        file.loadSettings(settingsPath());
        const auto& entries = file.entries();
        const auto found = entries.find(key);
        return found == entries.end() ? "(absent)" : found->second;
    }

    static void setSetting(const std::string& key, const std::string& value)
    {
        SettingsFile file;
        file.loadSettings(settingsPath());
        file.setValue(key, value);
    }
};

// One step of a sequence on one object: setConfiguration(argument), setAppReady (ready) or release.
struct Step {
    enum Kind { Set, Ready, Release } kind;
    int argument = 0;
    ResultCode expected = Varnholt::ERR_SUCCESS;
};

Step set(int mode, ResultCode expected = Varnholt::ERR_SUCCESS)
{
    return {Step::Set, mode, expected};
}
const Step ready{Step::Ready};
const Step release{Step::Release};

TEST_F(PowerMgrTest, ModeSequencesSendTheirControlCodes)
{
    struct Case {
        const char* what;
        std::vector<Step> steps;
        std::vector<int> controls; // what the service received, in order
        int mode;                  // getConfiguration at the end (when not released)
    };
    const Case cases[] = {
        {"register 1", {set(1)}, {134}, 1},
        {"register 2", {set(2)}, {135}, 2},
        {"1 again sends nothing", {set(1), set(1)}, {134}, 1},
        {"2 again sends nothing", {set(2), set(2)}, {135}, 2},
        {"1 then 2 is refused", {set(1), set(2, Varnholt::ERR_INVALID_PARAMETER_NULL)}, {134}, 1},
        {"2 then 1 is refused", {set(2), set(1, Varnholt::ERR_INVALID_PARAMETER_NULL)}, {135}, 2},
        {"1 then 0 withdraws", {set(1), set(0)}, {134, 133}, 0},
        {"0 from none sends nothing", {set(0)}, {}, 0},
        {"0 twice withdraws once", {set(2), set(0), set(0)}, {135, 133}, 0},
        {"withdrawn, then 1 again", {set(1), set(0), set(1)}, {134, 133, 134}, 1},
        {"withdrawn, then 2", {set(1), set(0), set(2)}, {134, 133, 135}, 2},
        {"3 is refused", {set(3, Varnholt::ERR_INVALID_PARAMETER_NULL)}, {}, 0},
        {"-1 is refused", {set(-1, Varnholt::ERR_INVALID_PARAMETER_NULL)}, {}, 0},
        {"refused value keeps the mode", {set(1), set(7, Varnholt::ERR_INVALID_PARAMETER_NULL)}, {134}, 1},
        {"ready ends the mode silently", {set(1), ready}, {134}, 0},
        {"ready, then 2 is allowed", {set(1), ready, set(2)}, {134, 135}, 2},
        {"release withdraws", {set(2), release}, {135, 133}, -1},
        {"release after 0 sends nothing", {set(1), set(0), release}, {134, 133}, -1},
        {"release after ready sends nothing", {set(1), ready, release}, {134}, -1},
        {"release without a mode", {release}, {}, -1},
    };
    for (const auto& c : cases) {
        unit().update([](sim::Json& s) { s["service"] = sim::Json::object(); });
        PowerMgr* manager = GetPowerMgr();
        bool released = false;
        for (const auto& step : c.steps) {
            if (step.kind == Step::Set)
                EXPECT_EQ(manager->setConfiguration(step.argument), step.expected) << c.what;
            else if (step.kind == Step::Ready)
                EXPECT_EQ(manager->setAppReady(), Varnholt::ERR_SUCCESS) << c.what;
            else
                manager->release(), released = true;
        }
        EXPECT_EQ(controls(), sim::Json(c.controls)) << c.what;
        if (!released) {
            int mode = -1;
            EXPECT_EQ(manager->getConfiguration(&mode), Varnholt::ERR_SUCCESS) << c.what;
            EXPECT_EQ(mode, c.mode) << c.what;
            manager->release();
        }
    }
}

// The service's answer changes nothing: the object keeps its mode and reports success.
TEST_F(PowerMgrTest, AnAbsentOrRefusingServiceIsNotReported)
{
    const sim::Json services[] = {{{"installed", false}}, {{"refuse", true}}, {{"refuse", {134, 133}}}};
    for (const auto& service : services) {
        unit().update([&](sim::Json& s) { s["service"] = service; });
        PowerMgr* manager = GetPowerMgr();
        EXPECT_EQ(manager->setConfiguration(1), Varnholt::ERR_SUCCESS) << service;
        EXPECT_EQ(manager->setConfiguration(2), Varnholt::ERR_INVALID_PARAMETER_NULL) << service;
        int mode = 0;
        manager->getConfiguration(&mode);
        EXPECT_EQ(mode, 1) << service;
        EXPECT_EQ(manager->setConfiguration(0), Varnholt::ERR_SUCCESS) << service;
        manager->release();
        EXPECT_EQ(controls(), sim::Json::array()) << service;
    }
}

TEST_F(PowerMgrTest, TheServiceRecordsTheRegisteredMode)
{
    PowerMgr* manager = GetPowerMgr();
    const std::pair<int, int> steps[] = {{1, 1}, {0, 0}, {2, 2}};
    for (const auto& [mode, recorded] : steps) {
        manager->setConfiguration(mode);
        EXPECT_EQ(unit().snapshot()["service"]["powerMgr"]["mode"], recorded) << mode;
    }
    manager->release();
    EXPECT_EQ(unit().snapshot()["service"]["powerMgr"]["mode"], 0);
}

TEST_F(PowerMgrTest, ResumeFlagIsSetByEveryNewObjectAndClearedByReady)
{
    PowerMgr* first = GetPowerMgr();
    EXPECT_EQ(setting("PowerMgrResume"), "1");
    bool resume = false;
    EXPECT_EQ(first->getResumeFlag(&resume), Varnholt::ERR_SUCCESS);
    EXPECT_TRUE(resume);
    EXPECT_EQ(first->setAppReady(), Varnholt::ERR_SUCCESS);
    EXPECT_EQ(setting("PowerMgrResume"), "0");
    EXPECT_EQ(first->getResumeFlag(&resume), Varnholt::ERR_SUCCESS);
    EXPECT_FALSE(resume);
    PowerMgr* second = GetPowerMgr();
    EXPECT_EQ(first->getResumeFlag(&resume), Varnholt::ERR_SUCCESS);
    EXPECT_TRUE(resume);
    first->release();
    second->release();

    // The value as a number: anything but 0 is set, a text that is no number is clear.
    const std::pair<const char*, bool> values[] = {{"0", false},   {"2", true}, {"-1", true},
                                                   {"abc", false}, {"", false}, {" 1", true}};
    PowerMgr* manager = GetPowerMgr();
    for (const auto& [value, expected] : values) {
        setSetting("PowerMgrResume", value);
        resume = !expected;
        EXPECT_EQ(manager->getResumeFlag(&resume), Varnholt::ERR_SUCCESS) << value;
        EXPECT_EQ(resume, expected) << value;
    }
    manager->release();
}

TEST_F(PowerMgrTest, ReadyCountsTheReportsUp)
{
    const std::pair<const char*, const char*> counters[] = {
        {nullptr, "1"}, {"41", "42"}, {"abc", "1"}, {"", "1"}, {"-5", "-4"}, {"2147483647", "-2147483648"},
    };
    for (const auto& [before, after] : counters) {
        std::filesystem::remove(root().path() + "/C/ProgramData/Varnholt/Pelmux.ini");
        if (before != nullptr)
            setSetting("PowerMgrAppReadyReq", before);
        PowerMgr* manager = GetPowerMgr();
        EXPECT_EQ(manager->setAppReady(), Varnholt::ERR_SUCCESS);
        EXPECT_EQ(setting("PowerMgrAppReadyReq"), after) << (before ? before : "absent");
        EXPECT_EQ(setting("PowerMgrResume"), "0");
        manager->release();
    }
}

TEST_F(PowerMgrTest, RequestsOutsideZeroToThreeReadAsNone)
{
    const std::pair<const char*, int> requests[] = {
        {nullptr, 0}, {"0", 0},   {"1", 1}, {"2", 2},  {"3", 3},  {"4", 0},           {"7", 0},
        {"-1", 0},    {"abc", 0}, {"", 0},  {"2x", 2}, {" 3", 3}, {"99999999999", 0},
    };
    PowerMgr* manager = GetPowerMgr();
    for (const auto& [posted, expected] : requests) {
        if (posted != nullptr)
            setSetting("PowerMgrReq", posted);
        int request = -7;
        EXPECT_EQ(manager->getRequest(&request), Varnholt::ERR_SUCCESS) << (posted ? posted : "absent");
        EXPECT_EQ(request, expected) << (posted ? posted : "absent");
    }
    manager->release();
}

TEST_F(PowerMgrTest, NullOutputsAreRefused)
{
    PowerMgr* manager = GetPowerMgr();
    EXPECT_EQ(manager->getConfiguration(nullptr), Varnholt::ERR_INVALID_PARAMETER_NULL);
    EXPECT_EQ(manager->getRequest(nullptr), Varnholt::ERR_INVALID_PARAMETER_NULL);
    EXPECT_EQ(manager->getResumeFlag(nullptr), Varnholt::ERR_INVALID_PARAMETER_NULL);
    manager->release();
}

// The service posts a request into the settings file; the application reads it, and every other
// key of the file survives the service's rewrite as the library reads it.
TEST_F(PowerMgrTest, AHandShakeWithTheService)
{
    root().writeFile(
        "C/ProgramData/Varnholt/Pelmux.ini",
        "; written by hand\r\nABL_mode=2\r\nABL_k = 50\r\nkey\twith tab = a=b \r\n[Section]\r\n");
    PowerMgr* manager = GetPowerMgr();
    ASSERT_EQ(manager->setConfiguration(2), Varnholt::ERR_SUCCESS);
    int request = -1;
    EXPECT_EQ(manager->getRequest(&request), Varnholt::ERR_SUCCESS);
    EXPECT_EQ(request, 0);

    const sim::Json answer = unit().command({{"cmd", "powerMgrRequest"}, {"request", 3}});
    ASSERT_TRUE(answer.value("ok", false)) << answer;
    EXPECT_EQ(manager->getRequest(&request), Varnholt::ERR_SUCCESS);
    EXPECT_EQ(request, 3);
    EXPECT_EQ(manager->setAppReady(), Varnholt::ERR_SUCCESS);
    EXPECT_EQ(unit().command({{"cmd", "powerMgrRequest"}, {"request", 0}})["ok"], true);
    EXPECT_EQ(manager->getRequest(&request), Varnholt::ERR_SUCCESS);
    EXPECT_EQ(request, 0);
    manager->release();

    SettingsFile file;
    file.loadSettings(settingsPath());
    const SettingsEntries expected = {{"", ""},
                                      {"ABL_k", "50"},
                                      {"ABL_mode", "2"},
                                      {"PowerMgrAppReadyReq", "1"},
                                      {"PowerMgrReq", "0"},
                                      {"PowerMgrResume", "0"},
                                      {"key\twith tab", "a=b"}};
    EXPECT_EQ(file.entries(), expected);
    EXPECT_EQ(controls(), sim::Json({135})); // ready ended the registration: release sent nothing
    EXPECT_EQ(unit().snapshot()["service"]["powerMgr"]["requests"], sim::Json({3, 0}));
}

TEST_F(PowerMgrTest, TheServicePostsIntoAFileThatIsNotThereYet)
{
    const sim::Json answer = unit().command({{"cmd", "powerMgrRequest"}, {"request", "abc"}});
    ASSERT_TRUE(answer.value("ok", false)) << answer;
    EXPECT_EQ(setting("PowerMgrReq"), "abc");
    // Neither a number nor a text is refused, and the file stays as it was.
    EXPECT_FALSE(unit().command({{"cmd", "powerMgrRequest"}, {"request", 1.5}}).value("ok", true));
    EXPECT_FALSE(unit().command({{"cmd", "powerMgrRequest"}}).value("ok", true));
    EXPECT_EQ(setting("PowerMgrReq"), "abc");
}

} // namespace PELMUX_FILE_SCOPE
} // namespace pelmux::test
