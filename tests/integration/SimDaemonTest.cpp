// `pelmux sim` as a daemon serving other processes, and the tool without a unit.
#include "KillableProcess.h"
#include "Process.h"
#include "SimFixture.h"

#include <nlohmann/json.hpp>

namespace pelmux::test {
namespace PELMUX_FILE_SCOPE {

TEST(SimDaemon, ServesOtherProcessesUntilStopped)
{
    TempRoot root;
    const std::string socket = root.path() + "/board.sock";

    const CommandResult absent = runCommand({PELMUX_TOOL, "version"}, root.path());
    EXPECT_EQ(absent.exitCode, 1);
    EXPECT_NE(absent.output.find("Open failed (ERR_OPEN_FAILED, 1)"), std::string::npos) << absent.output;
    EXPECT_NE(absent.output.find("board driver is absent"), std::string::npos) << absent.output;

    Daemon sim({PELMUX_TOOL, "sim"}, root.path());
    ASSERT_TRUE(waitForPath(socket));
    const CommandResult present = runCommand({PELMUX_TOOL, "--json", "version"}, root.path());
    EXPECT_EQ(present.exitCode, 0) << present.output;
    const auto json = nlohmann::json::parse(present.output);
    EXPECT_EQ(json["fpga"]["version"], "0.4.0.1");
    EXPECT_EQ(json["library"]["version"], "1.5.0.0");
    EXPECT_EQ(json["osImage"]["version"], "2.1.4.17");

    EXPECT_EQ(sim.stop(), 0);
    EXPECT_FALSE(std::filesystem::exists(socket)) << "a stopped unit leaves no socket behind";
    EXPECT_EQ(runCommand({PELMUX_TOOL, "version"}, root.path()).exitCode, 1);
}

// Faults injected into a running unit from the shell reach another process's requests.
TEST(SimDaemon, SimctlSteersARunningUnit)
{
    TempRoot root;
    EXPECT_EQ(runCommand({PELMUX_TOOL, "simctl", R"({"cmd":"clear"})"}, root.path()).exitCode, 1)
        << "no unit running";
    Daemon sim({PELMUX_TOOL, "sim"}, root.path());
    ASSERT_TRUE(waitForPath(root.path() + "/board.sock"));

    const CommandResult fail =
        runCommand({PELMUX_TOOL, "simctl", R"({"cmd":"fail","code":2237680})"}, root.path());
    EXPECT_EQ(fail.exitCode, 0) << fail.output;
    auto json = nlohmann::json::parse(runCommand({PELMUX_TOOL, "--json", "version"}, root.path()).output);
    EXPECT_EQ(json["fpga"]["result"], 7);
    EXPECT_EQ(json["supervisor"]["result"], 0);

    EXPECT_EQ(runCommand({PELMUX_TOOL, "simctl", R"({"cmd":"clear"})"}, root.path()).exitCode, 0);
    EXPECT_EQ(
        runCommand({PELMUX_TOOL, "simctl", R"({"cmd":"set","path":"/versions/fpga","value":[0,4,0,9]})"},
                   root.path())
            .exitCode,
        0);
    json = nlohmann::json::parse(runCommand({PELMUX_TOOL, "--json", "version"}, root.path()).output);
    EXPECT_EQ(json["fpga"]["version"], "0.4.0.9");

    EXPECT_EQ(runCommand({PELMUX_TOOL, "simctl", "{not json"}, root.path()).exitCode, 1);
    EXPECT_EQ(runCommand({PELMUX_TOOL, "simctl", R"({"cmd":"nonsense"})"}, root.path()).exitCode, 1);
}

// A second unit on a root refuses to start and leaves the first one reachable; a unit killed
// without cleaning up leaves nothing that stops the next.
TEST(SimDaemon, OneUnitPerRoot)
{
    TempRoot root;
    const std::string socket = root.path() + "/board.sock";
    KillableProcess first({PELMUX_TOOL, "sim"});
    ASSERT_EQ(first.readLine().rfind("Simulated unit serving", 0), 0u);
    const auto com1 = std::filesystem::read_symlink(root.path() + "/COM1");

    KillableProcess second({"/bin/sh", "-c", std::string(PELMUX_TOOL) + " sim 2>&1"});
    const auto code = second.waitFor(std::chrono::seconds(20));
    ASSERT_TRUE(code.has_value()) << "the second unit serves as well";
    EXPECT_EQ(*code, 1);
    const std::string message = second.readAll();
    EXPECT_NE(message.find(root.path()), std::string::npos) << message;
    EXPECT_NE(message.find("pid " + std::to_string(first.pid())), std::string::npos) << message;
    EXPECT_EQ(std::filesystem::read_symlink(root.path() + "/COM1"), com1);
    EXPECT_EQ(runCommand({PELMUX_TOOL, "version"}, root.path()).exitCode, 0)
        << "the first unit is unreachable";

    first.kill(SIGKILL);
    first.wait();
    ASSERT_TRUE(std::filesystem::exists(socket)) << "a killed unit leaves its socket";
    KillableProcess next({PELMUX_TOOL, "sim"});
    ASSERT_EQ(next.readLine().rfind("Simulated unit serving", 0), 0u)
        << "the stale socket was not taken over";
    EXPECT_EQ(runCommand({PELMUX_TOOL, "version"}, root.path()).exitCode, 0);
    next.kill(SIGTERM);
    EXPECT_EQ(next.wait(), 0);
    EXPECT_FALSE(std::filesystem::exists(socket));
}

// A profile the unit cannot serve, or a pace it cannot keep, is refused before it serves.
TEST(SimDaemon, RefusesAProfileThatIsNotJsonOrATimingItCannotKeep)
{
    TempRoot root;
    root.writeFile("bad.json", "{ \"versions\": ");
    root.writeFile("fast.json", R"({ "timing": { "mode": "fast" } })");
    root.writeFile("clockless.json", R"({ "timing": { "mode": "real", "i2cClockHz": 0 } })");
    const struct {
        std::vector<std::string> options;
        int exitCode;
        const char* said;
    } cases[] = {
        {{"--profile", root.path() + "/bad.json"}, 1, "not valid JSON"},
        {{"--profile", root.path() + "/fast.json"}, 1, "timing.mode"},
        {{"--profile", root.path() + "/clockless.json"}, 1, "timing.i2cClockHz"},
        {{"--timing", "fast"}, 2, "--timing"},
    };
    for (const auto& c : cases) {
        std::string command = std::string(PELMUX_TOOL) + " sim";
        for (const std::string& option : c.options)
            command += " " + option;
        KillableProcess sim({"/bin/sh", "-c", "exec " + command + " 2>&1"});
        const auto code = sim.waitFor(std::chrono::seconds(20));
        ASSERT_TRUE(code.has_value()) << c.said << ": the unit serves";
        EXPECT_EQ(*code, c.exitCode) << c.said;
        const std::string said = sim.readAll();
        EXPECT_NE(said.find(c.said), std::string::npos) << said;
        EXPECT_FALSE(std::filesystem::exists(root.path() + "/board.sock"));
    }
}

TEST(Demo, TourEndsWithAllStepsDone)
{
    TempRoot root;
    const CommandResult result = runCommand({PELMUX_TOOL, "demo"}, root.path());
    EXPECT_EQ(result.exitCode, 0) << result.output;
    EXPECT_NE(result.output.find("Tour complete."), std::string::npos) << result.output;
    EXPECT_NE(result.output.find("1.5.0.0"), std::string::npos);
}

} // namespace PELMUX_FILE_SCOPE
} // namespace pelmux::test
