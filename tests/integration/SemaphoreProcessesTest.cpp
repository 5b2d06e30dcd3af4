// Named semaphores between real processes: the lifetime of the Windows objects, and a killed taker
// that gives its count back.
#include "KillableProcess.h"
#include "Process.h"
#include "SimFixture.h"

#include "platform/Semaphore.h"

namespace pelmux::test {
namespace PELMUX_FILE_SCOPE {

constexpr const char* name = "PELMUX_FIRMWARE_UPGRADE_IN_PROGRESS";

TEST(SemaphoreProcesses, AHolderKilledLeavesTheSemaphoreFreeForTheNextProcess)
{
    TempRoot root;
    KillableProcess holder({PELMUX_WORKER, "hold", name});
    ASSERT_EQ(holder.readLine(), "taken");
    EXPECT_EQ(runCommand({PELMUX_WORKER, "try", name}, root.path()).exitCode, 1)
        << "taken while the holder lives";
    holder.kill();
    holder.wait();
    EXPECT_EQ(runCommand({PELMUX_WORKER, "try", name}, root.path()).exitCode, 0);
}

// The count of a holder killed while another process keeps the name open comes back at once; the
// object itself lives on with that handle.
TEST(SemaphoreProcesses, AHolderKilledWhileAnotherProcessKeepsTheNameGivesItsCountBack)
{
    TempRoot root;
    KillableProcess holder({PELMUX_WORKER, "hold", name});
    ASSERT_EQ(holder.readLine(), "taken");
    platform::SemaphoreHandle mine = platform::createSemaphore(name);
    ASSERT_NE(mine, nullptr);
    EXPECT_FALSE(platform::takeSemaphore(mine, 0)) << "taken while the holder lives";
    holder.kill();
    holder.wait();
    EXPECT_TRUE(platform::takeSemaphore(mine, 0));
    EXPECT_EQ(runCommand({PELMUX_WORKER, "try", name}, root.path()).exitCode, 1)
        << "taken by this process now";
    ASSERT_TRUE(platform::giveSemaphore(mine));
    EXPECT_EQ(runCommand({PELMUX_WORKER, "try", name}, root.path()).exitCode, 0);
    platform::closeSemaphore(mine);
}

// The same for a process started after the kill, which sweeps the killed holder's token first.
TEST(SemaphoreProcesses, ANewProcessTakesTheCountOfAHolderKilledWhileAnotherKeepsTheName)
{
    TempRoot root;
    KillableProcess keeper({PELMUX_WORKER, "keep", name});
    ASSERT_EQ(keeper.readLine(), "open");
    KillableProcess holder({PELMUX_WORKER, "hold", name});
    ASSERT_EQ(holder.readLine(), "taken");
    holder.kill();
    holder.wait();
    EXPECT_EQ(runCommand({PELMUX_WORKER, "try", name}, root.path()).exitCode, 0);
}

TEST(SemaphoreProcesses, ATakenSemaphoreRefusesOtherProcessesUntilGivenBack)
{
    TempRoot root;
    platform::SemaphoreHandle mine = platform::createSemaphore(name);
    ASSERT_TRUE(platform::takeSemaphore(mine, 0));
    EXPECT_EQ(runCommand({PELMUX_WORKER, "try", name}, root.path()).exitCode, 1);
    ASSERT_TRUE(platform::giveSemaphore(mine));
    EXPECT_EQ(runCommand({PELMUX_WORKER, "try", name}, root.path()).exitCode, 0);
    platform::closeSemaphore(mine);
}

} // namespace PELMUX_FILE_SCOPE
} // namespace pelmux::test
