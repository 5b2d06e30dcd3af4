// The automatic backlight controller in one process, an application steering it from another:
// they meet only in the settings file, the named semaphores and the unit.
#include "Process.h"
#include "SimFixture.h"
#include "Waiting.h"

#include <pelmux/Pelmux.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <thread>

namespace pelmux::test {
namespace PELMUX_FILE_SCOPE {

TEST(ControllerProcesses, AnApplicationEnablesTheControllerAndChangesItsFilter)
{
    TempRoot root;
    platform::setTimeScale(0.02);
    sim::SimulatedUnit simulated(root.path(), sim::defaultProfile());
    sim::Unit& unit = simulated.unit();
    unit.forceOutput(0x222514, {0xC1, 0x85}); // 100 lux in the standard range, 500 in the extended one
    unit.update([](sim::Json& s) { s["backlight"]["level"] = 7; });
    const auto level = [&] { return unit.snapshot()["backlight"]["level"].get<int>(); };

    ::setenv("PELMUX_TIME_SCALE", "0.02", 1);
    Daemon controller({PELMUX_TOOL, "abl", "run"}, root.path());
    ::unsetenv("PELMUX_TIME_SCALE");

    Varnholt::Backlight* backlight = GetBacklight();
    ASSERT_NE(backlight, nullptr);
    ASSERT_EQ(backlight->setSoftTransitions(false), Varnholt::ERR_SUCCESS);
    ASSERT_EQ(backlight->enableAutomaticBacklight(), Varnholt::ERR_SUCCESS);
    EXPECT_TRUE(waitUntil([&] { return level() == 220; })) << level(); // 50 ln 100 - 10

    // The averaging parameters apply from the controller's next start: off, wait until its
    // averaging has ended (the session-wide lock is free again), then on.
    ASSERT_EQ(backlight->setAutomaticBacklightFilter(5, 1, 50, Varnholt::RANGE_MODE_EXTENDED),
              Varnholt::ERR_SUCCESS);
    ASSERT_EQ(backlight->disableAutomaticBacklight(), Varnholt::ERR_SUCCESS);
    Varnholt::Lightsensor* sensor = GetLightsensor();
    ASSERT_NE(sensor, nullptr);
    EXPECT_TRUE(waitUntil(
        [&] { return sensor->setOperatingRange(Varnholt::RANGE_STANDARD) == Varnholt::ERR_SUCCESS; }));
    ASSERT_EQ(backlight->enableAutomaticBacklight(), Varnholt::ERR_SUCCESS);
    // Extended range: five times the light, and the curve clamps at 254.
    EXPECT_TRUE(waitUntil([&] { return level() == 254; })) << level();
    std::int32_t range = -1;
    EXPECT_EQ(sensor->getOperatingRange(&range), Varnholt::ERR_SUCCESS);
    EXPECT_EQ(range, Varnholt::RANGE_EXTENDED);
    sensor->release();
    backlight->release();

    // The controller process ends cleanly: its thread stopped and joined on release.
    EXPECT_EQ(controller.stop(), 0);
}

TEST(ControllerProcesses, OneFailedLightRequestDoesNotFreezeTheController)
{
    TempRoot root;
    platform::setTimeScale(0.02);
    sim::SimulatedUnit simulated(root.path(), sim::defaultProfile());
    sim::Unit& unit = simulated.unit();
    const auto light = [&](int lux) { unit.update([&](sim::Json& s) { s["lightSensor"]["lux"] = lux; }); };
    const auto level = [&] { return unit.snapshot()["backlight"]["level"].get<int>(); };
    light(1000);
    unit.update([](sim::Json& s) { s["backlight"]["level"] = 7; });

    ::setenv("PELMUX_TIME_SCALE", "0.02", 1);
    Daemon controller({PELMUX_TOOL, "abl", "run"}, root.path());
    ::unsetenv("PELMUX_TIME_SCALE");

    Varnholt::Backlight* backlight = GetBacklight();
    ASSERT_NE(backlight, nullptr);
    ASSERT_EQ(backlight->setSoftTransitions(false), Varnholt::ERR_SUCCESS);
    ASSERT_EQ(backlight->enableAutomaticBacklight(), Varnholt::ERR_SUCCESS);
    EXPECT_TRUE(waitUntil([&] { return level() == 254; })) << level();

    // The controller's averaging meets one failed request, then the room darkens; no application
    // writes the settings again.
    unit.failRequest(0x222514, 1);
    light(20);
    EXPECT_TRUE(waitUntil([&] { return level() == 139; })) << level(); // 50 ln 20 - 10
    EXPECT_TRUE(unit.armedFaults().empty());
    backlight->release();
    EXPECT_EQ(controller.stop(), 0);
}

} // namespace PELMUX_FILE_SCOPE
} // namespace pelmux::test
