// One upgrade job at a time across the processes of a session: a job lock held by another process
// refuses every start operation before the image file is looked at, and comes back when that
// process dies. A job whose process is killed leaves nothing behind that stops the next one.
#include "FirmwareImages.h"
#include "KillableProcess.h"
#include "SimFixture.h"

#include <pelmux/Pelmux.h>

#include <cstdio>
#include <fstream>
#include <random>
#include <sys/ioctl.h>

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

// Polls the unit's state until `holds` says so; false after a minute without.
template <class Condition> bool waitUntil(sim::Unit& unit, Condition holds)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
    for (;;) {
        bool done = false;
        unit.update([&](sim::Json& s) { done = holds(static_cast<const sim::Json&>(s)); });
        if (done)
            return true;
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::yield();
    }
}

std::uint64_t counted(const sim::Json& state, const std::string& pointer)
{
    return state.value(sim::Json::json_pointer(pointer), std::uint64_t{0});
}

// Whether the terminal is in exclusive mode, which keeps every opener but root out.
bool exclusive(const std::string& device)
{
    const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    int on = 0;
    const bool read = fd >= 0 && ::ioctl(fd, TIOCGEXCL, &on) == 0;
    if (fd >= 0)
        ::close(fd);
    return !read || on != 0;
}

TEST(FirmwareProcesses, AJobKilledWhileWritingLeavesAUnitTheNextJobUpgrades)
{
    TempRoot root;
    platform::setTimeScale(0.0);
    // The jobs' processes wait no time either.
    struct NoWaits {
        NoWaits() { ::setenv("PELMUX_TIME_SCALE", "0", 1); }
        ~NoWaits() { ::unsetenv("PELMUX_TIME_SCALE"); }
    } noWaits;
    sim::Json profile = sim::defaultProfile();
    profile["serial"]["timeScale"] = 0.0;
    sim::SimulatedUnit simulated(root.path(), profile);
    sim::Unit& unit = simulated.unit();
    Varnholt::FirmwareUpgrade* upgrade = GetFirmwareUpgrade();
    ASSERT_NE(upgrade, nullptr);

    struct Target {
        const char* name;
        int link;
        std::size_t bytes; // the HEX text passes the target's file check
        Varnholt::ResultCode (Varnholt::FirmwareUpgrade::*start)(const char*, bool);
    };
    const Target targets[] = {{"ss", 1, 36 * 1024, &Varnholt::FirmwareUpgrade::startSSUpgrade},
                              {"front", 2, 24 * 1024, &Varnholt::FirmwareUpgrade::startFrontUpgrade}};
    // Ctrl-C of an upgrade that writes is the tool's to weigh (it warns first; see the tool's
    // interruption tests); these end the job's process at once.
    const int signals[] = {SIGKILL, SIGTERM};
    const unsigned seed = std::random_device()();
    std::mt19937 random(seed);
    for (int round = 0; round < 10; ++round) {
        const Target& target = targets[round % 2];
        const std::string device =
            std::string("/serial/devices/") + (target.link == 1 ? "supervisor" : "front");
        const std::string killedImage = root.path() + "/killed.hex";
        const std::string nextImage = root.path() + "/next.hex";
        const auto image = imageBytes(target.bytes, static_cast<std::uint32_t>(round));
        std::ofstream(killedImage, std::ios::binary) << hexText(imageBytes(target.bytes, 1000u + round));
        std::ofstream(nextImage, std::ios::binary) << hexText(image);
        const std::string where = "round " + std::to_string(round) + ", seed " + std::to_string(seed);

        // The writing starts with the erase; a block of 256 bytes takes 265 on the line.
        std::uint64_t erases = 0;
        unit.update([&](sim::Json& s) { erases = counted(s, device + "/counts/erase"); });
        KillableProcess job({PELMUX_TOOL, "firmware", "upgrade", target.name, killedImage});
        ASSERT_TRUE(job.started());
        std::uint64_t killAt = 0;
        // A job that ends by itself (a line time-out on a very busy machine) is not waited for.
        bool endedAlone = false;
        const auto ended = [&] { return endedAlone = job.waitFor(std::chrono::milliseconds(0)).has_value(); };
        ASSERT_TRUE(waitUntil(unit, [&](const sim::Json& s) {
            if (ended())
                return true;
            if (counted(s, device + "/counts/erase") == erases)
                return false;
            killAt = counted(s, "/serial/bytesToDevice") + random() % (target.bytes / 256 * 265);
            return true;
        })) << where;
        ASSERT_TRUE(waitUntil(unit, [&](const sim::Json& s) {
            return endedAlone || ended() || counted(s, "/serial/bytesToDevice") >= killAt;
        })) << where;
        if (endedAlone) {
            // Not killed, but the next upgrade must work all the same.
            std::printf("[ killed jobs ] %s: the job ended by itself with %d\n", where.c_str(), job.wait());
        } else {
            const int signal = signals[(round / 2) % 2];
            job.kill(signal);
            EXPECT_EQ(job.wait(), 128 + signal) << where << ": the job ended before the kill";
        }
        EXPECT_FALSE(exclusive(simulated.serialLine().devicePath())) << where;

        ASSERT_EQ((upgrade->*target.start)(nextImage.c_str(), true), Varnholt::ERR_SUCCESS) << where;
        const sim::Bytes flash = simulated.serialLine().flash(target.link);
        ASSERT_GE(flash.size(), image.size());
        EXPECT_TRUE(std::equal(image.begin(), image.end(), flash.begin())) << where;
    }
    upgrade->release();
}

} // namespace PELMUX_FILE_SCOPE
} // namespace pelmux::test
