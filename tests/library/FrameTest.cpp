// The library frame: result texts, shared objects, the driver request rules, the shared library.
#include "SimFixture.h"

#include "frame/DriverChannel.h"
#include "frame/SharedInstance.h"
#include "frame/Trace.h"
#include "platform/Device.h"

#include <pelmux/Pelmux.h>

#include <atomic>
#include <cstring>
#include <cwchar>
#include <dlfcn.h>
#include <thread>

namespace pelmux::test {
namespace PELMUX_FILE_SCOPE {

TEST(ErrorStrings, NarrowAndWideTextsMatchTheTable)
{
    struct Case {
        int code;
        const char* text;
    };
    const Case cases[] = {
        {0, "ERR_SUCCESS"},
        {1, "Open failed"},
        {9, "Invalid parameter (NULL pointer)"},
        {12, "Checksum incorrect when converting file"},
        {20, "Average calulation started by other process"},
        {25, "A newer version of SS is required"},
        {27, "A newer version of Front uc is required"},
        {32, "Failed to allocate memory"},
    };
    for (const auto& c : cases) {
        const auto code = static_cast<Varnholt::ResultCode>(c.code);
        EXPECT_STREQ(Varnholt::GetErrorStringA(code), c.text) << c.code;
        const std::wstring wide(c.text, c.text + std::strlen(c.text));
        EXPECT_STREQ(Varnholt::GetErrorStringW(code), wide.c_str()) << c.code;
    }
}

TEST(ErrorStrings, EveryCodeHasItsOwnTextAndNarrowEqualsWide)
{
    for (int i = 0; i < Varnholt::resultCodeCount; ++i) {
        const auto code = static_cast<Varnholt::ResultCode>(i);
        const char* narrow = Varnholt::GetErrorStringA(code);
        const wchar_t* wide = Varnholt::GetErrorStringW(code);
        ASSERT_EQ(std::strlen(narrow), std::wcslen(wide)) << i;
        for (std::size_t k = 0; narrow[k] != '\0'; ++k)
            EXPECT_EQ(static_cast<wchar_t>(narrow[k]), wide[k]) << i;
        for (int j = 0; j < i; ++j)
            EXPECT_STRNE(narrow, Varnholt::GetErrorStringA(static_cast<Varnholt::ResultCode>(j)));
    }
}

TEST(ErrorStrings, CodesOutsideTheTableGiveAFixedText)
{
    for (const std::int32_t value : {33, 34, 1000, -1, INT32_MIN, INT32_MAX}) {
        const auto code = static_cast<Varnholt::ResultCode>(value);
        EXPECT_STREQ(Varnholt::GetErrorStringA(code), "Unknown result code") << value;
        EXPECT_STREQ(Varnholt::GetErrorStringW(code), L"Unknown result code") << value;
    }
}

struct Counted {
    static inline std::atomic<int> alive{0};
    Counted() { ++alive; }
    ~Counted() { --alive; }
};

TEST(SharedInstanceTest, OneObjectWhileReferencedThenANewOne)
{
    SharedInstance<Counted> shared;
    auto make = [] { return new Counted(); };
    Counted* first = shared.obtain(make);
    EXPECT_EQ(shared.obtain(make), first);
    EXPECT_EQ(shared.refCount(), 2);
    shared.release();
    EXPECT_EQ(Counted::alive, 1) << "the first release leaves the object";
    shared.release();
    EXPECT_EQ(Counted::alive, 0) << "the last release frees it";
    Counted* third = shared.obtain(make);
    EXPECT_EQ(Counted::alive, 1);
    EXPECT_EQ(shared.refCount(), 1);
    shared.release();
    EXPECT_EQ(Counted::alive, 0);
    (void)third;
}

TEST(SharedInstanceTest, SurplusReleasesOnlyDriveTheCountBelowZero)
{
    SharedInstance<Counted> shared;
    shared.obtain([] { return new Counted(); });
    shared.release();
    shared.release();
    EXPECT_EQ(shared.refCount(), -1);
    EXPECT_EQ(Counted::alive, 0);
}

// An object that could not be built (memory exhausted, on Windows) counts no reference: the next
// obtain and its release free the object again.
TEST(SharedInstanceTest, NoObjectCountsNoReference)
{
    SharedInstance<Counted> shared;
    EXPECT_EQ(shared.obtain([]() -> Counted* { return nullptr; }), nullptr);
    EXPECT_EQ(shared.refCount(), 0);
    ASSERT_NE(shared.obtain([] { return new Counted(); }), nullptr);
    EXPECT_EQ(shared.refCount(), 1);
    shared.release();
    EXPECT_EQ(Counted::alive, 0) << "the release after a failed obtain frees the object";
}

TEST(SharedInstanceTest, ConcurrentObtainAndReleaseNeverFreeAnObjectInUse)
{
    SharedInstance<Counted> shared;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 2000; ++i) {
                shared.obtain([] { return new Counted(); });
                EXPECT_GE(Counted::alive, 1);
                shared.release();
            }
        });
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(Counted::alive, 0);
    EXPECT_EQ(shared.refCount(), 0);
}

class DriverChannelTest : public SimTest {};

TEST_F(DriverChannelTest, RequestCodesAreDeviceTypeAndFunction)
{
    EXPECT_EQ(requestCode(0x906), 0x222418u);
    EXPECT_EQ(requestCode(0x970), 0x2225C0u);
    EXPECT_EQ(requestCode(0x93C), 0x2224F0u);
}

// The judgement of one request: which count is required and what each failure gives.
TEST_F(DriverChannelTest, CountRulesByKindOfRequest)
{
    struct Case {
        const char* what;
        std::uint32_t forcedCount;
        Count count;
        std::uint32_t inputSize;
        ResultCode expected;
    };
    const Case cases[] = {
        {"read, count equals output", 4, Count::Output, 0, Varnholt::ERR_SUCCESS},
        {"read, short count", 3, Count::Output, 0, Varnholt::ERR_BUFFER_SIZE_ERROR},
        {"write, count equals input", 2, Count::Input, 2, Varnholt::ERR_SUCCESS},
        {"write, count equals output only", 4, Count::Input, 2, Varnholt::ERR_BUFFER_SIZE_ERROR},
        {"unchecked, zero count", 0, Count::Unchecked, 0, Varnholt::ERR_SUCCESS},
    };
    DriverLink link;
    link.open();
    ASSERT_TRUE(link.isOpen());
    for (const auto& c : cases) {
        unit().clearFaults();
        unit().forceReturned(0x2224F0, c.forcedCount);
        std::uint8_t input[2] = {1, 2};
        std::uint8_t output[4] = {};
        EXPECT_EQ(issue(link, 0x2224F0, input, c.inputSize, output, 4, c.count), c.expected) << c.what;
    }
    unit().failRequest(0x2224F0);
    std::uint8_t output[4] = {};
    EXPECT_EQ(issue(link, 0x2224F0, nullptr, 0, output, 4, Count::Unchecked),
              Varnholt::ERR_IOCTRL_OPERATION_FAILED);
}

TEST_F(DriverChannelTest, ClosedLinkAnswersOpenFailedWithoutARequest)
{
    stopUnit();
    DriverLink link;
    link.open();
    EXPECT_FALSE(link.isOpen());
    std::uint8_t out[4];
    EXPECT_EQ(readRequest(link, 0x2224F0, out, 4), Varnholt::ERR_OPEN_FAILED);
    EXPECT_EQ(writeRequest(link, 0x2224F0, out, 4), Varnholt::ERR_OPEN_FAILED);
    EXPECT_EQ(queryRequest(link, 0x2224F0, out, 4, out, 4), Varnholt::ERR_OPEN_FAILED);
    startUnit(sim::defaultProfile());
    EXPECT_TRUE(link.reopenIfClosed()) << "starting the unit later makes the next open succeed";
    EXPECT_EQ(readRequest(link, 0x2224F0, out, 4), Varnholt::ERR_SUCCESS);
}

// The trace says why the unit is not reached, once per cause: the socket tried and what connecting
// to it answered, or the endpoint the unit does not have.
TEST_F(DriverChannelTest, AnUnreachableUnitIsTracedOncePerCause)
{
    std::vector<std::string> lines;
    setTraceSink([&lines](std::string_view text) { lines.emplace_back(text); });
    const std::wstring missing = L"\\\\.\\NoSuchDevice";
    platform::closeHandle(platform::openDevice(missing.c_str()));
    platform::closeHandle(platform::openDevice(missing.c_str()));
    stopUnit();
    DriverLink link;
    link.open();
    link.open();
    setTraceSink({});
    const std::string socket = root().path() + "/board.sock";
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "the unit at " + socket + " has no \"\\\\.\\NoSuchDevice\" to open\n");
    EXPECT_EQ(lines[1].rfind(
                  "unit not reached: connecting to " + socket + " failed: No such file or directory; ", 0),
              0u)
        << lines[1];
}

TEST_F(DriverChannelTest, AUnitThatGoesAwayFailsTheRequestInsteadOfHanging)
{
    DriverLink link;
    link.open();
    ASSERT_TRUE(link.isOpen());
    stopUnit();
    std::uint8_t out[4];
    EXPECT_EQ(readRequest(link, 0x2224F0, out, 4), Varnholt::ERR_IOCTRL_OPERATION_FAILED);
}

// Threads sharing one handle take turns: each gets the answer to its own request.
TEST_F(DriverChannelTest, ThreadsSharingAHandleGetTheirOwnAnswers)
{
    unit().update([](sim::Json& s) {
        s["versions"]["fpga"] = {1, 1, 1, 1};
        s["versions"]["supervisor"] = {2, 2, 2, 2};
    });
    DriverLink link;
    link.open();
    ASSERT_TRUE(link.isOpen());
    auto reader = [&link](std::uint32_t code, std::uint8_t expected) {
        for (int i = 0; i < 300; ++i) {
            std::uint8_t out[4] = {};
            ASSERT_EQ(readRequest(link, code, out, 4), Varnholt::ERR_SUCCESS);
            ASSERT_EQ(out[0], expected);
        }
    };
    std::thread fpga(reader, 0x2224F0, 1);
    std::thread supervisor(reader, 0x2224F4, 2);
    fpga.join();
    supervisor.join();
}

TEST_F(DriverChannelTest, TwoObjectsHoldTwoHandles)
{
    Varnholt::AuxVersion* a = GetAuxVersion();
    Varnholt::AuxVersion* b = GetAuxVersion();
    EXPECT_NE(a, b);
    a->release();
    unsigned char v[4];
    EXPECT_EQ(b->getFpgaVersion(&v[0], &v[1], &v[2], &v[3]), Varnholt::ERR_SUCCESS)
        << "releasing one object leaves the other's handle open";
    b->release();
}

// libpelmux.so exports the factories and message functions and nothing of its inner working.
TEST(SharedLibrary, ExportsTheFactoriesAndMessageFunctions)
{
    void* library = ::dlopen(PELMUX_SHARED_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << ::dlerror();
    const char* factories[] = {"GetAbout",
                               "GetAdc",
                               "GetAuxVersion",
                               "GetBacklight",
                               "GetBattery",
                               "GetBuzzer",
                               "GetPelmuxPrivate",
                               "GetCanSetting",
                               "GetConfig",
                               "GetDiagnostic",
                               "GetDigIO",
                               "GetFirmwareUpgrade",
                               "GetFrontLED",
                               "GetLightsensor",
                               "GetPower",
                               "GetPowerMgr",
                               "GetTelematics",
                               "GetTouchScreen",
                               "GetTouchScreenCalib",
                               "GetVideo"};
    for (const char* name : factories)
        EXPECT_NE(::dlsym(library, name), nullptr) << name;
    EXPECT_NE(::dlsym(library, "_ZN8Varnholt15GetErrorStringAENS_10ResultCodeE"), nullptr);
    EXPECT_NE(::dlsym(library, "_ZN8Varnholt23GetHwErrorStatusStringWEj"), nullptr);
    EXPECT_EQ(::dlsym(library, "_ZN6pelmux16probeFeatureENS_7FeatureE"), nullptr);

    using ErrorText = const char* (*)(Varnholt::ResultCode);
    auto text =
        reinterpret_cast<ErrorText>(::dlsym(library, "_ZN8Varnholt15GetErrorStringAENS_10ResultCodeE"));
    ASSERT_NE(text, nullptr);
    EXPECT_STREQ(text(Varnholt::ERR_NEWER_SS_REQUIRED), "A newer version of SS is required");
    ::dlclose(library);
}

} // namespace PELMUX_FILE_SCOPE
} // namespace pelmux::test
