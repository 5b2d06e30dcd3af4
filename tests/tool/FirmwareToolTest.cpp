// `pelmux firmware` against the simulated unit: an image that does not look like its target's is
// refused before any job, with what was found in it.
#include "FirmwareImages.h"
#include "SimFixture.h"
#include "ToolRun.h"

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
    struct Case {
        std::string arguments;
        int exitCode;
        std::string found; // in the message, when refused
    };
    const Case cases[] = {
        {"upgrade fpga " + supervisor, 1,
         "does not look like an FPGA image: it names the micro-controllers' flash window 0x0800 in an "
         "extended linear address record, as a micro-controller image"},
        {"verify fpga " + marked, 1, "it carries the marker \"SystemSupervisor\""},
        {"upgrade ss " + fpga, 1,
         "does not look like a system supervisor image: it names no flash window 0x0800 in an extended "
         "linear address record and carries no micro-controller marker, as an FPGA image"},
        {"upgrade front --no-wait " + fpga, 1, "does not look like a front micro-controller image"},
        {"upgrade fpga " + fpga, 0, ""},
        {"upgrade ss " + supervisor, 0, ""},
        {"upgrade ss " + marked, 0, ""},
    };
    for (const Case& c : cases) {
        const std::size_t jobs = unit().requestCount(0x222508);
        const auto [exitCode, output] = runTool("firmware " + c.arguments, "PELMUX_TIME_SCALE=0", true);
        EXPECT_EQ(exitCode, c.exitCode) << c.arguments << "\n" << output;
        if (c.exitCode != 0) {
            EXPECT_NE(output.find(c.found), std::string::npos) << c.arguments << "\n" << output;
            EXPECT_EQ(unit().requestCount(0x222508), jobs) << c.arguments << ": a job ran";
        } else {
            EXPECT_GT(unit().requestCount(0x222508), jobs) << c.arguments;
        }
    }
}

} // namespace PELMUX_FILE_SCOPE
} // namespace pelmux::test
