// The serial port on Linux: PELMUX_ROOT/<name>, a tty (the simulated unit links it to a
// pseudo-terminal), driven through termios so that it behaves as the Windows port does.
#include "platform/SerialPort.h"

#include "platform/Time.h"
#include "platform/posix/Root.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/file.h>
#include <termios.h>
#include <unistd.h>

namespace pelmux::platform {

struct SerialPort::State {
    int fd = -1;
    termios savedSettings{};
    termios settings{};
    bool configured = false;
};

namespace {

// How many times slower than a plain build a peer on this machine may answer: the sanitizers
// instrument every memory access of the peer (the simulated unit in tests) as of the library.
#if defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define PELMUX_THREAD_SANITIZER 1
#endif
#if __has_feature(address_sanitizer)
#define PELMUX_ADDRESS_SANITIZER 1
#endif
#endif
#if defined(__SANITIZE_THREAD__) || defined(PELMUX_THREAD_SANITIZER)
constexpr double peerSlowdown = 10.0;
#elif defined(__SANITIZE_ADDRESS__) || defined(PELMUX_ADDRESS_SANITIZER)
constexpr double peerSlowdown = 4.0;
#else
constexpr double peerSlowdown = 1.0;
#endif

// A time-out scaled for tests never drops below this much real time: long enough for an answering
// peer on the same machine, however busy, so that only a silent one times out.
constexpr double readTimeoutFloorMs = 50.0 * peerSlowdown;

// The read time-out in real milliseconds.
int readTimeoutMs()
{
    const double scaled = serialReadTimeoutMs * timeScale();
    return static_cast<int>(std::max(scaled, readTimeoutFloorMs));
}

int tcsetattrRetrying(int fd, const termios& settings)
{
    int rc;
    do {
        rc = ::tcsetattr(fd, TCSANOW, &settings);
    } while (rc != 0 && errno == EINTR);
    return rc;
}

// Purge with abort-transmit, abort-receive and clear-transmit. Nothing here is pending in the
// background, so aborting is dropping what waits in the queues; the input goes too, as a freshly
// opened Windows port starts with nothing received.
void purge(int fd)
{
    ::tcflush(fd, TCIOFLUSH);
}

// Whether the line holds `wanted`, apart from the parity bit. glibc's tcsetattr reads the settings
// back and answers EINVAL when the line differed from what was asked and none of the changes took.
// A pseudo-terminal keeps no parity (the kernel sets 8 bits without parity on every change), so
// asking for 8E1 on a line that already runs raw at 115200 baud - as a holder killed before it could
// put its settings back leaves it - changes nothing the line keeps and is refused, although the line
// is as asked.
bool holdsSettings(int fd, const termios& wanted)
{
    termios now{};
    if (::tcgetattr(fd, &now) != 0)
        return false;
    const auto framing = [](const termios& t) { return t.c_cflag & ~static_cast<tcflag_t>(PARENB); };
    return ::cfgetispeed(&now) == ::cfgetispeed(&wanted) && ::cfgetospeed(&now) == ::cfgetospeed(&wanted) &&
           framing(now) == framing(wanted) && now.c_iflag == wanted.c_iflag &&
           now.c_oflag == wanted.c_oflag && now.c_lflag == wanted.c_lflag &&
           now.c_cc[VMIN] == wanted.c_cc[VMIN] && now.c_cc[VTIME] == wanted.c_cc[VTIME];
}

} // namespace

bool SerialPort::open(const wchar_t* name)
{
    close();
    if (name == nullptr)
        return false;
    const std::string folder = posix::root();
    if (folder.empty())
        return false;
    const std::string path = folder + "/" + posix::toUtf8(name);
    // Without O_NONBLOCK the open of a line without carrier would wait for one.
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return false;
    auto* state = new State;
    state->fd = fd;
    // Not shared: one holder at a time, in this process or another. The lock goes with its holder,
    // a killed one included; the terminal's exclusive mode (TIOCEXCL) would stay behind it and
    // keep every later opener but root out.
    if (::tcgetattr(fd, &state->savedSettings) != 0 || posix::flockRetrying(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        delete state;
        return false;
    }
    state->settings = state->savedSettings;
    purge(fd);
    state_ = state;
    return true;
}

bool SerialPort::configure()
{
    if (state_ == nullptr)
        return false;
    termios& t = state_->settings;
    ::cfmakeraw(&t);
    ::cfsetispeed(&t, B115200);
    ::cfsetospeed(&t, B115200);
    t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARODD | CSTOPB | CRTSCTS);
    t.c_cflag |= CS8 | PARENB | CREAD | CLOCAL;
    t.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY | INPCK);
    // Reads wait in poll(); the descriptor itself never blocks.
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    purge(state_->fd);
    if (tcsetattrRetrying(state_->fd, t) != 0 && !holdsSettings(state_->fd, t))
        return false;
    state_->configured = true;
    return true;
}

void SerialPort::close()
{
    if (state_ == nullptr)
        return;
    purge(state_->fd);
    tcsetattrRetrying(state_->fd, state_->savedSettings);
    ::close(state_->fd);
    delete state_;
    state_ = nullptr;
}

bool SerialPort::isConfigured() const
{
    return state_ != nullptr && state_->configured;
}

bool SerialPort::write(const void* data, std::uint32_t size, std::uint32_t* written)
{
    if (written != nullptr)
        *written = 0;
    if (!isConfigured() || (data == nullptr && size > 0))
        return false;
    if (size == 0)
        return true;
    for (;;) {
        const ssize_t n = ::write(state_->fd, data, size);
        if (n > 0) {
            if (written != nullptr)
                *written = static_cast<std::uint32_t>(n);
            return true;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            return false;
        // A full queue: wait for the line to take something. A line that takes nothing for the
        // whole read time-out (in real time: a full queue is no matter of the time scale) refuses.
        pollfd p{state_->fd, POLLOUT, 0};
        const int ready = ::poll(&p, 1, static_cast<int>(serialReadTimeoutMs));
        if (ready == 0 || (ready < 0 && errno != EINTR) || (p.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0)
            return false;
    }
}

bool SerialPort::read(void* buffer, std::uint32_t capacity, std::uint32_t* bytesRead)
{
    if (bytesRead != nullptr)
        *bytesRead = 0;
    if (!isConfigured() || buffer == nullptr)
        return false;
    if (capacity == 0)
        return true;
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(readTimeoutMs());
    bool hungUp = false;
    for (;;) {
        const ssize_t n = ::read(state_->fd, buffer, capacity);
        if (n > 0) {
            if (bytesRead != nullptr)
                *bytesRead = static_cast<std::uint32_t>(n);
            return true;
        }
        // EIO, or nothing to read from a line that reported a hang-up: the other end is gone.
        if ((n < 0 && errno != EAGAIN && errno != EINTR) || (n == 0 && hungUp))
            return false;
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            return true; // the time-out: nothing arrived
        pollfd p{state_->fd, POLLIN, 0};
        const int ready = ::poll(&p, 1, static_cast<int>(left));
        if (ready < 0 && errno != EINTR)
            return false;
        hungUp = ready > 0 && (p.revents & POLLIN) == 0;
    }
}

} // namespace pelmux::platform
