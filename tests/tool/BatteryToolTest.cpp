// `pelmux battery` and `pelmux powermgr` against the simulated unit.
#include "SimFixture.h"
#include "ToolRun.h"

#include "frame/SettingsFile.h"

#include <functional>

namespace pelmux::test {
namespace PELMUX_FILE_SCOPE {

class BatteryToolTest : public SimTest {};

TEST_F(BatteryToolTest, CommandsReachTheUnitAndReportFailures)
{
    struct Case {
        const char* arguments;
        std::function<void(sim::Unit&)> before;
        int exitCode;
        const char* pointer; // a field of the JSON answer ("" when none is printed)
        sim::Json expected;
        sim::Json controls; // what the service received, when not null
    };
    const auto oldSupervisor = [](sim::Unit& u) {
        u.update([](sim::Json& s) { s["versions"]["supervisor"] = {1, 2, 9, 0}; });
    };
    const auto noBattery = [](sim::Unit& u) {
        u.update([](sim::Json& s) { s["eeproms"]["unit"] = "PCB_SERIAL:1\nDATA:2\nCAN:2\nBATTERY:0\n"; });
    };
    const auto post = [](int request) {
        return [request](sim::Unit& u) { u.command({{"cmd", "powerMgrRequest"}, {"request", request}}); };
    };
    const Case cases[] = {
        {"--json battery", {}, 0, "/chargePercent", 76, nullptr},
        {"--json battery", {}, 0, "/temperaturesCelsius", {29, 31}, nullptr},
        {"--json battery", {}, 0, "/ident", "VHBP4400A1", nullptr},
        {"--json battery", oldSupervisor, 1, "/present/result", 25, nullptr},
        {"--json battery", noBattery, 0, "/present", false, nullptr},
        {"--json battery", [](sim::Unit& u) { u.failRequest(0x2225C0); }, 1, "/chargePercent/result", 7,
         nullptr},
        {"--json powermgr register 1", {}, 0, "/mode", 1, {134, 133}},
        {"--json powermgr register 0", {}, 0, "/mode", 0, sim::Json::array()},
        {"powermgr register 3", {}, 2, "", nullptr, sim::Json::array()},
        {"--json powermgr register 2 --wait 5", post(2), 0, "/request", 2, {135}},
        {"--json powermgr register 1 --wait 0.2", post(0), 1, "", nullptr, {134, 133}},
        {"--json powermgr request", post(3), 0, "/request", 3, nullptr},
        {"--json powermgr request", post(9), 0, "/request", 0, nullptr},
        {"--json powermgr ready", {}, 0, "/ready", true, nullptr},
        {"--json powermgr resume", {}, 0, "/resume", true, nullptr},
    };
    for (const auto& c : cases) {
        startUnit(sim::defaultProfile());
        if (c.before)
            c.before(unit());
        const auto [code, output] = runTool(c.arguments);
        EXPECT_EQ(code, c.exitCode) << c.arguments << '\n' << output;
        if (*c.pointer == '\0') {
            EXPECT_EQ(output, "") << c.arguments;
        } else {
            const sim::Json answer = sim::Json::parse(output, nullptr, false);
            ASSERT_FALSE(answer.is_discarded()) << c.arguments << '\n' << output;
            EXPECT_EQ(answer.value(sim::Json::json_pointer(c.pointer), sim::Json()), c.expected)
                << c.arguments << '\n'
                << output;
        }
        if (!c.controls.is_null()) {
            EXPECT_EQ(unit().snapshot().value("/service/controls"_json_pointer, sim::Json::array()),
                      c.controls)
                << c.arguments;
        }
    }
}

TEST_F(BatteryToolTest, ReadyIsWrittenToTheSettingsFile)
{
    EXPECT_EQ(runTool("powermgr ready").first, 0);
    EXPECT_EQ(runTool("powermgr ready").first, 0);
    SettingsFile file;
    file.loadSettings(settingsPath());
    EXPECT_EQ(file.getValue("PowerMgrAppReadyReq"), "2");
    EXPECT_EQ(file.getValue("PowerMgrResume"), "0");
}

} // namespace PELMUX_FILE_SCOPE
} // namespace pelmux::test
