// stm32flash, a programmer written elsewhere for the real STM32 bootloader, writes and verifies an
// image through the simulated unit's COM1: proof that the bootloader model speaks the real protocol.
#include "SimFixture.h"

#include <cstdio>
#include <fstream>
#include <random>
#include <sys/wait.h>

namespace pelmux::test {
namespace PELMUX_FILE_SCOPE {

constexpr const char* stm32flash = "/usr/bin/stm32flash";

class Stm32flashTest : public SimTest {
protected:
    // Runs stm32flash with `arguments` against COM1; its exit code and everything it printed.
    std::pair<int, std::string> runStm32flash(const std::string& arguments)
    {
        const std::string command =
            std::string(stm32flash) + " " + arguments + " " + root().path() + "/COM1 2>&1";
        FILE* pipe = ::popen(command.c_str(), "r");
        std::string output;
        char buffer[4096];
        std::size_t n = 0;
        while (pipe != nullptr && (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
            output.append(buffer, n);
        const int status = pipe == nullptr ? -1 : ::pclose(pipe);
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, output};
    }

    std::string writeImage(const sim::Bytes& image)
    {
        const std::string path = root().path() + "/image.bin";
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
        return path;
    }
};

sim::Bytes randomImage(std::size_t size, unsigned seed)
{
    std::mt19937 random(seed);
    sim::Bytes image(size);
    for (auto& b : image)
        b = static_cast<std::uint8_t>(random());
    return image;
}

TEST_F(Stm32flashTest, WritesAndVerifiesThroughEitherBootloader)
{
    ASSERT_EQ(::access(stm32flash, X_OK), 0) << "stm32flash is not installed (make deps installs it)";
    struct Case {
        int link;
        std::size_t imageSize;
        std::size_t pageSize;
    };
    // An image of whole words on the supervisor, and one of an odd size on the front
    // micro-controller, which stm32flash pads to whole words.
    for (const Case c : {Case{1, 8192, 2048}, Case{2, 5 * 1024 + 3, 1024}}) {
        SCOPED_TRACE("link " + std::to_string(c.link));
        unit().update([&](sim::Json& s) {
            s["firmware"]["link"] = c.link;
            s["serial"]["timeScale"] = 0.05;
        });
        // Old contents everywhere: the pages stm32flash erases must be exactly the image's.
        const std::size_t flashSize = serialLine().flash(c.link).size();
        serialLine().loadFlash(c.link, sim::Bytes(flashSize, 0x00));
        const sim::Bytes image = randomImage(c.imageSize, static_cast<unsigned>(c.link));

        // A Linux pseudo-terminal keeps no parity setting, and stm32flash checks that the port kept
        // what it asked for: 8N1 here is what 8E1 is on a real port.
        const auto [code, output] =
            runStm32flash("-b 115200 -m 8n1 -w " + writeImage(image) + " -v -S 0x08000000");
        ASSERT_EQ(code, 0) << output;

        const sim::Bytes flash = serialLine().flash(c.link);
        ASSERT_EQ(flash.size(), flashSize);
        EXPECT_TRUE(std::equal(image.begin(), image.end(), flash.begin()));
        const std::size_t erased = (c.imageSize + c.pageSize - 1) / c.pageSize * c.pageSize;
        EXPECT_TRUE(std::all_of(flash.begin() + static_cast<std::ptrdiff_t>(c.imageSize),
                                flash.begin() + static_cast<std::ptrdiff_t>(erased),
                                [](std::uint8_t b) { return b == 0xFF; }));
        EXPECT_TRUE(std::all_of(flash.begin() + static_cast<std::ptrdiff_t>(erased), flash.end(),
                                [](std::uint8_t b) { return b == 0x00; }));
        const auto counts =
            unit().snapshot()["serial"]["devices"][c.link == 1 ? "supervisor" : "front"]["counts"];
        EXPECT_EQ(counts.value("erase", 0), 1);
        EXPECT_EQ(counts.value("nack", 0), 0);
    }
}

} // namespace PELMUX_FILE_SCOPE
} // namespace pelmux::test
