// Diagnostic: the shared object, its driver requests and the vendor-library temperatures.
#include "VendorFixture.h"
#include "shared/UnitExpectations.h"

#include "supervisor/Diagnostic_Imp.h"

#include <pelmux/Pelmux.h>

#include <array>
#include <functional>

namespace pelmux::test {
namespace PELMUX_FILE_SCOPE {

using Varnholt::Diagnostic;
using Varnholt::ResultCode;
using WordRead = ResultCode (Diagnostic::*)(unsigned short*);

struct WordCase {
    const char* name;
    WordRead read;
    std::uint32_t code;
    const char* profileKey;
};

const WordCase wordCases[] = {
    {"word1", &Diagnostic::getWord1, 0x222468, "word1"}, {"word2", &Diagnostic::getWord2, 0x22246C, "word2"},
    {"word3", &Diagnostic::getWord3, 0x222474, "word3"}, {"word4", &Diagnostic::getWord4, 0x222478, "word4"},
    {"word5", &Diagnostic::getWord5, 0x22247C, "word5"}, {"word6", &Diagnostic::getWord6, 0x222480, "word6"},
};

// Holds one reference for the test and gives it back at the end.
class DiagnosticTest : public SimTest {
protected:
    void SetUp() override
    {
        SimTest::SetUp();
        diag_ = GetDiagnostic();
        ASSERT_NE(diag_, nullptr);
    }
    void TearDown() override
    {
        if (diag_ != nullptr)
            diag_->release();
        EXPECT_EQ(diagnosticInstance().refCount(), 0);
        SimTest::TearDown();
    }
    Diagnostic* diag() { return diag_; }

private:
    Diagnostic* diag_ = nullptr;
};

TEST_F(DiagnosticTest, OneSharedObjectWhileReferenced)
{
    Diagnostic* second = GetDiagnostic();
    EXPECT_EQ(second, diag());
    EXPECT_EQ(diagnosticInstance().refCount(), 2);
    second->release();
    unsigned short word = 0;
    EXPECT_EQ(diag()->getWord1(&word), Varnholt::ERR_SUCCESS);
    EXPECT_EQ(diagnosticInstance().refCount(), 1);
}

TEST(DiagnosticShared, TheLastReleaseFreesAndTheNextCallBuildsAnew)
{
    Diagnostic* first = GetDiagnostic();
    Diagnostic* second = GetDiagnostic();
    EXPECT_EQ(first, second);
    first->release();
    EXPECT_EQ(diagnosticInstance().refCount(), 1);
    second->release();
    EXPECT_EQ(diagnosticInstance().refCount(), 0);
    Diagnostic* third = GetDiagnostic();
    EXPECT_EQ(diagnosticInstance().refCount(), 1);
    third->release();
}

TEST_F(DiagnosticTest, WordsComeFromTheirRequests)
{
    unit().update([](sim::Json& s) {
        for (int i = 1; i <= 6; ++i)
            s["diagnostics"]["word" + std::to_string(i)] = 0x1100 * i + 0x0F;
    });
    for (std::size_t i = 0; i < std::size(wordCases); ++i) {
        // Bound first: g++ 12 with -fsanitize=bounds miscompiles (f()->*a[i].m)(...).
        const WordCase& word = wordCases[i];
        unsigned short value = 0;
        EXPECT_EQ((diag()->*word.read)(&value), Varnholt::ERR_SUCCESS) << word.name;
        EXPECT_EQ(value, 0x1100 * (i + 1) + 0x0F) << word.name;
        EXPECT_EQ(unit().requestCount(word.code), 1u) << word.name;
    }
}

TEST_F(DiagnosticTest, DriverFaultsGiveTheirCodesAndLeaveOutputsUntouched)
{
    // The faults are the table the Windows program runs against the DLL too.
    for (const auto& word : wordCases) {
        for (const auto& f : shared::wordFaults()) {
            unit().clearFaults();
            ASSERT_TRUE(unit().command(sim::Json::parse(f.commandFor(word.code)))["ok"].get<bool>())
                << f.what;
            unsigned short value = 0xBEEF;
            EXPECT_EQ((diag()->*word.read)(&value), f.expected) << word.name << ": " << f.what;
            EXPECT_EQ(value, 0xBEEF) << word.name << ": " << f.what;
        }
    }
    unit().clearFaults();
    unit().forceReturned(0x222470, 27);
    std::array<unsigned char, 28> record;
    record.fill(0xEE);
    EXPECT_EQ(diag()->getRecord(record.data()), Varnholt::ERR_BUFFER_SIZE_ERROR);
    EXPECT_EQ(record[0], 0xEE);
    unit().failRequest(0x222484);
    unsigned short first = 1;
    unsigned short second = 2;
    EXPECT_EQ(diag()->getWordPair(&first, &second), Varnholt::ERR_IOCTRL_OPERATION_FAILED);
    EXPECT_EQ(first, 1);
    EXPECT_EQ(second, 2);
    unit().clearFaults();
    unit().forceReturned(0x222484, 2);
    EXPECT_EQ(diag()->getWordPair(&first, &second), Varnholt::ERR_BUFFER_SIZE_ERROR);
    EXPECT_EQ(first, 1);
}

TEST_F(DiagnosticTest, TheRecordIsCopiedUnchanged)
{
    std::array<unsigned char, 28> expected;
    for (std::size_t i = 0; i < expected.size(); ++i)
        expected[i] = static_cast<unsigned char>(0xF0 - i * 3);
    unit().update([&](sim::Json& s) { s["diagnostics"]["record"] = expected; });
    std::array<unsigned char, 32> buffer;
    buffer.fill(0xAA);
    ASSERT_EQ(diag()->getRecord(buffer.data()), Varnholt::ERR_SUCCESS);
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), buffer.begin()));
    EXPECT_EQ(buffer[28], 0xAA);
}

TEST_F(DiagnosticTest, TheWordPairArrivesSwapped)
{
    unit().forceOutput(0x222484, {0x01, 0x00, 0x02, 0x00});
    unsigned short first = 0;
    unsigned short second = 0;
    ASSERT_EQ(diag()->getWordPair(&first, &second), Varnholt::ERR_SUCCESS);
    EXPECT_EQ(first, 2);
    EXPECT_EQ(second, 1);
}

TEST_F(DiagnosticTest, SendCommandJudgesOnlyTheRequest)
{
    EXPECT_EQ(diag()->sendCommand(), Varnholt::ERR_SUCCESS);
    unit().forceReturned(0x22259C, 0);
    EXPECT_EQ(diag()->sendCommand(), Varnholt::ERR_SUCCESS);
    unit().forceReturned(0x22259C, 17);
    EXPECT_EQ(diag()->sendCommand(), Varnholt::ERR_SUCCESS);
    unit().clearFaults();
    unit().failRequest(0x22259C);
    EXPECT_EQ(diag()->sendCommand(), Varnholt::ERR_IOCTRL_OPERATION_FAILED);
    EXPECT_EQ(unit().snapshot()["diagnostics"]["commands"], 3);
}

TEST_F(DiagnosticTest, WithTheDriverAbsentEveryCallRetriesTheOpen)
{
    stopUnit();
    unsigned short value = 5;
    for (const auto& word : wordCases)
        EXPECT_EQ((diag()->*word.read)(&value), Varnholt::ERR_OPEN_FAILED) << word.name;
    unsigned char record[28];
    EXPECT_EQ(diag()->getRecord(record), Varnholt::ERR_OPEN_FAILED);
    EXPECT_EQ(diag()->getWordPair(&value, &value), Varnholt::ERR_OPEN_FAILED);
    EXPECT_EQ(diag()->sendCommand(), Varnholt::ERR_OPEN_FAILED);
    EXPECT_EQ(value, 5);
    // Once the driver is there, the next call opens it and goes on.
    startUnit(sim::defaultProfile());
    EXPECT_EQ(diag()->getWord1(&value), Varnholt::ERR_SUCCESS);
    EXPECT_EQ(value, 15);
}

TEST_F(DiagnosticTest, NullOutputsAreRefusedWithoutARequest)
{
    unsigned short value = 0;
    for (const auto& word : wordCases)
        EXPECT_EQ((diag()->*word.read)(nullptr), Varnholt::ERR_INVALID_PARAMETER_NULL) << word.name;
    EXPECT_EQ(diag()->getRecord(nullptr), Varnholt::ERR_INVALID_PARAMETER_NULL);
    EXPECT_EQ(diag()->getWordPair(nullptr, &value), Varnholt::ERR_INVALID_PARAMETER_NULL);
    EXPECT_EQ(diag()->getWordPair(&value, nullptr), Varnholt::ERR_INVALID_PARAMETER_NULL);
    short celsius = 0;
    int type = 0;
    EXPECT_EQ(diag()->getTemperature(0, nullptr, &type), Varnholt::ERR_INVALID_PARAMETER_NULL);
    EXPECT_EQ(diag()->getTemperature(0, &celsius, nullptr), Varnholt::ERR_INVALID_PARAMETER_NULL);
    EXPECT_EQ(unit().requestCount(), 0u);
    EXPECT_EQ(vendorCalls(unit(), platform::vendorOrdinal::boardLibInit), 0u);
}

TEST_F(DiagnosticTest, WithTheDriverAbsentTheOpenTestComesBeforeTheNullTest)
{
    stopUnit();
    EXPECT_EQ(diag()->getWord1(nullptr), Varnholt::ERR_OPEN_FAILED);
    EXPECT_EQ(diag()->getRecord(nullptr), Varnholt::ERR_OPEN_FAILED);
    EXPECT_EQ(diag()->getWordPair(nullptr, nullptr), Varnholt::ERR_OPEN_FAILED);
}

struct TemperatureCase {
    std::int32_t thousandths;
    std::uint32_t status;
    ResultCode result;
    short celsius;
};

TEST_F(DiagnosticTest, TemperaturesAreWholeDegreesTowardZero)
{
    const TemperatureCase cases[] = {
        {-5500, 1, Varnholt::ERR_SUCCESS, -5},
        {25999, 1, Varnholt::ERR_SUCCESS, 25},
        {999, 2, Varnholt::ERR_SUCCESS, 0},
        {-999, 2, Varnholt::ERR_SUCCESS, 0},
        {-32768000, 1, Varnholt::ERR_SUCCESS, -32768},
        {25000, 0, Varnholt::ERR_JIDA_TEMPERATURE_READ, 0},
        {25000, 3, Varnholt::ERR_JIDA_TEMPERATURE_READ, 0},
    };
    for (const auto& c : cases) {
        unit().update([&](sim::Json& s) {
            s["temperatures"][1] = {{"value", c.thousandths}, {"status", c.status}, {"type", 6}};
        });
        short celsius = 111;
        int type = 222;
        EXPECT_EQ(diag()->getTemperature(1, &celsius, &type), c.result) << c.thousandths << "/" << c.status;
        if (c.result == Varnholt::ERR_SUCCESS) {
            EXPECT_EQ(celsius, c.celsius) << c.thousandths;
            EXPECT_EQ(type, 6);
        } else {
            EXPECT_EQ(celsius, 111);
            EXPECT_EQ(type, 222);
        }
    }
}

TEST_F(DiagnosticTest, TemperatureFailuresOfTheVendorLibrary)
{
    short celsius = 111;
    int type = 222;
    // A sensor index not below the count.
    EXPECT_EQ(diag()->getTemperature(3, &celsius, &type), Varnholt::ERR_JIDA_TEMPERATURE_READ);
    EXPECT_EQ(diag()->getTemperature(255, &celsius, &type), Varnholt::ERR_JIDA_TEMPERATURE_READ);
    // The library cannot be set up.
    unit().update([](sim::Json& s) { s["boardLibrary"]["installed"] = false; });
    unit().failVendor(platform::vendorOrdinal::boardLibSetup, 1);
    EXPECT_EQ(diag()->getTemperature(0, &celsius, &type), Varnholt::ERR_JIDA_TEMPERATURE_READ);
    // The description of the sensor fails.
    unit().failVendor(platform::vendorOrdinal::boardTempInfo, 1);
    EXPECT_EQ(diag()->getTemperature(0, &celsius, &type), Varnholt::ERR_JIDA_TEMPERATURE_READ);
    EXPECT_EQ(celsius, 111);
    EXPECT_EQ(type, 222);
    // No unit at all.
    stopUnit();
    EXPECT_EQ(diag()->getTemperature(0, &celsius, &type), Varnholt::ERR_JIDA_TEMPERATURE_READ);
}

TEST_F(DiagnosticTest, TemperaturesNeedNoDriverAndLeaveNoBoardOpen)
{
    unit().failRequest(0x222468); // the driver's answers do not matter here
    short celsius = 0;
    int type = 0;
    for (int i = 0; i < 20; ++i) {
        ASSERT_EQ(diag()->getTemperature(0, &celsius, &type), Varnholt::ERR_SUCCESS);
        EXPECT_EQ(openBoardHandles(unit()), 0u);
    }
    EXPECT_EQ(celsius, 47);
    EXPECT_EQ(type, 1);
    EXPECT_EQ(unit().requestCount(), 0u);
    // The boards are opened anew by every call.
    EXPECT_EQ(vendorCalls(unit(), platform::vendorOrdinal::boardCount), 20u);
}

// Every operation reached through the vtable by slot number, as a caller of the DLL does.
TEST_F(DiagnosticTest, SlotsFollowTheBinaryInterface)
{
    unit().update([](sim::Json& s) {
        for (int i = 1; i <= 6; ++i)
            s["diagnostics"]["word" + std::to_string(i)] = 100 + i;
        s["temperatures"][0] = {{"value", 33000}, {"status", 1}, {"type", 4}};
    });
    void** vtable = *reinterpret_cast<void***>(diag());
    using Word = ResultCode (*)(void*, unsigned short*);
    const std::pair<int, unsigned short> wordSlots[] = {{0, 101}, {1, 102}, {3, 103},
                                                        {4, 104}, {5, 105}, {8, 106}};
    for (const auto& [slot, expected] : wordSlots) {
        unsigned short value = 0;
        EXPECT_EQ(reinterpret_cast<Word>(vtable[slot])(diag(), &value), Varnholt::ERR_SUCCESS) << slot;
        EXPECT_EQ(value, expected) << slot;
    }
    short celsius = 0;
    int type = 0;
    using Temperature = ResultCode (*)(void*, unsigned char, short*, int*);
    EXPECT_EQ(reinterpret_cast<Temperature>(vtable[2])(diag(), 0, &celsius, &type), Varnholt::ERR_SUCCESS);
    EXPECT_EQ(celsius, 33);
    EXPECT_EQ(type, 4);
    unsigned char record[28] = {};
    EXPECT_EQ(reinterpret_cast<ResultCode (*)(void*, unsigned char*)>(vtable[6])(diag(), record),
              Varnholt::ERR_SUCCESS);
    EXPECT_EQ(unit().requestCount(0x222470), 1u);
    unsigned short first = 0;
    unsigned short second = 0;
    EXPECT_EQ(reinterpret_cast<ResultCode (*)(void*, unsigned short*, unsigned short*)>(vtable[7])(
                  diag(), &first, &second),
              Varnholt::ERR_SUCCESS);
    EXPECT_EQ(unit().requestCount(0x222484), 1u);
    EXPECT_EQ(reinterpret_cast<ResultCode (*)(void*)>(vtable[9])(diag()), Varnholt::ERR_SUCCESS);
    EXPECT_EQ(unit().requestCount(0x22259C), 1u);
    // Slot 10 gives back this test's extra reference.
    Diagnostic* extra = GetDiagnostic();
    reinterpret_cast<void (*)(void*)>(vtable[10])(extra);
    EXPECT_EQ(diagnosticInstance().refCount(), 1);
}

} // namespace PELMUX_FILE_SCOPE
} // namespace pelmux::test
