#include "SimFixture.h"

#include "platform/Vendor.h"

#include <pelmux/Pelmux.h>

#include <functional>

namespace pelmux::test {
namespace PELMUX_FILE_SCOPE {

using Varnholt::DigIO;
using Varnholt::ResultCode;

constexpr std::uint32_t inputsCode = 0x222548;
constexpr unsigned char untouched = 0xEE;

// The default unit with its identity EEPROM giving `digio` digital inputs.
sim::Json profileWithDigitalInputs(const std::string& digio)
{
    sim::Json profile = sim::defaultProfile();
    std::string text =
        profile["eeproms"]["unit"].is_string() ? profile["eeproms"]["unit"].get<std::string>() : "";
    const auto at = text.find("DIGIO:");
    if (at == std::string::npos)
        text += "DIGIO:" + digio + "\n";
    else
        text.replace(at, text.find('\n', at) - at, "DIGIO:" + digio);
    profile["eeproms"]["unit"] = text;
    return profile;
}

class DigIOTest : public SimTest {
protected:
    ResultCode read(unsigned char& inputs)
    {
        DigIO* dio = GetDigIO();
        EXPECT_NE(dio, nullptr);
        const ResultCode result = dio->getDigitalInputs(&inputs);
        dio->release();
        return result;
    }
};

// Only the four inputs come back: the upper bits of the supervisor's byte are always cleared.
TEST_F(DigIOTest, ReturnsTheLowFourBits)
{
    const std::pair<int, unsigned char> cases[] = {
        {0xF5, 0x05}, {0x00, 0x00}, {0x0F, 0x0F}, {0xF0, 0x00}, {0xA9, 0x09}};
    for (const auto& [byte, expected] : cases) {
        unit().update([&](sim::Json& s) { s["digitalInputs"] = byte; });
        unsigned char inputs = untouched;
        EXPECT_EQ(read(inputs), Varnholt::ERR_SUCCESS) << byte;
        EXPECT_EQ(inputs, expected) << byte;
    }
}

TEST_F(DigIOTest, DriverFaultsGiveTheirCodesAndLeaveTheInputsUntouched)
{
    struct Case {
        const char* what;
        std::function<void(sim::Unit&)> inject;
        ResultCode expected;
    };
    const Case cases[] = {
        {"request fails", [](sim::Unit& u) { u.failRequest(inputsCode); },
         Varnholt::ERR_IOCTRL_OPERATION_FAILED},
        {"nothing returned", [](sim::Unit& u) { u.forceReturned(inputsCode, 0); },
         Varnholt::ERR_BUFFER_SIZE_ERROR},
        {"2 bytes reported", [](sim::Unit& u) { u.forceReturned(inputsCode, 2); },
         Varnholt::ERR_BUFFER_SIZE_ERROR},
    };
    for (const auto& c : cases) {
        unit().clearFaults();
        c.inject(unit());
        unsigned char inputs = untouched;
        EXPECT_EQ(read(inputs), c.expected) << c.what;
        EXPECT_EQ(inputs, untouched) << c.what;
    }
}

TEST_F(DigIOTest, NullPointerIsRefusedWithoutARequest)
{
    DigIO* dio = GetDigIO();
    EXPECT_EQ(dio->getDigitalInputs(nullptr), Varnholt::ERR_INVALID_PARAMETER_NULL);
    EXPECT_EQ(unit().requestCount(inputsCode), 0u);
    dio->release();
}

TEST_F(DigIOTest, DriverAbsentGivesOpenFailed)
{
    stopUnit();
    unsigned char inputs = untouched;
    EXPECT_EQ(read(inputs), Varnholt::ERR_OPEN_FAILED);
    EXPECT_EQ(inputs, untouched);
}

// A unit whose identity gives no digital inputs: refused before any request.
TEST_F(DigIOTest, NoDigitalInputsGivesNotSupportedWithoutARequest)
{
    startUnit(profileWithDigitalInputs("0"));
    unsigned char inputs = untouched;
    EXPECT_EQ(read(inputs), Varnholt::ERR_NOT_SUPPORTED);
    EXPECT_EQ(inputs, untouched);
    EXPECT_EQ(unit().requestCount(inputsCode), 0u);
}

// The constructor reads the identity before it opens the driver, and the open test comes before the
// feature test: a unit without inputs whose driver is gone once the identity was read (the board
// socket moved away when the vendor library session ends) answers ERR_OPEN_FAILED.
TEST_F(DigIOTest, OpenTestComesBeforeTheFeatureTest)
{
    startUnit(profileWithDigitalInputs("0"));
    const std::string socket = root().path() + "/board.sock";
    const auto exitCall = unit().vendorHandler(platform::vendorOrdinal::boardLibExit);
    ASSERT_TRUE(exitCall);
    unit().onVendor(platform::vendorOrdinal::boardLibExit,
                    [exitCall, socket](sim::Unit& u, sim::Reader& args, sim::Writer& out) {
                        std::error_code ignored;
                        std::filesystem::rename(socket, socket + ".away", ignored);
                        return exitCall(u, args, out);
                    });
    DigIO* dio = GetDigIO();
    std::filesystem::rename(socket + ".away", socket);
    unsigned char inputs = untouched;
    EXPECT_EQ(dio->getDigitalInputs(&inputs), Varnholt::ERR_OPEN_FAILED);
    EXPECT_EQ(inputs, untouched);
    dio->release();
}

// Unit data that cannot be read count as inputs present: the request decides.
TEST_F(DigIOTest, UnreadableUnitDataStillSendsTheRequest)
{
    sim::Json profile = sim::defaultProfile();
    profile.erase("eeproms");
    startUnit(profile);
    unsigned char inputs = untouched;
    EXPECT_EQ(read(inputs), Varnholt::ERR_SUCCESS);
    EXPECT_EQ(inputs, 0x05);
    EXPECT_EQ(unit().requestCount(inputsCode), 1u);
}

TEST_F(DigIOTest, SlotsFollowTheBinaryInterface)
{
    unit().update([](sim::Json& s) { s["digitalInputs"] = 0x3C; });
    DigIO* dio = GetDigIO();
    void** vtable = *reinterpret_cast<void***>(dio);
    unsigned char inputs = untouched;
    using Read = ResultCode (*)(void*, unsigned char*);
    EXPECT_EQ(reinterpret_cast<Read>(vtable[0])(dio, &inputs), Varnholt::ERR_SUCCESS);
    EXPECT_EQ(inputs, 0x0C);
    reinterpret_cast<void (*)(void*)>(vtable[1])(dio);
}

} // namespace PELMUX_FILE_SCOPE
} // namespace pelmux::test
