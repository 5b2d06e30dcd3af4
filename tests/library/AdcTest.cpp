#include "SimFixture.h"

#include <pelmux/Pelmux.h>

#include <cmath>
#include <functional>

namespace pelmux::test {
namespace PELMUX_FILE_SCOPE {

using Varnholt::Adc;
using Varnholt::ResultCode;
using Varnholt::VoltageChannel;

constexpr std::uint32_t voltageCode = 0x222464;
constexpr double untouched = -123.0;

// An answer as the driver sends it: echoed channel, raw reading, two unused bytes.
sim::Bytes answer(std::uint32_t channel, std::uint16_t raw)
{
    sim::Writer w;
    w.u32(channel).u16(raw).u8(0xFF).u8(0xFF);
    return w.take();
}

class AdcTest : public SimTest {
protected:
    ResultCode read(std::int32_t channel, double& volts)
    {
        Adc* adc = GetAdc();
        const ResultCode result = adc->getVoltage(static_cast<VoltageChannel>(channel), &volts);
        adc->release();
        return result;
    }
    void setRaw(const std::string& key, int raw)
    {
        unit().update([&](sim::Json& s) { s["adc"][key] = {{"raw", raw}}; });
    }
};

// The divider factor of each channel, seen through a reading of 40960 steps (volts = factor * 33).
TEST_F(AdcTest, EachChannelUsesItsDividerFactor)
{
    const double factors[] = {12, 12, 5, 5, 2, 2, 2, 2, 1, 1, 1, 1, 1, 1, 1};
    for (int channel = 0; channel < Varnholt::voltageChannelCount; ++channel) {
        setRaw(std::to_string(channel), 40960);
        double volts = untouched;
        ASSERT_EQ(read(channel, volts), Varnholt::ERR_SUCCESS) << channel;
        EXPECT_DOUBLE_EQ(volts, factors[channel] * 33.0) << channel;
    }
}

TEST_F(AdcTest, ConvertsRawReadingsToVolts)
{
    struct Case {
        std::int32_t channel;
        int raw;
        double volts;
    };
    const Case cases[] = {
        {0, 4095, 39.59033203125}, // 12 * 33 * 4095 / 40960
        {8, 4095, 3.299194335937}, // 33 * 4095 / 40960
        {9, 0, 0.0},
        {3, 2048, 8.25},
        {7, 1, 0.001611328125},
        {14, 65535, 52.799194335937}, // the whole 16 bits count
    };
    for (const auto& c : cases) {
        setRaw(std::to_string(c.channel), c.raw);
        double volts = untouched;
        EXPECT_EQ(read(c.channel, volts), Varnholt::ERR_SUCCESS) << c.channel;
        EXPECT_NEAR(volts, c.volts, 1e-9) << c.channel << " raw " << c.raw;
    }
}

// Channel numbers the unit does not name, negative ones too, pass unchanged with factor 1.
TEST_F(AdcTest, ChannelsBeyondTheRailsUseFactorOne)
{
    const std::int32_t channels[] = {15, 255, 0x7FFFFFFF, -1, -8};
    for (const std::int32_t channel : channels) {
        setRaw(std::to_string(static_cast<std::uint32_t>(channel)), 40960);
        double volts = untouched;
        ASSERT_EQ(read(channel, volts), Varnholt::ERR_SUCCESS) << channel;
        EXPECT_DOUBLE_EQ(volts, 33.0) << channel;
    }
}

// The unit's own divider model: every rail of the default unit reads within one converter step.
TEST_F(AdcTest, RailVoltagesComeBackWithinOneStep)
{
    const char* rails[] = {"24V", "24VIN", "12V", "12VVIDEO", "5VSTBY", "5V",  "3V3", "TFTVOL",
                           "1V9", "1V8",   "1V5", "1V2",      "1V05",   "1V0", "0V9"};
    const double nominal[] = {24.0, 24.0, 12.0, 12.0, 5.0, 5.0, 3.3, 3.3, 1.9, 1.8, 1.5, 1.2, 1.05, 1.0, 0.9};
    const double step[] = {12 * 3.3 / 4096, 5 * 3.3 / 4096, 2 * 3.3 / 4096, 3.3 / 4096};
    unit().update([&](sim::Json& s) {
        s["adc"] = sim::Json::object();
        for (int c = 0; c < 15; ++c)
            s["adc"][rails[c]] = nominal[c];
    });
    for (int channel = 0; channel < 15; ++channel) {
        double volts = untouched;
        ASSERT_EQ(read(channel, volts), Varnholt::ERR_SUCCESS) << rails[channel];
        const double tolerance = step[channel < 2 ? 0 : channel < 4 ? 1 : channel < 8 ? 2 : 3];
        EXPECT_NEAR(volts, nominal[channel], tolerance) << rails[channel];
    }
}

TEST_F(AdcTest, DriverFaultsGiveTheirCodesAndLeaveTheVoltageUntouched)
{
    struct Case {
        const char* what;
        std::function<void(sim::Unit&)> inject;
        ResultCode expected;
    };
    const Case cases[] = {
        {"request fails", [](sim::Unit& u) { u.failRequest(voltageCode); },
         Varnholt::ERR_IOCTRL_OPERATION_FAILED},
        {"7-byte answer",
         [](sim::Unit& u) {
             u.forceOutput(voltageCode, {2, 0, 0, 0, 1, 0, 0});
         },
         Varnholt::ERR_BUFFER_SIZE_ERROR},
        {"9 bytes reported", [](sim::Unit& u) { u.forceReturned(voltageCode, 9); },
         Varnholt::ERR_BUFFER_SIZE_ERROR},
        {"nothing returned", [](sim::Unit& u) { u.forceReturned(voltageCode, 0); },
         Varnholt::ERR_BUFFER_SIZE_ERROR},
        {"echo of channel 3", [](sim::Unit& u) { u.forceOutput(voltageCode, answer(3, 100)); },
         Varnholt::ERR_DATATYPE_MISMATCH},
        {"echo differing in its high byte",
         [](sim::Unit& u) { u.forceOutput(voltageCode, answer(0x01000002, 100)); },
         Varnholt::ERR_DATATYPE_MISMATCH},
        // The byte count is judged before the echo.
        {"short answer with a wrong echo",
         [](sim::Unit& u) {
             u.forceOutput(voltageCode, {3, 0, 0, 0, 1, 0, 0});
         },
         Varnholt::ERR_BUFFER_SIZE_ERROR},
    };
    for (const auto& c : cases) {
        unit().clearFaults();
        c.inject(unit());
        double volts = untouched;
        EXPECT_EQ(read(Varnholt::VOLTAGE_12V, volts), c.expected) << c.what;
        EXPECT_EQ(volts, untouched) << c.what;
    }
}

// The null test comes before the open test; neither sends a request.
TEST_F(AdcTest, NullPointerIsRefusedBeforeTheOpenTest)
{
    Adc* adc = GetAdc();
    EXPECT_EQ(adc->getVoltage(Varnholt::VOLTAGE_5V, nullptr), Varnholt::ERR_INVALID_PARAMETER_NULL);
    EXPECT_EQ(unit().requestCount(voltageCode), 0u);
    adc->release();

    stopUnit();
    Adc* closed = GetAdc();
    ASSERT_NE(closed, nullptr);
    double volts = untouched;
    EXPECT_EQ(closed->getVoltage(Varnholt::VOLTAGE_5V, nullptr), Varnholt::ERR_INVALID_PARAMETER_NULL);
    EXPECT_EQ(closed->getVoltage(Varnholt::VOLTAGE_5V, &volts), Varnholt::ERR_OPEN_FAILED);
    EXPECT_EQ(volts, untouched);
    closed->release();
}

TEST_F(AdcTest, EachFactoryCallBuildsItsOwnObjectAndHandle)
{
    Adc* first = GetAdc();
    Adc* second = GetAdc();
    EXPECT_NE(first, second);
    first->release();
    double volts = untouched;
    EXPECT_EQ(second->getVoltage(Varnholt::VOLTAGE_24V, &volts), Varnholt::ERR_SUCCESS);
    second->release();
}

TEST_F(AdcTest, SlotsFollowTheBinaryInterface)
{
    setRaw("2", 40960);
    Adc* adc = GetAdc();
    void** vtable = *reinterpret_cast<void***>(adc);
    double volts = untouched;
    using GetVoltage = ResultCode (*)(void*, VoltageChannel, double*);
    EXPECT_EQ(reinterpret_cast<GetVoltage>(vtable[0])(adc, Varnholt::VOLTAGE_12V, &volts),
              Varnholt::ERR_SUCCESS);
    EXPECT_DOUBLE_EQ(volts, 165.0);
    reinterpret_cast<void (*)(void*)>(vtable[1])(adc);
}

} // namespace PELMUX_FILE_SCOPE
} // namespace pelmux::test
