// One upgrade job at a time across the processes of a session: a job lock held by another process
// refuses every start operation before the image file is looked at, and comes back when that
// process dies.
#include "KillableProcess.h"
#include "SimFixture.h"

#include <pelmux/Pelmux.h>

namespace pelmux::test {
namespace PELMUX_FILE_SCOPE {

TEST(FirmwareProcesses, AnotherProcessesJobLockRefusesEveryStartUntilItDies)
{
    TempRoot root;
    platform::setTimeScale(0.0);
    sim::SimulatedUnit simulated(root.path(), sim::defaultProfile());
    Varnholt::FirmwareUpgrade* upgrade = GetFirmwareUpgrade();
    ASSERT_NE(upgrade, nullptr);
    // No such file: with the lock free the micro-controller starts would answer 1.
    const std::string missing = root.path() + "/missing.hex";
    using Start = Varnholt::ResultCode (Varnholt::FirmwareUpgrade::*)(const char*, bool);
    const Start starts[] = {
        &Varnholt::FirmwareUpgrade::startFpgaUpgrade,  &Varnholt::FirmwareUpgrade::startFpgaVerification,
        &Varnholt::FirmwareUpgrade::startSSUpgrade,    &Varnholt::FirmwareUpgrade::startSSVerification,
        &Varnholt::FirmwareUpgrade::startFrontUpgrade, &Varnholt::FirmwareUpgrade::startFrontVerification};

    KillableProcess holder({PELMUX_WORKER, "hold", "PELMUX_FIRMWARE_UPGRADE_IN_PROGRESS"});
    ASSERT_EQ(holder.readLine(), "taken");
    for (std::size_t i = 0; i < std::size(starts); ++i)
        EXPECT_EQ((upgrade->*starts[i])(missing.c_str(), true), Varnholt::ERR_FUNCTION_IN_PROGRESS) << i;
    EXPECT_EQ(simulated.unit().requestCount(), 0u) << "a refused start reached the unit";

    holder.kill();
    holder.wait();
    EXPECT_EQ(upgrade->startSSUpgrade(missing.c_str(), true), Varnholt::ERR_OPEN_FAILED)
        << "the dead holder's lock came back";
    upgrade->release();
}

} // namespace PELMUX_FILE_SCOPE
} // namespace pelmux::test
