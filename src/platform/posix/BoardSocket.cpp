// The stream to the unit on Linux: the Unix socket PELMUX_ROOT/board.sock.
#include "platform/TraceHook.h"
#include "platform/board/Connection.h"
#include "platform/posix/Root.h"

#include <cerrno>
#include <cstdlib>
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
    if (path.empty()) {
        traceOnce(
            "unit not reached: there is no usable root folder (PELMUX_ROOT unset, the default refused)\n");
        return nullptr;
    }
    if (path.size() >= sizeof(address.sun_path)) {
        traceOnce("unit not reached: the board socket's path is longer than a socket takes: " + path + "\n");
        return nullptr;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);

    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        traceOnce(std::string("unit not reached: no socket: ") + std::strerror(errno) + "\n");
        return nullptr;
    }
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
        const int error = errno;
        ::close(fd);
        const char* set = std::getenv("PELMUX_ROOT");
        traceOnce("unit not reached: connecting to " + path + " failed: " + std::strerror(error) +
                  (set != nullptr && *set != '\0' ? "; is `pelmux sim` running with this PELMUX_ROOT?"
                                                  : "; PELMUX_ROOT is not set (this is the default root): is "
                                                    "`pelmux sim` running with it?") +
                  "\n");
        return nullptr;
    }
    return std::make_unique<UnixStream>(fd);
}

} // namespace pelmux::platform::board
