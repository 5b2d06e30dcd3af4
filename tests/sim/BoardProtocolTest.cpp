// The board socket spoken by a client written from the protocol table alone.
#include "SimFixture.h"

#include <arpa/inet.h>
#include <chrono>
#include <cstring>
#include <memory>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

namespace pelmux::test {
namespace PELMUX_FILE_SCOPE {

using Frame = std::vector<std::uint8_t>;

void putU32(Frame& f, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        f.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

std::uint32_t getU32(const Frame& f, std::size_t at)
{
    return static_cast<std::uint32_t>(f.at(at)) | (static_cast<std::uint32_t>(f.at(at + 1)) << 8) |
           (static_cast<std::uint32_t>(f.at(at + 2)) << 16) |
           (static_cast<std::uint32_t>(f.at(at + 3)) << 24);
}

class RawClient {
public:
    explicit RawClient(const std::string& socketPath)
    {
        fd_ = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, socketPath.c_str(), sizeof(address.sun_path) - 1);
        connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
    // A client of the unit's TCP listener on 127.0.0.1.
    explicit RawClient(std::uint16_t port)
    {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
    ~RawClient() { ::close(fd_); }
    bool connected() const { return connected_; }

    // Sends `u32 length`, `u8 op`, fields.
    void send(std::uint8_t op, const Frame& fields) { ASSERT_TRUE(trySend(op, fields)); }
    // The same where the unit may have closed the connection already; false then.
    bool trySend(std::uint8_t op, const Frame& fields)
    {
        Frame frame;
        putU32(frame, static_cast<std::uint32_t>(fields.size() + 1));
        frame.push_back(op);
        frame.insert(frame.end(), fields.begin(), fields.end());
        return ::send(fd_, frame.data(), frame.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(frame.size());
    }
    void sendRaw(const Frame& bytes) { (void)::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL); }

    // Receives one reply (its fields); false when the unit closed the connection.
    bool receive(Frame& fields)
    {
        std::uint8_t header[4];
        if (!readAll(header, 4))
            return false;
        const Frame h(header, header + 4);
        fields.assign(getU32(h, 0), 0);
        return readAll(fields.data(), fields.size());
    }

    Frame open(const std::string& endpoint)
    {
        send(1, Frame(endpoint.begin(), endpoint.end()));
        Frame reply;
        EXPECT_TRUE(receive(reply));
        return reply;
    }

private:
    bool readAll(std::uint8_t* data, std::size_t size)
    {
        while (size > 0) {
            const ssize_t n = ::recv(fd_, data, size, 0);
            if (n <= 0)
                return false;
            data += n;
            size -= static_cast<std::size_t>(n);
        }
        return true;
    }
    int fd_ = -1;
    bool connected_ = false;
};

class BoardProtocolTest : public SimTest {
protected:
    std::string socketPath() const { return root().path() + "/board.sock"; }

    Frame control(RawClient& client, std::uint32_t code, std::uint32_t capacity, const Frame& input = {})
    {
        Frame fields;
        putU32(fields, code);
        putU32(fields, capacity);
        fields.insert(fields.end(), input.begin(), input.end());
        client.send(2, fields);
        Frame reply;
        EXPECT_TRUE(client.receive(reply));
        return reply;
    }
};

TEST_F(BoardProtocolTest, OpenAnswersStatusByEndpoint)
{
    struct Case {
        std::string endpoint;
        std::uint8_t status;
    };
    const Case cases[] = {{"\\\\.\\PelmuxDrv", 0}, {"board-library", 0}, {"\\\\.\\NoSuchDevice", 1}, {"", 1}};
    for (const auto& c : cases) {
        RawClient client(socketPath());
        ASSERT_TRUE(client.connected());
        EXPECT_EQ(client.open(c.endpoint), Frame{c.status}) << c.endpoint;
    }
}

TEST_F(BoardProtocolTest, ControlReplyCarriesOkReturnedAndOutput)
{
    unit().update([](sim::Json& s) { s["versions"]["fpga"] = {7, 8, 9, 10}; });
    RawClient client(socketPath());
    ASSERT_EQ(client.open("\\\\.\\PelmuxDrv"), Frame{0});
    EXPECT_EQ(control(client, 0x2224F0, 4), (Frame{1, 4, 0, 0, 0, 7, 8, 9, 10}));
    // An answer larger than the caller's buffer fails, as on a buffered driver.
    EXPECT_EQ(control(client, 0x2224F0, 2), (Frame{0, 0, 0, 0, 0}));
    // An unknown request fails with nothing returned, and the connection stays usable.
    EXPECT_EQ(control(client, 0x222FFC, 4), (Frame{0, 0, 0, 0, 0}));
    EXPECT_EQ(control(client, 0x2224F0, 4).size(), 9u);
}

// A profile value the model cannot use fails the request and leaves the unit serving.
TEST_F(BoardProtocolTest, MalformedStateFailsTheRequestNotTheUnit)
{
    RawClient client(socketPath());
    ASSERT_EQ(client.open("\\\\.\\PelmuxDrv"), Frame{0});
    const sim::Json malformed[] = {sim::Json({1, 2, "x", 4}), sim::Json({1, 2, 300, 4}), sim::Json({1, 2, 3}),
                                   sim::Json("1.2.3.4")};
    for (const auto& value : malformed) {
        unit().update([&](sim::Json& s) { s["versions"]["fpga"] = value; });
        EXPECT_EQ(control(client, 0x2224F0, 4), (Frame{0, 0, 0, 0, 0})) << value.dump();
    }
    unit().update([](sim::Json& s) { s.erase("versions"); });
    EXPECT_EQ(control(client, 0x2224F0, 4), (Frame{0, 0, 0, 0, 0}));
    EXPECT_FALSE(unit().snapshot().contains("versions")) << "reading the state leaves it as it was";
}

// At real speed an I2C transfer takes its bus time: a read of the whole unit EEPROM at 100 kHz, the
// address and offset bytes, a repeated start, the address and 4096 bytes read (4100 bytes of 9 bit
// times) and three conditions: 369.03 ms. A sleep cannot end early; the upper bound leaves room for
// a loaded machine.
TEST_F(BoardProtocolTest, AtRealSpeedATransferTakesItsBusTime)
{
    unit().update([](sim::Json& s) {
        s["timing"] = {{"mode", "real"}, {"i2cClockHz", 100000}, {"vendorCallUs", 0}};
    });
    RawClient client(socketPath());
    client.open("board-library");
    Frame open = {56, 0}; // boardOpen(null, board 0, flags 0)
    putU32(open, 0xFFFFFFFFu);
    putU32(open, 0);
    putU32(open, 0);
    client.send(4, open);
    Frame reply;
    ASSERT_TRUE(client.receive(reply));
    ASSERT_EQ(getU32(reply, 0), 1u);
    const std::uint32_t handle = getU32(reply, 4);

    Frame read = {69, 0}; // boardI2cWriteRead(handle, bus 0, 0xAE, offset 0, 4096 bytes)
    putU32(read, handle);
    putU32(read, 0);
    read.push_back(0xAE);
    putU32(read, 2);
    read.insert(read.end(), {0, 0});
    putU32(read, 4096);
    const auto start = std::chrono::steady_clock::now();
    client.send(4, read);
    ASSERT_TRUE(client.receive(reply));
    const std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - start;
    ASSERT_EQ(getU32(reply, 0), 1u);
    ASSERT_EQ(reply.size(), 4u + 4096u);
    const double busMs = (4100 * 9 + 3) / 100.0;
    EXPECT_GE(took.count() / busMs, 0.999);
    EXPECT_LE(took.count() / busMs, 3.0);
}

TEST_F(BoardProtocolTest, InjectedFaultsShowOnTheWire)
{
    RawClient client(socketPath());
    ASSERT_EQ(client.open("\\\\.\\PelmuxDrv"), Frame{0});
    unit().forceReturned(0x2224F4, 3, 1);
    EXPECT_EQ(getU32(control(client, 0x2224F4, 4), 1), 3u);
    EXPECT_EQ(getU32(control(client, 0x2224F4, 4), 1), 4u) << "a fault for one request is used up";
    unit().failRequest(0x2224F4);
    EXPECT_EQ(control(client, 0x2224F4, 4).at(0), 0);
    unit().clearFaults();
    EXPECT_EQ(control(client, 0x2224F4, 4).at(0), 1);
}

TEST_F(BoardProtocolTest, UnitClosesConnectionsThatBreakTheFraming)
{
    struct Case {
        const char* what;
        Frame bytes;
    };
    Frame controlFirst;
    putU32(controlFirst, 9);
    controlFirst.push_back(2);
    putU32(controlFirst, 0x2224F0);
    putU32(controlFirst, 4);
    Frame empty;
    putU32(empty, 0);
    Frame huge;
    putU32(huge, 0x7FFFFFFF);
    // A unit command one byte longer than the longest request (4 MiB), sent whole.
    const std::string get = R"({"cmd":"get","path":"/backlight/level"})";
    Frame longer;
    putU32(longer, 4u * 1024u * 1024u + 1);
    longer.push_back(64);
    longer.insert(longer.end(), get.begin(), get.end());
    longer.resize(4 + 4u * 1024u * 1024u + 1, ' ');
    const Case cases[] = {{"a request before OPEN", controlFirst},
                          {"an empty frame", empty},
                          {"a huge frame", huge},
                          {"a frame longer than any request", longer}};
    for (const auto& c : cases) {
        RawClient client(socketPath());
        client.sendRaw(c.bytes);
        Frame reply;
        EXPECT_FALSE(client.receive(reply)) << c.what;
    }
    // A short CONTROL frame after OPEN is dropped as well.
    RawClient client(socketPath());
    ASSERT_EQ(client.open("\\\\.\\PelmuxDrv"), Frame{0});
    client.send(2, Frame{1, 2});
    Frame reply;
    EXPECT_FALSE(client.receive(reply));
}

// A peer that announces the longest frame and sends a few bytes has the unit hold about those.
TEST(BoardFrames, TakeMemoryAsTheirBytesArrive)
{
    int ends[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, ends), 0);
    Frame sent;
    putU32(sent, sim::BoardSession::maxRequestLength);
    sent.resize(sent.size() + 100, ' ');
    ASSERT_EQ(::send(ends[1], sent.data(), sent.size(), 0), static_cast<ssize_t>(sent.size()));
    ::close(ends[1]);
    sim::Bytes frame;
    EXPECT_FALSE(sim::readFrame(ends[0], sim::BoardSession::maxRequestLength, frame));
    EXPECT_EQ(frame.size(), 100u);
    EXPECT_LE(frame.capacity(), sim::BoardSession::maxRequestLength / 16);
    ::close(ends[0]);
}

TEST_F(BoardProtocolTest, UnitCommandsSteerTheUnit)
{
    RawClient client(socketPath());
    const std::string set = R"({"cmd":"set","path":"/versions/front","value":[3,1,4,1]})";
    client.send(64, Frame(set.begin(), set.end()));
    Frame reply;
    ASSERT_TRUE(client.receive(reply));
    EXPECT_EQ(reply.at(0), 0);
    EXPECT_EQ(unit().snapshot()["versions"]["front"], sim::Json({3, 1, 4, 1}));

    const std::string bad = R"({"cmd":"nonsense"})";
    client.send(64, Frame(bad.begin(), bad.end()));
    ASSERT_TRUE(client.receive(reply));
    EXPECT_EQ(reply.at(0), 1);
    const std::string notJson = "{";
    client.send(64, Frame(notJson.begin(), notJson.end()));
    ASSERT_TRUE(client.receive(reply));
    EXPECT_EQ(reply.at(0), 1);
}

// What a client sends may be refused or close its connection, but never ends the unit: each
// command below is answered with a refusal, and the unit serves on afterwards.
TEST_F(BoardProtocolTest, HostileUnitCommandsAreRefusedNotFatal)
{
    const std::string deep = std::string(1000000, '[') + std::string(1000000, ']');
    const std::string tooDeepPath = [] {
        std::string path;
        for (int i = 0; i <= sim::maxJsonDepth; ++i)
            path += "/a";
        return path;
    }();
    struct Case {
        const char* what;
        std::string body;
        const char* error; // a part of the refusal
    };
    const Case cases[] = {
        {"a stray byte", "\xFF", "not JSON"},
        {"a value a million levels deep", R"({"cmd":"set","path":"/x","value":)" + deep + "}", "deeper"},
        {"the whole state replaced", R"({"cmd":"set","path":"","value":5})", "whole state"},
        {"an object replaced by a number", R"({"cmd":"set","path":"/serial","value":5})", "object"},
        {"an array replaced by an object", R"({"cmd":"set","path":"/versions/fpga","value":{}})", "array"},
        {"a path into a number", R"({"cmd":"set","path":"/backlight/level/x","value":1})", "into a number"},
        {"an array grown far past its end", R"({"cmd":"set","path":"/versions/fpga/99999999","value":1})",
         "beyond the end"},
        {"a path deeper than the unit keeps", R"({"cmd":"set","path":")" + tooDeepPath + R"(","value":1})",
         "deeper"},
    };
    const sim::Json before = unit().snapshot();
    RawClient client(socketPath());
    for (const auto& c : cases) {
        client.send(64, Frame(c.body.begin(), c.body.end()));
        Frame reply;
        ASSERT_TRUE(client.receive(reply)) << c.what;
        ASSERT_FALSE(reply.empty()) << c.what;
        EXPECT_EQ(reply.at(0), 1) << c.what;
        const sim::Json answer = sim::Json::parse(reply.begin() + 1, reply.end(), nullptr, false);
        ASSERT_TRUE(answer.is_object()) << c.what << ": the reply is not JSON";
        EXPECT_NE(answer.value("error", std::string()).find(c.error), std::string::npos)
            << c.what << ": " << answer;
    }
    EXPECT_EQ(unit().snapshot(), before);
    // Values of the same kind, new ones and one more element at an array's end are still set.
    for (const char* path : {"/versions/fpga", "/newArea/value", "/versions/fpga/-"}) {
        const std::string set = R"({"cmd":"set","path":")" + std::string(path) + R"(","value":[1,2,3,4]})";
        client.send(64, Frame(set.begin(), set.end()));
        Frame reply;
        ASSERT_TRUE(client.receive(reply));
        EXPECT_EQ(reply.at(0), 0) << path;
    }
    EXPECT_EQ(unit().snapshot()["versions"]["fpga"].size(), 5u);
}

// Each connection has a thread: past the limit a connection is closed at once, and one that ends
// makes room for the next.
TEST_F(BoardProtocolTest, ConnectionsBeyondTheLimitAreClosed)
{
    std::vector<std::unique_ptr<RawClient>> clients;
    for (std::size_t i = 0; i < sim::Server::maxConnections; ++i) {
        clients.push_back(std::make_unique<RawClient>(socketPath()));
        ASSERT_EQ(clients.back()->open("\\\\.\\PelmuxDrv"), Frame{0}) << "connection " << i;
    }
    RawClient beyond(socketPath());
    Frame reply;
    // Closed at once: the send itself may already find the connection gone.
    EXPECT_FALSE(beyond.trySend(1, Frame{'x'}) && beyond.receive(reply))
        << "a connection beyond the limit was served";

    clients.pop_back();
    bool served = false;
    for (int attempt = 0; attempt < 1000 && !served; ++attempt) {
        RawClient next(socketPath());
        const std::string endpoint = "board-library";
        served = next.trySend(1, Frame(endpoint.begin(), endpoint.end())) && next.receive(reply);
    }
    EXPECT_TRUE(served) << "a closed connection did not make room";
}

// The TCP listener feeds the same connection handler: every exchange answers the same bytes there
// as on the Unix socket, and a connection whose first frame is no OPEN is closed on both.
TEST_F(BoardProtocolTest, TcpAnswersTheSameBytesAsTheSocket)
{
    const std::uint16_t port = simulatedUnit().serveTcp({"127.0.0.1", 0});
    ASSERT_NE(port, 0);
    struct Exchange {
        const char* what;
        std::string endpoint;
        std::uint8_t op;
        Frame fields;
    };
    Frame fpga;
    putU32(fpga, 0x2224F0);
    putU32(fpga, 4);
    Frame unknown;
    putU32(unknown, 0x222FFC);
    putU32(unknown, 4);
    const Frame boardCount = {55, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0};
    Frame serviceCode;
    putU32(serviceCode, 134);
    const Exchange exchanges[] = {
        {"FPGA version", "\\\\.\\PelmuxDrv", 2, fpga},
        {"unknown request", "\\\\.\\PelmuxDrv", 2, unknown},
        {"vendor board count", "board-library", 4, boardCount},
        {"service control", "service:PelmuxService", 5, serviceCode},
    };
    for (const auto& e : exchanges) {
        Frame replies[2];
        RawClient socketClient(socketPath());
        RawClient tcpClient(port);
        RawClient* clients[] = {&socketClient, &tcpClient};
        for (int i = 0; i < 2; ++i) {
            ASSERT_TRUE(clients[i]->connected()) << e.what;
            ASSERT_EQ(clients[i]->open(e.endpoint), Frame{0}) << e.what;
            clients[i]->send(e.op, e.fields);
            EXPECT_TRUE(clients[i]->receive(replies[i])) << e.what;
        }
        EXPECT_FALSE(replies[0].empty()) << e.what;
        EXPECT_EQ(replies[0], replies[1]) << e.what;
    }
    RawClient early(port);
    early.send(2, fpga);
    Frame reply;
    EXPECT_FALSE(early.receive(reply)) << "a CONTROL before OPEN closes the TCP connection";

    // A unit stopped and started again serves the same port.
    simulatedUnit().stop();
    EXPECT_FALSE(RawClient(port).connected());
    simulatedUnit().start();
    RawClient again(port);
    ASSERT_TRUE(again.connected());
    EXPECT_EQ(again.open("\\\\.\\PelmuxDrv"), Frame{0});
}

TEST(SimTcpAddress, HostAndPortAreCheckedBeforeServing)
{
    struct Case {
        const char* text;
        bool valid;
        const char* host;
        std::uint16_t port;
    };
    const Case cases[] = {
        {"127.0.0.1:5555", true, "127.0.0.1", 5555},
        {"5555", true, "127.0.0.1", 5555}, // loopback unless an address is given
        {"0.0.0.0:0", true, "0.0.0.0", 0},
        {"localhost:5555", false, "", 0}, // an IPv4 address, not a name
        {"127.0.0.1:65536", false, "", 0},
        {"127.0.0.1:", false, "", 0},
        {"127.0.0.1:-1", false, "", 0},
        {"", false, "", 0},
    };
    for (const auto& c : cases) {
        const auto address = sim::parseTcpAddress(c.text);
        ASSERT_EQ(address.has_value(), c.valid) << c.text;
        if (address) {
            EXPECT_EQ(address->host, c.host) << c.text;
            EXPECT_EQ(address->port, c.port) << c.text;
        }
    }
}

} // namespace PELMUX_FILE_SCOPE
} // namespace pelmux::test
