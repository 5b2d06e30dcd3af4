// The stream to the unit on Linux: the Unix socket PELMUX_ROOT/board.sock.
#include "platform/board/Connection.h"
#include "platform/posix/Root.h"

#include <cerrno>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace pelmux::platform::board {

namespace {

class UnixStream final : public Stream {
public:
    explicit UnixStream(int fd) : fd_(fd) {}
    ~UnixStream() override { ::close(fd_); }
    UnixStream(const UnixStream&) = delete;
    UnixStream& operator=(const UnixStream&) = delete;

protected:
    long sendSome(const std::uint8_t* data, std::size_t size) override
    {
        ssize_t n;
        do
            n = ::send(fd_, data, size, MSG_NOSIGNAL);
        while (n < 0 && errno == EINTR);
        return n;
    }

    long receiveSome(std::uint8_t* data, std::size_t size) override
    {
        ssize_t n;
        do
            n = ::recv(fd_, data, size, 0);
        while (n < 0 && errno == EINTR);
        return n;
    }

private:
    int fd_;
};

} // namespace

std::string unitAddress()
{
    return posix::boardSocketPath();
}

std::unique_ptr<Stream> connectUnit(const std::string& path)
{
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
    return std::make_unique<UnixStream>(fd);
}

} // namespace pelmux::platform::board
