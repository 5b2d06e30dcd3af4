// The command line a user expects: global options anywhere, --version, unknown commands named, usage
// errors exit 2, numbers in hex or decimal, names in any case, values judged as the help states
// them, and messages that name what failed.
#include "SimFixture.h"
#include "ToolRun.h"

namespace pelmux::test {
namespace PELMUX_FILE_SCOPE {

// Runs the tool; answers its exit code and what it wrote on both outputs.
std::pair<int, std::string> runBoth(const std::string& arguments)
{
    return runTool(arguments, "", true);
}

class CommandLineToolTest : public SimTest {};

TEST_F(CommandLineToolTest, ArgumentsGiveTheExitCodeAndMessageTheHelpPromises)
{
    struct Case {
        const char* arguments;
        int exitCode;
        const char* says; // a part of the output
    };
    const Case cases[] = {
        {"version --json", 0, "\"library\": {"},
        {"buzzer --json tone 0x9C4 20", 0, "\"frequency\": 2500"},
        {"--version", 0, "pelmux 1.5.0.0"},
        {"--help", 0, "2    usage"},
        {"frob", 2, "pelmux: unknown command 'frob'"},
        {"buzzer frob", 2, "pelmux buzzer: unknown command 'frob'"},
        {"backlight set 300", 2, "300"},
        {"backlight set", 2, "level"},
        {"backlight set 010 --json", 0, "\"level\": 10"},
        {"backlight set 0x20", 0, "Backlight level 32."},
        {"backlight auto ON", 0, "Automatic backlight on."},
        {"led color Cyan", 0, "LED colour cyan."},
        {"led color 0xF 0 010", 0, "LED colour 15 0 10."},
        {"led color purple", 2, "colour name"},
        {"backlight filter 0 5 50 2", 2, "AVERAGE 0 is below 1"},
        {"backlight filter 5 5 0 2", 2, "DELTA 0 is below 1"},
        {"backlight filter 5 5 50 7", 2, "MODE 7 is not 0, 1 or 2"},
        {"backlight filter 5 5 50", 2, "all four"},
        {"buzzer buzz 60000", 2, "--long"},
        {"--json settings", 0, "\"settings\""},
        {"firmware upgrade ss /nonexistent/ss.hex", 1,
         "cannot read /nonexistent/ss.hex: No such file or directory"},
        {"video snapshot 1 /nonexistent/v.bmp", 1,
         "cannot write /nonexistent/v.bmp: No such file or directory"},
        {"errors", 0, "\n   9  ERR_INVALID_PARAMETER_NULL    Invalid"},
        {"errors", 0, "\n  10  ERR_CREATING_THREAD           Error"},
        {"diag text hw 010 --json", 0, "\"code\": 10"},
        {"adc 0x3", 0, "12VVIDEO"},
        {"power video 0xF", 0, "Video power inputs 1, 2, 3, 4 on."},
        {"backlight --help", 0, "Usage: pelmux backlight [OPTIONS] SUBCOMMAND"},
        {"firmware -h", 0, "\n  image "},
        {"sim set lux 2000", 0, ""},
        {"light", 0, "1565 lx (saturated: use the extended range)"},
        {"sim set lux 010 --json", 0, "\"value\": 10"},
        // A value another program wrote in a Windows code page: shown as it is, in JSON replaced.
        {"settings set Latin \"$(printf 'caf\\351')\"", 0, "Latin = caf\xE9\n"},
        {"--json settings list", 0, "\"Latin\": \"caf\xEF\xBF\xBD\""},
        {"--json calib run 1 --seconds 1", 1, "\"error\": \"point 1 was not taken within 1 s\""},
        {"--json firmware status", 1, "\"result\": 21"},
        {"--json abl run --seconds 1", 0, "{\"result\":0,\"running\":false"},
    };
    for (const auto& c : cases) {
        const auto [code, output] = runBoth(c.arguments);
        EXPECT_EQ(code, c.exitCode) << c.arguments << '\n' << output;
        EXPECT_NE(output.find(c.says), std::string::npos) << c.arguments << '\n' << output;
    }
}

TEST_F(CommandLineToolTest, ACalibrationLeftRunningIsEndedByAbort)
{
    ASSERT_EQ(runBoth("calib start 3").first, 0);
    EXPECT_NE(unit().snapshot()["touch"]["calibration"]["kind"], 0);
    const auto [code, output] = runBoth("calib abort");
    EXPECT_EQ(code, 0) << output;
    EXPECT_EQ(unit().snapshot()["touch"]["calibration"]["kind"], 0);
    EXPECT_EQ(runBoth("calib run 1 --seconds 1").first, 1) << "nobody touches the screen";
    EXPECT_EQ(unit().snapshot()["touch"]["calibration"]["kind"], 0) << "the timed-out run left it running";
}

} // namespace PELMUX_FILE_SCOPE
} // namespace pelmux::test
