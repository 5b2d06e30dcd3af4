// The front panel's HTTP side against an in-process unit: refused commands change nothing, the
// commands that pass reach the library, only the page's own files are served, events follow the
// unit, the request log and the video picture show what the library did.
#include "SimFixture.h"

#include "Adjust.h"
#include "HttpPanel.h"

#include <pelmux/Pelmux.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>

namespace pelmux::test {
namespace PELMUX_FILE_SCOPE {

using namespace std::chrono_literals;

struct HttpAnswer {
    int status = 0;
    std::string headers;
    std::string body;
};

// One HTTP/1.1 request on a connection of its own, written byte for byte as given (no client
// library between the test and the server that could tidy a path up).
class RawHttp {
public:
    explicit RawHttp(int port) : port_(port) {}

    int connectTo() const
    {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<std::uint16_t>(port_));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            ::close(fd);
            return -1;
        }
        return fd;
    }

    static bool sendAll(int fd, const std::string& text)
    {
        return ::send(fd, text.data(), text.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(text.size());
    }

    // Reads what arrives within `wait` (or until the peer closes).
    static std::string receive(int fd, std::chrono::milliseconds wait, const std::string& until = "")
    {
        std::string text;
        const auto deadline = std::chrono::steady_clock::now() + wait;
        while (std::chrono::steady_clock::now() < deadline &&
               (until.empty() || text.find(until) == std::string::npos)) {
            pollfd p{fd, POLLIN, 0};
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (::poll(&p, 1, static_cast<int>(std::max<long>(1, left.count()))) <= 0)
                continue;
            char buffer[65536];
            const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
            if (n <= 0)
                break;
            text.append(buffer, static_cast<std::size_t>(n));
        }
        return text;
    }

    HttpAnswer request(const std::string& method, const std::string& path, const std::string& body = "",
                       const std::string& type = "application/json", const std::string& host = "") const
    {
        const int fd = connectTo();
        std::ostringstream text;
        text << method << ' ' << path
             << " HTTP/1.1\r\nHost: " << (host.empty() ? "127.0.0.1:" + std::to_string(port_) : host)
             << "\r\nConnection: close\r\n";
        if (!body.empty() || method == "POST")
            text << "Content-Type: " << type << "\r\nContent-Length: " << body.size() << "\r\n";
        text << "\r\n" << body;
        HttpAnswer answer;
        if (fd < 0 || !sendAll(fd, text.str()))
            return answer;
        const std::string reply = receive(fd, 5s);
        ::close(fd);
        const std::size_t split = reply.find("\r\n\r\n");
        if (reply.size() < 12 || split == std::string::npos)
            return answer;
        answer.status = std::stoi(reply.substr(9, 3));
        answer.headers = reply.substr(0, split);
        answer.body = reply.substr(split + 4);
        return answer;
    }

    HttpAnswer command(const std::string& body, const std::string& type = "application/json") const
    {
        return request("POST", "/api/command", body, type);
    }

private:
    int port_;
};

class HttpPanelTest : public SimTest {
protected:
    void SetUp() override
    {
        SimTest::SetUp();
        panel_ = std::make_unique<sim::HttpPanel>(unit(), "127.0.0.1", 0);
        http_ = std::make_unique<RawHttp>(panel_->start());
    }
    void TearDown() override
    {
        panel_.reset();
        SimTest::TearDown();
    }

    sim::HttpPanel& panel() { return *panel_; }
    const RawHttp& http() const { return *http_; }

private:
    std::unique_ptr<sim::HttpPanel> panel_;
    std::unique_ptr<RawHttp> http_;
};

std::string sourceFile(const std::string& relative)
{
    std::ifstream in(std::string(PELMUX_SOURCE_DIR) + "/" + relative, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// ---------------------------------------------------------------- commands

TEST_F(HttpPanelTest, MalformedCommandsAreRefusedAndChangeNothing)
{
    struct Case {
        const char* body;
        const char* type;
        int status;
        const char* error; // a part of the message
    };
    const Case cases[] = {
        {"{nope", "application/json", 400, "not JSON"},
        {"[1, 2]", "application/json", 400, "JSON object"},
        {"\"fail\"", "application/json", 400, "JSON object"},
        {R"({"code": 2237716})", "application/json", 400, "cmd"},
        {R"({"cmd": "nothing"})", "application/json", 400, "unknown command"},
        {R"({"cmd": "adjust", "name": "lux", "value": -1})", "application/json", 400, "lux takes a number"},
        {R"({"cmd": "adjust", "name": "lux", "value": "300"})", "application/json", 400, "lux takes"},
        {R"({"cmd": "adjust", "name": "charge", "value": 50.5})", "application/json", 400, "whole number"},
        {R"({"cmd": "adjust", "name": "battery", "value": 1})", "application/json", 400, "true or false"},
        {R"({"cmd": "adjust", "name": "temperature9", "value": 20})", "application/json", 400,
         "no temperature9"},
        {R"({"cmd": "adjust", "name": "rail./x", "value": 5})", "application/json", 400, "unknown name"},
        {R"({"cmd": "adjust", "name": "word7", "value": 5})", "application/json", 400, "unknown name"},
        {R"({"cmd": "adjust", "name": 5, "value": 5})", "application/json", 400, "name"},
        {R"({"cmd": "fail", "code": -1})", "application/json", 400, "code must be"},
        {R"({"cmd": "fail", "code": "0x222514"})", "application/json", 400, "code must be"},
        {R"({"cmd": "fail", "code": 4294967296})", "application/json", 400, "code must be"},
        {R"({"cmd": "fail", "code": 2237716, "times": 0})", "application/json", 400, "times"},
        {R"({"cmd": "fail", "code": 2237716, "times": -2})", "application/json", 400, "times"},
        {R"({"cmd": "returned", "code": 2237716, "count": 1.5})", "application/json", 400, "count must be"},
        {R"({"cmd": "output", "code": 2237716, "bytes": 5})", "application/json", 400, "bytes"},
        {R"({"cmd": "set", "path": "no-slash", "value": 1})", "application/json", 400, ""},
        {R"({"cmd": "set", "path": "", "value": 5})", "application/json", 400, "whole state"},
        {R"({"cmd": "set", "path": "/lightSensor", "value": "dark"})", "application/json", 400, "object"},
        {R"({"cmd": "adjust", "name": "lux", "value": 10})", "text/plain", 415, "application/json"},
    };
    const std::string tooDeep =
        R"({"cmd": "set", "path": "/x", "value": )" + std::string(100, '[') + std::string(100, ']') + "}";
    const sim::Json before = unit().snapshot();
    const std::uint64_t changes = unit().changes();
    const HttpAnswer deep = http().command(tooDeep);
    EXPECT_EQ(deep.status, 400);
    EXPECT_NE(deep.body.find("deeper"), std::string::npos) << deep.body;
    for (const auto& c : cases) {
        const HttpAnswer answer = http().command(c.body, c.type);
        EXPECT_EQ(answer.status, c.status) << c.body;
        const sim::Json body = sim::Json::parse(answer.body, nullptr, false);
        ASSERT_TRUE(body.is_object()) << c.body << ": " << answer.body;
        EXPECT_EQ(body["ok"], false) << c.body;
        EXPECT_NE(body.value("error", std::string()).find(c.error), std::string::npos)
            << c.body << ": " << body;
        EXPECT_FALSE(body.value("error", std::string()).empty()) << c.body;
    }
    EXPECT_EQ(unit().snapshot(), before);
    EXPECT_EQ(unit().armedFaults(), sim::Json::array());
    EXPECT_EQ(unit().changes(), changes) << "a refused command woke the page";
}

TEST_F(HttpPanelTest, AdjustmentsLandWhereTheModelsReadThem)
{
    struct Case {
        const char* name;
        sim::Json value;
        const char* pointer;
        sim::Json kept;
    };
    const Case cases[] = {
        {"lux", 2.5, "/lightSensor/lux", 2.5},
        {"range", 1, "/lightSensor/range", 1},
        {"charge", 40, "/battery/charge", 40},
        {"battery", false, "/battery/fitted", false},
        {"gps", 0, "/expander/gpsInput", 0},
        {"inputs", 10, "/digitalInputs", 10},
        {"temperature1", 20.5, "/temperatures/1/value", 20500},
        {"temperature2", -40, "/temperatures/2/value", -40000},
        {"rail.5V", 4.9, "/adc/5V", 4.9},
        {"rail.17", 2, "/adc/17", 2},
        {"word6", 65535, "/diagnostics/word6", 65535},
    };
    for (const auto& c : cases) {
        const sim::Json command = {{"cmd", "adjust"}, {"name", c.name}, {"value", c.value}};
        const HttpAnswer answer = http().command(command.dump());
        EXPECT_EQ(answer.status, 200) << c.name << ": " << answer.body;
        EXPECT_EQ(unit().snapshot()[sim::Json::json_pointer(c.pointer)], c.kept) << c.name;
    }
}

TEST_F(HttpPanelTest, ChangesReachTheLibraryAsOverTheBoardSocket)
{
    Varnholt::Lightsensor* sensor = GetLightsensor();
    ASSERT_NE(sensor, nullptr);
    ASSERT_EQ(http().command(R"({"cmd": "adjust", "name": "lux", "value": 100})").status, 200);
    std::uint16_t lux = 0;
    ASSERT_EQ(sensor->getIlluminance(&lux), Varnholt::ERR_SUCCESS);
    EXPECT_NEAR(lux, 100, 10);

    // The fault form's command: the next reading fails, the one after is answered again.
    ASSERT_EQ(http().command(R"({"cmd": "fail", "code": 2237716, "times": 1})").status, 200);
    EXPECT_EQ(sensor->getIlluminance(&lux), Varnholt::ERR_IOCTRL_OPERATION_FAILED);
    EXPECT_EQ(sensor->getIlluminance(&lux), Varnholt::ERR_SUCCESS);
    sensor->release();

    // The same command over the board socket answers the same.
    const std::string command = R"({"cmd": "adjust", "name": "charge", "value": 12})";
    const sim::Json overSocket = sim::sendUnitCommand(root().path() + "/board.sock", command);
    EXPECT_EQ(sim::Json::parse(http().command(command).body), overSocket);
}

// ---------------------------------------------------------------- files and hosts

TEST_F(HttpPanelTest, ServesItsOwnFilesAndNothingElse)
{
    struct Case {
        const char* path;
        int status;
        const char* type;   // a part of Content-Type
        const char* source; // the file it must be byte for byte, or null
    };
    const Case cases[] = {
        {"/", 200, "text/html", "sim/web/index.html"},
        {"/index.html", 200, "text/html", "sim/web/index.html"},
        {"/panel.js", 200, "text/javascript", "sim/web/panel.js"},
        {"/panel.css", 200, "text/css", "sim/web/panel.css"},
        {"/../../../../etc/passwd", 404, "application/json", nullptr},
        {"/%2e%2e/%2e%2e/%2e%2e/etc/passwd", 404, "application/json", nullptr},
        {"/..%2f..%2f..%2fetc%2fpasswd", 404, "application/json", nullptr},
        {"//etc/passwd", 404, "application/json", nullptr},
        {"/web/panel.js", 404, "application/json", nullptr},
        {"/panel.js/", 404, "application/json", nullptr},
        {"/HttpPanel.cpp", 404, "application/json", nullptr},
        {"/api/video/3.bmp", 404, "application/json", nullptr},
        {"/api/video/1.bmp", 404, "application/json", nullptr}, // no frame delivered yet
    };
    for (const auto& c : cases) {
        const HttpAnswer answer = http().request("GET", c.path);
        EXPECT_EQ(answer.status, c.status) << c.path;
        EXPECT_NE(answer.headers.find(std::string("Content-Type: ") + c.type), std::string::npos)
            << c.path << ": " << answer.headers;
        if (c.source != nullptr) {
            EXPECT_EQ(answer.body, sourceFile(c.source)) << c.path;
        }
        EXPECT_EQ(answer.body.find("root:"), std::string::npos) << c.path;
    }
    EXPECT_EQ(http().request("POST", "/panel.js", "x").status, 404);
}

TEST_F(HttpPanelTest, AnswersOnlyRequestsForItsOwnAddress)
{
    const std::string port = ":" + std::to_string(panel().port());
    struct Case {
        std::string host;
        int status;
    };
    const Case cases[] = {
        {"127.0.0.1" + port, 200},
        {"localhost" + port, 200},
        {"[::1]" + port, 200},
        {"127.0.0.1", 200},
        {"evil.example" + port, 403},
        {"127.0.0.1.evil.example" + port, 403},
        {"127.evil.example" + port, 403},
        {"127.0.0.256" + port, 403},
        {"", 403},
    };
    for (const auto& c : cases) {
        const HttpAnswer answer = http().request("GET", "/api/state", "", "", c.host.empty() ? " " : c.host);
        EXPECT_EQ(answer.status, c.status) << "Host: " << c.host;
    }
    // Nor may such a page change the unit.
    const sim::Json before = unit().snapshot();
    const HttpAnswer answer =
        http().request("POST", "/api/command", R"({"cmd":"adjust","name":"lux","value":1})",
                       "application/json", "evil.example" + port);
    EXPECT_EQ(answer.status, 403);
    EXPECT_EQ(unit().snapshot(), before);
}

TEST(HttpAddressTest, SplitsHostAndPort)
{
    struct Case {
        const char* text;
        const char* host; // null: refused
        int port;
    };
    const Case cases[] = {
        {"127.0.0.1:8080", "127.0.0.1", 8080},
        {"[::1]:0", "::1", 0},
        {"0.0.0.0:65535", "0.0.0.0", 65535},
        {"8080", "127.0.0.1", 8080},
        {"localhost", nullptr, 0},
        {"99999", nullptr, 0},
        {":80", nullptr, 0},
        {"host:65536", nullptr, 0},
        {"host:-1", nullptr, 0},
        {"host:80x", nullptr, 0},
        {"[::1:80", nullptr, 0},
        {"host:", nullptr, 0},
    };
    for (const auto& c : cases) {
        if (c.host == nullptr) {
            EXPECT_THROW(sim::httpAddress(c.text), std::invalid_argument) << c.text;
            continue;
        }
        const auto [host, port] = sim::httpAddress(c.text);
        EXPECT_EQ(host, c.host) << c.text;
        EXPECT_EQ(port, c.port) << c.text;
    }
}

// ---------------------------------------------------------------- live events

// The data of every "state" event in `text`.
std::vector<sim::Json> stateEvents(const std::string& text)
{
    std::vector<sim::Json> events;
    const std::string marker = "event: state\ndata: ";
    for (std::size_t at = text.find(marker); at != std::string::npos; at = text.find(marker, at + 1)) {
        const std::size_t start = at + marker.size();
        const std::size_t end = text.find("\n\n", start);
        if (end == std::string::npos)
            break;
        events.push_back(sim::Json::parse(text.substr(start, end - start), nullptr, false));
    }
    return events;
}

TEST_F(HttpPanelTest, EventsFollowTheUnitAndCoalesceBursts)
{
    const int fd = http().connectTo();
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(RawHttp::sendAll(fd, "GET /api/events HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n"));
    // The state at once, without a change.
    std::string text = RawHttp::receive(fd, 3s, "}\n\n");
    ASSERT_NE(text.find("text/event-stream"), std::string::npos) << text.substr(0, 300);
    ASSERT_EQ(stateEvents(text).size(), 1u);

    // A colour the library sets shows in the next event, well within a second.
    Varnholt::FrontLED* led = GetFrontLED();
    ASSERT_NE(led, nullptr);
    const auto setAt = std::chrono::steady_clock::now();
    ASSERT_EQ(led->setColor(15, 0, 15), Varnholt::ERR_SUCCESS);
    led->release();
    text = RawHttp::receive(fd, 2s, "#FF00FF");
    EXPECT_LT(std::chrono::steady_clock::now() - setAt, 1s);
    auto events = stateEvents(text + RawHttp::receive(fd, 300ms));
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.back()["frontLed"]["light"]["rgb"], "#FF00FF");
    EXPECT_GT(events.back()["requests"].size(), 0u);

    // A burst of 200 changes over about half a second comes as a few events, the last one showing
    // the burst's end.
    const auto burstStart = std::chrono::steady_clock::now();
    for (int i = 1; i <= 200; ++i) {
        unit().update([i](sim::Json& state) { state["backlight"]["level"] = i; });
        std::this_thread::sleep_for(2500us);
    }
    const auto burst = std::chrono::steady_clock::now() - burstStart;
    events = stateEvents(RawHttp::receive(fd, 600ms));
    ASSERT_FALSE(events.empty());
    const auto most = std::chrono::duration_cast<std::chrono::milliseconds>(burst).count() /
                          sim::HttpPanel::minimumEventGapMs +
                      3;
    EXPECT_LE(static_cast<long>(events.size()), most) << "events were not coalesced";
    EXPECT_EQ(events.back()["backlight"]["level"], 200);

    // Stopping ends the open stream at once instead of waiting for it.
    const auto stopAt = std::chrono::steady_clock::now();
    panel().stop();
    EXPECT_LT(std::chrono::steady_clock::now() - stopAt, 2s);
    ::close(fd);
}

// Each stream holds a worker of the panel: past the limit streams are refused, and the page's
// other requests are answered however many streams a browser opens.
TEST_F(HttpPanelTest, EventStreamsBeyondTheLimitAreRefused)
{
    std::vector<int> streams;
    int open = 0;
    int refused = 0;
    for (int i = 0; i < 40; ++i) {
        const int fd = http().connectTo();
        ASSERT_GE(fd, 0);
        ASSERT_TRUE(RawHttp::sendAll(fd, "GET /api/events HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n"));
        const std::string text = RawHttp::receive(fd, 3s, "\r\n\r\n");
        if (text.rfind("HTTP/1.1 200", 0) == 0) {
            ++open;
            streams.push_back(fd);
        } else {
            refused += text.rfind("HTTP/1.1 503", 0) == 0;
            ::close(fd);
        }
    }
    ASSERT_EQ(open, sim::HttpPanel::maxEventStreams);
    EXPECT_EQ(refused, 40 - sim::HttpPanel::maxEventStreams);
    EXPECT_EQ(http().request("GET", "/api/state").status, 200) << "the page's state found no worker";

    // A stream whose page went away makes room for the next page once the server notices, at
    // its next writes (the unit changing, here on purpose).
    ::close(streams.back());
    streams.pop_back();
    bool reopened = false;
    for (int attempt = 1; attempt <= 50 && !reopened; ++attempt) {
        unit().update([attempt](sim::Json& state) { state["backlight"]["level"] = attempt; });
        RawHttp::receive(streams.front(), 3s, "level\":" + std::to_string(attempt));
        const int fd = http().connectTo();
        RawHttp::sendAll(fd, "GET /api/events HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
        reopened = RawHttp::receive(fd, 3s, "\r\n\r\n").rfind("HTTP/1.1 200", 0) == 0;
        ::close(fd);
    }
    EXPECT_TRUE(reopened);
    for (const int fd : streams)
        ::close(fd);
}

// A settings value in a Windows code page is no UTF-8: the state and its events still go out,
// with U+FFFD for the stray byte.
TEST_F(HttpPanelTest, SettingsThatAreNotUtf8ShowReplaced)
{
    root().writeFile("C/ProgramData/Varnholt/Pelmux.ini", "Owner=M\xFCller\r\nABL_mode=2\r\n");
    const HttpAnswer state = http().request("GET", "/api/state");
    ASSERT_EQ(state.status, 200) << state.body;
    const sim::Json view = sim::Json::parse(state.body);
    EXPECT_EQ(view["settings"]["Owner"], "M\uFFFDller");
    EXPECT_EQ(view["settings"]["ABL_mode"], "2");

    const int fd = http().connectTo();
    ASSERT_TRUE(RawHttp::sendAll(fd, "GET /api/events HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n"));
    const auto events = stateEvents(RawHttp::receive(fd, 3s, "}\n\n"));
    ::close(fd);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0]["settings"]["Owner"], "M\uFFFDller");
}

// ---------------------------------------------------------------- what the page shows

TEST_F(HttpPanelTest, RequestLogKeepsTheNewestWithTheirResults)
{
    constexpr std::uint32_t backlightLevel = 0x222418;
    unit().failRequest(backlightLevel, 1);
    for (int i = 0; i < 150; ++i)
        unit().control({"\\\\.\\PelmuxDrv", backlightLevel, 1, {}});
    unit().control({"\\\\.\\PelmuxDrv", 0x7777, 4, {}}); // a code nobody answers

    const sim::Json log = sim::Json::parse(http().request("GET", "/api/state").body)["requests"];
    ASSERT_EQ(log.size(), sim::Unit::requestLogSize);
    // Oldest first, numbered on, the newest last.
    for (std::size_t i = 1; i < log.size(); ++i)
        EXPECT_EQ(log[i]["seq"].get<std::uint64_t>(), log[i - 1]["seq"].get<std::uint64_t>() + 1);
    EXPECT_EQ(log.back()["code"], 0x7777);
    EXPECT_EQ(log.back()["ok"], false);
    EXPECT_EQ(log.back()["fault"], false);
    EXPECT_EQ(log[log.size() - 2]["ok"], true);
    EXPECT_EQ(log[log.size() - 2]["returned"], 1);
    // The first request, failed by the fault, has left the log.
    EXPECT_EQ(log.front()["seq"], log.back()["seq"].get<std::uint64_t>() - 99);

    unit().failRequest(backlightLevel, 1);
    unit().control({"\\\\.\\PelmuxDrv", backlightLevel, 1, {}});
    const sim::Json latest = unit().recentRequests().back();
    EXPECT_EQ(latest["ok"], false);
    EXPECT_EQ(latest["fault"], true);
    EXPECT_EQ(latest["kind"], "control");
}

TEST_F(HttpPanelTest, VideoPictureIsTheLastFrameDelivered)
{
    const std::string device = "\\\\.\\VAZaverIRORar\\Video1";
    // Two frames: the last is frame 1, whose marker stands at x 16 to 47 (8 to 23 at half size).
    for (int i = 0; i < 2; ++i)
        ASSERT_TRUE(unit().read(device, 4u << 20).ok);
    const HttpAnswer answer = http().request("GET", "/api/video/1.bmp");
    ASSERT_EQ(answer.status, 200);
    EXPECT_NE(answer.headers.find("Content-Type: image/bmp"), std::string::npos);
    const sim::Bytes bmp(answer.body.begin(), answer.body.end());
    sim::Reader header(bmp);
    ASSERT_EQ(header.u8(), 'B');
    ASSERT_EQ(header.u8(), 'M');
    EXPECT_EQ(header.u32(), bmp.size());
    header.u32();
    const std::uint32_t pixels = header.u32();
    header.u32();
    const std::uint32_t width = header.u32();
    const std::uint32_t height = header.u32();
    header.u16();
    EXPECT_EQ(header.u16(), 24);
    ASSERT_EQ(width, 360u);
    ASSERT_EQ(height, 287u);
    const std::uint32_t rowBytes = (width * 3 + 3) & ~3u;
    ASSERT_EQ(bmp.size(), pixels + rowBytes * height);
    // Rows are stored bottom-up: file row 0 is the picture's last line, in the marker band.
    const auto pixel = [&](std::uint32_t x, std::uint32_t fileRow) {
        const std::size_t at = pixels + fileRow * rowBytes + x * 3;
        return std::uint32_t{bmp[at + 2]} << 16 | std::uint32_t{bmp[at + 1]} << 8 | bmp[at];
    };
    struct Case {
        std::uint32_t x;
        std::uint32_t fileRow;
        std::uint32_t rgb;
    };
    const Case cases[] = {
        {4, 0, 0x000000},
        {10, 0, 0xFFFFFF},
        {30, 0, 0x000000}, // the band and its marker
        {0, height - 1, 0xFFFFFF},
        {width / 8 + 1, height - 1, 0xFFFF00}, // white and yellow bars
        {width - 1, height - 1, 0x000000},     // the black bar
    };
    for (const auto& c : cases)
        EXPECT_EQ(pixel(c.x, c.fileRow), c.rgb) << "x " << c.x << ", file row " << c.fileRow;
    EXPECT_EQ(http().request("GET", "/api/video/2.bmp").status, 404) << "channel 2 delivered nothing yet";
}

TEST_F(HttpPanelTest, ViewLeavesOutBulkAndAddsTheMachine)
{
    unit().update([](sim::Json& state) { state["firmware"]["fpga"]["contents"] = std::string(2000, 'a'); });
    root().writeFile("C/ProgramData/Varnholt/Pelmux.ini", "ABL_mode=2\r\n; note\r\nABL_k = 50\r\n");
    const sim::Json view = sim::panelView(unit());
    EXPECT_FALSE(view.contains("machine"));
    EXPECT_FALSE(view["firmware"]["fpga"].contains("contents"));
    EXPECT_EQ(view["firmware"]["fpga"]["written"], 1000);
    EXPECT_EQ(view["settings"], (sim::Json{{"ABL_mode", "2"}, {"ABL_k", "50"}}));
    EXPECT_EQ(view["can"]["0"], (sim::Json{{"BaudRate", "250000"}, {"Mode", "Standard"}}));
    EXPECT_EQ(view["can"].size(), 4u);
}

} // namespace PELMUX_FILE_SCOPE
} // namespace pelmux::test
