#include "platform/posix/BoardSocket.h"

#include "platform/posix/Root.h"
#include "platform/posix/Wire.h"

#include <cerrno>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace pelmux::platform::posix {

namespace {

// No reply of the unit is anywhere near this; a larger length means a broken peer.
constexpr std::uint32_t maxReplyLength = 64u * 1024u * 1024u;

bool sendAll(int fd, const std::uint8_t* data, std::size_t size)
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

bool receiveAll(int fd, std::uint8_t* data, std::size_t size)
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

} // namespace

std::unique_ptr<BoardConnection> BoardConnection::open(const std::string& endpoint)
{
    const std::string path = boardSocketPath();
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    // An empty path (no usable root) would name an abstract socket anyone can bind.
    if (path.empty() || path.size() >= sizeof(address.sun_path))
        return nullptr;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);

    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return nullptr;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
        ::close(fd);
        return nullptr;
    }
    std::unique_ptr<BoardConnection> connection(new BoardConnection(fd));
    FrameWriter fields;
    fields.text(endpoint);
    std::vector<std::uint8_t> reply;
    if (!connection->call(BoardOp::Open, fields.bytes(), reply))
        return nullptr;
    FrameReader reader(reply);
    std::uint8_t status = 1;
    if (!reader.u8(status) || status != 0)
        return nullptr;
    return connection;
}

BoardConnection::~BoardConnection()
{
    ::close(fd_);
}

bool BoardConnection::call(BoardOp op, std::span<const std::uint8_t> fields, std::vector<std::uint8_t>& reply)
{
    std::lock_guard lock(mutex_);
    if (broken_)
        return false;
    FrameWriter frame;
    frame.u32(static_cast<std::uint32_t>(fields.size() + 1)).u8(static_cast<std::uint8_t>(op));
    frame.raw(fields.data(), fields.size());
    std::uint8_t header[4];
    if (!sendAll(fd_, frame.bytes().data(), frame.bytes().size()) ||
        !receiveAll(fd_, header, sizeof header)) {
        broken_ = true;
        return false;
    }
    const std::uint32_t length =
        static_cast<std::uint32_t>(header[0]) | (static_cast<std::uint32_t>(header[1]) << 8) |
        (static_cast<std::uint32_t>(header[2]) << 16) | (static_cast<std::uint32_t>(header[3]) << 24);
    if (length > maxReplyLength) {
        broken_ = true;
        return false;
    }
    reply.assign(length, 0);
    if (!receiveAll(fd_, reply.data(), length)) {
        broken_ = true;
        return false;
    }
    return true;
}

} // namespace pelmux::platform::posix
