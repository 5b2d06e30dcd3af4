// Timed buzzes of two processes exclude each other through the session's buzzing lock, whichever
// process buzzes first; a process killed during its buzz leaves the lock free.
#include "KillableProcess.h"
#include "Process.h"
#include "SimFixture.h"
#include "Waiting.h"

#include <pelmux/Pelmux.h>

#include <chrono>
#include <functional>
#include <thread>

namespace pelmux::test {
namespace PELMUX_FILE_SCOPE {

TEST(BuzzerProcesses, AnotherProcessBuzzingRefusesThisOnesBuzzUntilItEnds)
{
    TempRoot root;
    platform::setTimeScale(0.0);
    sim::SimulatedUnit simulated(root.path(), sim::defaultProfile());
    Varnholt::Buzzer* buzzer = GetBuzzer();
    ASSERT_NE(buzzer, nullptr);

    // A minute of buzzing in real time: the child is killed long before it would end.
    KillableProcess other({PELMUX_TOOL, "buzzer", "buzz", "60000", "--long", "--wait"});
    ASSERT_TRUE(waitUntil([&] { return simulated.unit().snapshot()["buzzer"]["on"] == true; }));
    for (const bool blocking : {true, false})
        EXPECT_EQ(buzzer->buzz(10, blocking), Varnholt::ERR_FUNCTION_IN_PROGRESS) << blocking;

    other.kill();
    other.wait();
    EXPECT_EQ(buzzer->buzz(10, true), Varnholt::ERR_SUCCESS) << "the killed buzzer's lock came back";
    EXPECT_EQ(simulated.unit().snapshot()["buzzer"]["on"], false);
    buzzer->release();
}

TEST(BuzzerProcesses, ThisProcessBuzzingRefusesAnotherProcessesBuzz)
{
    TempRoot root;
    platform::setTimeScale(0.01);
    sim::SimulatedUnit simulated(root.path(), sim::defaultProfile());
    Varnholt::Buzzer* buzzer = GetBuzzer();
    ASSERT_NE(buzzer, nullptr);

    ASSERT_EQ(buzzer->buzz(100000, false), Varnholt::ERR_SUCCESS); // a second at this scale
    const CommandResult refused = runCommand({PELMUX_TOOL, "--json", "buzzer", "buzz", "10"}, root.path());
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_EQ(sim::Json::parse(refused.output)["result"], Varnholt::ERR_FUNCTION_IN_PROGRESS)
        << refused.output;
    EXPECT_EQ(runCommand({PELMUX_WORKER, "try", "PELMUX_BUZZING_IN_PROGRESS"}, root.path()).exitCode, 1);
    buzzer->release(); // waits for the buzz to end

    EXPECT_EQ(runCommand({PELMUX_WORKER, "try", "PELMUX_BUZZING_IN_PROGRESS"}, root.path()).exitCode, 0);
    EXPECT_EQ(runCommand({PELMUX_TOOL, "buzzer", "buzz", "10", "--wait"}, root.path()).exitCode, 0);
    EXPECT_EQ(simulated.unit().snapshot()["buzzer"]["log"].size(), 2u);
    platform::setTimeScale(0.0);
}

} // namespace PELMUX_FILE_SCOPE
} // namespace pelmux::test
