// The STM32 bootloader flasher: the serial port (settings, exclusivity, time-outs), the bytes of
// every command against a scripted bootloader on a pseudo-terminal, and whole supervisor and front
// jobs with their postings.
#include "BootloaderPeer.h"
#include "FirmwareImages.h"
#include "SimFixture.h"

#include "firmware/BootloaderLink.h"
#include "firmware/Flasher_STM32.h"
#include "frame/Trace.h"
#include "platform/SerialPort.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <termios.h>

namespace pelmux::test {
namespace PELMUX_FILE_SCOPE {

using Bytes = std::vector<std::uint8_t>;
using Varnholt::ResultCode;

Bytes pattern(std::uint32_t size)
{
    Bytes bytes(size);
    for (std::uint32_t i = 0; i < size; ++i)
        bytes[i] = static_cast<std::uint8_t>(i * 7 + i / 251);
    return bytes;
}

// ------------------------------------------------------------------ the port

class SerialPortTest : public ::testing::Test {
protected:
    void SetUp() override { platform::setTimeScale(0.0); }
    TempRoot root_;
};

TEST_F(SerialPortTest, OpensOnlyAnExistingTerminal)
{
    platform::SerialPort port;
    EXPECT_FALSE(port.open()) << "no COM1 at all";
    root_.writeFile("COM1", "not a line");
    EXPECT_FALSE(port.open()) << "a plain file";
    EXPECT_FALSE(port.isOpen());
}

TEST_F(SerialPortTest, ConfiguresRaw115200EvenParityAndRestoresTheSettingsFound)
{
    BootloaderPeer peer(root_.path(), {});
    termios before{};
    ASSERT_EQ(::tcgetattr(peer.slave(), &before), 0);
    before.c_cflag = (before.c_cflag & ~static_cast<tcflag_t>(CSIZE)) | CS7 | CSTOPB | PARODD;
    before.c_iflag |= IXON | ICRNL;
    before.c_lflag |= ICANON | ECHO;
    ::cfsetspeed(&before, B9600);
    ASSERT_EQ(::tcsetattr(peer.slave(), TCSANOW, &before), 0);
    ASSERT_EQ(::tcgetattr(peer.slave(), &before), 0);

    platform::SerialPort port;
    ASSERT_TRUE(port.open());
    ASSERT_TRUE(port.configure());
    termios during{};
    ASSERT_EQ(::tcgetattr(peer.slave(), &during), 0);
    EXPECT_EQ(::cfgetospeed(&during), speed_t{B115200});
    EXPECT_EQ(::cfgetispeed(&during), speed_t{B115200});
    EXPECT_EQ(during.c_cflag & CSIZE, tcflag_t{CS8});
    // A pseudo-terminal keeps no parity bit (it always shows 8 bits without); a real line does.
    EXPECT_EQ(during.c_cflag & (PARODD | CSTOPB | CRTSCTS), 0u);
    EXPECT_EQ(during.c_iflag & (IXON | IXOFF | ICRNL), 0u);
    EXPECT_EQ(during.c_lflag & (ICANON | ECHO | ISIG), 0u);
    port.close();

    termios after{};
    ASSERT_EQ(::tcgetattr(peer.slave(), &after), 0);
    EXPECT_EQ(after.c_cflag, before.c_cflag);
    EXPECT_EQ(after.c_iflag, before.c_iflag);
    EXPECT_EQ(after.c_oflag, before.c_oflag);
    EXPECT_EQ(after.c_lflag, before.c_lflag);
    EXPECT_EQ(::cfgetospeed(&after), speed_t{B9600});
    EXPECT_EQ(0, std::memcmp(after.c_cc, before.c_cc, sizeof before.c_cc));
}

TEST_F(SerialPortTest, IsHeldByOneOpenerAtATime)
{
    BootloaderPeer peer(root_.path(), {.silent = true});
    platform::SerialPort first;
    platform::SerialPort second;
    ASSERT_TRUE(first.open());
    EXPECT_FALSE(second.open());
    first.close();
    EXPECT_TRUE(second.open()) << "the line is free again, exclusive mode included";
}

TEST_F(SerialPortTest, ReadsAndWritesOnlyOnceConfiguredAndTimesOutEmpty)
{
    BootloaderPeer peer(root_.path(), {.silent = true});
    platform::SerialPort port;
    ASSERT_TRUE(port.open());
    std::uint8_t byte = 0x7F;
    std::uint32_t count = 99;
    EXPECT_FALSE(port.write(&byte, 1, &count));
    EXPECT_EQ(count, 0u);
    EXPECT_FALSE(port.read(&byte, 1, &count));
    ASSERT_TRUE(port.configure());
    EXPECT_TRUE(port.write(&byte, 1, &count));
    EXPECT_EQ(count, 1u);
    count = 99;
    EXPECT_TRUE(port.read(&byte, 1, &count)) << "a silent line is a time-out, not a failure";
    EXPECT_EQ(count, 0u);
}

// ------------------------------------------------------------------ the commands

class BootloaderLinkTest : public ::testing::Test {
protected:
    void SetUp() override { platform::setTimeScale(0.0); }
    void TearDown() override
    {
        port_.close();
        peer_.reset();
    }
    void start(PeerOptions options = {})
    {
        peer_ = std::make_unique<BootloaderPeer>(root_.path(), options);
        ASSERT_TRUE(port_.open());
        ASSERT_TRUE(port_.configure());
    }
    // A connected link, with what the connection sent forgotten.
    std::unique_ptr<BootloaderLink> connected(PeerOptions options = {})
    {
        start(options);
        auto link = std::make_unique<BootloaderLink>(port_);
        EXPECT_TRUE(link->connect(true));
        peer_->clearReceived();
        return link;
    }

    TempRoot root_;
    std::unique_ptr<BootloaderPeer> peer_;
    platform::SerialPort port_;
};

TEST_F(BootloaderLinkTest, ConnectReadsTheListTheIdentifierAndWarnsExactly)
{
    struct Case {
        const char* name;
        PeerOptions options;
        bool connects;
        std::string warning;
    };
    const Case cases[] = {
        {"eleven codes", {}, true, ""},
        {"thirteen codes: two dropped", {.getCount = 13}, true, getTooLongLine},
        {"nine codes reach every command used", {.getCount = 9}, true, ""},
        {"six codes lack ERASE", {.getCount = 6}, false, ""},
        {"three identifier bytes", {.idCount = 2}, false, productIdTooLongLine},
    };
    for (const auto& c : cases) {
        start(c.options);
        BootloaderLink link(port_);
        testing::internal::CaptureStderr();
        const bool connected = link.connect(true);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), c.warning) << c.name;
        EXPECT_EQ(connected, c.connects) << c.name;
        if (c.connects) {
            EXPECT_EQ(link.bootloaderVersion, 0x22) << c.name;
            EXPECT_EQ(link.productId, 0x410) << c.name;
            EXPECT_EQ(link.device().flashEnd, 0x08020000u) << c.name;
            // The line is in step: the next command is understood.
            std::uint8_t word[4] = {};
            EXPECT_TRUE(link.readMemory(0x08000000, word, 4)) << c.name;
        }
        TearDown();
    }
}

TEST_F(BootloaderLinkTest, SynchronisesOnlyWhenAskedThenSendsGetGetVersionGetId)
{
    auto link = connected();
    ASSERT_TRUE(link->connect(false));
    EXPECT_EQ(peer_->received(), (Bytes{0x00, 0xFF, 0x01, 0xFE, 0x02, 0xFD}));
}

TEST_F(BootloaderLinkTest, SilentLineFailsAfterFiveSyncBytes)
{
    start({.silent = true});
    BootloaderLink link(port_);
    EXPECT_FALSE(link.connect(true));
    EXPECT_EQ(peer_->received(), Bytes(5, 0x7F));
}

TEST_F(BootloaderLinkTest, ProductIdentifiersSelectTheirDevice)
{
    struct Case {
        std::uint16_t id;
        std::uint32_t flashEnd;
        const char* name;
    };
    const Case cases[] = {
        {0x412, 0x08008000, "Low-density"},       {0x410, 0x08020000, "Medium-density"},
        {0x414, 0x08080000, "High-density"},      {0x418, 0x08040000, "Connectivity line"},
        {0x420, 0x08020000, "Medium-density VL"}, {0x430, 0x08100000, "XL-density"},
    };
    for (const auto& c : cases) {
        auto link = connected({.productId = c.id});
        EXPECT_EQ(link->device().id, c.id);
        EXPECT_EQ(link->device().flashStart, 0x08000000u) << c.name;
        EXPECT_EQ(link->device().flashEnd, c.flashEnd) << c.name;
        EXPECT_STREQ(link->device().name, c.name);
        link.reset();
        TearDown();
    }
    const Stm32Device& unknown = findStm32Device(0x999);
    EXPECT_EQ(unknown.id, 0);
    EXPECT_EQ(unknown.flashEnd - unknown.flashStart, 0u);
}

TEST_F(BootloaderLinkTest, WriteMemoryFillsToWholeWordsWithFF)
{
    struct Case {
        std::uint32_t count;
        std::uint8_t n; // N on the line
        std::uint32_t fill;
    };
    const Case cases[] = {{256, 255, 0}, {44, 43, 0}, {6, 7, 2},    {5, 7, 3},
                          {7, 7, 1},     {1, 3, 3},   {255, 255, 1}};
    auto link = connected();
    std::uint32_t address = 0x08000000;
    for (const auto& c : cases) {
        const Bytes data = pattern(c.count);
        ASSERT_TRUE(link->writeMemory(address, data.data(), c.count)) << c.count;
        const WriteFrame frame = peer_->writes().back();
        EXPECT_EQ(frame.address, address);
        EXPECT_EQ(frame.n, c.n) << c.count;
        EXPECT_TRUE(frame.checksumOk) << c.count << ": the checksum covers the fill";
        Bytes expected = data;
        expected.insert(expected.end(), c.fill, 0xFF);
        EXPECT_EQ(frame.payload, expected) << c.count;
        address += 256;
    }
}

TEST_F(BootloaderLinkTest, MemoryCommandsRefuseBadBlocksWithoutSendingAnything)
{
    struct Case {
        std::uint32_t address;
        std::uint32_t count;
    };
    const Case cases[] = {{0x08000002, 4}, {0x08000001, 1}, {0x08000000, 0}, {0x08000000, 257}};
    auto link = connected();
    Bytes buffer(512);
    for (const auto& c : cases) {
        EXPECT_FALSE(link->writeMemory(c.address, buffer.data(), c.count)) << c.address << " " << c.count;
        EXPECT_FALSE(link->readMemory(c.address, buffer.data(), c.count)) << c.address << " " << c.count;
    }
    EXPECT_FALSE(link->readMemory(0x08000000, nullptr, 4));
    EXPECT_TRUE(peer_->received().empty());
}

TEST_F(BootloaderLinkTest, ReadAndEraseSendTheirExactBytes)
{
    auto link = connected();
    Bytes buffer(256);
    ASSERT_TRUE(link->readMemory(0x08012344, buffer.data(), 200));
    EXPECT_EQ(peer_->received(),
              (Bytes{0x11, 0xEE, 0x08, 0x01, 0x23, 0x44, 0x08 ^ 0x01 ^ 0x23 ^ 0x44, 199, 56}));
    peer_->clearReceived();
    ASSERT_TRUE(link->eraseAll());
    EXPECT_EQ(peer_->received(), (Bytes{0x43, 0xBC, 0xFF, 0x00}));
}

// ------------------------------------------------------------------ whole jobs

struct Post {
    std::uint32_t action;
    std::uint32_t percent;
    ResultCode error;
    bool operator==(const Post&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Post& p)
{
    return out << "(" << p.action << ", " << p.percent << "%, " << p.error << ")";
}

class FlasherStm32Test : public SimTest {
protected:
    void SetUp() override
    {
        SimTest::SetUp();
        job_.setPostObserver([this](const UpgradeStatus& s) {
            posts_.push_back({s.currentAction, s.percent, s.errorCode});
        });
    }
    void TearDown() override
    {
        peer_.reset();
        SimTest::TearDown();
    }

    // Runs one job as a start operation would, on an image of `image` placed at the flash start.
    ResultCode job(bool program, const Bytes& image, PeerOptions options = {}, std::uint32_t target = 0)
    {
        return jobOnText(program, hexText(image), options, target);
    }
    // The same on an image file of this text.
    ResultCode jobOnText(bool program, const std::string& text, PeerOptions options = {},
                         std::uint32_t target = 0)
    {
        if (!peer_ && !onModel_)
            peer_ = std::make_unique<BootloaderPeer>(root().path(), options);
        const std::string file = root().path() + "/image.hex";
        std::ofstream(file, std::ios::binary) << text;
        job_.begin(file.c_str());
        EXPECT_TRUE(job_.tryTake());
        posts_.clear();
        // A flasher keeps nothing from one job to the next; the job keeps its last posting.
        Flasher_STM32 flasher(target);
        const ResultCode result = flasher.run(job_, program);
        EXPECT_TRUE(job_.tryTake()) << "the job gives its lock back";
        job_.giveBack();
        return result;
    }

    // The postings of one step, in order.
    std::vector<Post> postsOf(std::uint32_t action) const
    {
        std::vector<Post> step;
        for (const Post& p : posts_)
            if (p.action == action)
                step.push_back(p);
        return step;
    }
    Post lastBeforeFinal() const { return posts_.at(posts_.size() - 2); }

    std::unique_ptr<BootloaderPeer> peer_;
    std::vector<Post> posts_;
    bool onModel_ = false; // the simulated unit's own bootloaders answer

private:
    FirmwareJob job_;
};

constexpr std::uint32_t preparing = Varnholt::UPGRADE_PREPARING;
constexpr std::uint32_t connecting = Varnholt::UPGRADE_CONNECTING;
constexpr std::uint32_t reading = Varnholt::UPGRADE_READING_FILE;
constexpr std::uint32_t writing = Varnholt::UPGRADE_WRITING;
constexpr std::uint32_t verifying = Varnholt::UPGRADE_VERIFYING;
constexpr std::uint32_t complete = Varnholt::UPGRADE_COMPLETE;
constexpr std::uint32_t failed = Varnholt::UPGRADE_FAILED;
constexpr ResultCode ok = Varnholt::ERR_SUCCESS;

TEST_F(FlasherStm32Test, UpgradeWritesBlocksFromTheFlashStartAndVerifiesThem)
{
    struct Case {
        std::uint32_t size;
        std::vector<std::uint32_t> blocks; // bytes on the line per WRITE MEMORY, fill included
    };
    const Case cases[] = {
        {300, {256, 44}},
        {6, {8}},
        {517, {256, 256, 8}},
        {1024, {256, 256, 256, 256}},
    };
    for (const auto& c : cases) {
        peer_.reset();
        const Bytes image = pattern(c.size);
        ASSERT_EQ(job(true, image), Varnholt::ERR_SUCCESS) << c.size;
        EXPECT_EQ(peer_->erases(), 1);
        std::vector<std::uint32_t> blocks;
        std::uint32_t address = 0x08000000;
        for (const WriteFrame& w : peer_->writes()) {
            EXPECT_EQ(w.address, address) << c.size;
            address += 256;
            blocks.push_back(w.n + 1u);
        }
        EXPECT_EQ(blocks, c.blocks) << c.size;
        EXPECT_EQ(peer_->flash(c.size), image) << c.size;
        std::uint32_t readBack = 0;
        for (std::uint32_t count : peer_->readCounts())
            readBack += count;
        EXPECT_EQ(readBack, c.size) << "the fill is not read back";
        EXPECT_EQ(posts_.back(), (Post{complete, 0, Varnholt::ERR_SUCCESS}));
    }
}

TEST_F(FlasherStm32Test, PostsEveryStepInOrder)
{
    ASSERT_EQ(job(true, pattern(300)), Varnholt::ERR_SUCCESS);
    std::vector<Post> withoutReading;
    for (const Post& p : posts_)
        if (p.action != reading)
            withoutReading.push_back(p);
    const std::vector<Post> expected = {
        // A fresh job's first posting (0, 0, PREPARING) equals the last one it knows of.
        {preparing, 25, ok},  {preparing, 75, ok},  {preparing, 100, ok},  {connecting, 0, ok},
        {connecting, 50, ok}, {connecting, 75, ok}, {connecting, 100, ok}, {writing, 0, ok},
        {writing, 85, ok},    {writing, 100, ok},   {verifying, 0, ok},    {verifying, 85, ok},
        {verifying, 100, ok}, {complete, 0, ok},
    };
    EXPECT_EQ(withoutReading, expected);
    ASSERT_FALSE(postsOf(reading).empty());
    EXPECT_EQ(postsOf(reading).front(), (Post{reading, 0, ok}));
    // The reading step comes between preparing and connecting.
    EXPECT_EQ(posts_.at(3).action, reading);

    // The front micro-controller takes more preparation.
    ASSERT_EQ(job(false, pattern(300), {}, targetFront), Varnholt::ERR_SUCCESS);
    const std::vector<Post> front = {{preparing, 0, ok},
                                     {preparing, 25, ok},
                                     {preparing, 50, ok},
                                     {preparing, 75, ok},
                                     {preparing, 100, ok}};
    EXPECT_EQ(postsOf(preparing), front);
    EXPECT_TRUE(postsOf(writing).empty());
}

TEST_F(FlasherStm32Test, AnotherTargetFailsThePreparingStep)
{
    EXPECT_EQ(job(true, pattern(16), {}, 2), Varnholt::ERR_INVALID_PARAMETER_NULL);
    EXPECT_EQ(posts_, (std::vector<Post>{{failed, 0, Varnholt::ERR_INVALID_PARAMETER_NULL}}));
    EXPECT_TRUE(peer_->received().empty());
}

TEST_F(FlasherStm32Test, VerificationSendsNoEraseAndNoWrite)
{
    struct Case {
        const char* name;
        bool flashHoldsImage;
        ResultCode result;
    };
    const Case cases[] = {{"same", true, Varnholt::ERR_SUCCESS},
                          {"different", false, Varnholt::ERR_VERIFY_FAILED}};
    for (const auto& c : cases) {
        peer_.reset();
        const Bytes image = pattern(700);
        peer_ = std::make_unique<BootloaderPeer>(root().path(), PeerOptions{});
        if (c.flashHoldsImage)
            peer_->setFlash(image);
        EXPECT_EQ(job(false, image), c.result) << c.name;
        EXPECT_EQ(peer_->erases(), 0) << c.name;
        EXPECT_TRUE(peer_->writes().empty()) << c.name;
        for (std::uint8_t byte : peer_->received()) {
            EXPECT_NE(byte, 0x43) << c.name;
            EXPECT_NE(byte, 0x31) << c.name;
        }
        EXPECT_TRUE(postsOf(writing).empty()) << c.name;
    }
}

TEST_F(FlasherStm32Test, FailuresEndWithTheirCodeAndTheLastGoodPercent)
{
    struct Case {
        const char* name;
        bool program;
        std::uint32_t size;
        PeerOptions options;
        ResultCode result;
        Post failure; // the posting before the final one
        int erases;
    };
    const Case cases[] = {
        {"second write refused",
         true,
         600,
         {.nackWriteAt = 1},
         Varnholt::ERR_DEVICE_WRITE_FAILED,
         {writing, 42, Varnholt::ERR_DEVICE_WRITE_FAILED},
         1},
        {"first write refused",
         true,
         600,
         {.nackWriteAt = 0},
         Varnholt::ERR_DEVICE_WRITE_FAILED,
         {writing, 0, Varnholt::ERR_DEVICE_WRITE_FAILED},
         1},
        {"third block reads back different",
         true,
         600,
         {.corruptReadAt = 2},
         Varnholt::ERR_VERIFY_FAILED,
         {verifying, 85, Varnholt::ERR_VERIFY_FAILED},
         1},
        {"second read silent",
         true,
         600,
         {.silentReadAt = 1},
         Varnholt::ERR_DEVICE_READ_FAILED,
         {verifying, 42, Varnholt::ERR_DEVICE_READ_FAILED},
         1},
        {"one byte beyond the flash",
         true,
         0x8001,
         {.productId = 0x412, .flashBytes = 0x8000},
         Varnholt::ERR_INVALID_DATA_RANGE,
         {writing, 0, Varnholt::ERR_INVALID_DATA_RANGE},
         0},
        {"unknown device: upgrade",
         true,
         64,
         {.productId = 0x999},
         Varnholt::ERR_INVALID_DATA_RANGE,
         {writing, 0, Varnholt::ERR_INVALID_DATA_RANGE},
         0},
        {"unknown device: verification",
         false,
         64,
         {.productId = 0x999},
         Varnholt::ERR_INVALID_DATA_RANGE,
         {verifying, 0, Varnholt::ERR_INVALID_DATA_RANGE},
         0},
    };
    for (const auto& c : cases) {
        peer_.reset();
        EXPECT_EQ(job(c.program, pattern(c.size), c.options), c.result) << c.name;
        ASSERT_GE(posts_.size(), 2u) << c.name;
        EXPECT_EQ(lastBeforeFinal(), c.failure) << c.name;
        EXPECT_EQ(posts_.back(), (Post{failed, 0, c.result})) << c.name;
        EXPECT_EQ(peer_->erases(), c.erases) << c.name;
        if (c.result == Varnholt::ERR_INVALID_DATA_RANGE) {
            EXPECT_TRUE(peer_->writes().empty()) << c.name;
        }
    }
}

TEST_F(FlasherStm32Test, ImagesThatDoNotBelongAtTheFlashStartAreRefusedBeforeTheErase)
{
    const Bytes image = pattern(300);
    const std::uint8_t window0[2] = {0, 0};
    const std::uint8_t flashWindow[2] = {0x08, 0x00};
    const std::uint8_t nextWindow[2] = {0x08, 0x01};
    const std::uint8_t start[4] = {0x08, 0x00, 0x01, 0x31};
    const std::string eof = ":00000001FF\r\n";
    struct Case {
        const char* name;
        std::string text;
        bool program;
        PeerOptions options;
        std::uint32_t action; // the step that refuses it
    };
    const Case cases[] = {
        {"no data: blank lines and an end record", "\r\n\n\r\n" + eof, true, {}, writing},
        {"no data: start addresses only",
         hexRecord(0x05, 0, start, 4) + hexRecord(0x03, 0, start, 4) + eof,
         true,
         {},
         writing},
        {"no data: a window named", hexRecord(0x04, 0, window0, 2) + eof, true, {}, writing},
        {"no data, verified", hexRecord(0x04, 0, flashWindow, 2) + eof, false, {}, verifying},
        {"no data, unknown device", eof, true, {.productId = 0x999}, writing},
        {"no data, unknown device, verified", eof, false, {.productId = 0x999}, verifying},
        {"no data: an empty data record, windows without data after them",
         hexRecord(0x04, 0, flashWindow, 2) + ":00100000F0\r\n" + hexRecord(0x04, 0, nextWindow, 2) + eof,
         true,
         {},
         writing},
        {"linked at 0x08010000", hexText(image, 0x08010000), true, {}, writing},
        {"linked at 0x08010000, verified against the same bytes at the flash start",
         hexText(image, 0x08010000),
         false,
         {},
         verifying},
        {"linked in RAM", hexText(image, 0x20000000), true, {}, writing},
    };
    for (const auto& c : cases) {
        peer_.reset();
        peer_ = std::make_unique<BootloaderPeer>(root().path(), c.options);
        peer_->setFlash(image);
        EXPECT_EQ(jobOnText(c.program, c.text), Varnholt::ERR_INVALID_DATA_RANGE) << c.name;
        EXPECT_EQ(lastBeforeFinal(), (Post{c.action, 0, Varnholt::ERR_INVALID_DATA_RANGE})) << c.name;
        EXPECT_EQ(peer_->erases(), 0) << c.name;
        EXPECT_TRUE(peer_->writes().empty()) << c.name;
        EXPECT_TRUE(peer_->readCounts().empty()) << c.name;
        EXPECT_EQ(peer_->flash(300), image) << c.name << ": the flash is untouched";
    }
}

TEST_F(FlasherStm32Test, ImagesForTheFlashOrItsAliasGoToTheFlashStart)
{
    // Beyond 64 KB an image linked at the alias names window 1 further on; its start stays 0.
    const Bytes image = pattern(0x10000 + 40);
    const std::uint8_t window0[2] = {0, 0};
    struct Case {
        const char* name;
        std::string text;
    };
    const Case cases[] = {
        {"window 0x0800", hexText(image)},
        {"no extended address: the alias", hexText(image, 0)},
        {"window 0 named: the alias", hexRecord(0x04, 0, window0, 2) + hexText(image, 0)},
    };
    for (const auto& c : cases) {
        peer_.reset();
        ASSERT_EQ(jobOnText(true, c.text), Varnholt::ERR_SUCCESS) << c.name;
        EXPECT_EQ(peer_->writes().front().address, 0x08000000u) << c.name;
        EXPECT_EQ(peer_->flash(static_cast<std::uint32_t>(image.size())), image) << c.name;
    }
}

TEST_F(FlasherStm32Test, NoBootloaderFailsAfterElevenAttempts)
{
    std::string traced;
    setTraceSink([&traced](std::string_view text) { traced += text; });
    EXPECT_EQ(job(true, pattern(64), {.silent = true}), Varnholt::ERR_OPEN_FAILED);
    setTraceSink({});
    EXPECT_EQ(traced, "no bootloader answered on COM1 after 11 connection attempts\n");
    // Six attempts with five sync bytes each, five without: GET straight away.
    Bytes expected;
    for (int attempt = 0; attempt < 6; ++attempt) {
        if (attempt > 0)
            expected.insert(expected.end(), {0x00, 0xFF});
        expected.insert(expected.end(), 5, 0x7F);
    }
    EXPECT_EQ(peer_->received(), expected);
    EXPECT_EQ(lastBeforeFinal(), (Post{connecting, 100, Varnholt::ERR_OPEN_FAILED}));
}

TEST_F(FlasherStm32Test, AnIdentifierOfThreeBytesFailsTheConnectionWithItsWarning)
{
    testing::internal::CaptureStderr();
    const ResultCode result = job(true, pattern(64), {.idCount = 2});
    const std::string warnings = testing::internal::GetCapturedStderr();
    EXPECT_EQ(result, Varnholt::ERR_OPEN_FAILED);
    EXPECT_EQ(warnings.rfind(productIdTooLongLine, 0), 0u) << warnings;
    EXPECT_EQ(lastBeforeFinal(), (Post{connecting, 100, Varnholt::ERR_OPEN_FAILED}));
    EXPECT_EQ(peer_->erases(), 0);
}

TEST_F(FlasherStm32Test, MissingPortFailsTheConnectingStep)
{
    peer_ = std::make_unique<BootloaderPeer>(root().path(), PeerOptions{});
    std::filesystem::remove(root().path() + "/COM1");
    EXPECT_EQ(job(true, pattern(64)), Varnholt::ERR_OPEN_FAILED);
    EXPECT_EQ(lastBeforeFinal(), (Post{connecting, 0, Varnholt::ERR_OPEN_FAILED}));
}

TEST_F(FlasherStm32Test, EveryJobGivesThePortBackAsFound)
{
    peer_ = std::make_unique<BootloaderPeer>(root().path(), PeerOptions{});
    termios before{};
    ASSERT_EQ(::tcgetattr(peer_->slave(), &before), 0);
    struct Case {
        const char* name;
        bool program;
        std::uint32_t size;
    };
    const Case cases[] = {
        {"upgrade", true, 300}, {"verification failing", false, 300}, {"too large", true, 0x30000}};
    for (const auto& c : cases) {
        job(c.program, pattern(c.size));
        termios after{};
        ASSERT_EQ(::tcgetattr(peer_->slave(), &after), 0);
        EXPECT_EQ(after.c_cflag, before.c_cflag) << c.name;
        EXPECT_EQ(after.c_iflag, before.c_iflag) << c.name;
        EXPECT_EQ(after.c_lflag, before.c_lflag) << c.name;
        EXPECT_EQ(::cfgetospeed(&after), ::cfgetospeed(&before)) << c.name;
        platform::SerialPort port;
        EXPECT_TRUE(port.open()) << c.name << ": the line is free";
    }
}

// The simulated unit's bootloaders, selected by the preparing step's link request.
class FlasherStm32ModelTest : public FlasherStm32Test {
protected:
    void SetUp() override
    {
        FlasherStm32Test::SetUp();
        onModel_ = true;
    }
    // The micro-controller on the line, as the preparing step's link request selects it.
    void select(int link)
    {
        unit().update([link](sim::Json& s) { s["firmware"]["link"] = link; });
    }
};

TEST_F(FlasherStm32ModelTest, UpgradesAndVerifiesEachMicroController)
{
    struct Case {
        std::uint32_t target;
        int link;
        std::uint32_t size;
    };
    const Case cases[] = {{targetSupervisor, 1, 5001}, {targetFront, 2, 2050}};
    for (const auto& c : cases) {
        const Bytes image = imageBytes(c.size, c.size);
        select(c.link);
        ASSERT_EQ(job(true, image, {}, c.target), Varnholt::ERR_SUCCESS) << c.target;
        const Bytes flash = serialLine().flash(c.link);
        ASSERT_GE(flash.size(), c.size);
        EXPECT_TRUE(std::equal(image.begin(), image.end(), flash.begin())) << c.target;
        // The fill of the last block stays erased.
        EXPECT_EQ(flash[c.size], 0xFF);
        select(c.link);
        EXPECT_EQ(job(false, image, {}, c.target), Varnholt::ERR_SUCCESS) << c.target;
    }
}

TEST_F(FlasherStm32ModelTest, LineFaultsFailTheJobWithTheirStep)
{
    struct Case {
        const char* name;
        sim::Json fault;
        ResultCode result;
    };
    // The acknowledgements of a connection: sync, GET x2, GET VERSION x2, GET ID x2; the erase
    // takes two more, and each block write three. Commands: sync, GET, GET VERSION, GET ID, ERASE,
    // ten block writes, then the reads.
    const Case cases[] = {
        {"refused write", {{"kind", "nack"}, {"at", 7 + 2 + 3 + 2}}, Varnholt::ERR_DEVICE_WRITE_FAILED},
        {"silent read", {{"kind", "silence"}, {"at", 16}}, Varnholt::ERR_DEVICE_READ_FAILED},
    };
    for (const auto& c : cases) {
        select(1);
        unit().update([&](sim::Json& s) { s["serial"]["faults"] = sim::Json::array({c.fault}); });
        EXPECT_EQ(job(true, imageBytes(2560, 3), {}, targetSupervisor), c.result) << c.name;
        EXPECT_EQ(posts_.back().error, c.result) << c.name;
    }
}

} // namespace PELMUX_FILE_SCOPE
} // namespace pelmux::test
