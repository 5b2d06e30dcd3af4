#include "HttpPanel.h"

#include "PanelFiles.h"

#include <httplib.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>
#include <stdexcept>

namespace pelmux::sim {

namespace {

// An event stream that saw no change for this long sends a comment, so that a peer that went
// away is noticed and its worker freed.
constexpr auto keepAliveGap = std::chrono::seconds(15);
// How long a waiting event stream sleeps at most before it looks whether the panel is stopping.
constexpr auto stopCheckGap = std::chrono::milliseconds(250);
// Commands are small; a larger body is not one.
constexpr std::size_t maxCommandBytes = 64 * 1024;
// Event streams and page requests at once (each holds a worker while it lasts).
constexpr std::size_t panelWorkers = 16;
static_assert(2 * HttpPanel::maxEventStreams <= panelWorkers);

void answerJson(httplib::Response& response, int status, const Json& body)
{
    response.status = status;
    response.set_content(jsonText(body), "application/json");
}

void refuseRequest(httplib::Response& response, int status, const std::string& why)
{
    answerJson(response, status, {{"ok", false}, {"error", why}});
}

// "localhost", ::1 or an address 127.x.y.z; not a name that merely starts like one
// ("127.0.0.1.example.com" is any machine's name).
bool loopbackName(const std::string& host)
{
    if (host == "localhost" || host == "::1" || host == "[::1]")
        return true;
    int parts = 0;
    std::size_t start = 0;
    while (start <= host.size()) {
        const std::size_t end = std::min(host.find('.', start), host.size());
        const std::string part = host.substr(start, end - start);
        if (part.empty() || part.size() > 3 || part.find_first_not_of("0123456789") != std::string::npos ||
            std::stoi(part) > 255)
            return false;
        ++parts;
        start = end + 1;
    }
    return parts == 4 && host.rfind("127.", 0) == 0;
}

// The host part of a Host header ("127.0.0.1:8080", "[::1]:8080", "localhost").
std::string hostPart(const std::string& header)
{
    if (!header.empty() && header.front() == '[') {
        const std::size_t end = header.find(']');
        return end == std::string::npos ? header : header.substr(0, end + 1);
    }
    return header.substr(0, header.find(':'));
}

std::string fileText(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// A registry value's text: its UTF-16LE code units up to the terminator (a unit above 0x7F, which
// the CAN driver's values never hold, shows as '?').
std::string registryText(const std::string& data)
{
    std::string text;
    for (std::size_t i = 0; i + 1 < data.size(); i += 2) {
        const unsigned unit = static_cast<unsigned char>(data[i]) | static_cast<unsigned char>(data[i + 1])
                                                                        << 8;
        if (unit == 0)
            break;
        text += unit < 0x80 ? static_cast<char>(unit) : '?';
    }
    return text;
}

// What the library keeps on the unit's machine: the settings file and the CAN driver's keys.
void addMachine(Json& view, const std::string& root)
{
    namespace fs = std::filesystem;
    view["settings"] = Json::object();
    view["can"] = Json::object();
    if (root.empty())
        return;
    std::error_code error;
    const fs::path settingsFile = fs::path(root) / "C" / "ProgramData" / "Varnholt" / "Pelmux.ini";
    if (fs::is_regular_file(settingsFile, error))
        for (const auto& [key, value] : settingsEntries(fileText(settingsFile)))
            view["settings"][key] = value;
    const fs::path can = fs::path(root) / "registry" / "HKEY_LOCAL_MACHINE" / "SYSTEM" / "CurrentControlSet" /
                         "Services" / "CanXilinxVH" / "Parameters";
    for (int device = 0; device < 4; ++device) {
        const fs::path key = can / ("Device" + std::to_string(device));
        if (!fs::is_directory(key, error))
            continue;
        Json values = Json::object();
        for (const char* name : {"BaudRate", "Mode"})
            if (fs::is_regular_file(key / name, error))
                values[name] = registryText(fileText(key / name));
        view["can"][std::to_string(device)] = values;
    }
}

} // namespace

std::shared_ptr<void> HttpPanel::takeEventStream()
{
    if (++eventStreams_ > maxEventStreams) {
        --eventStreams_;
        return nullptr;
    }
    // Given back when the stream's provider, which holds it, is gone. (It points at the panel
    // only to be non-null; nothing is freed.)
    return std::shared_ptr<void>(static_cast<void*>(this), [this](void*) { --eventStreams_; });
}

Json panelView(const Unit& unit)
{
    Json view = unit.snapshot();
    view.erase("machine");
    if (view.contains("firmware") && view["firmware"].is_object() && view["firmware"].contains("fpga") &&
        view["firmware"]["fpga"].is_object()) {
        Json& fpga = view["firmware"]["fpga"];
        const Json contents = fpga.value("contents", Json(""));
        fpga.erase("contents");
        fpga["written"] = contents.is_string() ? contents.get_ref<const std::string&>().size() / 2 : 0;
    }
    addMachine(view, unit.root());
    view["requests"] = unit.recentRequests();
    view["faults"] = unit.armedFaults();
    view["changes"] = unit.changes();
    view["nowMs"] = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::system_clock::now().time_since_epoch())
                        .count();
    return view;
}

std::pair<std::string, int> httpAddress(const std::string& text)
{
    // A port alone: the loopback address.
    if (!text.empty() && text.size() <= 5 && text.find_first_not_of("0123456789") == std::string::npos &&
        std::stoi(text) <= 65535)
        return {"127.0.0.1", std::stoi(text)};
    const std::size_t colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 == text.size())
        throw std::invalid_argument("'" + text + "' is not HOST:PORT");
    std::string host = text.substr(0, colon);
    if (host.front() == '[') {
        if (host.back() != ']')
            throw std::invalid_argument("'" + text + "' is not HOST:PORT");
        host = host.substr(1, host.size() - 2);
    }
    const std::string portText = text.substr(colon + 1);
    if (host.empty() || portText.size() > 5 ||
        portText.find_first_not_of("0123456789") != std::string::npos || std::stoi(portText) > 65535)
        throw std::invalid_argument("'" + text + "' is not HOST:PORT with a port from 0 to 65535");
    return {host, std::stoi(portText)};
}

HttpPanel::HttpPanel(Unit& unit, std::string host, int port)
    : unit_(unit), host_(std::move(host)), port_(port), server_(std::make_unique<httplib::Server>())
{
}

HttpPanel::~HttpPanel()
{
    stop();
}

std::string HttpPanel::url() const
{
    const bool v6 = host_.find(':') != std::string::npos;
    return "http://" + (v6 ? "[" + host_ + "]" : host_) + ":" + std::to_string(port_) + "/";
}

bool HttpPanel::allowedHost(const std::string& hostHeader) const
{
    // Served on another address only when a person asked for it: then any name may reach it.
    if (!loopbackName(host_))
        return true;
    const std::string host = hostPart(hostHeader);
    return loopbackName(host) || host == host_;
}

int HttpPanel::start()
{
    if (thread_.joinable())
        return port_;
    route();
    const int bound =
        port_ == 0 ? server_->bind_to_any_port(host_) : (server_->bind_to_port(host_, port_) ? port_ : -1);
    if (bound < 0)
        throw std::runtime_error("cannot serve the front panel on " + host_ + ":" + std::to_string(port_));
    port_ = bound;
    listenEnded_ = false;
    thread_ = std::thread([this] {
        server_->listen_after_bind();
        listenEnded_ = true;
    });
    // The server takes a stop only once its listening loop runs; a stop before would leave the
    // loop waiting in accept for ever.
    while (!server_->is_running() && !listenEnded_)
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    return port_;
}

void HttpPanel::stop()
{
    if (!thread_.joinable())
        return;
    stopping_ = true;
    unit_.wakeWatchers();
    server_->stop();
    thread_.join();
}

void HttpPanel::route()
{
    httplib::Server& server = *server_;
    server.new_task_queue = [] { return new httplib::ThreadPool(panelWorkers); };
    server.set_keep_alive_timeout(2);
    server.set_payload_max_length(maxCommandBytes);
    server.set_default_headers({{"X-Content-Type-Options", "nosniff"}, {"Cache-Control", "no-store"}});
    server.set_pre_routing_handler([this](const httplib::Request& request, httplib::Response& response) {
        if (allowedHost(request.get_header_value("Host")))
            return httplib::Server::HandlerResponse::Unhandled;
        refuseRequest(response, 403, "this panel answers requests for its own address only");
        return httplib::Server::HandlerResponse::Handled;
    });
    server.set_error_handler([](const httplib::Request&, httplib::Response& response) {
        if (response.body.empty())
            refuseRequest(response, response.status, response.status == 404 ? "no such page" : "refused");
    });

    for (std::size_t i = 0; i < panelFileCount; ++i) {
        const PanelFile& file = panelFiles[i];
        const std::string path = file.path;
        const auto serveFile = [&file](const httplib::Request&, httplib::Response& response) {
            response.set_content(reinterpret_cast<const char*>(file.data), file.size, file.contentType);
        };
        // Paths are fixed names (letters, dots): the dot is the only character to escape.
        std::string pattern;
        for (const char c : path)
            pattern += c == '.' ? std::string("\\.") : std::string(1, c);
        server.Get(pattern, serveFile);
        if (path == "/index.html")
            server.Get("/", serveFile);
    }

    server.Get("/api/state", [this](const httplib::Request&, httplib::Response& response) {
        answerJson(response, 200, panelView(unit_));
    });

    server.Get(
        R"(/api/video/([12])\.bmp)", [this](const httplib::Request& request, httplib::Response& response) {
            const auto bitmap = lastFrameBitmap(unit_.snapshot(), request.matches[1].str());
            if (!bitmap)
                return refuseRequest(response, 404, "no frame delivered on this channel yet");
            response.set_content(reinterpret_cast<const char*>(bitmap->data()), bitmap->size(), "image/bmp");
        });

    server.Post("/api/command", [this](const httplib::Request& request, httplib::Response& response) {
        const std::string type = request.get_header_value("Content-Type");
        if (type.rfind("application/json", 0) != 0)
            return refuseRequest(response, 415, "send the command as application/json");
        Json command;
        try {
            command = parseJsonCommand(request.body);
        } catch (const std::invalid_argument& e) {
            return refuseRequest(response, 400, e.what());
        }
        if (!command.is_object())
            return refuseRequest(response, 400, "the command must be a JSON object");
        // The board socket's UNIT COMMAND answers with the same call: one path for both.
        const Json answer = unit_.command(command);
        answerJson(response, answer.value("ok", false) ? 200 : 400, answer);
    });

    server.Get("/api/events", [this](const httplib::Request&, httplib::Response& response) {
        // A stream holds a worker while it lasts: past the limit the page's other requests would
        // wait for one.
        auto slot = takeEventStream();
        if (!slot)
            return refuseRequest(response, 503,
                                 "too many event streams open (" + std::to_string(maxEventStreams) +
                                     "); close a page of this panel");
        // The changes count the last event showed; the first event goes out at once.
        auto shown = std::make_shared<std::optional<std::uint64_t>>();
        response.set_header("X-Accel-Buffering", "no");
        response.set_chunked_content_provider(
            "text/event-stream", [this, shown, slot](std::size_t, httplib::DataSink& sink) {
                if (shown->has_value()) {
                    // Coalesce: whatever changes within the gap goes out in one event.
                    std::this_thread::sleep_for(std::chrono::milliseconds(minimumEventGapMs));
                    const auto deadline = std::chrono::steady_clock::now() + keepAliveGap;
                    while (!stopping_ && unit_.changes() == **shown) {
                        if (std::chrono::steady_clock::now() >= deadline) {
                            static constexpr char keepAlive[] = ": still here\n\n";
                            return sink.write(keepAlive, sizeof keepAlive - 1);
                        }
                        unit_.waitForChange(**shown, stopCheckGap);
                    }
                }
                if (stopping_) {
                    sink.done();
                    return false;
                }
                // Taken before the view, so that a change while it is built shows in the next event.
                *shown = unit_.changes();
                std::string event;
                try {
                    event = "event: state\ndata: " + jsonText(panelView(unit_)) + "\n\n";
                } catch (const std::exception&) {
                    // The view could not be made (the machine's files changing under it): the
                    // stream ends and the page connects again, instead of the unit ending.
                    return false;
                }
                return sink.write(event.data(), event.size());
            });
    });
}

} // namespace pelmux::sim
