// The tool's long commands stopped with Ctrl-C (SIGINT) or SIGTERM: each ends in its own orderly
// way and leaves the unit as it found it: the buzzer off, no calibration awaiting points, the
// session's locks free. A firmware upgrade that is writing survives the first Ctrl-C; a stop is
// judged on the step the job is at when the signal comes.
#include "KillableProcess.h"
#include "Process.h"
#include "SimFixture.h"
#include "Waiting.h"

#include <nlohmann/json.hpp>

#include <fstream>
#include <functional>

namespace pelmux::test {
namespace PELMUX_FILE_SCOPE {

using nlohmann::json;

bool lockFree(const std::string& root, const char* name)
{
    return runCommand({PELMUX_WORKER, "try", name}, root).exitCode == 0;
}

TEST(ToolInterruption, LongCommandsEndCleanlyAndLeaveTheUnitAsFound)
{
    struct Case {
        const char* what;
        std::vector<std::string> arguments;
        int signal;
        std::function<bool(sim::Unit&, KillableProcess&)> running; // the command has got going
        int exitCode;
        std::function<void(sim::Unit&, const std::string& root, const std::string& output)> after;
    };
    const auto buzzing = [](sim::Unit& u, KillableProcess&) { return u.snapshot()["buzzer"]["on"] == true; };
    const auto buzzerOffAndFree = [](sim::Unit& u, const std::string& root, const std::string&) {
        EXPECT_EQ(u.snapshot()["buzzer"]["on"], false) << "the buzzer sounds on";
        EXPECT_TRUE(lockFree(root, "PELMUX_BUZZING_IN_PROGRESS"));
    };
    const auto averagingFree = [](sim::Unit&, const std::string& root, const std::string&) {
        EXPECT_TRUE(lockFree(root, "PELMUX_LIGHT_SENSOR_AVERAGE_LOCKED"));
    };
    const Case cases[] = {
        {"timed buzz", {"buzzer", "buzz", "60000", "--long"}, SIGINT, buzzing, 130, buzzerOffAndFree},
        {"blocking buzz",
         {"buzzer", "buzz", "60000", "--long", "--wait"},
         SIGTERM,
         buzzing,
         143,
         buzzerOffAndFree},
        {"light averaging",
         {"--json", "light", "--average", "60"},
         SIGINT,
         [](sim::Unit& u, KillableProcess&) { return u.requestCount(0x222514) > 0; },
         130,
         [&](sim::Unit& u, const std::string& root, const std::string& output) {
             averagingFree(u, root, output);
             EXPECT_TRUE(json::parse(output, nullptr, false).is_array()) << "the averages so far: " << output;
         }},
        {"calibration",
         {"calib", "run", "1", "--seconds", "60"},
         SIGINT,
         [](sim::Unit& u, KillableProcess&) { return u.snapshot()["touch"]["calibration"]["point"] == 1; },
         130,
         [](sim::Unit& u, const std::string&, const std::string&) {
             EXPECT_EQ(u.snapshot()["touch"]["calibration"]["kind"], 0) << "the calibration still runs";
         }},
        {"controller",
         {"abl", "run"},
         SIGTERM,
         [](sim::Unit&, KillableProcess& p) { return p.readLine().starts_with("Automatic backlight"); },
         0,
         averagingFree},
        {"following a job",
         {"firmware", "status", "--wait"},
         SIGINT,
         [](sim::Unit&, KillableProcess& p) {
             return p.readLine().find("Writing 40 %") != std::string::npos;
         },
         130,
         [](sim::Unit&, const std::string&, const std::string&) {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TempRoot root;
        platform::setTimeScale(0.0);
        sim::SimulatedUnit simulated(root.path(), sim::defaultProfile());
        // A job started elsewhere, still writing (its process: this test).
        root.writeFile(
            "firmware-job.json",
            json{{"job", "upgrade ss"}, {"pid", ::getpid()}, {"action", 4}, {"percent", 40}, {"result", 0}}
                .dump());

        std::vector<std::string> argv{PELMUX_TOOL};
        argv.insert(argv.end(), c.arguments.begin(), c.arguments.end());
        KillableProcess tool(argv);
        if (!waitUntil([&] { return c.running(simulated.unit(), tool); })) {
            ADD_FAILURE() << "the command did not get going";
            continue;
        }
        tool.kill(c.signal);
        const std::string output = tool.readAll();
        EXPECT_EQ(tool.wait(), c.exitCode) << output;
        c.after(simulated.unit(), root.path(), output);
    }
}

TEST(ToolInterruption, AnUpgradeThatWritesGoesOnAfterTheFirstCtrlCAndEndsAtTheSecond)
{
    TempRoot root;
    platform::setTimeScale(0.0);
    sim::SimulatedUnit simulated(root.path(), sim::defaultProfile());
    const std::string image = root.path() + "/ss.hex";
    ASSERT_EQ(runCommand({PELMUX_TOOL, "firmware", "image", "ss", image}, root.path()).exitCode, 0);

    KillableProcess tool({PELMUX_TOOL, "firmware", "upgrade", "ss", image});
    std::string line;
    while (!(line = tool.readLine()).empty() && line.find("Writing") == std::string::npos) {
    }
    ASSERT_NE(line, "") << "no writing step";
    tool.kill(SIGINT);
    // The job writes on: a further tenth is reported.
    const std::string writing = line;
    while (!(line = tool.readLine()).empty() &&
           (line == writing || line.find("Writing") == std::string::npos)) {
    }
    EXPECT_NE(line.find("Writing"), std::string::npos) << "the first Ctrl-C ended the job: " << line;
    tool.kill(SIGINT);
    EXPECT_EQ(tool.wait(), 130);
    EXPECT_TRUE(lockFree(root.path(), "PELMUX_FIRMWARE_UPGRADE_IN_PROGRESS"));
}

// A signal is judged on the job's step when the tool takes it, not on the step it last showed: here
// the tool shows its first step (its output held back by a full pipe) while the job goes on and
// erases the supervisor. The first Ctrl-C then only warns; SIGTERM while the job writes (held there
// by the unit) tells that the target may be left without firmware.
TEST(ToolInterruption, AStopIsJudgedOnTheStepTheJobIsAtWhenTheSignalComes)
{
    TempRoot root;
    platform::setTimeScale(0.0);
    sim::SimulatedUnit simulated(root.path(), sim::defaultProfile());
    const std::string image = root.path() + "/ss.hex";
    ASSERT_EQ(runCommand({PELMUX_TOOL, "firmware", "image", "ss", image}, root.path()).exitCode, 0);

    KillableProcess tool({PELMUX_TOOL, "firmware", "upgrade", "ss", image},
                         {.withErrors = true, .stalled = true});
    ASSERT_TRUE(waitUntil([&] {
        return simulated.unit().snapshot()["serial"]["devices"]["supervisor"]["counts"].value("erase", 0) > 0;
    })) << "the job did not erase";
    tool.kill(SIGINT);
    std::string output = tool.readUntil("press Ctrl-C again");
    EXPECT_TRUE(output.ends_with("press Ctrl-C again")) << output;

    // The unit answers nothing while held: the job stays at writing.
    std::lock_guard hold(simulated.unit().mutex());
    tool.kill(SIGTERM);
    output = tool.readAll();
    EXPECT_EQ(tool.wait(), 143) << output;
    EXPECT_NE(output.find("Terminated during Writing"), std::string::npos) << output;
    EXPECT_NE(output.find("the target may be left without working firmware"), std::string::npos) << output;
}

} // namespace PELMUX_FILE_SCOPE
} // namespace pelmux::test
