#include "SimFixture.h"

#include "firmware/FpgaImage.h"
#include "firmware/HexImage.h"

#include <cstdio>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace pelmux::test {
namespace PELMUX_FILE_SCOPE {

using Bytes = std::vector<std::uint8_t>;
using Post = std::pair<ResultCode, int>;

// One Intel HEX record with its checksum.
std::string rec(int type, unsigned offset, const Bytes& data)
{
    char text[16];
    unsigned sum =
        static_cast<unsigned>(data.size()) + (offset >> 8) + (offset & 0xFF) + static_cast<unsigned>(type);
    std::snprintf(text, sizeof text, ":%02X%04X%02X", static_cast<unsigned>(data.size()), offset, type);
    std::string line = text;
    for (std::uint8_t b : data) {
        std::snprintf(text, sizeof text, "%02X", b);
        line += text;
        sum += b;
    }
    std::snprintf(text, sizeof text, "%02X\n", (0x100 - (sum & 0xFF)) & 0xFF);
    return line + text;
}
std::string ela(unsigned window)
{
    return rec(4, 0, {static_cast<std::uint8_t>(window >> 8), static_cast<std::uint8_t>(window)});
}
std::string esa(unsigned segment)
{
    return rec(2, 0, {static_cast<std::uint8_t>(segment >> 8), static_cast<std::uint8_t>(segment)});
}
const std::string eof = ":00000001FF\n";

Bytes run(std::uint8_t first, std::size_t count)
{
    Bytes out(count);
    for (std::size_t i = 0; i < count; ++i)
        out[i] = static_cast<std::uint8_t>(first + i);
    return out;
}
Bytes concat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}
Bytes zeros(std::size_t count)
{
    return Bytes(count, 0x00);
}

class ImageReaderTest : public ::testing::Test {
protected:
    std::string write(const std::string& text)
    {
        const std::string name = "image" + std::to_string(files_++) + ".hex";
        root_.writeFile(name, text);
        return root_.path() + "/" + name;
    }
    // Reads `text` from a file; its bytes read directly give the same result, image and postings.
    ResultCode readHex(const std::string& text, HexImage& image)
    {
        HexImage direct = image;
        const ResultCode fromBytes = readHexImage(bytesOf(text), direct, recordInto(bytePosts_));
        const ResultCode result = readHexImage(write(text).c_str(), image, recordInto(posts_));
        EXPECT_EQ(fromBytes, result);
        EXPECT_EQ(direct.data, image.data);
        EXPECT_EQ(direct.base, image.base);
        EXPECT_EQ(bytePosts_, posts_);
        return result;
    }
    ResultCode readFpga(const std::string& text, Bytes& image)
    {
        Bytes direct = image;
        const ResultCode fromBytes = readFpgaImage(bytesOf(text), direct, recordInto(bytePosts_));
        const ResultCode result = readFpgaImage(write(text).c_str(), image, recordInto(posts_));
        EXPECT_EQ(fromBytes, result);
        EXPECT_EQ(direct, image);
        EXPECT_EQ(bytePosts_, posts_);
        return result;
    }
    static std::span<const std::uint8_t> bytesOf(const std::string& text)
    {
        return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
    }
    static ReadProgress recordInto(std::vector<Post>& posts)
    {
        posts.clear();
        return [&posts](ResultCode code, std::uint8_t percent) { posts.emplace_back(code, percent); };
    }
    Post lastPost() const { return posts_.empty() ? Post{Varnholt::ERR_SUCCESS, -1} : posts_.back(); }

    TempRoot root_;
    int files_ = 0;
    std::vector<Post> posts_;
    std::vector<Post> bytePosts_;
};

using Varnholt::ERR_CHECKSUM_INCORRECT;
using Varnholt::ERR_INVALID_DATA_RANGE;
using Varnholt::ERR_OPEN_FAILED;
using Varnholt::ERR_SUCCESS;

TEST_F(ImageReaderTest, HexFilesGiveTheirImageOrTheirFailure)
{
    struct Case {
        const char* what;
        std::string text;
        ResultCode result;
        Bytes image;
        std::uint32_t base;
        Post last;
    };
    const Case cases[] = {
        {"window 0x0800, 16 bytes",
         ela(0x0800) + rec(0, 0, run(1, 16)) + eof,
         ERR_SUCCESS,
         run(1, 16),
         0x0800,
         {ERR_SUCCESS, 0}},
        {"gap of 8 bytes filled with zeros",
         rec(0, 0, run(1, 8)) + rec(0, 0x10, run(9, 8)) + eof,
         ERR_SUCCESS,
         concat({run(1, 8), zeros(8), run(9, 8)}),
         0,
         {ERR_SUCCESS, 0}},
        {"next window pads to 64 KB",
         ela(0x0800) + rec(0, 0, run(1, 16)) + ela(0x0801) + rec(0, 0, run(7, 4)) + eof,
         ERR_SUCCESS,
         concat({run(1, 16), zeros(65536 - 16), run(7, 4)}),
         0x0800,
         {ERR_SUCCESS, 0}},
        {"records without data add nothing, not even the gap before them",
         ela(0x0800) + rec(0, 0, run(1, 16)) + rec(0, 0x1000, {}) + ela(0x0801) + eof,
         ERR_SUCCESS,
         run(1, 16),
         0x0800,
         {ERR_SUCCESS, 0}},
        {"record crossing 64 KB runs on linearly",
         ela(0x0800) + rec(0, 0xFFF8, run(1, 16)) + eof,
         ERR_SUCCESS,
         concat({zeros(0xFFF8), run(1, 16)}),
         0x0800,
         {ERR_SUCCESS, 0}},
        {"CR LF line ends",
         ela(0x0800) + "\r\n" + rec(0, 0, run(1, 4)) + "\r\n" + eof,
         ERR_SUCCESS,
         run(1, 4),
         0x0800,
         {ERR_SUCCESS, 0}},
        {"start address records ignored",
         rec(5, 0, {8, 0, 1, 0x31}) + rec(3, 0, {0, 0, 0, 0}) + rec(0, 0, run(1, 2)) + eof,
         ERR_SUCCESS,
         run(1, 2),
         0,
         {ERR_SUCCESS, 0}},
        {"nothing after the end record is read",
         rec(0, 0, run(1, 2)) + eof + "garbage" + rec(0, 2, run(5, 2)),
         ERR_SUCCESS,
         run(1, 2),
         0,
         {ERR_SUCCESS, 0}},
        {"lower-case digits",
         ":0200000041aa13\n:00000001ff\n",
         ERR_SUCCESS,
         {0x41, 0xAA},
         0,
         {ERR_SUCCESS, 0}},
        {"window below the first",
         ela(0x0801) + ela(0x0800) + eof,
         ERR_INVALID_DATA_RANGE,
         {},
         0,
         {ERR_INVALID_DATA_RANGE, 0}},
        {"wrong checksum",
         ":0100000041BF\n" + eof,
         ERR_CHECKSUM_INCORRECT,
         {},
         0,
         {ERR_CHECKSUM_INCORRECT, 0}},
        {"wrong checksum of the end record",
         rec(0, 0, run(1, 2)) + ":00000001FE\n",
         ERR_CHECKSUM_INCORRECT,
         {},
         0,
         {ERR_CHECKSUM_INCORRECT, 0}},
        {"checksum cut off by the end of the file",
         ":0100000041B",
         ERR_CHECKSUM_INCORRECT,
         {},
         0,
         {ERR_CHECKSUM_INCORRECT, 0}},
        {"checksum not hexadecimal",
         ":0100000041BG\n" + eof,
         ERR_CHECKSUM_INCORRECT,
         {},
         0,
         {ERR_CHECKSUM_INCORRECT, 0}},
        {"space before the colon",
         " " + rec(0, 0, run(1, 2)) + eof,
         ERR_INVALID_DATA_RANGE,
         {},
         0,
         {ERR_INVALID_DATA_RANGE, 0}},
        {"no end record", rec(0, 0, run(1, 2)), ERR_INVALID_DATA_RANGE, {}, 0, {ERR_INVALID_DATA_RANGE, 100}},
        {"empty file", "", ERR_INVALID_DATA_RANGE, {}, 0, {ERR_INVALID_DATA_RANGE, 100}},
        {"header cut off", ":1000", ERR_INVALID_DATA_RANGE, {}, 0, {ERR_INVALID_DATA_RANGE, 100}},
        {"data cut off", ":02000000414", ERR_INVALID_DATA_RANGE, {}, 0, {ERR_INVALID_DATA_RANGE, 100}},
        {"header not hexadecimal",
         ":1G00000041\n" + eof,
         ERR_INVALID_DATA_RANGE,
         {},
         0,
         {ERR_INVALID_DATA_RANGE, 0}},
        {"header with a sign",
         ":+1000000041\n" + eof,
         ERR_INVALID_DATA_RANGE,
         {},
         0,
         {ERR_INVALID_DATA_RANGE, 0}},
        {"header with a blank",
         ": 100000041\n" + eof,
         ERR_INVALID_DATA_RANGE,
         {},
         0,
         {ERR_INVALID_DATA_RANGE, 0}},
        {"data pair half hexadecimal",
         ":010000004G00\n" + eof,
         ERR_INVALID_DATA_RANGE,
         {},
         0,
         {ERR_INVALID_DATA_RANGE, 0}},
        // Records a well-made file never holds: refused rather than misplaced or grown without end.
        {"overlapping records",
         rec(0, 0, run(1, 16)) + rec(0, 8, run(1, 4)) + eof,
         ERR_INVALID_DATA_RANGE,
         {},
         0,
         {ERR_INVALID_DATA_RANGE, 0}},
        {"descending records",
         rec(0, 0x10, run(1, 4)) + rec(0, 0, run(1, 4)) + eof,
         ERR_INVALID_DATA_RANGE,
         {},
         0,
         {ERR_INVALID_DATA_RANGE, 0}},
        {"same window named again, data below",
         ela(0x0800) + rec(0, 0x10, run(1, 4)) + ela(0x0800) + rec(0, 0, run(1, 4)) + eof,
         ERR_INVALID_DATA_RANGE,
         {},
         0,
         {ERR_INVALID_DATA_RANGE, 0}},
        {"same window named again, data above",
         ela(0x0800) + rec(0, 0, run(1, 4)) + ela(0x0800) + rec(0, 0x10, run(5, 4)) + eof,
         ERR_SUCCESS,
         concat({run(1, 4), zeros(12), run(5, 4)}),
         0x0800,
         {ERR_SUCCESS, 0}},
        {"window far above the first",
         ela(0x0800) + rec(0, 0, run(1, 4)) + ela(0x0900) + eof,
         ERR_INVALID_DATA_RANGE,
         {},
         0,
         {ERR_INVALID_DATA_RANGE, 0}},
        {"data before the first window keeps window 0 as the start",
         rec(0, 0, run(1, 4)) + ela(0x0001) + rec(0, 0, run(9, 2)) + eof,
         ERR_SUCCESS,
         concat({run(1, 4), zeros(65532), run(9, 2)}),
         0x0001,
         {ERR_SUCCESS, 0}},
        {"segment 0x1000 is window 1",
         esa(0x1000) + rec(0, 0x10, run(1, 4)) + eof,
         ERR_SUCCESS,
         concat({zeros(0x10), run(1, 4)}),
         0x0001,
         {ERR_SUCCESS, 0}},
        {"segment inside window 0",
         esa(0x0800) + rec(0, 0x10, run(1, 4)) + eof,
         ERR_SUCCESS,
         concat({zeros(0x8010), run(1, 4)}),
         0,
         {ERR_SUCCESS, 0}},
        {"segment then the next window",
         esa(0x1000) + rec(0, 0, run(1, 4)) + esa(0x2000) + rec(0, 0, run(5, 4)) + eof,
         ERR_SUCCESS,
         concat({run(1, 4), zeros(65532), run(5, 4)}),
         0x0001,
         {ERR_SUCCESS, 0}},
        {"record wrapping inside its segment",
         esa(0x1000) + rec(0, 0xFFF8, run(1, 16)) + eof,
         ERR_INVALID_DATA_RANGE,
         {},
         0,
         {ERR_INVALID_DATA_RANGE, 0}},
    };
    for (const Case& c : cases) {
        HexImage image;
        image.data = {0xEE};
        image.size = 1;
        EXPECT_EQ(readHex(c.text, image), c.result) << c.what;
        EXPECT_EQ(image.data, c.image) << c.what;
        EXPECT_EQ(image.size, c.image.size()) << c.what;
        EXPECT_EQ(image.base, c.base) << c.what;
        EXPECT_EQ(lastPost(), c.last) << c.what;
    }
}

TEST(ImageKind, TellsMicroControllerImagesFromFpgaImages)
{
    // 16-byte data records: the FPGA reader takes them as data lines.
    const std::string records = rec(0, 0, run(1, 16)) + rec(0, 0x10, run(9, 16));
    struct Case {
        const char* what;
        std::string text;
        bool window, supervisor, front;
    };
    const Case cases[] = {
        {"flash window named", ela(0x0800) + records + eof, true, false, false},
        {"lower-case digits, CR LF", "\r\n:020000040800f2\r\n" + records, true, false, false},
        {"supervisor marker", records + eof + "SystemSupervisor", false, true, false},
        {"front marker", "Front_uc " + records + eof, false, false, true},
        {"FPGA lines", records + eof, false, false, false},
        {"another window", ela(0x0801) + records + eof, false, false, false},
        {"wrong checksum", ":020000040800F1\n" + records, false, false, false},
        {"not at a line start", "x:020000040800F2\n" + records, false, false, false},
        {"segment address", esa(0x0800) + records, false, false, false},
        {"cut short", ":02000004080", false, false, false},
        {"nothing", "", false, false, false},
    };
    for (const Case& c : cases) {
        const ImageKind kind = imageKindOf(c.text);
        EXPECT_EQ(kind.namesFlashWindow, c.window) << c.what;
        EXPECT_EQ(kind.carriesSupervisorMarker, c.supervisor) << c.what;
        EXPECT_EQ(kind.carriesFrontMarker, c.front) << c.what;
        EXPECT_EQ(kind.looksLikeMicroController(), c.window || c.supervisor || c.front) << c.what;
    }
}

TEST_F(ImageReaderTest, HexProgressCountsEveryCharacterRead)
{
    // 14 + 14 + 12 characters: after the first record 13 were read, after the second 27.
    HexImage image;
    ASSERT_EQ(readHex(":0100000041BE\n:0100010042BC\n" + eof, image), ERR_SUCCESS);
    const std::vector<Post> expected = {{ERR_SUCCESS, 32}, {ERR_SUCCESS, 67}, {ERR_SUCCESS, 0}};
    EXPECT_EQ(posts_, expected);
}

TEST_F(ImageReaderTest, MissingFilesAreNotOpened)
{
    HexImage image;
    posts_.clear();
    auto post = [this](ResultCode code, std::uint8_t percent) { posts_.emplace_back(code, percent); };
    EXPECT_EQ(readHexImage((root_.path() + "/none.hex").c_str(), image, post), ERR_OPEN_FAILED);
    EXPECT_EQ(lastPost(), Post(ERR_OPEN_FAILED, 0));
    Bytes fpga = {1};
    EXPECT_EQ(readFpgaImage((root_.path() + "/none.txt").c_str(), fpga, post), ERR_OPEN_FAILED);
    EXPECT_TRUE(fpga.empty());
    // A folder is not a file; a name of 260 characters or more is never opened.
    EXPECT_EQ(readHexImage(root_.path().c_str(), image, post), ERR_OPEN_FAILED);
    const std::string longName = write(eof) + std::string(300, 'x');
    EXPECT_EQ(readHexImage(longName.c_str(), image, post), ERR_OPEN_FAILED);
}

// An FPGA data line: a first character, count, address, type, 16 data bytes, checksum.
std::string fpgaLine(const Bytes& data, unsigned address, const char* end = "\n", int checksumDelta = 0)
{
    Bytes all = {16, static_cast<std::uint8_t>(address >> 8), static_cast<std::uint8_t>(address), 0};
    all.insert(all.end(), data.begin(), data.end());
    std::string line = ":";
    unsigned sum = 0;
    char text[4];
    for (std::uint8_t b : all) {
        std::snprintf(text, sizeof text, "%02X", b);
        line += text;
        sum += b;
    }
    std::snprintf(text, sizeof text, "%02X", (0x100 - (sum & 0xFF) + checksumDelta) & 0xFF);
    return line + text + end;
}

TEST_F(ImageReaderTest, FpgaFilesGiveTheirImageOrTheirFailure)
{
    const std::string longLine =
        fpgaLine(run(1, 16), 0, "") + std::string(254 - 43, 'z') + fpgaLine(run(40, 16), 0x10);
    struct Case {
        const char* what;
        std::string text;
        ResultCode result;
        Bytes image;
        Post last;
    };
    const Case cases[] = {
        {"two data lines among short ones",
         "header\n" + fpgaLine(run(1, 16), 0) + ":00000001FF\n" + fpgaLine(run(17, 16), 0x10, "\r\n") + "\n",
         ERR_SUCCESS,
         run(1, 32),
         {ERR_SUCCESS, 100}},
        {"only short lines",
         ":00000001FF\n" + std::string(39, 'x') + "\n",
         ERR_SUCCESS,
         {},
         {ERR_SUCCESS, 100}},
        {"empty file", "", ERR_SUCCESS, {}, {ERR_SUCCESS, 100}},
        {"first character not looked at",
         "#" + fpgaLine(run(1, 16), 0).substr(1),
         ERR_SUCCESS,
         run(1, 16),
         {ERR_SUCCESS, 100}},
        {"last line without line end",
         fpgaLine(run(1, 16), 0, ""),
         ERR_SUCCESS,
         run(1, 16),
         {ERR_SUCCESS, 100}},
        {"long line read in pieces of 254",
         longLine,
         ERR_SUCCESS,
         concat({run(1, 16), run(40, 16)}),
         {ERR_SUCCESS, 100}},
        // 44 good characters then 44 with a wrong checksum: 43 + 43 of 88 consumed.
        {"wrong checksum empties the image",
         fpgaLine(run(1, 16), 0) + fpgaLine(run(17, 16), 0x10, "\n", 1),
         ERR_CHECKSUM_INCORRECT,
         {},
         {ERR_CHECKSUM_INCORRECT, 97}},
        {"digit that is not hexadecimal",
         ":10000000" + std::string(31, '0') + "G00\n",
         ERR_INVALID_DATA_RANGE,
         {},
         {ERR_INVALID_DATA_RANGE, 97}},
        {"line too short for its checksum",
         ":" + std::string(40, '0') + "\n",
         ERR_INVALID_DATA_RANGE,
         {},
         {ERR_INVALID_DATA_RANGE, 97}},
    };
    for (const Case& c : cases) {
        Bytes image = {0xEE};
        EXPECT_EQ(readFpga(c.text, image), c.result) << c.what;
        EXPECT_EQ(image, c.image) << c.what;
        EXPECT_EQ(lastPost(), c.last) << c.what;
    }
}

TEST_F(ImageReaderTest, FpgaProgressLeavesOutOneCharacterPerLine)
{
    // A data line of 44 characters and a short one of 2: 43 of 46 counted after the data line.
    Bytes image;
    ASSERT_EQ(readFpga(fpgaLine(run(1, 16), 0) + "x\n", image), ERR_SUCCESS);
    const std::vector<Post> expected = {{ERR_SUCCESS, 93}, {ERR_SUCCESS, 100}};
    EXPECT_EQ(posts_, expected);
}

} // namespace PELMUX_FILE_SCOPE
} // namespace pelmux::test
