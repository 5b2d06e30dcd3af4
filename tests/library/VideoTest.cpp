#include "SimFixture.h"
#include "ToolRun.h"
#include "VendorFixture.h"

#include <pelmux/Pelmux.h>

#include <cmath>
#include <csignal>
#include <cstring>
#include <dirent.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <sstream>
#include <vector>

#include <sys/resource.h>

namespace pelmux::test {
namespace PELMUX_FILE_SCOPE {

using Varnholt::ResultCode;
using Varnholt::Video;

constexpr std::uint32_t controlByteRead = 0x222448;
constexpr std::uint32_t controlByteWrite = 0x222424;
constexpr std::uint32_t controlWordRead = 0x22244C;
constexpr std::uint32_t resetCode = 0x22245C;
constexpr std::uint32_t fpgaVersionCode = 0x2224F0;
const std::string capture1 = "\\\\.\\VAZaverIRORar\\Video1";

// A raw frame whose pixel bytes say where they come from: blue = field (0xA0 or 0xB0), green =
// line, red = column, and 0xEE in the unused byte.
std::vector<unsigned char> rawFrame(std::uint32_t width, std::uint32_t linesA, std::uint32_t linesB,
                                    std::uint32_t storedLinesB)
{
    std::vector<unsigned char> raw(256, 0);
    auto put = [&](std::size_t at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i)
            raw[at + i] = static_cast<unsigned char>(v >> (8 * i));
    };
    put(4, width);
    put(8, linesB);
    put(12, linesA);
    for (const auto& [tag, lines] : {std::pair{0xA0, linesA}, std::pair{0xB0, storedLinesB}})
        for (std::uint32_t line = 0; line < lines; ++line)
            for (std::uint32_t x = 0; x < width; ++x)
                raw.insert(raw.end(), {static_cast<unsigned char>(tag), static_cast<unsigned char>(line),
                                       static_cast<unsigned char>(x), 0xEE});
    return raw;
}

std::uint32_t le(const unsigned char* p, int bytes)
{
    std::uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; --i)
        v = v << 8 | p[i];
    return v;
}

class VideoTest : public SimTest {
protected:
    void TearDown() override
    {
        if (video_ != nullptr)
            video_->release();
        SimTest::TearDown();
    }
    Video& video()
    {
        if (video_ == nullptr)
            video_ = GetVideo();
        return *video_;
    }
    Video& opened(unsigned char channel = 1)
    {
        EXPECT_EQ(video().init(channel), Varnholt::ERR_SUCCESS);
        return video();
    }
    sim::Json& channelState(sim::Json& s, const char* channel = "1")
    {
        return s["video"]["channels"][channel];
    }
    void setChannel(const char* key, sim::Json value)
    {
        unit().update([&](sim::Json& s) { channelState(s)[key] = value; });
    }
    sim::Json channelValue(const char* key) { return unit().snapshot()["video"]["channels"]["1"][key]; }
    void setFpga(std::vector<int> version)
    {
        unit().update([&](sim::Json& s) { s["versions"]["fpga"] = version; });
    }

private:
    Video* video_ = nullptr;
};

// Header, row order, field interleave and padding, from frames whose pixels name their origin.
TEST_F(VideoTest, BitmapInterleavesTheFieldsBottomUp)
{
    struct Case {
        std::uint32_t width, linesA, linesB;
        unsigned char singleField, fieldOrder;
        std::vector<std::pair<int, int>> topDown; // (field tag, line) of each row, top row first
    };
    const Case cases[] = {
        {5, 2, 2, 0, 1, {{0xB0, 0}, {0xA0, 0}, {0xB0, 1}, {0xA0, 1}}},
        {4, 3, 2, 0, 0, {{0xA0, 0}, {0xB0, 0}, {0xA0, 1}, {0xB0, 1}, {0xA0, 2}}},
        {3, 2, 3, 0, 1, {{0xB0, 0}, {0xA0, 0}, {0xB0, 1}, {0xA0, 1}, {0xB0, 2}}},
        {1, 1, 1, 0, 0, {{0xA0, 0}, {0xB0, 0}}},
        // Wide enough for every copy path: eight pixels, four, then one.
        {13, 1, 2, 0, 1, {{0xB0, 0}, {0xA0, 0}, {0xB0, 1}}},
        // One field: each line twice; field B's count is not looked at, nor its bytes required.
        {2, 3, 99, 1, 0, {{0xA0, 0}, {0xA0, 0}, {0xA0, 1}, {0xA0, 1}, {0xA0, 2}, {0xA0, 2}}},
        {6, 2, 7, 1, 1, {{0xA0, 0}, {0xA0, 0}, {0xA0, 1}, {0xA0, 1}}},
    };
    for (const auto& c : cases) {
        const auto raw = rawFrame(c.width, c.linesA, c.linesB, c.singleField != 0 ? 0 : c.linesB);
        unsigned char* bitmap = nullptr;
        std::uint32_t size = 0;
        ASSERT_EQ(video().convertToBitmap(&bitmap, &size, raw.data(), static_cast<std::uint32_t>(raw.size()),
                                          c.singleField, c.fieldOrder),
                  Varnholt::ERR_SUCCESS)
            << c.width;
        const std::uint32_t height = static_cast<std::uint32_t>(c.topDown.size());
        const std::uint32_t rowSize = (c.width * 3 + 3) / 4 * 4;
        ASSERT_EQ(size, 26 + rowSize * height);
        const unsigned char fixed[] = {0x42, 0x4D};
        EXPECT_EQ(std::memcmp(bitmap, fixed, 2), 0);
        EXPECT_EQ(le(bitmap + 2, 4), size);
        EXPECT_EQ(le(bitmap + 6, 4), 0u);
        EXPECT_EQ(le(bitmap + 10, 4), 26u);
        EXPECT_EQ(le(bitmap + 14, 4), 12u);
        EXPECT_EQ(le(bitmap + 18, 2), c.width);
        EXPECT_EQ(le(bitmap + 20, 2), height);
        EXPECT_EQ(le(bitmap + 22, 2), 1u);
        EXPECT_EQ(le(bitmap + 24, 2), 24u);
        for (std::uint32_t r = 0; r < height; ++r) {
            const unsigned char* row = bitmap + 26 + rowSize * (height - 1 - r);
            for (std::uint32_t x = 0; x < c.width; ++x) {
                EXPECT_EQ(row[3 * x], c.topDown[r].first) << "width " << c.width << " row " << r;
                EXPECT_EQ(row[3 * x + 1], c.topDown[r].second) << "width " << c.width << " row " << r;
                EXPECT_EQ(row[3 * x + 2], x) << "width " << c.width << " row " << r;
            }
            for (std::uint32_t fill = c.width * 3; fill < rowSize; ++fill)
                EXPECT_EQ(row[fill], 0) << "fill of row " << r;
        }
        EXPECT_EQ(video().freeSnapshot(bitmap), Varnholt::ERR_SUCCESS);
    }
}

// Headers that may hold anything give a code, never a bitmap of the wrong size or a read past the
// buffer (AddressSanitizer watches the latter).
TEST_F(VideoTest, HostileFrameHeadersGiveCodes)
{
    struct Case {
        const char* what;
        std::uint32_t width, linesA, linesB, storedA, storedB;
        unsigned char singleField, fieldOrder;
        int trim; // bytes cut from the end of the buffer
        ResultCode expected;
    };
    const Case cases[] = {
        {"PAL frame, field A first", 720, 288, 287, 288, 287, 0, 1, 0, Varnholt::ERR_INVALID_DATA_RANGE},
        {"PAL frame, field B first", 720, 288, 287, 288, 287, 0, 0, 0, Varnholt::ERR_SUCCESS},
        {"one byte short", 720, 288, 287, 288, 287, 0, 0, 1, Varnholt::ERR_BUFFER_SIZE_ERROR},
        {"header only", 4, 1, 1, 0, 0, 0, 0, 0, Varnholt::ERR_BUFFER_SIZE_ERROR},
        {"line size wraps to 0 in 32 bits", 0x40000000, 1, 1, 0, 0, 0, 0, 0, Varnholt::ERR_BUFFER_SIZE_ERROR},
        {"field size wraps in 32 bits", 0x20000001, 4, 4, 0, 0, 0, 0, 0, Varnholt::ERR_BUFFER_SIZE_ERROR},
        {"line counts beyond any buffer", 2, 0xFFFFFFFF, 0xFFFFFFFE, 1, 1, 0, 0, 0,
         Varnholt::ERR_BUFFER_SIZE_ERROR},
        {"field B beyond the buffer", 2, 2, 3, 2, 2, 0, 1, 0, Varnholt::ERR_BUFFER_SIZE_ERROR},
        {"zero width", 0, 5, 5, 0, 0, 0, 0, 0, Varnholt::ERR_INVALID_DATA_RANGE},
        {"no lines", 4, 0, 0, 0, 0, 0, 0, 0, Varnholt::ERR_INVALID_DATA_RANGE},
        {"second field two lines longer", 4, 1, 3, 1, 3, 0, 1, 0, Varnholt::ERR_INVALID_DATA_RANGE},
        {"second field shorter", 4, 3, 2, 3, 2, 0, 1, 0, Varnholt::ERR_INVALID_DATA_RANGE},
        {"wider than the header can say", 70000, 0, 1, 0, 1, 0, 1, 0, Varnholt::ERR_INVALID_DATA_RANGE},
        {"one field, field B count ignored", 3, 2, 0xFFFFFFFF, 2, 0, 1, 0, 0, Varnholt::ERR_SUCCESS},
    };
    for (const auto& c : cases) {
        auto raw = rawFrame(std::min<std::uint32_t>(c.width, 70000), c.storedA, c.storedB, c.storedB);
        for (int i = 0; i < 4; ++i) {
            raw[4 + i] = static_cast<unsigned char>(c.width >> (8 * i));
            raw[8 + i] = static_cast<unsigned char>(c.linesB >> (8 * i));
            raw[12 + i] = static_cast<unsigned char>(c.linesA >> (8 * i));
        }
        unsigned char marker = 0;
        unsigned char* bitmap = &marker;
        std::uint32_t size = 77;
        const ResultCode result = video().convertToBitmap(&bitmap, &size, raw.data(),
                                                          static_cast<std::uint32_t>(raw.size() - c.trim),
                                                          c.singleField, c.fieldOrder);
        EXPECT_EQ(result, c.expected) << c.what;
        if (result == Varnholt::ERR_SUCCESS) {
            EXPECT_EQ(size, le(bitmap + 2, 4)) << c.what;
            video().freeSnapshot(bitmap);
        } else {
            EXPECT_EQ(bitmap, &marker) << c.what;
            EXPECT_EQ(size, 77u) << c.what;
        }
    }
    const auto raw = rawFrame(1, 1, 1, 1);
    unsigned char* bitmap = nullptr;
    std::uint32_t size = 0;
    EXPECT_EQ(video().convertToBitmap(&bitmap, &size, raw.data(), 255, 0, 0),
              Varnholt::ERR_BUFFER_SIZE_ERROR);
    EXPECT_EQ(video().convertToBitmap(nullptr, &size, raw.data(), 300, 0, 0),
              Varnholt::ERR_INVALID_PARAMETER_NULL);
    EXPECT_EQ(video().convertToBitmap(&bitmap, nullptr, raw.data(), 300, 0, 0),
              Varnholt::ERR_INVALID_PARAMETER_NULL);
    EXPECT_EQ(video().convertToBitmap(&bitmap, &size, nullptr, 300, 0, 0),
              Varnholt::ERR_INVALID_PARAMETER_NULL);
}

// Every slot's order of checks: null pointers, then the open test, then ranges, with the listed
// exceptions; a refused call sends nothing to the channel.
TEST_F(VideoTest, EachSlotChecksInItsOrder)
{
    struct Case {
        const char* what;
        std::function<ResultCode(Video&)> call;
        ResultCode beforeInit;
        ResultCode afterInit;
    };
    unsigned char b = 0;
    std::uint16_t w = 0;
    float f = 0;
    unsigned char buffer[300];
    const auto raw = rawFrame(1, 1, 1, 1);
    unsigned char* bitmap = nullptr;
    std::uint32_t size = 0;
    const std::string path = root().path() + "/shot.bmp";
    const Case cases[] = {
        {"setEnabled", [](Video& v) { return v.setEnabled(1); }, Varnholt::ERR_OPEN_FAILED,
         Varnholt::ERR_SUCCESS},
        {"setLineMode(3)", [](Video& v) { return v.setLineMode(3); }, Varnholt::ERR_OPEN_FAILED,
         Varnholt::ERR_INVALID_PARAMETER_NULL},
        {"setLineMode(-1)", [](Video& v) { return v.setLineMode(-1); }, Varnholt::ERR_OPEN_FAILED,
         Varnholt::ERR_INVALID_PARAMETER_NULL},
        {"getLineMode(null)", [](Video& v) { return v.getLineMode(nullptr); }, Varnholt::ERR_OPEN_FAILED,
         Varnholt::ERR_INVALID_PARAMETER_NULL},
        {"setAuxFlag", [](Video& v) { return v.setAuxFlag(1); }, Varnholt::ERR_OPEN_FAILED,
         Varnholt::ERR_SUCCESS},
        {"getAuxFlag(null)", [](Video& v) { return v.getAuxFlag(nullptr); }, Varnholt::ERR_OPEN_FAILED,
         Varnholt::ERR_INVALID_PARAMETER_NULL},
        {"setControlWord", [](Video& v) { return v.setControlWord(7); }, Varnholt::ERR_OPEN_FAILED,
         Varnholt::ERR_SUCCESS},
        {"getControlWord(null)", [](Video& v) { return v.getControlWord(nullptr); },
         Varnholt::ERR_INVALID_PARAMETER_NULL, Varnholt::ERR_INVALID_PARAMETER_NULL},
        {"setByteParameters", [](Video& v) { return v.setByteParameters(1, 2, 3); },
         Varnholt::ERR_OPEN_FAILED, Varnholt::ERR_SUCCESS},
        {"getByteParameters(null)", [&](Video& v) { return v.getByteParameters(&b, nullptr, &b); },
         Varnholt::ERR_INVALID_PARAMETER_NULL, Varnholt::ERR_INVALID_PARAMETER_NULL},
        {"setVideoArea", [](Video& v) { return v.setVideoArea(1, 2, 3, 4); }, Varnholt::ERR_OPEN_FAILED,
         Varnholt::ERR_SUCCESS},
        {"getVideoArea(null)", [&](Video& v) { return v.getVideoArea(&w, &w, &w, nullptr); },
         Varnholt::ERR_INVALID_PARAMETER_NULL, Varnholt::ERR_INVALID_PARAMETER_NULL},
        {"getSignalInfo(null)", [&](Video& v) { return v.getSignalInfo(&w, &w, nullptr); },
         Varnholt::ERR_INVALID_PARAMETER_NULL, Varnholt::ERR_INVALID_PARAMETER_NULL},
        {"getVideoStandard(null)", [](Video& v) { return v.getVideoStandard(nullptr); },
         Varnholt::ERR_INVALID_PARAMETER_NULL, Varnholt::ERR_INVALID_PARAMETER_NULL},
        {"getControlByte(null)", [](Video& v) { return v.getControlByte(nullptr); },
         Varnholt::ERR_INVALID_PARAMETER_NULL, Varnholt::ERR_INVALID_PARAMETER_NULL},
        {"setScaling out of range", [](Video& v) { return v.setScaling(5.0f, 1.0f); },
         Varnholt::ERR_INVALID_DATA_RANGE, Varnholt::ERR_INVALID_DATA_RANGE},
        {"setScaling NaN", [](Video& v) { return v.setScaling(std::nanf(""), 1.0f); },
         Varnholt::ERR_INVALID_DATA_RANGE, Varnholt::ERR_INVALID_DATA_RANGE},
        {"setScaling", [](Video& v) { return v.setScaling(1.0f, 1.0f); }, Varnholt::ERR_OPEN_FAILED,
         Varnholt::ERR_SUCCESS},
        {"getScaling(null)", [&](Video& v) { return v.getScaling(nullptr, &f); },
         Varnholt::ERR_INVALID_PARAMETER_NULL, Varnholt::ERR_INVALID_PARAMETER_NULL},
        {"enableCapture", [](Video& v) { return v.enableCapture(1); }, Varnholt::ERR_OPEN_FAILED,
         Varnholt::ERR_SUCCESS},
        {"saveSnapshot(null)", [](Video& v) { return v.saveSnapshot(nullptr, 0); },
         Varnholt::ERR_INVALID_PARAMETER_NULL, Varnholt::ERR_INVALID_PARAMETER_NULL},
        {"saveSnapshot", [&](Video& v) { return v.saveSnapshot(path.c_str(), 0); }, Varnholt::ERR_OPEN_FAILED,
         Varnholt::ERR_SUCCESS},
        {"readRawFrame(null)", [](Video& v) { return v.readRawFrame(nullptr, 300, 0); },
         Varnholt::ERR_INVALID_PARAMETER_NULL, Varnholt::ERR_INVALID_PARAMETER_NULL},
        {"readRawFrame(size 0)", [&](Video& v) { return v.readRawFrame(buffer, 0, 0); },
         Varnholt::ERR_BUFFER_SIZE_ERROR, Varnholt::ERR_BUFFER_SIZE_ERROR},
        {"readRawFrame", [&](Video& v) { return v.readRawFrame(buffer, sizeof buffer, 1); },
         Varnholt::ERR_OPEN_FAILED, Varnholt::ERR_SUCCESS},
        {"convertToBitmap needs no device",
         [&](Video& v) {
             const ResultCode r = v.convertToBitmap(&bitmap, &size, raw.data(), 264, 0, 0);
             v.freeSnapshot(bitmap);
             return r;
         },
         Varnholt::ERR_SUCCESS, Varnholt::ERR_SUCCESS},
        {"freeSnapshot(null)", [](Video& v) { return v.freeSnapshot(nullptr); },
         Varnholt::ERR_INVALID_PARAMETER_NULL, Varnholt::ERR_INVALID_PARAMETER_NULL},
        {"minimizeArea", [](Video& v) { return v.minimizeArea(); }, Varnholt::ERR_OPEN_FAILED,
         Varnholt::ERR_SUCCESS},
        {"restoreArea", [](Video& v) { return v.restoreArea(); }, Varnholt::ERR_OPEN_FAILED,
         Varnholt::ERR_SUCCESS},
        {"writeDecoderRegister", [](Video& v) { return v.writeDecoderRegister(1, 2); },
         Varnholt::ERR_OPEN_FAILED, Varnholt::ERR_SUCCESS},
        {"readDecoderRegister(null)", [](Video& v) { return v.readDecoderRegister(1, nullptr); },
         Varnholt::ERR_INVALID_PARAMETER_NULL, Varnholt::ERR_INVALID_PARAMETER_NULL},
        {"setCropping top 128", [](Video& v) { return v.setCropping(0, 128, 0, 0); },
         Varnholt::ERR_INVALID_DATA_RANGE, Varnholt::ERR_INVALID_DATA_RANGE},
        {"setCropping bottom 200", [](Video& v) { return v.setCropping(0, 0, 0, 200); },
         Varnholt::ERR_INVALID_DATA_RANGE, Varnholt::ERR_INVALID_DATA_RANGE},
        {"getCropping(null)", [&](Video& v) { return v.getCropping(&b, &b, nullptr, &b); },
         Varnholt::ERR_OPEN_FAILED, Varnholt::ERR_INVALID_PARAMETER_NULL},
    };
    // Requests that change or capture something: not the FPGA version reads of the gates, nor the
    // control byte reads (setScaling judges its range by the line mode).
    auto channelRequests = [&] {
        return unit().requestCount() - unit().requestCount(fpgaVersionCode) -
               unit().requestCount(controlByteRead);
    };
    Video* closed = GetVideo();
    for (const auto& c : cases) {
        const std::size_t before = channelRequests();
        EXPECT_EQ(c.call(*closed), c.beforeInit) << c.what;
        EXPECT_EQ(channelRequests(), before) << c.what << " sent a request before init";
    }
    closed->release();
    Video& v = opened();
    for (const auto& c : cases) {
        const std::size_t before = channelRequests();
        EXPECT_EQ(c.call(v), c.afterInit) << c.what;
        if (c.afterInit != Varnholt::ERR_SUCCESS) {
            EXPECT_EQ(channelRequests(), before) << c.what << " sent a request it refused";
        }
    }
}

TEST_F(VideoTest, InitOpensTheChannelAndSetsItUp)
{
    setChannel("control", 0x0F);
    EXPECT_EQ(video().init(3), Varnholt::ERR_INVALID_PARAMETER_NULL);
    EXPECT_EQ(video().init(0), Varnholt::ERR_INVALID_PARAMETER_NULL);
    EXPECT_EQ(unit().requestCount(resetCode), 0u);
    EXPECT_EQ(video().init(1), Varnholt::ERR_SUCCESS);
    EXPECT_EQ(channelValue("control"), 0x05); // line mode 2, auxiliary flag clear, enable kept
    EXPECT_EQ(channelValue("resets"), 1);

    // A failed reset is reported; the line mode is set all the same.
    setChannel("control", 0x00);
    unit().failRequest(resetCode, 1);
    EXPECT_EQ(video().init(1), Varnholt::ERR_IOCTRL_OPERATION_FAILED);
    EXPECT_EQ(channelValue("control"), 0x04);

    // Missing capture devices are not reported by init, but by the capture operations.
    unit().update([](sim::Json& s) { s["video"]["channels"]["2"]["captureDevices"] = false; });
    EXPECT_EQ(video().init(2), Varnholt::ERR_SUCCESS);
    EXPECT_EQ(video().enableCapture(1), Varnholt::ERR_OPEN_FAILED);
    unit().update([](sim::Json& s) { s["video"]["channels"].erase("2"); });
    EXPECT_EQ(video().init(2), Varnholt::ERR_OPEN_FAILED);
    EXPECT_EQ(video().setEnabled(1), Varnholt::ERR_OPEN_FAILED);
}

TEST_F(VideoTest, UnitWithoutVideoInputsRefusesInit)
{
    setEeprom(unit(), "unit", lines({"PCB_SERIAL:12345", "VIDEO:0", "DISPLAY:800x480"}));
    Video* v = GetVideo();
    EXPECT_EQ(v->init(1), Varnholt::ERR_NOT_SUPPORTED);
    EXPECT_EQ(v->setEnabled(1), Varnholt::ERR_OPEN_FAILED);
    EXPECT_EQ(unit().requestCount(resetCode), 0u);
    v->release();
}

std::size_t openDescriptors()
{
    std::size_t n = 0;
    if (DIR* dir = ::opendir("/proc/self/fd")) {
        while (::readdir(dir) != nullptr)
            ++n;
        ::closedir(dir);
    }
    return n;
}

// A second init closes the three devices it replaces: sixteen of them leave no handles behind
// (each left open would hold two descriptors here, the library's and the in-process unit's; the
// unit closes its side of an ended connection at its next accept, so a few may still be open).
TEST_F(VideoTest, InitAgainClosesTheDevicesItReplaces)
{
    opened();
    const std::size_t after = openDescriptors();
    for (int k = 0; k < 16; ++k)
        ASSERT_EQ(video().init(static_cast<unsigned char>(1 + k % 2)), Varnholt::ERR_SUCCESS);
    EXPECT_LT(openDescriptors(), after + 12);
}

TEST_F(VideoTest, ControlByteFields)
{
    Video& v = opened();
    struct Case {
        const char* what;
        int start;
        std::function<ResultCode(Video&)> change;
        int expected;
    };
    const Case cases[] = {
        {"enable", 0x04, [](Video& x) { return x.setEnabled(1); }, 0x05},
        {"disable", 0x0D, [](Video& x) { return x.setEnabled(0); }, 0x0C},
        {"line mode 0", 0xFF, [](Video& x) { return x.setLineMode(0); }, 0xF9},
        {"line mode 1", 0x01, [](Video& x) { return x.setLineMode(1); }, 0x03},
        {"aux on", 0x05, [](Video& x) { return x.setAuxFlag(-5); }, 0x0D},
        {"aux off", 0xFF, [](Video& x) { return x.setAuxFlag(0); }, 0xF7},
    };
    for (const auto& c : cases) {
        setChannel("control", c.start);
        EXPECT_EQ(c.change(v), Varnholt::ERR_SUCCESS) << c.what;
        EXPECT_EQ(channelValue("control"), c.expected) << c.what;
    }
    std::int32_t mode = -1;
    std::int32_t aux = -1;
    unsigned char raw = 0;
    setChannel("control", 0x0A);
    EXPECT_EQ(v.getLineMode(&mode), Varnholt::ERR_SUCCESS);
    EXPECT_EQ(v.getAuxFlag(&aux), Varnholt::ERR_SUCCESS);
    EXPECT_EQ(v.getControlByte(&raw), Varnholt::ERR_SUCCESS);
    EXPECT_EQ(mode, 1);
    EXPECT_EQ(aux, 1);
    EXPECT_EQ(raw, 0x0A);
    setChannel("control", 0x06);
    mode = -1;
    EXPECT_EQ(v.getLineMode(&mode), Varnholt::ERR_INVALID_DATA_RANGE);
    EXPECT_EQ(mode, -1);

    // setEnabled takes an unreadable control byte as 0; the others give up.
    setChannel("control", 0xF0);
    unit().failRequest(controlByteRead, 1);
    EXPECT_EQ(v.setEnabled(1), Varnholt::ERR_SUCCESS);
    EXPECT_EQ(channelValue("control"), 0x01);
    const std::size_t writes = unit().requestCount(controlByteWrite);
    unit().failRequest(controlByteRead, 2);
    EXPECT_EQ(v.setLineMode(2), Varnholt::ERR_IOCTRL_OPERATION_FAILED);
    EXPECT_EQ(v.setAuxFlag(1), Varnholt::ERR_IOCTRL_OPERATION_FAILED);
    EXPECT_EQ(unit().requestCount(controlByteWrite), writes);
}

TEST_F(VideoTest, SettingsTravelInTheirLayouts)
{
    Video& v = opened();
    EXPECT_EQ(v.setCropping(101, 10, 50, 20), Varnholt::ERR_SUCCESS);
    EXPECT_EQ(channelValue("cropping"), sim::Json({50, 10, 25, 20}));
    unsigned char c[4] = {};
    EXPECT_EQ(v.getCropping(&c[0], &c[1], &c[2], &c[3]), Varnholt::ERR_SUCCESS);
    EXPECT_EQ(std::vector<int>(c, c + 4), std::vector<int>({100, 10, 50, 20}));

    EXPECT_EQ(v.setVideoArea(1, 0x1234, 720, 65535), Varnholt::ERR_SUCCESS);
    EXPECT_EQ(channelValue("area"), sim::Json({1, 0x1234, 720, 65535}));
    EXPECT_EQ(v.minimizeArea(), Varnholt::ERR_SUCCESS);
    EXPECT_EQ(channelValue("area"), sim::Json({0, 0, 0, 0}));
    EXPECT_EQ(v.restoreArea(), Varnholt::ERR_SUCCESS);
    std::uint16_t a[4] = {};
    EXPECT_EQ(v.getVideoArea(&a[0], &a[1], &a[2], &a[3]), Varnholt::ERR_SUCCESS);
    EXPECT_EQ(std::vector<int>(a, a + 4), std::vector<int>({1, 0x1234, 720, 65535}));

    EXPECT_EQ(v.setByteParameters(7, 8, 9), Varnholt::ERR_SUCCESS);
    unsigned char p[3] = {};
    EXPECT_EQ(v.getByteParameters(&p[0], &p[1], &p[2]), Varnholt::ERR_SUCCESS);
    EXPECT_EQ(std::vector<int>(p, p + 3), std::vector<int>({7, 8, 9}));

    EXPECT_EQ(v.setControlWord(-2), Varnholt::ERR_SUCCESS);
    std::int32_t word = 0;
    EXPECT_EQ(v.getControlWord(&word), Varnholt::ERR_SUCCESS);
    EXPECT_EQ(word, -2);
    // The control word's count is judged before the request's own result.
    unit().forceReturned(controlWordRead, 3, 1);
    EXPECT_EQ(v.getControlWord(&word), Varnholt::ERR_BUFFER_SIZE_ERROR);
    unit().failRequest(controlWordRead, 1);
    EXPECT_EQ(v.getControlWord(&word), Varnholt::ERR_BUFFER_SIZE_ERROR);
    EXPECT_EQ(word, -2);

    EXPECT_EQ(v.writeDecoderRegister(0x8C, 0x09), Varnholt::ERR_SUCCESS);
    unsigned char reg = 0;
    std::int32_t standard = -1;
    EXPECT_EQ(v.readDecoderRegister(0x8C, &reg), Varnholt::ERR_SUCCESS);
    EXPECT_EQ(v.getVideoStandard(&standard), Varnholt::ERR_SUCCESS);
    EXPECT_EQ(reg, 0x09);
    EXPECT_EQ(standard, 4);

    setChannel("signal", {{"first", 700}, {"second", 0xBEEF}, {"rate", 59.75}});
    std::uint16_t first = 0;
    std::uint16_t second = 0;
    float rate = 0;
    EXPECT_EQ(v.getSignalInfo(&first, &second, &rate), Varnholt::ERR_SUCCESS);
    EXPECT_EQ(first, 700);
    EXPECT_EQ(second, 0xBEEF);
    EXPECT_FLOAT_EQ(rate, 59.75f);
}

TEST_F(VideoTest, ScalingEncodingFollowsFpgaAndLineMode)
{
    struct Case {
        int build; // FPGA 0.4.0.build
        int mode;
        float x, y;
        ResultCode expected;
        std::vector<int> word;
    };
    const Case cases[] = {
        {0, 2, 3.0f, 1.5f, Varnholt::ERR_SUCCESS, {64, 64, 64, 64}},
        {1, 0, 0.25f, 0.125f, Varnholt::ERR_SUCCESS, {128, 128, 255, 255}},
        {1, 2, 0.25f, 0.125f, Varnholt::ERR_INVALID_DATA_RANGE, {}},
        {1, 2, 1.0f, 1.0f, Varnholt::ERR_SUCCESS, {128, 128, 64, 64}},
        {1, 1, 2.0f, 1.0f, Varnholt::ERR_SUCCESS, {64, 64, 64, 64}},
        {1, 2, 0.5f, 4.0f, Varnholt::ERR_SUCCESS, {128, 32, 128, 64}},
        {1, 2, 0.3f, 3.0f, Varnholt::ERR_SUCCESS, {128, 42, 213, 64}},
        {1, 2, 4.01f, 1.0f, Varnholt::ERR_INVALID_DATA_RANGE, {}},
        {1, 0, 1.0f, 2.5f, Varnholt::ERR_INVALID_DATA_RANGE, {}},
        {0, 2, 0.1f, 1.0f, Varnholt::ERR_INVALID_DATA_RANGE, {}},
        {0, 2, 0.3f, 0.1f, Varnholt::ERR_INVALID_DATA_RANGE, {}},
        {0, 2, 1.0f, std::numeric_limits<float>::infinity(), Varnholt::ERR_SUCCESS, {128, 64, 64, 64}},
    };
    Video& v = opened();
    for (const auto& c : cases) {
        setFpga({0, 4, 0, c.build});
        setChannel("control", c.mode << 1);
        setChannel("scaling", {1, 2, 3, 4});
        EXPECT_EQ(v.setScaling(c.x, c.y), c.expected) << c.x << ", " << c.y << " mode " << c.mode;
        const auto stored = channelValue("scaling").get<std::vector<int>>();
        EXPECT_EQ(stored, c.word.empty() ? std::vector<int>({1, 2, 3, 4}) : c.word) << c.x << ", " << c.y;
    }
}

TEST_F(VideoTest, ScalingReadsBackAsSet)
{
    struct Case {
        int build, mode;
        std::vector<int> word;
        ResultCode expected;
        float x, y;
    };
    const Case cases[] = {
        {1, 2, {128, 128, 64, 64}, Varnholt::ERR_SUCCESS, 1.0f, 1.0f},
        {1, 0, {64, 64, 64, 64}, Varnholt::ERR_SUCCESS, 2.0f, 1.0f},
        {0, 2, {64, 64, 64, 64}, Varnholt::ERR_SUCCESS, 2.0f, 1.0f},
        {1, 2, {128, 32, 128, 64}, Varnholt::ERR_SUCCESS, 0.5f, 4.0f},
        {1, 0, {128, 128, 255, 255}, Varnholt::ERR_SUCCESS, 64.0f / 255, 32.0f / 255},
        {1, 2, {0, 128, 64, 64}, Varnholt::ERR_INVALID_DATA_RANGE, -1, -1},
        {1, 2, {128, 128, 64, 0}, Varnholt::ERR_INVALID_DATA_RANGE, -1, -1},
    };
    Video& v = opened();
    for (const auto& c : cases) {
        setFpga({0, 4, 0, c.build});
        setChannel("control", c.mode << 1);
        setChannel("scaling", c.word);
        float x = -1;
        float y = -1;
        EXPECT_EQ(v.getScaling(&x, &y), c.expected) << c.word[0] << " " << c.word[1];
        EXPECT_FLOAT_EQ(x, c.x);
        EXPECT_FLOAT_EQ(y, c.y);
    }
}

TEST_F(VideoTest, CaptureGateDependsOnTheFpga)
{
    struct Case {
        std::vector<int> fpga;
        bool captureDevices;
        ResultCode expected;
    };
    const Case cases[] = {
        {{0, 3, 99, 99}, false, Varnholt::ERR_NEWER_FPGA_REQUIRED},
        {{0, 4, 0, 0}, false, Varnholt::ERR_OPEN_FAILED},
        {{1, 0, 0, 0}, false, Varnholt::ERR_OPEN_FAILED},
        {{0, 3, 0, 0}, true, Varnholt::ERR_SUCCESS},
    };
    unsigned char buffer[512];
    for (const auto& c : cases) {
        setFpga(c.fpga);
        setChannel("captureDevices", c.captureDevices);
        Video& v = opened();
        EXPECT_EQ(v.enableCapture(1), c.expected) << c.fpga[1];
        EXPECT_EQ(v.readRawFrame(buffer, sizeof buffer, 0), c.expected) << c.fpga[1];
    }
    EXPECT_EQ(channelValue("capture"), 1);
    EXPECT_EQ(video().enableCapture(0), Varnholt::ERR_SUCCESS);
    EXPECT_EQ(channelValue("capture"), 0);
    unit().failRead(capture1, 1);
    EXPECT_EQ(video().readRawFrame(buffer, sizeof buffer, 0), Varnholt::ERR_DEVICE_READ_FAILED);
}

// The simulated picture: colour bars on top, the marker band at the bottom, fields interleaved
// so that the bars end on an odd line.
TEST_F(VideoTest, SnapshotShowsThePatternTopRowFirst)
{
    Video& v = opened();
    struct Case {
        unsigned char singleField;
        std::uint32_t height;
    };
    for (const Case c : {Case{0, 575}, Case{1, 576}}) {
        unsigned char* bitmap = nullptr;
        std::uint32_t size = 0;
        ASSERT_EQ(v.getSnapshot(&bitmap, &size, c.singleField, 0), Varnholt::ERR_SUCCESS);
        ASSERT_EQ(le(bitmap + 20, 2), c.height);
        const std::uint32_t rowSize = 720 * 3;
        auto pixel = [&](std::uint32_t x, std::uint32_t topRow) {
            const unsigned char* p = bitmap + 26 + rowSize * (c.height - 1 - topRow) + 3 * x;
            return std::vector<int>{p[2], p[1], p[0]};
        };
        EXPECT_EQ(pixel(45, 0), std::vector<int>({255, 255, 255}));
        EXPECT_EQ(pixel(135, 0), std::vector<int>({255, 255, 0}));
        EXPECT_EQ(pixel(585, 382), std::vector<int>({0, 0, 255}));
        // Line 383 is the ramp's first; one field shows line 382 twice.
        EXPECT_EQ(pixel(585, 383),
                  c.singleField != 0 ? std::vector<int>({0, 0, 255}) : std::vector<int>({207, 207, 207}));
        // The marker starts at the left and moves 16 pixels a frame.
        EXPECT_EQ(pixel(10, c.height - 1)[0], c.singleField != 0 ? 0 : 255);
        EXPECT_EQ(pixel(20, c.height - 1)[0], 255);
        EXPECT_EQ(pixel(700, c.height - 1)[0], 0);
        v.freeSnapshot(bitmap);
    }
    // Field order 1 on a frame whose field B is shorter: 8.
    unsigned char* bitmap = nullptr;
    std::uint32_t size = 0;
    EXPECT_EQ(v.getSnapshot(&bitmap, &size, 0, 1), Varnholt::ERR_INVALID_DATA_RANGE);
    // A device that stops early: only what arrived is converted.
    unit().update([](sim::Json& s) { s["video"]["frame"]["cut"] = 256 + 720 * 4 * 400; });
    EXPECT_EQ(v.getSnapshot(&bitmap, &size, 0, 0), Varnholt::ERR_BUFFER_SIZE_ERROR);
    EXPECT_EQ(bitmap, nullptr);
}

TEST_F(VideoTest, SavedSnapshotOpensInAnImageLibrary)
{
    Video& v = opened();
    struct Case {
        unsigned char singleField;
        const char* flag;
    };
    for (const Case c : {Case{0, ""}, Case{1, " --single"}}) {
        const std::string file = root().path() + "/frame.bmp";
        const int frame = unit().snapshot()["video"]["channels"]["1"]["frames"].get<int>();
        ASSERT_EQ(v.saveSnapshot(file.c_str(), c.singleField), Varnholt::ERR_SUCCESS);
        const std::string command = PELMUX_PYTHON " " PELMUX_SNAPSHOT_CHECK " " + file + " " +
                                    std::to_string(frame) + c.flag + " 2>&1";
        FILE* pipe = ::popen(command.c_str(), "r");
        ASSERT_NE(pipe, nullptr);
        std::string output;
        char text[512];
        while (std::fgets(text, sizeof text, pipe) != nullptr)
            output += text;
        EXPECT_EQ(::pclose(pipe), 0) << output;
    }
}

TEST_F(VideoTest, SaveSnapshotReportsFileFailures)
{
    Video& v = opened();
    struct Case {
        const char* what;
        std::string path;
        ResultCode expected;
    };
    const Case cases[] = {
        {"missing folder", root().path() + "/none/frame.bmp", Varnholt::ERR_OPEN_FAILED},
        {"260 characters", root().path() + "/" + std::string(259 - root().path().size(), 'x'),
         Varnholt::ERR_OPEN_FAILED},
        {"259 characters", root().path() + "/" + std::string(258 - root().path().size(), 'y'),
         Varnholt::ERR_SUCCESS},
        {"a full disk", "/dev/full", Varnholt::ERR_DEVICE_WRITE_FAILED},
    };
    for (const auto& c : cases)
        EXPECT_EQ(v.saveSnapshot(c.path.c_str(), 0), c.expected) << c.what;
    // A name too long for a temporary name beside it (255 bytes at most) is written in place.
    char pattern[] = "/tmp/pXXXXXX";
    const std::string shortFolder = ::mkdtemp(pattern);
    const std::string longName = shortFolder + "/" + std::string(258 - shortFolder.size(), 'z');
    EXPECT_EQ(v.saveSnapshot(longName.c_str(), 0), Varnholt::ERR_SUCCESS) << "a 246-byte name";
    EXPECT_GT(std::filesystem::file_size(longName), 4096u);
    std::filesystem::remove_all(shortFolder);
    // The standard decides the field order: 0 puts field A first, which this frame cannot be.
    setChannel("decoder", {{"140", 0}});
    const std::string file = root().path() + "/standard0.bmp";
    EXPECT_EQ(v.saveSnapshot(file.c_str(), 0), Varnholt::ERR_INVALID_DATA_RANGE);
    EXPECT_FALSE(std::ifstream(file).good());
}

// A write that stops part-way (a file size limit stands in for a full disk) leaves the earlier
// snapshot of that name whole, with no temporary file beside it; a write that succeeds replaces it,
// also through a link, which stays a link.
TEST_F(VideoTest, FailedSnapshotWriteKeepsTheEarlierFile)
{
    namespace fs = std::filesystem;
    Video& v = opened();
    const fs::path folder = fs::path(root().path()) / "snapshots";
    fs::create_directories(folder);
    const fs::path file = folder / "frame.bmp";
    const auto content = [&] {
        std::ifstream in(file, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    };
    const auto entries = [&] {
        return std::distance(fs::directory_iterator(folder), fs::directory_iterator());
    };
    std::ofstream(file, std::ios::binary) << "earlier snapshot";

    rlimit unlimited{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &unlimited), 0);
    rlimit limited = unlimited;
    limited.rlim_cur = 4096;
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN); // the write then fails with EFBIG
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);
    const ResultCode failed = v.saveSnapshot(file.c_str(), 0);
    ::setrlimit(RLIMIT_FSIZE, &unlimited);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(failed, Varnholt::ERR_DEVICE_WRITE_FAILED);
    EXPECT_TRUE(content() == "earlier snapshot") << "the file now holds " << content().size() << " bytes";
    EXPECT_EQ(entries(), 1) << "no temporary file stays";

    const fs::path link = folder / "latest.bmp";
    fs::create_symlink(file.filename(), link);
    EXPECT_EQ(v.saveSnapshot(link.c_str(), 0), Varnholt::ERR_SUCCESS);
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(content().substr(0, 2), "BM");
    EXPECT_GT(fs::file_size(file), 4096u);
    EXPECT_EQ(entries(), 2);
}

// Saving a snapshot removes only the library's own temporary files of that name whose writers
// ended: the application's temporary files beside it stay, whatever digits they carry.
TEST_F(VideoTest, SnapshotRemovesOnlyTheLibrarysLeftovers)
{
    namespace fs = std::filesystem;
    Video& v = opened();
    const fs::path folder = fs::path(root().path()) / "shots";
    fs::create_directories(folder);
    const struct {
        const char* name;
        bool kept;
    } cases[] = {
        {"shot.bmp.7.tmp", true},
        {"shot.bmp.1999-12-31.tmp", true},
        {"shot.bmp.pelmux-99999-1-2-3.tmp", false},
        {"other.bmp.pelmux-99999-1-2-3.tmp", true},
    };
    for (const auto& c : cases)
        std::ofstream(folder / c.name) << "mine";
    EXPECT_EQ(v.saveSnapshot((folder / "shot.bmp").c_str(), 0), Varnholt::ERR_SUCCESS);
    for (const auto& c : cases)
        EXPECT_EQ(fs::exists(folder / c.name), c.kept) << c.name;
}

TEST_F(VideoTest, ToolWritesSnapshotsAndSettings)
{
    const std::string file = root().path() + "/tool.bmp";
    auto [code, output] = runTool("--json video snapshot 1 " + file);
    ASSERT_EQ(code, 0) << output;
    EXPECT_EQ(sim::Json::parse(output)["height"], 575);
    std::tie(code, output) = runTool("--json video snapshot 2 " + file + " --field single");
    ASSERT_EQ(code, 0) << output;
    EXPECT_EQ(sim::Json::parse(output)["height"], 576);
    std::tie(code, output) = runTool("video crop 1 101 10 50 20");
    EXPECT_EQ(code, 0) << output;
    std::tie(code, output) = runTool("--json video info 1");
    ASSERT_EQ(code, 0) << output;
    const sim::Json info = sim::Json::parse(output);
    EXPECT_EQ(info["cropping"]["left"], 100);
    EXPECT_EQ(info["standard"]["value"], 2);
    std::tie(code, output) = runTool("video crop 1 0 128 0 0");
    EXPECT_EQ(code, 1) << output;
    std::tie(code, output) = runTool("video scale 1 0.5 2");
    EXPECT_EQ(code, 0) << output;
    EXPECT_EQ(unit().snapshot()["video"]["channels"]["1"]["scaling"], sim::Json({128, 64, 128, 64}));
}

} // namespace PELMUX_FILE_SCOPE
} // namespace pelmux::test
