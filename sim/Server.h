// The board socket: serves a Unit on <root>/board.sock until stopped.
#pragma once

#include "RootLock.h"
#include "SerialLine.h"
#include "Unit.h"

#include <atomic>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <sys/types.h>
#include <thread>
#include <utility>

namespace pelmux::sim {

// Request ops of the board socket, and the simulator's own at 64 and above.
enum Op : std::uint8_t {
    OpOpen = 1,
    OpControl = 2,
    OpRead = 3,
    OpVendor = 4,
    OpService = 5,
    OpUnitCommand = 64, // JSON command in, u8 status + JSON answer out
};

// One connection's side of the board socket protocol, apart from the socket: what the unit answers
// to each request frame in turn. The server feeds it the frames a connection reads; the fuzz
// target feeds it any bytes. Every frame gets a reply or closes the connection; none can end the unit.
class BoardSession {
public:
    // The longest request frame: a connection that announces a longer one is dropped. The
    // library's own requests stay below 1 KB (the largest is an FPGA block write, 545 bytes); unit
    // commands carry JSON, the largest a `set` of the whole FPGA memory as hexadecimal text (2 MiB
    // for the default 1 MiB).
    static constexpr std::uint32_t maxRequestLength = 4u * 1024u * 1024u;

    struct Answer {
        std::optional<Bytes> reply; // the reply's fields (without the length word); none: no reply
        bool close = false;         // the connection ends after the reply
    };

    // A session on `unit`, which must outlive it.
    explicit BoardSession(Unit& unit) : unit_(unit) {}
    // Answers one request frame: its op byte and fields, as the length word framed them.
    Answer answer(const Bytes& frame);

private:
    Bytes unitCommand(Reader& reader);

    Unit& unit_;
    std::string endpoint_;
    bool opened_ = false;
};

// Reads one frame from the stream `fd` into `frame` (its length word is not kept): false when the
// stream ends or fails first, or when the frame announces 0 bytes or more than `longest`. The
// buffer grows as the bytes arrive, never ahead of them by more than one piece of 64 KB, so that
// a peer that announces a long frame and sends less takes no more memory than it sent. After a
// failure `frame` holds the bytes of the frame that did arrive.
bool readFrame(int fd, std::uint32_t longest, Bytes& frame);

// A TCP address to serve on: an IPv4 address and a port (0: any free port).
struct TcpAddress {
    std::string host = "127.0.0.1";
    std::uint16_t port = 0;
};

class Server {
public:
    // Connections served at once. Each has a thread of its own; one over the limit is closed as
    // soon as it is accepted, so that idle clients cannot take the unit's memory.
    static constexpr std::size_t maxConnections = 128;

    // Serves `unit` on `socketPath`. The unit must outlive the server.
    Server(Unit& unit, std::string socketPath);
    // Serves `unit` on a TCP address with the same framing (the Windows test DLL's endpoints).
    Server(Unit& unit, TcpAddress address);
    ~Server();
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    // Starts listening; throws std::runtime_error when the socket cannot be made.
    void start();
    // Stops accepting, closes every connection and joins every thread. Idempotent.
    void stop();
    bool running() const { return running_; }
    // The TCP port served (the one chosen when 0 was asked); 0 for a Unix socket.
    std::uint16_t port() const { return tcp_ ? tcp_->port : 0; }

private:
    struct Connection {
        int fd = -1;
        std::thread thread;
        std::atomic<bool> done{false};
    };
    void listenUnix();
    // Whether the socket path still names the file this server made (not one put there since).
    bool ownsSocketFile() const;
    void acceptLoop();
    void serve(Connection& connection);
    void reapFinished();

    Unit& unit_;
    std::string path_;
    std::optional<TcpAddress> tcp_;
    int listenFd_ = -1;
    // The socket file this server made, so that stopping removes it only while it is still its own.
    std::optional<std::pair<dev_t, ino_t>> socketFile_;
    int wakePipe_[2] = {-1, -1};
    std::atomic<bool> running_{false};
    std::thread acceptThread_;
    std::mutex connectionsMutex_;
    std::list<std::unique_ptr<Connection>> connections_;
};

// A unit and its server under one root folder: what tests and `pelmux demo` start.
class SimulatedUnit {
public:
    // Takes `root` for this unit (creating it; see RootLock: throws std::runtime_error when another
    // unit serves it), writes the machine files of the profile that are missing, runs `prepare` on
    // the unit (for example to make it save its lasting state) and starts serving. A board socket
    // left by a unit that was killed is taken over.
    SimulatedUnit(std::string root, Json profile, const std::function<void(Unit&)>& prepare = {});
    ~SimulatedUnit();

    Unit& unit() { return *unit_; }
    // The serial line behind root/COM1 and the two bootloaders on it.
    SerialLine& serialLine() { return *line_; }
    const std::string& root() const { return root_; }
    void stop()
    {
        server_->stop();
        if (tcpServer_)
            tcpServer_->stop();
    }
    void start()
    {
        server_->start();
        if (tcpServer_)
            tcpServer_->start(); // on the port it served before
    }
    // Serves the unit on TCP as well, beside the board socket; answers the port served. Throws
    // std::runtime_error when the address cannot be served.
    std::uint16_t serveTcp(const TcpAddress& address);

private:
    std::string root_;
    std::unique_ptr<RootLock> lock_; // released last, when everything of the unit is gone
    std::unique_ptr<Unit> unit_;
    std::unique_ptr<Server> server_;
    std::unique_ptr<Server> tcpServer_;
    std::unique_ptr<SerialLine> line_;
};

// Sends one unit command (a JSON text) to the unit serving `socketPath` and answers its JSON
// answer; when no unit answers, or the answer is not JSON, an object with "ok": false and "error".
Json sendUnitCommand(const std::string& socketPath, const std::string& command);

// "HOST:PORT" or "PORT" (host 127.0.0.1) as a TCP address; nullopt when it is neither.
std::optional<TcpAddress> parseTcpAddress(const std::string& text);

// Writes the profile's "machine" files (drive C: and the like) under root when they are missing.
void layOutMachine(const std::string& root, const Json& profile);

} // namespace pelmux::sim
