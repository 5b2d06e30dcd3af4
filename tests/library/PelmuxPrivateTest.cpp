// PelmuxPrivate: identity fields by name, supervisor registers, settings keys and the controller,
// against the simulated unit.
#include "VendorFixture.h"

#include "frame/SettingsFile.h"

#include <pelmux/Pelmux.h>

#include <cstring>
#include <functional>

namespace pelmux::test {
namespace PELMUX_FILE_SCOPE {

using Varnholt::PelmuxPrivate;
using Varnholt::ResultCode;

constexpr std::uint32_t readCode = 0x22248C;
constexpr std::uint32_t writeCode = 0x222488;
constexpr std::uint16_t untouched = 0xA5A5;

using Operation = std::function<ResultCode(PelmuxPrivate&)>;

std::uint16_t scratch = 0;

Operation readByte(signed char index, std::uint16_t* value = &scratch)
{
    return [=](PelmuxPrivate& p) { return p.readSupervisorRegister(index, value); };
}
Operation writeByte(signed char index, std::uint16_t value = 1)
{
    return [=](PelmuxPrivate& p) { return p.writeSupervisorRegister(index, value); };
}
Operation readExt(std::uint16_t index, std::uint16_t* value = &scratch)
{
    return [=](PelmuxPrivate& p) { return p.readSupervisorRegisterExt(index, value); };
}
Operation writeExt(std::uint16_t index, std::uint16_t value = 1)
{
    return [=](PelmuxPrivate& p) { return p.writeSupervisorRegisterExt(index, value); };
}

class PelmuxPrivateTest : public SimTest {
protected:
    ResultCode run(const Operation& op)
    {
        PelmuxPrivate* p = GetPelmuxPrivate();
        const ResultCode result = op(*p);
        p->release();
        return result;
    }
};

// ------------------------------------------------------------------ registers

// Up: a unit answers. Closed: the object was made without a unit, which answers by the time of the
// call (the version gates reach it, the object's own driver handle stays closed). Absent: no unit.
enum class Driver { Up, Closed, Absent };

TEST_F(PelmuxPrivateTest, RangeGateOpenAndNullTestsComeInTheirOrder)
{
    struct Case {
        const char* what;
        Operation op;
        Driver driver;
        bool oldSupervisor; // 1.2.9.0 instead of 1.3.0.0
        ResultCode expected;
        std::size_t requests; // register requests that reach the unit
    };
    const Case cases[] = {
        {"read 95 is sent", readByte(95), Driver::Up, false, Varnholt::ERR_SUCCESS, 1},
        {"write 95 is sent", writeByte(95), Driver::Up, false, Varnholt::ERR_SUCCESS, 1},
        {"read 96", readByte(96), Driver::Up, false, Varnholt::ERR_INVALID_DATA_RANGE, 0},
        {"write 127", writeByte(127), Driver::Up, false, Varnholt::ERR_INVALID_DATA_RANGE, 0},
        {"read 96, driver closed", readByte(96), Driver::Closed, false, Varnholt::ERR_INVALID_DATA_RANGE, 0},
        {"write 96, driver closed", writeByte(96), Driver::Closed, false, Varnholt::ERR_INVALID_DATA_RANGE,
         0},
        {"read 95, driver closed", readByte(95), Driver::Closed, false, Varnholt::ERR_OPEN_FAILED, 0},
        {"read 96, no unit", readByte(96), Driver::Absent, false, Varnholt::ERR_INVALID_DATA_RANGE, 0},
        {"extended read 749", readExt(749), Driver::Up, false, Varnholt::ERR_SUCCESS, 1},
        {"extended write 749", writeExt(749), Driver::Up, false, Varnholt::ERR_SUCCESS, 1},
        {"extended read 750", readExt(750), Driver::Up, false, Varnholt::ERR_INVALID_DATA_RANGE, 0},
        {"extended write 750", writeExt(750), Driver::Up, false, Varnholt::ERR_INVALID_DATA_RANGE, 0},
        {"old supervisor, read 10", readExt(10), Driver::Up, true, Varnholt::ERR_NEWER_SS_REQUIRED, 0},
        {"old supervisor, write 10", writeExt(10), Driver::Up, true, Varnholt::ERR_NEWER_SS_REQUIRED, 0},
        // The gate comes before the range, the range before the open test.
        {"old supervisor, read 750", readExt(750), Driver::Up, true, Varnholt::ERR_NEWER_SS_REQUIRED, 0},
        {"extended 750, driver closed", readExt(750), Driver::Closed, false, Varnholt::ERR_INVALID_DATA_RANGE,
         0},
        {"extended 10, driver closed", writeExt(10), Driver::Closed, false, Varnholt::ERR_OPEN_FAILED, 0},
        // Without a unit the gate cannot read the version: it answers as for old firmware.
        {"extended read, no unit", readExt(10), Driver::Absent, false, Varnholt::ERR_NEWER_SS_REQUIRED, 0},
        // The byte forms know no gate.
        {"old supervisor, byte read", readByte(10), Driver::Up, true, Varnholt::ERR_SUCCESS, 1},
        // A null output is refused after the range and open tests, before any request.
        {"read into null", readByte(10, nullptr), Driver::Up, false, Varnholt::ERR_INVALID_PARAMETER_NULL, 0},
        {"read 96 into null", readByte(96, nullptr), Driver::Up, false, Varnholt::ERR_INVALID_DATA_RANGE, 0},
        {"null, driver closed", readByte(9, nullptr), Driver::Closed, false, Varnholt::ERR_OPEN_FAILED, 0},
        {"extended into null", readExt(9, nullptr), Driver::Up, false, Varnholt::ERR_INVALID_PARAMETER_NULL,
         0},
    };
    for (const auto& c : cases) {
        startUnit(sim::defaultProfile());
        if (c.oldSupervisor)
            unit().update([](sim::Json& s) { s["versions"]["supervisor"] = {1, 2, 9, 0}; });
        if (c.driver != Driver::Up)
            stopUnit();
        PelmuxPrivate* p = GetPelmuxPrivate();
        if (c.driver == Driver::Closed)
            startUnit(sim::defaultProfile());
        EXPECT_EQ(c.op(*p), c.expected) << c.what;
        if (c.driver != Driver::Absent) {
            EXPECT_EQ(unit().requestCount(readCode) + unit().requestCount(writeCode), c.requests) << c.what;
        }
        p->release();
    }
}

TEST_F(PelmuxPrivateTest, IndicesTravelSignExtendedWithTheirValues)
{
    struct Case {
        const char* what;
        Operation op;
        sim::Bytes sent;
        ResultCode expected;
    };
    std::uint16_t read = untouched;
    const Case cases[] = {
        {"read 5", readByte(5, &read), {5, 0, 0, 0}, Varnholt::ERR_SUCCESS},
        // The unit echoes 0xFFFF, which never equals the index -1.
        {"read -1", readByte(-1), {0xFF, 0xFF, 0, 0}, Varnholt::ERR_DATATYPE_MISMATCH},
        {"read -128", readByte(-128), {0x80, 0xFF, 0, 0}, Varnholt::ERR_DATATYPE_MISMATCH},
        {"write -1", writeByte(-1, 0x1234), {0xFF, 0xFF, 0x34, 0x12}, Varnholt::ERR_SUCCESS},
        {"extended write 700", writeExt(700, 0xBEEF), {0xBC, 0x02, 0xEF, 0xBE}, Varnholt::ERR_SUCCESS},
        {"extended read 749", readExt(749), {0xED, 0x02, 0, 0}, Varnholt::ERR_SUCCESS},
    };
    std::vector<sim::Bytes> received;
    // Echoes the index with the value 0x0102; a write is consumed whole.
    unit().onControl(readCode, [&](sim::Unit&, const sim::ControlRequest& r) {
        received.push_back(r.input);
        return sim::ControlReply::data({r.input.at(0), r.input.at(1), 0x02, 0x01});
    });
    unit().onControl(writeCode, [&](sim::Unit&, const sim::ControlRequest& r) {
        received.push_back(r.input);
        return sim::ControlReply::consumed(r.input.size());
    });
    for (const auto& c : cases) {
        received.clear();
        EXPECT_EQ(run(c.op), c.expected) << c.what;
        ASSERT_EQ(received.size(), 1u) << c.what;
        EXPECT_EQ(received[0], c.sent) << c.what;
    }
    EXPECT_EQ(read, 0x0102);
}

// Unit commands that inject a fault into the register requests.
sim::Json fail(std::uint32_t code)
{
    return {{"cmd", "fail"}, {"code", code}};
}
sim::Json returned(std::uint32_t code, int count)
{
    return {{"cmd", "returned"}, {"code", code}, {"count", count}};
}
sim::Json answer(sim::Bytes bytes)
{
    return {{"cmd", "output"}, {"code", readCode}, {"bytes", bytes}};
}

TEST_F(PelmuxPrivateTest, DriverFaultsGiveTheirCodesAndLeaveTheValueUntouched)
{
    enum Kind { Read, ReadExt, Write, WriteExt };
    struct Case {
        sim::Json fault;
        Kind kind;
        ResultCode expected;
    };
    const Case cases[] = {
        {fail(readCode), Read, Varnholt::ERR_IOCTRL_OPERATION_FAILED},
        {answer({10, 0}), Read, Varnholt::ERR_BUFFER_SIZE_ERROR},
        {returned(readCode, 5), ReadExt, Varnholt::ERR_BUFFER_SIZE_ERROR},
        {answer({11, 0, 1, 0}), Read, Varnholt::ERR_DATATYPE_MISMATCH},
        {answer({10, 1, 1, 0}), ReadExt, Varnholt::ERR_DATATYPE_MISMATCH},
        {fail(writeCode), WriteExt, Varnholt::ERR_IOCTRL_OPERATION_FAILED},
        {returned(writeCode, 2), Write, Varnholt::ERR_BUFFER_SIZE_ERROR},
        {returned(writeCode, 0), WriteExt, Varnholt::ERR_BUFFER_SIZE_ERROR},
    };
    for (const auto& c : cases) {
        unit().clearFaults();
        ASSERT_EQ(unit().command(c.fault)["ok"], true);
        std::uint16_t value = untouched;
        const Operation ops[] = {readByte(10, &value), readExt(10, &value), writeByte(10), writeExt(10)};
        EXPECT_EQ(run(ops[c.kind]), c.expected) << c.fault.dump();
        EXPECT_EQ(value, untouched) << c.fault.dump();
    }
}

// ------------------------------------------------------------------ identity fields

// A buffer that shows every byte written, and any written past the NUL.
struct TextOut {
    char buffer[300];
    TextOut() { std::memset(buffer, '#', sizeof buffer); }
    bool untouched() const { return buffer[0] == '#'; }
};

TEST_F(PelmuxPrivateTest, IdentityFieldsFollowTheLengthRule)
{
    setEeprom(unit(), "unit", lines({"PCB_SERIAL:12345", "UNIT_SERIAL:A-7 x", "DATE:2024-01-02", "DATA:2"}));
    struct Case {
        const char* what;
        unsigned char eeprom;
        const char* name;
        std::int32_t length;
        bool nullBuffer;
        ResultCode expected;
        const char* value; // written on success
    };
    const Case cases[] = {
        {"length 5 fits 12345", 0, "PCB_SERIAL", 5, false, Varnholt::ERR_SUCCESS, "12345"},
        {"length 4 is short", 0, "PCB_SERIAL", 4, false, Varnholt::ERR_BUFFER_SIZE_ERROR, nullptr},
        {"negative length", 0, "PCB_SERIAL", -1, false, Varnholt::ERR_BUFFER_SIZE_ERROR, nullptr},
        {"missing key", 0, "PROD_ART", 100, false, Varnholt::ERR_JIDA_EEPROM_ACCESS, nullptr},
        {"expansion by 255", 255, "WLAN", 100, false, Varnholt::ERR_SUCCESS, "1"},
        {"key only on the expansion", 0, "WLAN", 100, false, Varnholt::ERR_JIDA_EEPROM_ACCESS, nullptr},
        {"null buffer", 0, "PCB_SERIAL", 5, true, Varnholt::ERR_INVALID_PARAMETER_NULL, nullptr},
        // The length test comes before the null test.
        {"null buffer, short", 0, "PCB_SERIAL", 4, true, Varnholt::ERR_BUFFER_SIZE_ERROR, nullptr},
    };
    PelmuxPrivate* p = GetPelmuxPrivate();
    for (const auto& c : cases) {
        TextOut out;
        EXPECT_EQ(p->getIdentityField(c.eeprom, c.name, c.nullBuffer ? nullptr : out.buffer, c.length),
                  c.expected)
            << c.what;
        if (c.value == nullptr) {
            EXPECT_TRUE(out.untouched()) << c.what;
            continue;
        }
        const std::size_t n = std::strlen(c.value);
        EXPECT_EQ(std::string(out.buffer, n + 1), std::string(c.value, n + 1)) << c.what;
        EXPECT_EQ(out.buffer[n + 1], '#') << c.what;
    }
    EXPECT_EQ(p->getIdentityField(0, nullptr, nullptr, 10), Varnholt::ERR_INVALID_PARAMETER_NULL);
    p->release();
}

TEST_F(PelmuxPrivateTest, SettingAnExpansionFieldRewritesOnlyThatLine)
{
    const std::string unitBefore = unitDefaultText();
    const std::string before = sim::defaultProfile()["eeproms"]["expansion"].get<std::string>();
    PelmuxPrivate* p = GetPelmuxPrivate();
    ASSERT_EQ(p->setIdentityField(1, "PCB_SERIAL", "41999999X"), Varnholt::ERR_SUCCESS);

    std::string expected = before;
    expected.replace(expected.find("41000777"), 8, "41999999X");
    EXPECT_EQ(eepromContent(unit(), "expansion"), expected);
    EXPECT_EQ(eepromContent(unit(), "unit"), unitBefore);

    // The object reads its own rewrite back; the unit's serial is another line.
    TextOut out;
    EXPECT_EQ(p->getIdentityField(1, "PCB_SERIAL", out.buffer, 100), Varnholt::ERR_SUCCESS);
    EXPECT_STREQ(out.buffer, "41999999X");
    EXPECT_EQ(p->getIdentityField(0, "PCB_SERIAL", out.buffer, 100), Varnholt::ERR_SUCCESS);
    EXPECT_STREQ(out.buffer, "40123456");
    p->release();
}

TEST_F(PelmuxPrivateTest, FailedIdentityWritesAnswerEepromAccess)
{
    struct Case {
        const char* what;
        const char* name;
        const char* value;
        bool failWrite;
        ResultCode expected;
    };
    const Case cases[] = {
        {"missing key", "NO_SUCH_KEY", "1", false, Varnholt::ERR_JIDA_EEPROM_ACCESS},
        {"EEPROM write fails", "PCB_SERIAL", "1", true, Varnholt::ERR_JIDA_EEPROM_ACCESS},
        {"null name", nullptr, "1", false, Varnholt::ERR_INVALID_PARAMETER_NULL},
        {"null value", "PCB_SERIAL", nullptr, false, Varnholt::ERR_INVALID_PARAMETER_NULL},
    };
    for (const auto& c : cases) {
        unit().clearFaults();
        PelmuxPrivate* p = GetPelmuxPrivate();
        if (c.failWrite)
            unit().failVendor(platform::vendorOrdinal::boardI2cWrite);
        EXPECT_EQ(p->setIdentityField(0, c.name, c.value), c.expected) << c.what;
        p->release();
        EXPECT_EQ(eepromContent(unit(), "unit"), unitDefaultText()) << c.what;
    }
}

// ------------------------------------------------------------------ settings

TEST_F(PelmuxPrivateTest, SettingsKeysFollowTheBufferRule)
{
    PelmuxPrivate* p = GetPelmuxPrivate();
    ASSERT_EQ(p->setSetting("Free_key", "abc"), Varnholt::ERR_SUCCESS);
    struct Case {
        const char* what;
        const char* key;
        std::int32_t size;
        bool nullBuffer;
        ResultCode expected;
    };
    const Case cases[] = {
        {"room for the NUL", "Free_key", 4, false, Varnholt::ERR_SUCCESS},
        {"no room for the NUL", "Free_key", 3, false, Varnholt::ERR_BUFFER_SIZE_ERROR},
        {"negative size", "Free_key", -5, false, Varnholt::ERR_BUFFER_SIZE_ERROR},
        {"missing key", "Not_there", 100, false, Varnholt::ERR_EXECUTE_COMMAND_FAILED},
        {"null buffer", "Free_key", 4, true, Varnholt::ERR_INVALID_PARAMETER_NULL},
        {"null buffer, short", "Free_key", 3, true, Varnholt::ERR_BUFFER_SIZE_ERROR},
        {"null key", nullptr, 100, false, Varnholt::ERR_INVALID_PARAMETER_NULL},
    };
    for (const auto& c : cases) {
        TextOut out;
        EXPECT_EQ(p->getSetting(c.key, c.nullBuffer ? nullptr : out.buffer, c.size), c.expected) << c.what;
        if (c.expected == Varnholt::ERR_SUCCESS) {
            EXPECT_EQ(std::string(out.buffer, 4), std::string("abc\0", 4)) << c.what;
            EXPECT_EQ(out.buffer[4], '#') << c.what;
        } else {
            EXPECT_TRUE(out.untouched()) << c.what;
        }
    }
    p->release();
}

TEST_F(PelmuxPrivateTest, SetSettingReportsWhatTheFileCouldNotTake)
{
    struct Case {
        const char* what;
        const char* key;
        const char* value;
        ResultCode expected;
    };
    const Case cases[] = {
        {"plain key", "ABL_mode", "1", Varnholt::ERR_SUCCESS},
        {"key with '='", "a=b", "1", Varnholt::ERR_EXECUTE_COMMAND_FAILED},
        {"value with a line break", "Two_lines", "1\nInjected=2", Varnholt::ERR_EXECUTE_COMMAND_FAILED},
        {"null key", nullptr, "1", Varnholt::ERR_INVALID_PARAMETER_NULL},
        {"null value", "ABL_k", nullptr, Varnholt::ERR_INVALID_PARAMETER_NULL},
    };
    PelmuxPrivate* p = GetPelmuxPrivate();
    for (const auto& c : cases)
        EXPECT_EQ(p->setSetting(c.key, c.value), c.expected) << c.what;
    p->release();

    SettingsFile file;
    file.loadSettings(settingsPath());
    const SettingsEntries expected = {{"ABL_mode", "1"}};
    EXPECT_EQ(file.entries(), expected);
}

// ------------------------------------------------------------------ object

TEST_F(PelmuxPrivateTest, SlotsFollowTheBinaryInterface)
{
    PelmuxPrivate* p = GetPelmuxPrivate();
    void** vtable = *reinterpret_cast<void***>(p);
    using Plain = ResultCode (*)(void*);
    using ReadExt = ResultCode (*)(void*, std::uint16_t, std::uint16_t*);
    using WriteExt = ResultCode (*)(void*, std::uint16_t, std::uint16_t);
    EXPECT_EQ(reinterpret_cast<Plain>(vtable[7])(p), Varnholt::ERR_NOT_SUPPORTED);
    EXPECT_EQ(reinterpret_cast<WriteExt>(vtable[10])(p, 640, 4321), Varnholt::ERR_SUCCESS);
    std::uint16_t value = untouched;
    EXPECT_EQ(reinterpret_cast<ReadExt>(vtable[9])(p, 640, &value), Varnholt::ERR_SUCCESS);
    EXPECT_EQ(value, 4321);

    PelmuxPrivate* other = GetPelmuxPrivate();
    EXPECT_NE(other, p);
    other->release();

    // Release ends both records' use of the board library and closes their handles.
    EXPECT_EQ(openBoardHandles(unit()), 2u);
    const std::size_t exits = vendorCalls(unit(), platform::vendorOrdinal::boardLibExit);
    reinterpret_cast<void (*)(void*)>(vtable[8])(p);
    EXPECT_EQ(openBoardHandles(unit()), 0u);
    EXPECT_EQ(vendorCalls(unit(), platform::vendorOrdinal::boardLibExit), exits + 2);
}

TEST_F(PelmuxPrivateTest, TheControllerStartsOnceAndStopsWithTheObject)
{
    // The controller's thread loops on sleeps: keep them short but not zero.
    platform::setTimeScale(0.01);
    PelmuxPrivate* p = GetPelmuxPrivate();
    EXPECT_EQ(p->startBacklightController(), Varnholt::ERR_SUCCESS);
    EXPECT_EQ(p->startBacklightController(), Varnholt::ERR_INITIALISATION_FAILED);
    // Release joins the running thread before the object goes.
    p->release();
}

} // namespace PELMUX_FILE_SCOPE
} // namespace pelmux::test
