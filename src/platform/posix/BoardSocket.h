// One connection to the unit's board socket: one open endpoint (a device handle, a vendor-library
// session or a service exchange). Frames are `u32 length`, `u8 op`, fields; replies carry no op.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <vector>

namespace pelmux::platform::posix {

enum class BoardOp : std::uint8_t { Open = 1, Control = 2, Read = 3, Vendor = 4, Service = 5 };

class BoardConnection {
public:
    // Connects to PELMUX_ROOT/board.sock and opens `endpoint`. Null when nothing listens there or
    // the unit has no such endpoint.
    static std::unique_ptr<BoardConnection> open(const std::string& endpoint);

    ~BoardConnection();
    BoardConnection(const BoardConnection&) = delete;
    BoardConnection& operator=(const BoardConnection&) = delete;

    // Sends one request and waits for its reply. False when the connection broke or the reply
    // frame is malformed; the connection is unusable afterwards. Threads sharing one handle take
    // turns, as synchronous requests on one Windows handle do, so replies never cross.
    bool call(BoardOp op, std::span<const std::uint8_t> fields, std::vector<std::uint8_t>& reply);

private:
    explicit BoardConnection(int fd) : fd_(fd) {}
    int fd_;
    bool broken_ = false;
    std::mutex mutex_;
};

} // namespace pelmux::platform::posix
