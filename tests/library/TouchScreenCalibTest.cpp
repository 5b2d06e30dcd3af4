#include "SimFixture.h"

#include <pelmux/Pelmux.h>

#include <functional>
#include <string>

namespace pelmux::test {
namespace PELMUX_FILE_SCOPE {

using Varnholt::ResultCode;
using Varnholt::TouchScreenCalib;

constexpr std::uint32_t kindWrite = 0x2225B0;
constexpr std::uint32_t kindRead = 0x2225B4;
constexpr std::uint32_t parameterRead = 0x2225B8;
constexpr std::uint32_t parameterWrite = 0x2225BC;
const char* const driverName = "\\\\.\\PelmuxDrv";

class TouchScreenCalibTest : public SimTest {
protected:
    void SetUp() override
    {
        SimTest::SetUp();
        calib_ = GetTouchScreenCalib();
        ASSERT_NE(calib_, nullptr);
    }
    void TearDown() override
    {
        if (calib_ != nullptr)
            calib_->release();
        SimTest::TearDown();
    }
    TouchScreenCalib& calib() { return *calib_; }
    sim::Json calibrationState() { return unit().snapshot()["touch"]["calibration"]; }
    bool touchScreen() { return unit().command({{"cmd", "touch"}}).value("ok", false); }
    // An object whose driver open failed, on a unit that answers again afterwards.
    TouchScreenCalib* closedCalib()
    {
        unit().addEndpoint(driverName, [](const sim::Json&) { return false; });
        TouchScreenCalib* closed = GetTouchScreenCalib();
        unit().addEndpoint(driverName);
        return closed;
    }

private:
    TouchScreenCalib* calib_ = nullptr;
};

TEST_F(TouchScreenCalibTest, KindsTravelAsTheirDriverBytes)
{
    const std::pair<std::int32_t, int> kinds[] = {{1, 1}, {2, 6}, {3, 10}, {4, 14}};
    for (const auto& [kind, byte] : kinds) {
        EXPECT_EQ(calib().setCalibrationMode(kind), Varnholt::ERR_SUCCESS) << kind;
        EXPECT_EQ(calibrationState()["kind"], byte) << kind;
        std::int32_t running = -1;
        EXPECT_EQ(calib().getCalibrationMode(&running), Varnholt::ERR_SUCCESS) << kind;
        EXPECT_EQ(running, kind);
    }
}

TEST_F(TouchScreenCalibTest, DriverBytesThatNameNoKindReadAsNone)
{
    const std::pair<std::uint8_t, std::int32_t> answers[] = {{0, 0}, {7, 0},  {2, 0},  {1, 1},
                                                             {6, 2}, {10, 3}, {14, 4}, {255, 0}};
    for (const auto& [byte, kind] : answers) {
        unit().forceOutput(kindRead, {byte}, 1);
        std::int32_t running = -1;
        EXPECT_EQ(calib().getCalibrationMode(&running), Varnholt::ERR_SUCCESS) << int(byte);
        EXPECT_EQ(running, kind) << int(byte);
    }
}

// Kinds and value indices are judged before the open test, and a refused one sends nothing.
TEST_F(TouchScreenCalibTest, RangesAreJudgedBeforeTheOpenTest)
{
    TouchScreenCalib* closed = closedCalib();
    for (const std::int32_t kind : {0, 5, -1, 14}) {
        EXPECT_EQ(closed->setCalibrationMode(kind), Varnholt::ERR_INVALID_DATA_RANGE) << kind;
        EXPECT_EQ(calib().setCalibrationMode(kind), Varnholt::ERR_INVALID_DATA_RANGE) << kind;
    }
    for (const std::int32_t index : {6, -1, 13}) {
        std::uint16_t value = 0xEEEE;
        EXPECT_EQ(closed->getCalibrationValue(index, &value), Varnholt::ERR_INVALID_DATA_RANGE) << index;
        EXPECT_EQ(closed->setCalibrationValue(index, 1), Varnholt::ERR_INVALID_DATA_RANGE) << index;
        EXPECT_EQ(calib().setCalibrationValue(index, 1), Varnholt::ERR_INVALID_DATA_RANGE) << index;
        EXPECT_EQ(value, 0xEEEE);
    }
    EXPECT_EQ(unit().requestCount(kindWrite) + unit().requestCount(parameterWrite) +
                  unit().requestCount(parameterRead),
              0u);

    std::int32_t kind = 0;
    unsigned char done = 0;
    std::uint16_t value = 0;
    EXPECT_EQ(closed->setCalibrationMode(1), Varnholt::ERR_OPEN_FAILED);
    EXPECT_EQ(closed->getCalibrationMode(&kind), Varnholt::ERR_OPEN_FAILED);
    EXPECT_EQ(closed->setCalibrationPoint(1), Varnholt::ERR_OPEN_FAILED);
    EXPECT_EQ(closed->checkCalibrationPoint(&done, 1), Varnholt::ERR_OPEN_FAILED);
    EXPECT_EQ(closed->getCalibrationValue(0, &value), Varnholt::ERR_OPEN_FAILED);
    EXPECT_EQ(closed->setCalibrationValue(0, 1), Varnholt::ERR_OPEN_FAILED);
    EXPECT_EQ(closed->getCalibrationMode(nullptr), Varnholt::ERR_OPEN_FAILED);
    closed->release();
}

TEST_F(TouchScreenCalibTest, PointsUpToTheKindsHighest)
{
    struct Case {
        std::int32_t kind;
        unsigned char point;
        ResultCode expected;
    };
    const Case cases[] = {
        {1, 5, Varnholt::ERR_SUCCESS},
        {1, 6, Varnholt::ERR_INVALID_DATA_RANGE},
        {2, 5, Varnholt::ERR_SUCCESS},
        {2, 6, Varnholt::ERR_INVALID_DATA_RANGE},
        {3, 9, Varnholt::ERR_SUCCESS},
        {3, 10, Varnholt::ERR_INVALID_DATA_RANGE},
        {4, 13, Varnholt::ERR_SUCCESS},
        {4, 14, Varnholt::ERR_INVALID_DATA_RANGE},
        {4, 255, Varnholt::ERR_INVALID_DATA_RANGE},
    };
    for (const auto& c : cases) {
        ASSERT_EQ(calib().setCalibrationMode(c.kind), Varnholt::ERR_SUCCESS);
        const std::size_t sent = unit().requestCount(parameterWrite);
        EXPECT_EQ(calib().setCalibrationPoint(c.point), c.expected) << c.kind << " " << int(c.point);
        const bool accepted = c.expected == Varnholt::ERR_SUCCESS;
        EXPECT_EQ(unit().requestCount(parameterWrite), sent + (accepted ? 1 : 0));
        if (accepted) {
            EXPECT_EQ(calibrationState()["point"], c.point);
        }
    }
}

// The point operation reads the running kind first and answers that read's failures.
TEST_F(TouchScreenCalibTest, PointNeedsARunningCalibration)
{
    EXPECT_EQ(calib().setCalibrationPoint(1), Varnholt::ERR_FUNCTION_NOT_RUNNING);
    unit().forceOutput(kindRead, {7}, 1);
    EXPECT_EQ(calib().setCalibrationPoint(0), Varnholt::ERR_FUNCTION_NOT_RUNNING);
    ASSERT_EQ(calib().setCalibrationMode(3), Varnholt::ERR_SUCCESS);
    unit().failRequest(kindRead, 1);
    EXPECT_EQ(calib().setCalibrationPoint(1), Varnholt::ERR_IOCTRL_OPERATION_FAILED);
    unit().forceReturned(kindRead, 2, 1);
    EXPECT_EQ(calib().setCalibrationPoint(1), Varnholt::ERR_BUFFER_SIZE_ERROR);
    EXPECT_EQ(unit().requestCount(parameterWrite), 0u);
    EXPECT_EQ(calib().setCalibrationPoint(1), Varnholt::ERR_SUCCESS);
}

TEST_F(TouchScreenCalibTest, ValueIndicesReachTheirCodes)
{
    const char* codes[] = {"13", "14", "16", "15", "17", "18"};
    for (std::int32_t index = 0; index < 6; ++index) {
        const auto written = static_cast<std::uint16_t>(0x8000 + 17 * index);
        EXPECT_EQ(calib().setCalibrationValue(index, written), Varnholt::ERR_SUCCESS);
        EXPECT_EQ(unit().snapshot()["touch"]["parameters"][codes[index]], written) << index;
        std::uint16_t value = 0;
        EXPECT_EQ(calib().getCalibrationValue(index, &value), Varnholt::ERR_SUCCESS);
        EXPECT_EQ(value, written) << index;
    }
}

// done is 1 exactly when byte 3 of the controller's answer is the point asked about.
TEST_F(TouchScreenCalibTest, CheckComparesByteThreeWithThePoint)
{
    const std::tuple<std::vector<std::uint8_t>, unsigned char, unsigned char> cases[] = {
        {{1, 0, 0, 7}, 7, 1}, {{1, 0, 7, 0}, 7, 0}, {{1, 0, 0, 7}, 6, 0}, {{9, 9, 9, 0}, 0, 1}};
    for (const auto& [answer, point, expected] : cases) {
        unit().forceOutput(parameterRead, answer, 1);
        unsigned char done = 0xEE;
        EXPECT_EQ(calib().checkCalibrationPoint(&done, point), Varnholt::ERR_SUCCESS);
        EXPECT_EQ(done, expected) << int(point);
    }
}

TEST_F(TouchScreenCalibTest, DriverFaultsAndNullOutputs)
{
    struct Case {
        const char* what;
        std::uint32_t code;
        std::function<ResultCode(TouchScreenCalib&, std::uint16_t&)> call;
        bool countJudged;
    };
    const Case cases[] = {
        {"setCalibrationMode", kindWrite,
         [](TouchScreenCalib& c, std::uint16_t&) { return c.setCalibrationMode(2); }, false},
        {"getCalibrationMode", kindRead,
         [](TouchScreenCalib& c, std::uint16_t& out) {
             std::int32_t kind = out;
             const ResultCode r = c.getCalibrationMode(&kind);
             out = static_cast<std::uint16_t>(kind);
             return r;
         },
         true},
        {"checkCalibrationPoint", parameterRead,
         [](TouchScreenCalib& c, std::uint16_t& out) {
             unsigned char done = static_cast<unsigned char>(out);
             const ResultCode r = c.checkCalibrationPoint(&done, 0);
             out = done == 0xEE ? out : done;
             return r;
         },
         true},
        {"getCalibrationValue", parameterRead,
         [](TouchScreenCalib& c, std::uint16_t& out) { return c.getCalibrationValue(5, &out); }, true},
        {"setCalibrationValue", parameterWrite,
         [](TouchScreenCalib& c, std::uint16_t&) { return c.setCalibrationValue(5, 1); }, false},
    };
    for (const auto& c : cases) {
        std::uint16_t out = 0xEE;
        unit().failRequest(c.code, 1);
        EXPECT_EQ(c.call(calib(), out), Varnholt::ERR_IOCTRL_OPERATION_FAILED) << c.what;
        EXPECT_EQ(out, 0xEE) << c.what;
        unit().forceReturned(c.code, 5, 1);
        EXPECT_EQ(c.call(calib(), out),
                  c.countJudged ? Varnholt::ERR_BUFFER_SIZE_ERROR : Varnholt::ERR_SUCCESS)
            << c.what;
        EXPECT_EQ(out, 0xEE) << c.what;
    }

    unit().clearFaults();
    const std::size_t before = unit().requestCount();
    EXPECT_EQ(calib().getCalibrationMode(nullptr), Varnholt::ERR_INVALID_PARAMETER_NULL);
    EXPECT_EQ(calib().checkCalibrationPoint(nullptr, 1), Varnholt::ERR_INVALID_PARAMETER_NULL);
    EXPECT_EQ(calib().getCalibrationValue(0, nullptr), Varnholt::ERR_INVALID_PARAMETER_NULL);
    EXPECT_EQ(calib().getCalibrationValue(6, nullptr), Varnholt::ERR_INVALID_DATA_RANGE);
    EXPECT_EQ(unit().requestCount(), before);
}

// A whole nine-point calibration as an application runs it: name a point, wait until the controller
// has taken it (here: the simulated screen is touched), go on; the controller then ends the
// calibration and keeps its values.
TEST_F(TouchScreenCalibTest, NinePointCalibrationRunsToTheEnd)
{
    ASSERT_EQ(calib().setCalibrationMode(3), Varnholt::ERR_SUCCESS);
    for (unsigned char point = 1; point <= 9; ++point) {
        ASSERT_EQ(calib().setCalibrationPoint(point), Varnholt::ERR_SUCCESS) << int(point);
        unsigned char done = 0xEE;
        ASSERT_EQ(calib().checkCalibrationPoint(&done, point), Varnholt::ERR_SUCCESS);
        EXPECT_EQ(done, 0) << int(point);
        ASSERT_TRUE(touchScreen()) << int(point);
        ASSERT_EQ(calib().checkCalibrationPoint(&done, point), Varnholt::ERR_SUCCESS);
        EXPECT_EQ(done, 1) << int(point);
        std::int32_t kind = -1;
        ASSERT_EQ(calib().getCalibrationMode(&kind), Varnholt::ERR_SUCCESS);
        EXPECT_EQ(kind, point < 9 ? 3 : 0) << int(point);
    }
    EXPECT_FALSE(touchScreen());
    EXPECT_EQ(calib().setCalibrationPoint(1), Varnholt::ERR_FUNCTION_NOT_RUNNING);

    // The panel's edges (raw 180..3910 across, 220..3870 down) seen at a tenth inside each edge;
    // index 2 is the bottom and index 3 the top.
    const std::uint16_t expected[] = {553, 3537, 3505, 585, 9, 10};
    for (std::int32_t index = 0; index < 6; ++index) {
        std::uint16_t value = 0;
        EXPECT_EQ(calib().getCalibrationValue(index, &value), Varnholt::ERR_SUCCESS);
        EXPECT_EQ(value, expected[index]) << index;
    }
}

// With the knob set the controller takes each point as soon as it is named; a new start forgets
// the last run's progress.
TEST_F(TouchScreenCalibTest, AutomaticTouchRunsAThirteenPointCalibration)
{
    unit().update([](sim::Json& s) { s["touch"]["calibration"]["autoTouch"] = true; });
    ASSERT_EQ(calib().setCalibrationMode(4), Varnholt::ERR_SUCCESS);
    unsigned char point = 1;
    for (std::int32_t kind = 4; kind == 4; ++point) {
        ASSERT_LE(point, 13);
        ASSERT_EQ(calib().setCalibrationPoint(point), Varnholt::ERR_SUCCESS);
        unsigned char done = 0;
        ASSERT_EQ(calib().checkCalibrationPoint(&done, point), Varnholt::ERR_SUCCESS);
        EXPECT_EQ(done, 1) << int(point);
        ASSERT_EQ(calib().getCalibrationMode(&kind), Varnholt::ERR_SUCCESS);
    }
    EXPECT_EQ(point, 14);
    std::uint16_t points = 0;
    EXPECT_EQ(calib().getCalibrationValue(4, &points), Varnholt::ERR_SUCCESS);
    EXPECT_EQ(points, 13);

    ASSERT_EQ(calib().setCalibrationMode(1), Varnholt::ERR_SUCCESS);
    unsigned char done = 1;
    EXPECT_EQ(calib().checkCalibrationPoint(&done, 13), Varnholt::ERR_SUCCESS);
    EXPECT_EQ(done, 0);
}

} // namespace PELMUX_FILE_SCOPE
} // namespace pelmux::test
