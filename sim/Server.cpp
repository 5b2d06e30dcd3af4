#include "Server.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <new>
#include <optional>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace pelmux::sim {

namespace {

bool readExact(int fd, std::uint8_t* data, std::size_t size)
{
    while (size > 0) {
        const ssize_t n = ::recv(fd, data, size, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

// What one receive of a frame's bytes asks for: a frame's buffer grows by at most this much ahead
// of the bytes that have arrived.
constexpr std::size_t framePiece = 64 * 1024;

// The largest reply sendUnitCommand takes: the whole state, FPGA memory and all.
constexpr std::uint32_t maxReplyLength = 16u * 1024u * 1024u;

bool writeExact(int fd, const std::uint8_t* data, std::size_t size)
{
    while (size > 0) {
        const ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

} // namespace

bool readFrame(int fd, std::uint32_t longest, Bytes& frame)
{
    frame.clear();
    std::uint8_t header[4];
    if (!readExact(fd, header, 4))
        return false;
    const std::uint32_t length = Reader(header).u32();
    if (length == 0 || length > longest)
        return false;
    while (frame.size() < length) {
        const std::size_t had = frame.size();
        frame.resize(had + std::min<std::size_t>(framePiece, length - had));
        const ssize_t n = ::recv(fd, frame.data() + had, frame.size() - had, 0);
        const bool interrupted = n < 0 && errno == EINTR;
        frame.resize(had + static_cast<std::size_t>(std::max<ssize_t>(n, 0)));
        if (interrupted)
            continue;
        if (n <= 0)
            return false;
    }
    return true;
}

namespace {

bool sendReply(int fd, const Bytes& fields)
{
    Writer frame;
    frame.u32(static_cast<std::uint32_t>(fields.size())).bytes(fields);
    return writeExact(fd, frame.data().data(), frame.data().size());
}

std::string textOf(const Bytes& b)
{
    return std::string(b.begin(), b.end());
}

// The UTF-16LE code units of a UTF-8 text (a malformed byte stands for itself).
Bytes utf16le(const std::string& text)
{
    Bytes out;
    const auto unit = [&out](std::uint32_t u) {
        out.push_back(static_cast<std::uint8_t>(u));
        out.push_back(static_cast<std::uint8_t>(u >> 8));
    };
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<std::uint8_t>(text[i]);
        const int extra = lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC0 ? 1 : 0;
        std::uint32_t code = extra == 0 ? lead : lead & (0x3Fu >> extra);
        std::size_t next = i + 1;
        for (int k = 0; k < extra && next < text.size(); ++k, ++next)
            code = (code << 6) | (static_cast<std::uint8_t>(text[next]) & 0x3Fu);
        i = next;
        if (code >= 0x10000) {
            unit(0xD800 + ((code - 0x10000) >> 10));
            unit(0xDC00 + ((code - 0x10000) & 0x3FF));
        } else {
            unit(code);
        }
    }
    return out;
}

// The data bytes of a registry value in the profile: {"sz": TEXT, "size": N} is the text in
// UTF-16LE with its terminator, zero bytes after it up to N; {"hex": "..."} the bytes themselves.
std::optional<Bytes> registryData(const Json& value)
{
    if (!value.is_object())
        return std::nullopt;
    if (value.contains("sz") && value["sz"].is_string()) {
        Bytes data = utf16le(value["sz"].get<std::string>());
        data.push_back(0);
        data.push_back(0);
        const std::size_t size = value.value("size", std::size_t{0});
        if (data.size() < size)
            data.resize(size, 0);
        return data;
    }
    if (value.contains("hex") && value["hex"].is_string()) {
        const std::string hex = value["hex"].get<std::string>();
        if (hex.size() % 2 != 0 || hex.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
            return std::nullopt;
        Bytes data;
        for (std::size_t i = 0; i < hex.size(); i += 2)
            data.push_back(static_cast<std::uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
        return data;
    }
    return std::nullopt;
}

// A key or value name that stays one folder entry.
bool plainName(const std::string& name)
{
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

// The profile's registry keys under HKEY_LOCAL_MACHINE ("SYSTEM\...\Device0": {values}) as
// folders under root/registry/HKEY_LOCAL_MACHINE, each value a file of its raw data bytes. Values
// already there stay as they are; a key with an unusable component is left out.
void layOutRegistry(const std::string& root, const Json& keys)
{
    namespace fs = std::filesystem;
    if (!keys.is_object())
        return;
    for (const auto& [path, values] : keys.items()) {
        fs::path folder = fs::path(root) / "registry" / "HKEY_LOCAL_MACHINE";
        bool usable = values.is_object();
        std::size_t start = 0;
        while (usable) {
            const std::size_t end = path.find('\\', start);
            const std::string component = path.substr(start, end == std::string::npos ? end : end - start);
            usable = plainName(component);
            folder /= component;
            if (end == std::string::npos)
                break;
            start = end + 1;
        }
        if (!usable)
            continue;
        fs::create_directories(folder);
        for (const auto& [name, value] : values.items()) {
            const auto data = registryData(value);
            const fs::path file = folder / name;
            if (!data || !plainName(name) || fs::exists(file))
                continue;
            std::ofstream out(file, std::ios::binary);
            out.write(reinterpret_cast<const char*>(data->data()),
                      static_cast<std::streamsize>(data->size()));
        }
    }
}

} // namespace

Server::Server(Unit& unit, std::string socketPath) : unit_(unit), path_(std::move(socketPath)) {}

Server::Server(Unit& unit, TcpAddress address) : unit_(unit), tcp_(std::move(address)) {}

namespace {

// A listening TCP socket on `address`; its port is updated to the one bound. Throws when the
// address is not an IPv4 address or cannot be served.
int listenTcp(TcpAddress& address)
{
    sockaddr_in in{};
    in.sin_family = AF_INET;
    in.sin_port = htons(address.port);
    if (::inet_pton(AF_INET, address.host.c_str(), &in.sin_addr) != 1)
        throw std::runtime_error("not an IPv4 address: " + address.host);
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int yes = 1;
    socklen_t length = sizeof in;
    if (fd < 0 || ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes) != 0 ||
        ::bind(fd, reinterpret_cast<sockaddr*>(&in), sizeof in) != 0 || ::listen(fd, 64) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&in), &length) != 0) {
        const std::string reason = std::strerror(errno);
        if (fd >= 0)
            ::close(fd);
        throw std::runtime_error("cannot serve TCP " + address.host + ":" + std::to_string(address.port) +
                                 ": " + reason);
    }
    address.port = ntohs(in.sin_port);
    return fd;
}

} // namespace

std::optional<TcpAddress> parseTcpAddress(const std::string& text)
{
    TcpAddress address;
    const std::size_t colon = text.rfind(':');
    const std::string port = colon == std::string::npos ? text : text.substr(colon + 1);
    if (colon != std::string::npos)
        address.host = text.substr(0, colon);
    in_addr ignored{};
    if (port.empty() || port.size() > 5 || port.find_first_not_of("0123456789") != std::string::npos ||
        std::stoul(port) > 65535 || ::inet_pton(AF_INET, address.host.c_str(), &ignored) != 1)
        return std::nullopt;
    address.port = static_cast<std::uint16_t>(std::stoul(port));
    return address;
}

Server::~Server()
{
    stop();
}

void Server::start()
{
    if (running_)
        return;
    if (tcp_) {
        listenFd_ = listenTcp(*tcp_);
    } else {
        listenUnix();
    }
    if (::pipe2(wakePipe_, O_CLOEXEC) != 0) {
        ::close(listenFd_);
        listenFd_ = -1;
        throw std::runtime_error("cannot create the server's wake pipe");
    }
    running_ = true;
    acceptThread_ = std::thread([this] { acceptLoop(); });
}

void Server::listenUnix()
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path_.size() >= sizeof(address.sun_path))
        throw std::runtime_error("board socket path too long: " + path_);
    std::memcpy(address.sun_path, path_.c_str(), path_.size() + 1);
    ::unlink(path_.c_str());
    listenFd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listenFd_ < 0 || ::bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listenFd_, 64) != 0) {
        const std::string reason = std::strerror(errno);
        if (listenFd_ >= 0)
            ::close(listenFd_);
        listenFd_ = -1;
        throw std::runtime_error("cannot serve the board socket " + path_ + ": " + reason);
    }
    struct stat made {};
    if (::stat(path_.c_str(), &made) == 0)
        socketFile_ = std::pair{made.st_dev, made.st_ino};
}

bool Server::ownsSocketFile() const
{
    struct stat now {};
    return socketFile_ && ::lstat(path_.c_str(), &now) == 0 &&
           std::pair{now.st_dev, now.st_ino} == *socketFile_;
}

void Server::stop()
{
    if (!running_.exchange(false))
        return;
    const char wake = 1;
    [[maybe_unused]] const ssize_t n = ::write(wakePipe_[1], &wake, 1);
    acceptThread_.join();
    ::close(listenFd_);
    if (!tcp_ && ownsSocketFile())
        ::unlink(path_.c_str());
    socketFile_.reset();
    listenFd_ = -1;
    std::list<std::unique_ptr<Connection>> connections;
    {
        std::lock_guard lock(connectionsMutex_);
        connections.swap(connections_);
    }
    for (auto& c : connections)
        ::shutdown(c->fd, SHUT_RDWR);
    for (auto& c : connections) {
        c->thread.join();
        ::close(c->fd);
    }
    ::close(wakePipe_[0]);
    ::close(wakePipe_[1]);
    wakePipe_[0] = wakePipe_[1] = -1;
}

void Server::reapFinished()
{
    std::lock_guard lock(connectionsMutex_);
    for (auto it = connections_.begin(); it != connections_.end();) {
        if ((*it)->done) {
            (*it)->thread.join();
            ::close((*it)->fd);
            it = connections_.erase(it);
        } else {
            ++it;
        }
    }
}

void Server::acceptLoop()
{
    while (running_) {
        pollfd fds[2] = {{listenFd_, POLLIN, 0}, {wakePipe_[0], POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (fds[1].revents != 0)
            return;
        if ((fds[0].revents & POLLIN) == 0)
            continue;
        const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        if (tcp_) {
            // Each request waits for its reply: small frames go out at once.
            const int yes = 1;
            ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
        }
        reapFinished();
        std::lock_guard lock(connectionsMutex_);
        if (connections_.size() >= maxConnections) {
            // The client sees its connection end at once, as when no unit serves.
            ::close(fd);
            continue;
        }
        auto connection = std::make_unique<Connection>();
        connection->fd = fd;
        Connection& c = *connection;
        connections_.push_back(std::move(connection));
        c.thread = std::thread([this, &c] { serve(c); });
    }
}

Bytes BoardSession::unitCommand(Reader& reader)
{
    Json answer;
    try {
        answer = unit_.command(parseJsonCommand(textOf(reader.rest())));
    } catch (const std::exception& e) {
        answer = {{"ok", false}, {"error", e.what()}};
    }
    Writer reply;
    reply.u8(answer.value("ok", false) ? 0 : 1).text(jsonText(answer));
    return reply.take();
}

BoardSession::Answer BoardSession::answer(const Bytes& frame)
{
    Reader reader(frame);
    const std::uint8_t op = reader.u8();
    if (reader.failed())
        return {std::nullopt, true};
    if (op == OpUnitCommand)
        return {unitCommand(reader)};
    Writer reply;
    if (!opened_) {
        // The first frame of a connection must open an endpoint.
        if (op != OpOpen)
            return {std::nullopt, true};
        endpoint_ = textOf(reader.rest());
        opened_ = unit_.hasEndpoint(endpoint_);
        reply.u8(opened_ ? 0 : 1);
        return {reply.take(), !opened_};
    }
    if (op == OpControl) {
        ControlRequest request;
        request.endpoint = endpoint_;
        request.code = reader.u32();
        request.outCapacity = reader.u32();
        request.input = reader.rest();
        if (reader.failed())
            return {std::nullopt, true};
        const ControlReply answer = unit_.control(request);
        reply.u8(answer.ok ? 1 : 0).u32(answer.returned).bytes(answer.output);
    } else if (op == OpRead) {
        const std::uint32_t capacity = reader.u32();
        if (reader.failed())
            return {std::nullopt, true};
        const ReadReply answer = unit_.read(endpoint_, capacity);
        reply.u8(answer.ok ? 1 : 0).bytes(answer.data);
    } else if (op == OpVendor) {
        const std::uint16_t ordinal = reader.u16();
        if (reader.failed())
            return {std::nullopt, true};
        reply.bytes(unit_.vendor(ordinal, reader));
    } else if (op == OpService) {
        const std::uint32_t controlCode = reader.u32();
        if (reader.failed())
            return {std::nullopt, true};
        reply.u8(unit_.service(controlCode));
    } else {
        return {std::nullopt, true};
    }
    return {reply.take()};
}

void Server::serve(Connection& connection)
{
    const int fd = connection.fd;
    BoardSession session(unit_);
    try {
        Bytes frame;
        while (readFrame(fd, BoardSession::maxRequestLength, frame)) {
            const BoardSession::Answer answer = session.answer(frame);
            if ((answer.reply && !sendReply(fd, *answer.reply)) || answer.close)
                break;
        }
    } catch (const std::bad_alloc&) {
        // Memory ran out for this connection's frame or its answer: the connection ends, the unit
        // serves on.
    }
    // The peer sees the end of the connection at once; the descriptor is closed when reaped.
    ::shutdown(fd, SHUT_RDWR);
    connection.done = true;
}

Json sendUnitCommand(const std::string& socketPath, const std::string& command)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (socketPath.size() >= sizeof(address.sun_path))
        return {{"ok", false}, {"error", "board socket path too long"}};
    std::memcpy(address.sun_path, socketPath.c_str(), socketPath.size() + 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0 || ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        if (fd >= 0)
            ::close(fd);
        return {{"ok", false}, {"error", "no simulated unit answers on " + socketPath}};
    }
    Writer frame;
    frame.u32(static_cast<std::uint32_t>(command.size() + 1)).u8(OpUnitCommand).text(command);
    Json answer = {{"ok", false}, {"error", "the unit closed the connection"}};
    Bytes reply;
    if (writeExact(fd, frame.data().data(), frame.data().size()) && readFrame(fd, maxReplyLength, reply)) {
        answer = Json::parse(reply.begin() + 1, reply.end(), nullptr, false);
        if (answer.is_discarded())
            answer = {{"ok", false}, {"error", "the unit's answer is not JSON"}};
    }
    ::close(fd);
    return answer;
}

void layOutMachine(const std::string& root, const Json& profile)
{
    namespace fs = std::filesystem;
    if (!profile.contains("machine"))
        return;
    const Json& machine = profile["machine"];
    if (machine.contains("files")) {
        for (const auto& [relative, content] : machine["files"].items()) {
            const fs::path path = fs::path(root) / relative;
            if (fs::exists(path) || !content.is_string())
                continue;
            fs::create_directories(path.parent_path());
            std::ofstream out(path, std::ios::binary);
            out << content.get<std::string>();
        }
    }
    if (machine.contains("registry"))
        layOutRegistry(root, machine["registry"]);
}

SimulatedUnit::SimulatedUnit(std::string root, Json profile, const std::function<void(Unit&)>& prepare)
    : root_(std::move(root))
{
    std::filesystem::create_directories(root_);
    lock_ = std::make_unique<RootLock>(root_);
    layOutMachine(root_, profile);
    unit_ = makeUnit(std::move(profile));
    unit_->setRoot(root_);
    // Before the first request can arrive: nothing the unit answers escapes the preparation.
    if (prepare)
        prepare(*unit_);
    server_ = std::make_unique<Server>(*unit_, root_ + "/board.sock");
    line_ = std::make_unique<SerialLine>(*unit_, root_);
    server_->start();
}

std::uint16_t SimulatedUnit::serveTcp(const TcpAddress& address)
{
    if (tcpServer_)
        tcpServer_->stop();
    tcpServer_ = std::make_unique<Server>(*unit_, address);
    tcpServer_->start();
    return tcpServer_->port();
}

SimulatedUnit::~SimulatedUnit()
{
    if (tcpServer_)
        tcpServer_->stop();
    server_->stop();
    line_.reset();
}

} // namespace pelmux::sim
