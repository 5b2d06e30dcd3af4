// The command-line tool's maintenance commands against the simulated unit.
#include "ToolRun.h"
#include "VendorFixture.h"

#include <functional>

namespace pelmux::test {
namespace PELMUX_FILE_SCOPE {

class PrivateToolTest : public SimTest {};

TEST_F(PrivateToolTest, CommandsReachTheUnitAndReportFailures)
{
    struct Case {
        const char* arguments;
        std::function<void(sim::Unit&)> before;
        int exitCode;
        const char* pointer; // a field of the JSON answer ("" when none is printed)
        sim::Json expected;
    };
    const auto oldSupervisor = [](sim::Unit& u) {
        u.update([](sim::Json& s) { s["versions"]["supervisor"] = {1, 2, 9, 0}; });
    };
    const Case cases[] = {
        {"--json private register get 10", {}, 0, "/value", 1234},
        {"--json private register get 96", oldSupervisor, 1, "/result", 25},
        // The byte-indexed forms need no newer firmware.
        {"--json private register get 95", oldSupervisor, 0, "/value", 65535},
        {"--json private register set 700 0xBEEF", {}, 0, "/result", 0},
        {"--json private register get 10", [](sim::Unit& u) { u.failRequest(0x22248C); }, 1, "/result", 7},
        {"private register get 750", {}, 2, "", nullptr},
        {"private register get -1", {}, 2, "", nullptr},
        {"--json private identity get --expansion PCB_SERIAL", {}, 0, "/value", "41000777"},
        {"--json private identity get NOPE", {}, 1, "/result", 18},
        {"--json private identity set --expansion PCB_SERIAL 41000778", {}, 0, "/result", 0},
        {"--json private setting set Free_key hello", {}, 0, "/result", 0},
        {"--json private setting get Missing_key", {}, 1, "/result", 17},
    };
    for (const auto& c : cases) {
        unit().clearFaults();
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
                << c.arguments;
        }
        unit().update([](sim::Json& s) { s["versions"]["supervisor"] = {1, 3, 0, 0}; });
    }

    // What the writes left on the unit and in the settings file.
    EXPECT_EQ(unit().snapshot()["supervisorRegisters"]["values"]["700"], 0xBEEF);
    EXPECT_NE(eepromContent(unit(), "expansion").get<std::string>().find("PCB_SERIAL:41000778\r\n"),
              std::string::npos);
    const auto [code, output] = runTool("private setting get Free_key");
    EXPECT_EQ(code, 0);
    EXPECT_EQ(output, "hello\n");
}

} // namespace PELMUX_FILE_SCOPE
} // namespace pelmux::test
