// `pelmux adc`, `pelmux dio` and `pelmux settings` against `pelmux sim`.
#include "Process.h"
#include "SimFixture.h"

#include <nlohmann/json.hpp>

namespace pelmux::test {
namespace PELMUX_FILE_SCOPE {

using nlohmann::json;

TEST(SupervisorTool, AdcAllGivesEveryRailInVolts)
{
    TempRoot root;
    Daemon sim({PELMUX_TOOL, "sim"}, root.path());
    ASSERT_TRUE(waitForPath(root.path() + "/board.sock"));

    const CommandResult all = runCommand({PELMUX_TOOL, "--json", "adc", "all"}, root.path());
    ASSERT_EQ(all.exitCode, 0) << all.output;
    const json rails = json::parse(all.output);
    ASSERT_EQ(rails.size(), 15u);
    const char* names[] = {"24V", "24VIN", "12V", "12VVIDEO", "5VSTBY", "5V",  "3V3", "TFTVOL",
                           "1V9", "1V8",   "1V5", "1V2",      "1V05",   "1V0", "0V9"};
    for (int c = 0; c < 15; ++c) {
        EXPECT_EQ(rails[c]["channel"], c);
        EXPECT_EQ(rails[c]["rail"], names[c]);
        EXPECT_EQ(rails[c]["result"], 0);
    }
    EXPECT_NEAR(rails[0]["volts"].get<double>(), 24.1, 0.01);
    EXPECT_NEAR(rails[6]["volts"].get<double>(), 3.31, 0.002);

    const CommandResult table = runCommand({PELMUX_TOOL, "adc", "12v"}, root.path());
    EXPECT_EQ(table.exitCode, 0);
    EXPECT_NE(table.output.find("12V"), std::string::npos) << table.output;
    EXPECT_NE(table.output.find("12.049 V"), std::string::npos) << table.output;
    EXPECT_EQ(runCommand({PELMUX_TOOL, "adc", "20"}, root.path()).exitCode, 1)
        << "a channel the unit has not";
    EXPECT_EQ(runCommand({PELMUX_TOOL, "adc", "bogus"}, root.path()).exitCode, 2);

    const CommandResult dio = runCommand({PELMUX_TOOL, "--json", "dio"}, root.path());
    ASSERT_EQ(dio.exitCode, 0) << dio.output;
    EXPECT_EQ(json::parse(dio.output)["states"], json::parse("[true,false,true,false]"));
}

TEST(SupervisorTool, SettingsSetGetList)
{
    TempRoot root;
    EXPECT_EQ(runCommand({PELMUX_TOOL, "settings", "set", "ABL_mode", "2"}, root.path()).exitCode, 0);
    EXPECT_EQ(runCommand({PELMUX_TOOL, "settings", "set", "ABL_k", "50"}, root.path()).exitCode, 0);
    EXPECT_EQ(runCommand({PELMUX_TOOL, "settings", "set", "bad=key", "1"}, root.path()).exitCode, 1);

    const CommandResult get = runCommand({PELMUX_TOOL, "settings", "get", "ABL_mode"}, root.path());
    EXPECT_EQ(get.exitCode, 0);
    EXPECT_EQ(get.output, "2\n");
    EXPECT_EQ(runCommand({PELMUX_TOOL, "settings", "get", "Missing"}, root.path()).exitCode, 1);

    const CommandResult list = runCommand({PELMUX_TOOL, "--json", "settings", "list"}, root.path());
    ASSERT_EQ(list.exitCode, 0);
    const json answer = json::parse(list.output);
    EXPECT_EQ(answer["path"], "C:\\ProgramData\\Varnholt\\Pelmux.ini");
    EXPECT_EQ(answer["settings"], json::parse(R"({"ABL_k":"50","ABL_mode":"2"})"));
}

} // namespace PELMUX_FILE_SCOPE
} // namespace pelmux::test
