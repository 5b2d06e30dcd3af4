// The simulated unit's front panel: one page and a small JSON API over HTTP, served beside the
// board socket from the same unit, so that a person sees what the library does to the unit and
// changes what its sensors and inputs report.
//
//   GET  /, /panel.css, /panel.js   the page (files built into the program; nothing else is served)
//   GET  /api/state                 the unit as the page shows it (panelView)
//   GET  /api/events                server-sent events: "state" with the panel view whenever the
//                                   unit changed, at most one every `minimumEventGapMs`; 503 while
//                                   `maxEventStreams` streams are open
//
// Every answer is written with jsonText: a value that is not UTF-8 (a settings entry written in a
// Windows code page) shows with U+FFFD in place of its stray bytes.
//   GET  /api/video/1.bmp, 2.bmp    the last frame a channel delivered to the library (404 before one)
//   POST /api/command               a unit command (a JSON object, Content-Type application/json),
//                                   answered by Unit::command as a `simctl` command is: 200 with
//                                   the unit's answer, 400 with {"ok": false, "error"} when the body
//                                   is not a JSON object or the unit refuses the command
//
// Requests naming another host than the one served (a page elsewhere reaching the unit through a
// name that points at this machine) are refused with 403 while the panel serves a loopback address.
#pragma once

#include "Unit.h"

#include <atomic>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>

namespace httplib {
class Server;
}

namespace pelmux::sim {

// The unit as the page shows it: the state without what only tests need in full (the machine
// files, the FPGA memory's contents, which become `firmware.fpga.written`, a byte count), with
// "requests" (Unit::recentRequests), "faults" (Unit::armedFaults), "changes" and "nowMs" (the
// wall clock, so that the page can tell how long the buzzer has sounded), and what the library keeps
// on the unit's machine: "settings" (the settings file's entries) and "can" (each CAN device's
// registry values as text, by device number).
Json panelView(const Unit& unit);

// The last frame a channel's capture devices delivered (frame number `frames` - 1) as a 24-bit BMP
// file of half its width and height; nothing for a missing channel or before the first frame.
// Defined with the video model (Video.cpp).
std::optional<Bytes> lastFrameBitmap(const Json& state, const std::string& channel);

// The entries of a settings file as the library reads them (key to value; later lines win).
// Defined with the service model (Service.cpp), which rewrites the file as the library does.
std::map<std::string, std::string> settingsEntries(const std::string& text);

// Splits "HOST:PORT" (an IPv6 host in brackets); a port alone stands for 127.0.0.1:PORT. Throws
// std::invalid_argument when it is neither (a port outside 0 to 65535 included). A port of 0 lets
// the system choose one.
std::pair<std::string, int> httpAddress(const std::string& text);

class HttpPanel {
public:
    static constexpr int minimumEventGapMs = 100;
    // Event streams open at once: half the panel's workers, so that the page's other requests
    // always find one.
    static constexpr int maxEventStreams = 8;

    // Serves `unit`, which must outlive the panel, on `host`:`port`.
    HttpPanel(Unit& unit, std::string host, int port);
    ~HttpPanel();
    HttpPanel(const HttpPanel&) = delete;
    HttpPanel& operator=(const HttpPanel&) = delete;

    // Binds and starts serving on a thread of its own; throws std::runtime_error when the address
    // cannot be bound. Answers the port served (the chosen one for port 0).
    int start();
    // Ends every event stream, stops serving and joins the thread. Idempotent.
    void stop();
    int port() const { return port_; }
    // "http://HOST:PORT/".
    std::string url() const;

private:
    void route();
    bool allowedHost(const std::string& hostHeader) const;
    // A place for one more event stream, held until the stream ends; null when all are taken.
    std::shared_ptr<void> takeEventStream();

    Unit& unit_;
    std::string host_;
    int port_;
    std::unique_ptr<httplib::Server> server_;
    std::thread thread_;
    std::atomic<bool> stopping_{false};
    std::atomic<bool> listenEnded_{false};
    std::atomic<int> eventStreams_{0};
};

} // namespace pelmux::sim
