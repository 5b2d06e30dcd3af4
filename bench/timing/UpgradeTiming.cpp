// A supervisor upgrade of a 128 KB image over the modelled serial line in real time: the library's
// blocking job, then stm32flash writing and verifying the same image on the same model. Each time
// is set against its wire-time lower bound: the bytes that crossed the line at 11 bits per byte at
// 115200 baud plus the device's programming and erase times.
#include <pelmux/Pelmux.h>

#include "FirmwareImages.h"
#include "Server.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;
constexpr double byteSeconds = 11.0 / 115200;
constexpr std::size_t imageSize = 128 * 1024;

struct Run {
    double seconds = 0;
    double bound = 0;
    std::uint64_t bytes = 0;
    bool flashMatches = false;
    bool ok = false;
};

struct LineCounters {
    std::uint64_t bytes;
    double deviceSeconds;
};

LineCounters counters(pelmux::sim::Unit& unit)
{
    const auto serial = unit.snapshot()["serial"];
    return {serial.value("bytesToDevice", std::uint64_t{0}) + serial.value("bytesToHost", std::uint64_t{0}),
            serial.value("deviceSeconds", 0.0)};
}

template <typename Job>
Run measure(pelmux::sim::SimulatedUnit& sim, const std::vector<std::uint8_t>& image, Job job)
{
    sim.serialLine().loadFlash(1, {});
    const LineCounters before = counters(sim.unit());
    const auto start = Clock::now();
    Run run;
    run.ok = job();
    run.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    ::usleep(200000); // the line shows its counters once quiet
    const LineCounters after = counters(sim.unit());
    run.bytes = after.bytes - before.bytes;
    run.bound = static_cast<double>(run.bytes) * byteSeconds + (after.deviceSeconds - before.deviceSeconds);
    const auto flash = sim.serialLine().flash(1);
    run.flashMatches = std::equal(image.begin(), image.end(), flash.begin());
    return run;
}

// The fewest bytes the library's exchange moves for an image: synchronisation, GET, GET VERSION,
// GET ID, mass erase, then for each block of 256 a write (command, address, count, data, checksum
// and three acknowledgements) and a read-back (command, address, count and three acknowledgements,
// then the data).
std::uint64_t libraryMinimumBytes(std::size_t size)
{
    const std::uint64_t blocks = (size + 255) / 256;
    const std::uint64_t connect = 2 + (2 + 15) + (2 + 5) + (2 + 5);
    const std::uint64_t erase = 2 + 1 + 2 + 1;
    const std::uint64_t writeOverhead = 2 + 1 + 5 + 1 + 1 + 1 + 1;
    const std::uint64_t readOverhead = 2 + 1 + 5 + 1 + 2 + 1;
    return connect + erase + blocks * (writeOverhead + readOverhead) + 2 * size;
}

void print(const char* name, const Run& run)
{
    std::printf("%-14s %9.2f s %9.2f s %8.3f %12llu   %s\n", name, run.seconds, run.bound,
                run.seconds / run.bound, static_cast<unsigned long long>(run.bytes),
                !run.ok            ? "FAILED"
                : run.flashMatches ? "flash equals image"
                                   : "FLASH DIFFERS");
}

} // namespace

int main()
{
    char pattern[] = "/tmp/pelmux-bench-XXXXXX";
    const std::string root = ::mkdtemp(pattern);
    ::setenv("PELMUX_ROOT", root.c_str(), 1);
    const auto image = pelmux::test::imageBytes(imageSize, 128);
    const std::string hexPath = root + "/image.hex";
    const std::string binPath = root + "/image.bin";
    std::ofstream(hexPath, std::ios::binary) << pelmux::test::hexText(image);
    std::ofstream(binPath, std::ios::binary)
        .write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));

    int exitCode = 0;
    {
        pelmux::sim::SimulatedUnit sim(root, pelmux::sim::defaultProfile());
        sim.unit().update([](pelmux::sim::Json& s) { s["serial"]["timeScale"] = 1.0; });
        std::printf(
            "supervisor upgrade of a %zu KB image over the modelled line (115200 baud, 11 bits a byte)\n",
            imageSize / 1024);
        std::fflush(stdout);

        const Run library = measure(sim, image, [&] {
            Varnholt::FirmwareUpgrade* upgrade = GetFirmwareUpgrade();
            if (upgrade == nullptr)
                return false;
            const bool ok = upgrade->startSSUpgrade(hexPath.c_str(), true) == Varnholt::ERR_SUCCESS;
            upgrade->release();
            return ok;
        });
        const Run tool = measure(sim, image, [&] {
            sim.unit().update([](pelmux::sim::Json& s) { s["firmware"]["link"] = 1; });
            const std::string command = "stm32flash -b 115200 -m 8n1 -w " + binPath + " -v -S 0x08000000 " +
                                        root + "/COM1 >/dev/null 2>&1";
            const bool ok = std::system(command.c_str()) == 0;
            sim.unit().update([](pelmux::sim::Json& s) { s["firmware"]["link"] = 0; });
            return ok;
        });

        std::printf("%-14s %11s %11s %8s %12s\n", "", "time", "bound", "ratio", "line bytes");
        print("library job", library);
        print("stm32flash", tool);
        std::printf("library exchange: %llu bytes at least for this image\n",
                    static_cast<unsigned long long>(libraryMinimumBytes(imageSize)));
        const bool met = library.ok && tool.ok && library.seconds / library.bound <= 1.05 &&
                         library.seconds <= tool.seconds;
        std::printf("goal (library at most 1.05 of its bound and not slower than stm32flash): %s\n",
                    met ? "met" : "missed");
        exitCode = library.ok && library.flashMatches ? 0 : 1;
    }
    std::filesystem::remove_all(root);
    return exitCode;
}
