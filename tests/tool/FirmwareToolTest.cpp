// `pelmux firmware` against the simulated unit: an image that the library's check refuses for its
// target is refused before any job, with what was found in it; a job's progress and end as JSON
// lines; a failed job's error told once.
#include "FirmwareImages.h"
#include "SimFixture.h"
#include "ToolRun.h"
#include "firmware/Flasher_STM32.h"

#include <functional>

namespace pelmux::test {
namespace PELMUX_FILE_SCOPE {

class FirmwareToolTest : public SimTest {
protected:
    std::string file(const std::string& name, const std::string& content)
    {
        root().writeFile(name, content);
        return root().path() + "/" + name;
    }
};

TEST_F(FirmwareToolTest, AnImageOfTheOtherKindIsRefusedWithWhatWasFound)
{
    // A supervisor image (36 KB of data, over 95000 bytes of text); the same records linked at the
    // flash alias with only its marker; FPGA lines (16-byte records from 0, no window named).
    const std::string supervisor = file("ss.hex", hexText(imageBytes(36 * 1024, 1)));
    const std::string marked =
        file("marked.hex", hexText(imageBytes(36 * 1024, 2), 0) + "SystemSupervisor\n");
    const std::string fpga = file("fpga.txt", hexText(imageBytes(4096, 3), 0));
    // A supervisor image linked at the flash alias 0, without a marker: the flash start to the library.
    const std::string aliased = file("aliased.hex", hexText(imageBytes(36 * 1024, 4), 0));
    struct Case {
        std::string arguments;
        int exitCode;
        std::string found; // in the message, when refused; in the answer otherwise
    };
    const Case cases[] = {
        {"upgrade fpga " + supervisor, 1,
         "does not look like an FPGA image: it names the micro-controllers' flash window 0x0800 in an "
         "extended linear address record, as a micro-controller image"},
        {"verify fpga " + marked, 1, "it carries the marker \"SystemSupervisor\""},
        {"upgrade ss " + fpga, 1, "supervisor image of 95000 to 1000000 bytes of text without another"},
        {"upgrade front --no-wait " + fpga, 1, "does not look like a front micro-controller image"},
        {"upgrade fpga " + fpga + " --json", 0,
         "{\"action\":0,\"percent\":0,\"result\":0,\"step\":\"Preparing\"}\n"},
        // Steps shown at their end, also when they ran between two looks at the status.
        {"upgrade ss " + supervisor, 0, "  Reading file 100 %\n  Connecting"},
        {"upgrade ss " + marked, 0, "  Writing 100 %\n  Verifying"},
        {"upgrade ss " + aliased + " --json", 0, "\"result\":0,\"step\":\"Complete\""},
    };
    for (const Case& c : cases) {
        const std::size_t jobs = unit().requestCount(0x222508);
        const auto [exitCode, output] = runTool("firmware " + c.arguments, "PELMUX_TIME_SCALE=0", true);
        EXPECT_EQ(exitCode, c.exitCode) << c.arguments << "\n" << output;
        EXPECT_NE(output.find(c.found), std::string::npos) << c.arguments << "\n" << output;
        if (c.exitCode != 0) {
            EXPECT_EQ(unit().requestCount(0x222508), jobs) << c.arguments << ": a job ran";
        } else {
            EXPECT_GT(unit().requestCount(0x222508), jobs) << c.arguments;
        }
    }
}

TEST_F(FirmwareToolTest, GeneratedImagesPassTheImageCheckOrAreRefusedWithTheSizesItTakes)
{
    struct Case {
        const char* target;
        const char* size; // the --bytes option, when given
        int exitCode;
        const char* says;
    };
    const Case cases[] = {
        {"ss", "--bytes 34000", 0, "in records of 8 bytes"},
        {"ss", "--bytes 6784", 0, "in records of 1 byte)"},
        {"ss", "--bytes 6783", 2,
         "of 95000 to 1000000 bytes of text, which 6783 bytes cannot give in Intel "
         "HEX records: give --bytes 6784 or more"},
        {"front", "--bytes 65536", 2, "give --bytes 52520 or fewer"},
        {"front", "--bytes 52520", 0, "in records of 128 bytes"},
    };
    const std::string image = root().path() + "/generated.hex";
    for (const Case& c : cases) {
        std::filesystem::remove(image);
        const std::string arguments = std::string(c.target) + " " + image + " " + c.size;
        const auto [exitCode, output] = runTool("firmware image " + arguments, "", true);
        EXPECT_EQ(exitCode, c.exitCode) << arguments << "\n" << output;
        EXPECT_NE(output.find(c.says), std::string::npos) << arguments << "\n" << output;
        const std::uint32_t target = std::string(c.target) == "ss" ? targetSupervisor : targetFront;
        EXPECT_EQ(checkImageFile(image.c_str(), target),
                  c.exitCode == 0 ? Varnholt::ERR_SUCCESS : Varnholt::ERR_OPEN_FAILED)
            << arguments << ": a file written is one the check takes, none is written otherwise";
    }
}

// A failed job names its cause once, off a terminal too: a bootloader that never answers (the link
// request fails, so the supervisor never enters it) and an FPGA that is not ready.
TEST_F(FirmwareToolTest, AFailedJobTellsItsCauseOnce)
{
    struct Case {
        std::function<void()> fault;
        std::string arguments;
        const char* environment;
        const char* says;
    };
    const Case cases[] = {
        {[this] { unit().failRequest(0x222510, 1); },
         "upgrade ss " + file("ss.hex", hexText(imageBytes(36 * 1024, 1))), "PELMUX_TIME_SCALE=0.02",
         "the job failed: no bootloader answered on COM1"},
        {[this] { unit().update([](sim::Json& s) { s["firmware"]["fpga"]["ready"] = 1; }); },
         "upgrade fpga " + file("fpga.txt", hexText(imageBytes(4096, 3), 0)), "", "(Initialisation failed"},
    };
    for (const Case& c : cases) {
        c.fault();
        const auto [exitCode, output] = runTool("firmware " + c.arguments, c.environment, true);
        EXPECT_EQ(exitCode, 1) << output;
        const std::size_t first = output.find(c.says);
        EXPECT_NE(first, std::string::npos) << output;
        EXPECT_EQ(output.find(c.says, first + 1), std::string::npos) << "told twice:\n" << output;
        unit().update([](sim::Json& s) { s["firmware"]["fpga"]["ready"] = 0; });
    }
}

} // namespace PELMUX_FILE_SCOPE
} // namespace pelmux::test
