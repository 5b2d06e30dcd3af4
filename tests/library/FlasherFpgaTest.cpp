#include "SimFixture.h"

#include "firmware/Flasher_FPGA.h"

#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace Varnholt {
bool operator==(const UpgradeStatus& a, const UpgradeStatus& b)
{
    return a.currentAction == b.currentAction && a.percent == b.percent && a.errorCode == b.errorCode;
}
std::ostream& operator<<(std::ostream& out, const UpgradeStatus& s)
{
    return out << "(action " << s.currentAction << ", " << int(s.percent) << " %, code " << s.errorCode
               << ")";
}

} // namespace Varnholt

namespace pelmux::test {
namespace PELMUX_FILE_SCOPE {

using Bytes = std::vector<std::uint8_t>;
using Varnholt::UpgradeStatus;

constexpr std::uint32_t readinessCode = 0x2224FC;
constexpr std::uint32_t writeCode = 0x222500;
constexpr std::uint32_t readCode = 0x222504;

// An image of `lines` data lines of 16 bytes, as the FPGA line file holds it.
Bytes pattern(std::size_t lines)
{
    Bytes out(lines * 16);
    for (std::size_t i = 0; i < out.size(); ++i)
        out[i] = static_cast<std::uint8_t>(i * 7 + i / 256);
    return out;
}
std::string fpgaFile(const Bytes& image)
{
    std::string text = "FPGA configuration\n";
    char digits[4];
    for (std::size_t line = 0; line * 16 < image.size(); ++line) {
        unsigned sum = 16 + ((line * 16) >> 8 & 0xFF) + ((line * 16) & 0xFF);
        std::snprintf(digits, sizeof digits, "%02X", static_cast<unsigned>((line * 16) >> 8 & 0xFF));
        text += std::string(":10") + digits;
        std::snprintf(digits, sizeof digits, "%02X", static_cast<unsigned>((line * 16) & 0xFF));
        text += std::string(digits) + "00";
        for (std::size_t i = 0; i < 16; ++i) {
            std::snprintf(digits, sizeof digits, "%02X", image[line * 16 + i]);
            text += digits;
            sum += image[line * 16 + i];
        }
        std::snprintf(digits, sizeof digits, "%02X", (0x100 - (sum & 0xFF)) & 0xFF);
        text += std::string(digits) + "\n";
    }
    return text + ":00000001FF\n";
}
std::string hexText(const Bytes& bytes)
{
    std::string text;
    char digits[4];
    for (std::uint8_t b : bytes) {
        std::snprintf(digits, sizeof digits, "%02x", b);
        text += digits;
    }
    return text;
}

class FlasherFpgaTest : public SimTest {
protected:
    void SetUp() override
    {
        SimTest::SetUp();
        job_.setPostObserver([this](const UpgradeStatus& s) { posts_.push_back(s); });
        freshFlasher();
    }
    // A new unit, and a new flasher: the old one keeps its control handle to the old unit.
    void restart()
    {
        stopUnit();
        startUnit(sim::defaultProfile());
        freshFlasher();
    }
    void freshFlasher() { flasher_ = std::make_unique<Flasher_FPGA>(); }

    // Runs one job on an image file as the owner does: the job lock taken first.
    ResultCode job(bool program, const std::string& fileText)
    {
        root().writeFile("fpga.txt", fileText);
        const std::string name = root().path() + "/fpga.txt";
        job_.begin(name.c_str());
        posts_.clear();
        EXPECT_TRUE(job_.tryTake());
        const ResultCode result = flasher_->run(job_, program);
        // Every job gives the lock back.
        EXPECT_TRUE(job_.tryTake());
        job_.giveBack();
        return result;
    }
    // The status an application collects.
    UpgradeStatus status() { return job_.collect(false); }
    void setFpga(const std::function<void(sim::Json&)>& change)
    {
        unit().update([&](sim::Json& s) { change(s["firmware"]["fpga"]); });
    }
    std::string contents() { return unit().snapshot()["firmware"]["fpga"]["contents"].get<std::string>(); }
    std::vector<int> modeLog()
    {
        return unit().snapshot()["firmware"]["upgradeModeLog"].get<std::vector<int>>();
    }
    // The posting just before the final one.
    UpgradeStatus failingPost() const
    {
        return posts_.size() >= 2 ? posts_[posts_.size() - 2] : UpgradeStatus{};
    }

    FirmwareJob job_;
    std::unique_ptr<Flasher_FPGA> flasher_;
    std::vector<UpgradeStatus> posts_;
};

constexpr auto preparing = Varnholt::UPGRADE_PREPARING;
constexpr auto reading = Varnholt::UPGRADE_READING_FILE;
constexpr auto writing = Varnholt::UPGRADE_WRITING;
constexpr auto verifying = Varnholt::UPGRADE_VERIFYING;
constexpr auto complete = Varnholt::UPGRADE_COMPLETE;
constexpr auto failed = Varnholt::UPGRADE_FAILED;
constexpr auto ok = Varnholt::ERR_SUCCESS;

TEST_F(FlasherFpgaTest, WritesAndReadsBackInBlocksFromWhereTheDriverGot)
{
    struct Case {
        const char* what;
        int acceptLimit;
        std::size_t lines;
        std::size_t writes;
        std::size_t reads;
        int readLimit = 528;
    };
    const Case cases[] = {
        {"whole blocks: 528 + 480", 528, 63, 2, 2},
        {"100 bytes per request", 100, 63, 11, 2},
        {"one odd byte count", 333, 100, 5, 4},
        {"a single short block", 528, 1, 1, 1},
        {"100 bytes per read: only those are compared", 528, 63, 2, 11, 100},
    };
    for (const Case& c : cases) {
        restart();
        setFpga([&](sim::Json& f) {
            f["acceptLimit"] = c.acceptLimit;
            f["readLimit"] = c.readLimit;
        });
        const Bytes image = pattern(c.lines);
        EXPECT_EQ(job(true, fpgaFile(image)), Varnholt::ERR_SUCCESS) << c.what;
        EXPECT_EQ(contents(), hexText(image)) << c.what;
        EXPECT_EQ(unit().requestCount(writeCode), c.writes) << c.what;
        EXPECT_EQ(unit().requestCount(readCode), c.reads) << c.what;
        EXPECT_EQ(modeLog(), (std::vector<int>{0x0F, 0xC3})) << c.what;
        EXPECT_EQ(status(), (UpgradeStatus{complete, 0, Varnholt::ERR_SUCCESS})) << c.what;
    }
}

TEST_F(FlasherFpgaTest, StepsPostTheirProgressInOrder)
{
    EXPECT_EQ(job(true, fpgaFile(pattern(63))), Varnholt::ERR_SUCCESS);
    const std::vector<UpgradeStatus> expected = {{preparing, 50, ok}, {preparing, 100, ok}, {reading, 0, ok}};
    ASSERT_GE(posts_.size(), expected.size());
    // (0, 0, preparing) equals the record the flasher starts from: it is not posted again.
    EXPECT_EQ(std::vector<UpgradeStatus>(posts_.begin(), posts_.begin() + 3), expected);
    // 1008 bytes: 528 written (52 %), then all; read back the same way.
    const std::vector<UpgradeStatus> tail = {{writing, 0, ok},   {writing, 52, ok},   {writing, 100, ok},
                                             {verifying, 0, ok}, {verifying, 52, ok}, {verifying, 100, ok},
                                             {complete, 0, ok}};
    EXPECT_EQ(std::vector<UpgradeStatus>(posts_.end() - 7, posts_.end()), tail);
}

TEST_F(FlasherFpgaTest, VerificationReadsWithoutWriting)
{
    const Bytes image = pattern(1); // 16 bytes: one read of 528, the first 16 compared
    setFpga([&](sim::Json& f) { f["contents"] = hexText(image); });
    EXPECT_EQ(job(false, fpgaFile(image)), Varnholt::ERR_SUCCESS);
    EXPECT_EQ(unit().requestCount(writeCode), 0u);
    EXPECT_EQ(unit().requestCount(readCode), 1u);
    EXPECT_EQ(modeLog(), (std::vector<int>{0x0F, 0xC3}));

    // A configuration that differs at byte 600 of 1008 fails there.
    Bytes other = pattern(63);
    std::string stored = hexText(other);
    stored[1200] = stored[1200] == 'f' ? '0' : 'f';
    setFpga([&](sim::Json& f) { f["contents"] = stored; });
    EXPECT_EQ(job(false, fpgaFile(other)), Varnholt::ERR_VERIFY_FAILED);
    EXPECT_EQ(failingPost(), (UpgradeStatus{verifying, 59, Varnholt::ERR_VERIFY_FAILED}));
    EXPECT_EQ(status(), (UpgradeStatus{failed, 0, Varnholt::ERR_VERIFY_FAILED}));
}

TEST_F(FlasherFpgaTest, FailuresEndTheJobWithTheirCode)
{
    struct Case {
        const char* what;
        std::function<void()> arrange;
        std::string file;
        bool program;
        ResultCode result;
        UpgradeStatus failing;
        std::vector<int> modes;
    };
    const std::string good = fpgaFile(pattern(63));
    const std::string badChecksum = ":1000000000000000000000000000000000000000FF\n";
    const Case cases[] = {
        {"FPGA not ready, before the file is read",
         [this] { setFpga([](sim::Json& f) { f["ready"] = 1; }); },
         badChecksum,
         true,
         Varnholt::ERR_INITIALISATION_FAILED,
         {preparing, 100, Varnholt::ERR_INITIALISATION_FAILED},
         {}},
        {"readiness request fails",
         [this] { unit().failRequest(readinessCode); },
         good,
         true,
         Varnholt::ERR_IOCTRL_OPERATION_FAILED,
         {preparing, 100, Varnholt::ERR_IOCTRL_OPERATION_FAILED},
         {}},
        {"readiness answers 2 bytes",
         [this] { unit().forceReturned(readinessCode, 2); },
         good,
         true,
         Varnholt::ERR_BUFFER_SIZE_ERROR,
         {preparing, 100, Varnholt::ERR_BUFFER_SIZE_ERROR},
         {}},
        {"file missing", [] {}, "", true, Varnholt::ERR_OPEN_FAILED, {}, {}},
        {"bad checksum",
         [] {},
         ":1000000000000000000000000000000000000000FF\n",
         true,
         Varnholt::ERR_CHECKSUM_INCORRECT,
         {reading, 97, Varnholt::ERR_CHECKSUM_INCORRECT},
         {}},
        {"empty image, upgrade",
         [] {},
         "no data lines\n",
         true,
         Varnholt::ERR_INVALID_DATA_RANGE,
         {writing, 0, Varnholt::ERR_INVALID_DATA_RANGE},
         {0x0F, 0xC3}},
        {"empty image, verification",
         [] {},
         "no data lines\n",
         false,
         Varnholt::ERR_INVALID_DATA_RANGE,
         {verifying, 0, Varnholt::ERR_INVALID_DATA_RANGE},
         {0x0F, 0xC3}},
        {"position stands still",
         [this] { setFpga([](sim::Json& f) { f["stallPosition"] = true; }); },
         good,
         true,
         Varnholt::ERR_IOCTRL_OPERATION_FAILED,
         {writing, 100, Varnholt::ERR_IOCTRL_OPERATION_FAILED},
         {0x0F, 0xC3}},
        // One block of 16 bytes answered with position 17: without a second block to stall on,
        // only the check of the claim itself fails the job.
        {"position beyond the block",
         [this] {
             unit().forceOutput(writeCode, {0x11, 0, 0, 0});
         },
         fpgaFile(pattern(1)),
         true,
         Varnholt::ERR_IOCTRL_OPERATION_FAILED,
         {writing, 100, Varnholt::ERR_IOCTRL_OPERATION_FAILED},
         {0x0F, 0xC3}},
        {"block write fails",
         [this] { setFpga([](sim::Json& f) { f["failWrites"] = 1; }); },
         good,
         true,
         Varnholt::ERR_IOCTRL_OPERATION_FAILED,
         {writing, 100, Varnholt::ERR_IOCTRL_OPERATION_FAILED},
         {0x0F, 0xC3}},
        {"block write answers 2 bytes",
         [this] { unit().forceReturned(writeCode, 2); },
         good,
         true,
         Varnholt::ERR_IOCTRL_OPERATION_FAILED,
         {writing, 100, Varnholt::ERR_IOCTRL_OPERATION_FAILED},
         {0x0F, 0xC3}},
        {"block read fails",
         [this] { setFpga([](sim::Json& f) { f["failReads"] = 1; }); },
         good,
         true,
         Varnholt::ERR_IOCTRL_OPERATION_FAILED,
         {verifying, 100, Varnholt::ERR_IOCTRL_OPERATION_FAILED},
         {0x0F, 0xC3}},
        {"block read answers length 0",
         [this] { setFpga([](sim::Json& f) { f["zeroLengthRead"] = true; }); },
         good,
         true,
         Varnholt::ERR_DEVICE_READ_FAILED,
         {verifying, 100, Varnholt::ERR_DEVICE_READ_FAILED},
         {0x0F, 0xC3}},
        {"no driver",
         [this] { stopUnit(); },
         good,
         true,
         Varnholt::ERR_OPEN_FAILED,
         {preparing, 0, Varnholt::ERR_OPEN_FAILED},
         {}},
    };
    for (const Case& c : cases) {
        restart();
        c.arrange();
        ResultCode result;
        if (std::string(c.what) == "file missing") {
            job_.begin((root().path() + "/none.txt").c_str());
            posts_.clear();
            ASSERT_TRUE(job_.tryTake());
            result = flasher_->run(job_, true);
            EXPECT_EQ(result, Varnholt::ERR_OPEN_FAILED);
            EXPECT_EQ(failingPost(), (UpgradeStatus{reading, 0, Varnholt::ERR_OPEN_FAILED}));
            EXPECT_TRUE(modeLog().empty());
            continue;
        }
        result = job(c.program, c.file);
        EXPECT_EQ(result, c.result) << c.what;
        EXPECT_EQ(failingPost(), c.failing) << c.what;
        EXPECT_EQ(status(), (UpgradeStatus{failed, 0, c.result})) << c.what;
        if (c.what != std::string("no driver")) {
            EXPECT_EQ(modeLog(), c.modes) << c.what;
        }
    }
}

TEST_F(FlasherFpgaTest, WritePositionRunningBackwardsIsRefused)
{
    int calls = 0;
    unit().onControl(writeCode, [&calls](sim::Unit&, const sim::ControlRequest&) {
        // 100 bytes taken, then a position behind the one sent.
        return sim::ControlReply::data(sim::Writer().u32(++calls == 1 ? 100 : 50).take());
    });
    EXPECT_EQ(job(true, fpgaFile(pattern(63))), Varnholt::ERR_IOCTRL_OPERATION_FAILED);
    EXPECT_EQ(calls, 2);
    EXPECT_EQ(failingPost(), (UpgradeStatus{writing, 100, Varnholt::ERR_IOCTRL_OPERATION_FAILED}));
}

} // namespace PELMUX_FILE_SCOPE
} // namespace pelmux::test
