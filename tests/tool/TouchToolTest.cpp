// `pelmux touch` and `pelmux calib` against the test's simulated unit.
#include "SimFixture.h"
#include "ToolRun.h"

namespace pelmux::test {
namespace PELMUX_FILE_SCOPE {

class TouchToolTest : public SimTest {};

TEST_F(TouchToolTest, TouchShowsAndChangesTheSettings)
{
    const auto [code, output] = runTool("--json touch");
    ASSERT_EQ(code, 0) << output;
    const sim::Json json = sim::Json::parse(output);
    EXPECT_EQ(json["mode"]["value"], 1);
    EXPECT_EQ(json["parameter3"]["value"], 500);  // the controller keeps 2000
    EXPECT_EQ(json["parameter7"]["value"], 1500); // index 7 is code 10

    struct Case {
        const char* arguments;
        int exitCode;
        const char* pointer;
        int stored;
    };
    const Case cases[] = {
        {"touch param 3 1000", 0, "/touch/parameters/7", 4000},
        {"touch param 6 3", 0, "/touch/parameters/11", 12},
        {"touch param 1 4096", 1, "/touch/parameters/5", 80},
        {"touch mode 6", 0, "/touch/mode", 2},
        {"touch value 513", 0, "/touch/value", 513},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(runTool(c.arguments).first, c.exitCode) << c.arguments;
        EXPECT_EQ(unit().snapshot()[sim::Json::json_pointer(c.pointer)], c.stored) << c.arguments;
    }
    EXPECT_EQ(runTool("touch param 3").second, "  Parameter 3  1000\n");
}

TEST_F(TouchToolTest, CalibRunTouchesTheSimulatedScreenToTheEnd)
{
    EXPECT_EQ(runTool("calib touch").first, 1); // no calibration running
    const auto [code, output] = runTool("--json calib run 2 --touch");
    ASSERT_EQ(code, 0) << output;
    const sim::Json json = sim::Json::parse(output);
    EXPECT_EQ(json["pointsTaken"], sim::Json({1, 2, 3, 4, 5}));
    EXPECT_EQ(json["running"], 0);
    const sim::Json calib = sim::Json::parse(runTool("--json calib").second);
    EXPECT_EQ(calib["kind"]["value"], 0);
    EXPECT_EQ(calib["value4"]["value"], 5); // points taken
    EXPECT_EQ(calib["value5"]["value"], 6); // the kind's byte

    // Step by step, as a person drives it from two shells.
    EXPECT_EQ(runTool("calib start 1").first, 0);
    EXPECT_EQ(runTool("calib point 6").first, 1);
    EXPECT_EQ(runTool("calib point 1").first, 0);
    EXPECT_EQ(runTool("calib check 1").second, "Point 1 not taken yet.\n");
    EXPECT_EQ(runTool("calib touch").first, 0);
    EXPECT_EQ(runTool("calib check 1").second, "Point 1 taken.\n");
}

} // namespace PELMUX_FILE_SCOPE
} // namespace pelmux::test
