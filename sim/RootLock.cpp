#include "RootLock.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <sys/file.h>
#include <unistd.h>

namespace pelmux::sim {

namespace {

// The process id the holder wrote, as text; empty while it has not written it yet.
std::string holderOf(int fd)
{
    char text[32] = {};
    const ssize_t n = ::pread(fd, text, sizeof text - 1, 0);
    std::string pid(text, n > 0 ? static_cast<std::size_t>(n) : 0);
    while (!pid.empty() && (pid.back() == '\n' || pid.back() == '\0'))
        pid.pop_back();
    return pid.find_first_not_of("0123456789") == std::string::npos ? pid : std::string();
}

} // namespace

std::string RootLock::path(const std::string& root)
{
    return root + "/sim.lock";
}

RootLock::RootLock(const std::string& root)
{
    const std::string file = path(root);
    fd_ = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd_ < 0)
        throw std::runtime_error("cannot make the unit's lock file " + file + ": " + std::strerror(errno));
    // flock, not fcntl: its lock belongs to this open file, so that a second unit in the same
    // process (a test) is refused as well.
    if (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        const std::string pid = holderOf(fd_);
        ::close(fd_);
        fd_ = -1;
        if (error != EWOULDBLOCK)
            throw std::runtime_error("cannot lock " + file + ": " + std::strerror(error));
        throw std::runtime_error("a simulated unit " + (pid.empty() ? std::string() : "(pid " + pid + ") ") +
                                 "already serves " + root + "; stop it first or choose another root");
    }
    // A failed write only leaves the process id out of a second unit's refusal.
    const std::string pid = std::to_string(::getpid()) + "\n";
    [[maybe_unused]] const bool written =
        ::ftruncate(fd_, 0) == 0 &&
        ::pwrite(fd_, pid.data(), pid.size(), 0) == static_cast<ssize_t>(pid.size());
}

RootLock::~RootLock()
{
    if (fd_ < 0)
        return;
    // The next holder writes its own; until then a refusal names no stale process.
    [[maybe_unused]] const int cleared = ::ftruncate(fd_, 0);
    ::close(fd_); // drops the lock
}

} // namespace pelmux::sim
