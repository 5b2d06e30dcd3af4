// The simulated unit's STM32 bootloaders, first fed byte by byte, then over COM1 with the line's
// timing, settings and faults.
#include "Bootloader.h"
#include "SimFixture.h"

#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace pelmux::test {
namespace PELMUX_FILE_SCOPE {

using sim::Bootloader;
using sim::BootloaderSpec;
using sim::Bytes;

struct NoFaults : sim::BootloaderFaults {
    bool silence() override { return false; }
    bool nack() override { return false; }
};

// Feeds `bytes` and answers everything the device sent, and the device time it took.
std::pair<Bytes, double> feed(Bootloader& device, const Bytes& bytes)
{
    NoFaults none;
    std::vector<sim::Emission> out;
    for (const std::uint8_t b : bytes)
        device.receive(b, out, none);
    Bytes answer;
    double busy = 0;
    for (const auto& e : out) {
        answer.insert(answer.end(), e.bytes.begin(), e.bytes.end());
        busy += e.delaySeconds;
    }
    return {answer, busy};
}

// An address as the host sends it: 4 bytes most significant first, then their XOR.
Bytes address(std::uint32_t a)
{
    Bytes b{static_cast<std::uint8_t>(a >> 24), static_cast<std::uint8_t>(a >> 16),
            static_cast<std::uint8_t>(a >> 8), static_cast<std::uint8_t>(a)};
    b.push_back(static_cast<std::uint8_t>(b[0] ^ b[1] ^ b[2] ^ b[3]));
    return b;
}

// A WRITE MEMORY data phase: N, the bytes, the checksum.
Bytes block(const Bytes& data)
{
    Bytes b{static_cast<std::uint8_t>(data.size() - 1)};
    std::uint8_t sum = b[0];
    for (const std::uint8_t d : data) {
        b.push_back(d);
        sum ^= d;
    }
    b.push_back(sum);
    return b;
}

Bytes operator+(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

constexpr std::uint8_t A = 0x79, N = 0x1F;
const Bytes read{0x11, 0xEE}, write{0x31, 0xCE}, erase{0x43, 0xBC}, go{0x21, 0xDE};

TEST(BootloaderModel, AnswersEachExchangeLikeTheDevice)
{
    BootloaderSpec front;
    front.productId = 0x410;
    front.flashSize = 128 * 1024;
    front.pageSize = 1024;
    BootloaderSpec longGet;
    longGet.commands = longGet.commands + Bytes{0x44, 0xA1};
    BootloaderSpec longId;
    longId.idBytes = {0x04, 0x14, 0x00};
    struct Case {
        const char* name;
        BootloaderSpec spec;
        Bytes sent; // after the synchronisation
        Bytes answer;
    };
    const Case cases[] = {
        {"GET",
         {},
         {0x00, 0xFF},
         {A, 11, 0x22, 0x00, 0x01, 0x02, 0x11, 0x21, 0x31, 0x43, 0x63, 0x73, 0x82, 0x92, A}},
        {"GET with two more codes",
         longGet,
         {0x00, 0xFF},
         {A, 13, 0x22, 0x00, 0x01, 0x02, 0x11, 0x21, 0x31, 0x43, 0x63, 0x73, 0x82, 0x92, 0x44, 0xA1, A}},
        {"GET VERSION", {}, {0x01, 0xFE}, {A, 0x22, 0x00, 0x00, A}},
        {"GET ID supervisor", {}, {0x02, 0xFD}, {A, 0x01, 0x04, 0x14, A}},
        {"GET ID front", front, {0x02, 0xFD}, {A, 0x01, 0x04, 0x10, A}},
        {"GET ID of three bytes", longId, {0x02, 0xFD}, {A, 0x02, 0x04, 0x14, 0x00, A}},
        {"wrong complement", {}, {0x00, 0x00}, {N}},
        {"listed but not carried out", longGet, {0x44, 0xBB}, {N}},
        {"not listed", {}, {0x44, 0xBB}, {N}},
        {"a second sync is a command", {}, {0x7F, 0x80}, {N}},
        {"write of 3 bytes", {}, write + address(0x08000000) + block({1, 2, 3}), {A, A, N}},
        {"write with a wrong checksum", {}, write + address(0x08000000) + Bytes{3, 1, 2, 3, 4, 0}, {A, A, N}},
        {"write with a wrong address checksum", {}, write + Bytes{8, 0, 0, 0, 0}, {A, N}},
        {"write past the flash", {}, write + address(0x08080000), {A, N}},
        {"write past the flash end",
         {},
         write + address(0x0807FFFC) + block({1, 2, 3, 4, 5, 6, 7, 8}),
         {A, A, N}},
        {"write into the bootloader's RAM", {}, write + address(0x20000000), {A, N}},
        {"write into free RAM", {}, write + address(0x20000200) + block({1, 2, 3, 4}), {A, A, A}},
        {"read of the option bytes",
         {},
         read + address(0x1FFFF800) + Bytes{3, 0xFC},
         {A, A, A, 0xA5, 0x5A, 0xFF, 0x00}},
        {"read across the flash end", {}, read + address(0x0807FF80) + Bytes{0xFF, 0x00}, {A, A, N}},
        {"read with a wrong count complement", {}, read + address(0x08000000) + Bytes{3, 3}, {A, A, N}},
        {"read outside memory", {}, read + address(0x40000000), {A, N}},
        {"mass erase not confirmed", {}, erase + Bytes{0xFF, 0x01}, {A, N}},
        {"page erase with a wrong checksum", {}, erase + Bytes{1, 0, 1, 1}, {A, N}},
        {"page erase past the flash", front, erase + Bytes{0, 128, 128}, {A, N}},
        {"go, then silence", {}, go + address(0x08000000) + Bytes{0x00, 0xFF, 0x7F}, {A, A}},
        {"read while protected", {}, Bytes{0x82, 0x7D, 0x7F} + read, {A, A, A, N}},
    };
    for (const Case& c : cases) {
        Bootloader device(c.spec);
        EXPECT_EQ(feed(device, {0x00, 0xFF, 0x7F}).first, Bytes{A}) << c.name << ": noise before the sync";
        EXPECT_EQ(feed(device, c.sent).first, c.answer) << c.name;
    }
}

TEST(BootloaderModel, FlashBehavesLikeFlash)
{
    BootloaderSpec spec;
    spec.flashSize = 8 * 1024;
    Bootloader device(spec);
    feed(device, {0x7F});
    const std::uint32_t page1 = sim::flashBase + 2048;

    // Programming clears bits only and takes 52.5 us per half-word.
    auto [answer, busy] = feed(device, write + address(page1) + block({0xF0, 0x0F, 0xFF, 0x00}));
    EXPECT_EQ(answer, (Bytes{A, A, A}));
    EXPECT_NEAR(busy, 2 * sim::halfWordProgramSeconds, 1e-9);
    feed(device, write + address(page1) + block({0x3C, 0x3C, 0x00, 0xFF}));
    EXPECT_EQ(Bytes(device.flash().begin() + 2048, device.flash().begin() + 2052),
              (Bytes{0x30, 0x0C, 0x00, 0x00}));

    // A page list erases those pages only, 20 ms each; a mass erase everything in 40 ms.
    feed(device, write + address(sim::flashBase) + block({0, 0, 0, 0}));
    std::tie(answer, busy) = feed(device, erase + Bytes{0, 1, 1});
    EXPECT_EQ(answer, (Bytes{A, A}));
    EXPECT_NEAR(busy, sim::pageEraseSeconds, 1e-9);
    EXPECT_EQ(device.flash()[2048], 0xFF);
    EXPECT_EQ(device.flash()[0], 0x00);
    std::tie(answer, busy) = feed(device, erase + Bytes{0xFF, 0x00});
    EXPECT_EQ(answer, (Bytes{A, A}));
    EXPECT_NEAR(busy, sim::massEraseSeconds, 1e-9);
    EXPECT_EQ(device.flash(), Bytes(8 * 1024, 0xFF));

    // Lifting a read protection erases the flash too.
    feed(device, write + address(sim::flashBase) + block({1, 2, 3, 4}));
    EXPECT_EQ(feed(device, {0x82, 0x7D, 0x7F, 0x92, 0x6D}).first, (Bytes{A, A, A, A, A}));
    EXPECT_FALSE(device.readoutProtected());
    EXPECT_EQ(device.flash()[0], 0xFF);
    EXPECT_EQ(device.phase(), Bootloader::Phase::WaitingForSync);
}

// ---- over COM1

// COM1 as a host program opens it: raw 115200 8E1 unless told otherwise; the old settings are
// written back when it closes.
class Port {
public:
    explicit Port(const std::string& path, tcflag_t framing = CS8 | PARENB)
    {
        fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY);
        ::tcgetattr(fd_, &saved_);
        termios t = saved_;
        ::cfmakeraw(&t);
        t.c_cflag = (t.c_cflag & ~(CSIZE | PARENB | PARODD | CSTOPB)) | framing | CLOCAL | CREAD;
        ::cfsetspeed(&t, B115200);
        ::tcsetattr(fd_, TCSANOW, &t);
    }
    ~Port()
    {
        ::tcsetattr(fd_, TCSANOW, &saved_);
        ::close(fd_);
    }
    bool isOpen() const { return fd_ >= 0; }
    void send(const Bytes& bytes)
    {
        ASSERT_EQ(::write(fd_, bytes.data(), bytes.size()), ssize_t(bytes.size()));
    }
    // Everything that arrives until `count` bytes are in or nothing came for `quietMs`.
    Bytes receive(std::size_t count, int quietMs = 100)
    {
        Bytes got;
        pollfd p{fd_, POLLIN, 0};
        while (got.size() < count && ::poll(&p, 1, quietMs) == 1) {
            std::uint8_t b[512];
            const ssize_t n = ::read(fd_, b, std::min(sizeof b, count - got.size()));
            if (n <= 0)
                break;
            got.insert(got.end(), b, b + n);
        }
        return got;
    }

private:
    int fd_ = -1;
    termios saved_{};
};

class SerialLineTest : public SimTest {
protected:
    std::string com1() const { return root().path() + "/COM1"; }
    void set(const char* pointer, sim::Json value)
    {
        unit().update([&](sim::Json& s) { s[sim::Json::json_pointer(pointer)] = value; });
    }
    sim::Json serial() { return unit().snapshot()["serial"]; }
    // The line notices a port closing a moment later.
    void waitUntilClosed()
    {
        for (int i = 0; i < 200 && serial().value("open", true); ++i)
            ::usleep(1000);
        ASSERT_FALSE(serial().value("open", true));
    }
};

TEST_F(SerialLineTest, OnlyTheSelectedBootloaderAnswers)
{
    ASSERT_TRUE(serialLine().available()) << serial().dump();
    Port port(com1());
    ASSERT_TRUE(port.isOpen());
    port.send({0x7F});
    EXPECT_EQ(port.receive(1, 50), Bytes{}) << "nothing is linked";
    set("/firmware/link", 2);
    port.send({0x7F, 0x02, 0xFD});
    EXPECT_EQ(port.receive(6), (Bytes{A, A, 1, 0x04, 0x10, A}));
    // Selecting the supervisor restarts it in its bootloader: it waits for the sync.
    set("/firmware/link", 1);
    port.send({0x02, 0xFD});
    EXPECT_EQ(port.receive(1, 50), Bytes{});
    port.send({0x7F, 0x02, 0xFD});
    EXPECT_EQ(port.receive(6), (Bytes{A, A, 1, 0x04, 0x14, A}));
    EXPECT_EQ(serial()["bytesUnanswered"], 1);
}

TEST_F(SerialLineTest, ShowsTheSettingsInUseAndTheRestoredOnes)
{
    set("/firmware/link", 1);
    const sim::Json before = serial()["settings"];
    EXPECT_EQ(before["baud"], 9600);
    {
        Port twoStopBits(com1(), CS8 | CSTOPB);
        twoStopBits.send({0x7F});
        EXPECT_EQ(twoStopBits.receive(1, 50), Bytes{}) << "8N2 reaches the device as noise";
    }
    {
        Port port(com1());
        port.send({0x7F});
        EXPECT_EQ(port.receive(1), Bytes{A});
    }
    waitUntilClosed();
    const sim::Json s = serial();
    EXPECT_EQ(
        s["lastSettings"],
        (sim::Json{{"baud", 115200}, {"stopBits", 1}, {"raw", true}, {"xonXoff", false}, {"rtsCts", false}}));
    EXPECT_EQ(s["settings"], before);
    EXPECT_EQ(s["framingErrors"], 1);
    EXPECT_EQ(s["opens"], 2);
    EXPECT_EQ(s["open"], false);
}

TEST_F(SerialLineTest, AnswersNobodyReadIsGoneWhenThePortCloses)
{
    set("/firmware/link", 1);
    {
        Port port(com1());
        port.send({0x7F, 0x00, 0xFF});
        ::usleep(30000);
    }
    waitUntilClosed();
    Port port(com1());
    EXPECT_EQ(port.receive(1, 50), Bytes{});
    port.send({0x01, 0xFE});
    EXPECT_EQ(port.receive(5), (Bytes{A, 0x22, 0, 0, A})) << "the device stayed synchronised";
}

TEST_F(SerialLineTest, InjectsEachFaultOnceWhereAsked)
{
    struct Case {
        sim::Json fault;
        Bytes answer; // to 0x7F, then GET VERSION
    };
    const Case cases[] = {
        {{{"kind", "flip"}, {"at", 1}, {"bit", 0}}, {A, N}}, // 0x01 heard as 0x00
        {{{"kind", "drop"}, {"at", 0}}, {}},                 // the sync is lost
        {{{"kind", "flip"}, {"at", 3}, {"bit", 7}, {"direction", "toHost"}}, {A, A, 0x22, 0x80, 0, A}},
        {{{"kind", "drop"}, {"at", 1}, {"direction", "toHost"}}, {A, 0x22, 0, 0, A}},
        {{{"kind", "nack"}, {"at", 1}}, {A, N}},
        {{{"kind", "nack"}, {"at", 0}}, {N}},
        {{{"kind", "silence"}, {"at", 0}}, {A}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault.dump());
        set("/firmware/link", 0);
        Port port(com1());
        // The line must see this byte unanswered before the link changes.
        const int unanswered = serial().value("bytesUnanswered", 0);
        port.send({0x00});
        for (int i = 0; i < 500 && serial().value("bytesUnanswered", 0) == unanswered; ++i)
            ::usleep(1000);
        set("/firmware/link", 1);
        set("/serial/faults", sim::Json::array({c.fault}));
        const std::string kind = c.fault["kind"];
        const int before = serial()["faultsStruck"].value(kind, 0);
        port.send({0x7F, 0x01, 0xFE});
        EXPECT_EQ(port.receive(6, 50), c.answer);
        EXPECT_EQ(serial()["faultsPending"], 0);
        EXPECT_EQ(serial()["faultsStruck"].value(kind, 0), before + 1) << "struck once";
    }
}

TEST_F(SerialLineTest, RandomFaultsFollowTheirSeed)
{
    set("/firmware/link", 1);
    Port port(com1());
    port.send({0x7F});
    ASSERT_EQ(port.receive(1), Bytes{A});
    const auto run = [&](std::uint64_t seed) {
        set("/serial/randomFaults", {{"seed", seed}, {"flip", 0.2}});
        for (int i = 0; i < 20; ++i)
            port.send({0x01, 0xFE});
        const Bytes got = port.receive(100, 50);
        set("/serial/randomFaults", nullptr);
        // Leaves the device waiting for a command again.
        port.send({0x00, 0x00, 0x01, 0xFE});
        port.receive(6, 50);
        return got;
    };
    Bytes clean;
    for (int i = 0; i < 20; ++i)
        clean = clean + Bytes{A, 0x22, 0, 0, A};
    const Bytes first = run(7);
    EXPECT_NE(first, clean) << "faults struck";
    EXPECT_EQ(run(7), first);
    EXPECT_NE(run(8), first);
}

TEST_F(SerialLineTest, BytesTakeTheirLineAndDeviceTime)
{
    set("/firmware/link", 1);
    set("/serial/timeScale", 1.0);
    Port port(com1());
    const double byteSeconds = 11.0 / 115200;
    struct Case {
        Bytes sent;
        std::size_t answered;
        double seconds; // the lower bound: bytes both ways, then device time
    };
    const Case cases[] = {
        {{0x7F}, 1, 2 * byteSeconds},
        {{0x00, 0xFF}, 15, 17 * byteSeconds},
        {{0x43, 0xBC}, 1, 3 * byteSeconds},
        {{0xFF, 0x00}, 1, 3 * byteSeconds + sim::massEraseSeconds},
    };
    for (const Case& c : cases) {
        const auto start = std::chrono::steady_clock::now();
        port.send(c.sent);
        EXPECT_EQ(port.receive(c.answered, 500).size(), c.answered);
        const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        EXPECT_GE(took, c.seconds);
        EXPECT_LT(took, c.seconds + 0.100);
    }
}

TEST_F(SerialLineTest, ShowsEachFlashDigest)
{
    set("/firmware/link", 2);
    serialLine().loadFlash(2, {1, 2, 3, 4});
    Port port(com1());
    port.send({0x7F});
    port.receive(1);
    // The digests follow once the line is quiet.
    const std::string expected = sim::flashDigest(serialLine().flash(2));
    sim::Json devices = serial()["devices"];
    for (int i = 0; i < 200 && devices["front"].value("flashDigest", "") != expected; ++i) {
        ::usleep(10000);
        devices = serial()["devices"];
    }
    EXPECT_EQ(devices["front"]["flashDigest"], expected);
    EXPECT_EQ(devices["front"]["flashSize"], 128 * 1024);
    EXPECT_EQ(devices["supervisor"]["flashDigest"], sim::flashDigest(Bytes(512 * 1024, 0xFF)));
    EXPECT_EQ(devices["front"]["state"], "ready");
}

} // namespace PELMUX_FILE_SCOPE
} // namespace pelmux::test
