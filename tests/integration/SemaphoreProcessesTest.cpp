// Named semaphores between real processes, with the lifetime of the Windows objects.
#include "KillableProcess.h"
#include "Process.h"
#include "SimFixture.h"

#include "platform/Semaphore.h"

namespace pelmux::test {
namespace {

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

// As on Windows, the object outlives a killed holder while another process keeps it open, and
// stays taken until the last handle goes.
TEST(SemaphoreProcesses, AnotherOpenHandleKeepsTheObjectAndItsCount)
{
    TempRoot root;
    KillableProcess holder({PELMUX_WORKER, "hold", name});
    ASSERT_EQ(holder.readLine(), "taken");
    platform::SemaphoreHandle mine = platform::createSemaphore(name);
    ASSERT_NE(mine, nullptr);
    holder.kill();
    holder.wait();
    EXPECT_FALSE(platform::takeSemaphore(mine, 0));
    EXPECT_EQ(runCommand({PELMUX_WORKER, "try", name}, root.path()).exitCode, 1);
    platform::closeSemaphore(mine);
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

} // namespace
} // namespace pelmux::test
