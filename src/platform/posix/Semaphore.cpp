// Semaphores on Linux. Unnamed ones live in the process. A named one is three things under
// PELMUX_ROOT/semaphores/: a count file whose exclusive flock guards every change of the count,
// and a holders file on which every open handle keeps a shared flock. The kernel drops those locks
// with the last descriptor of a process, killed or not, so a creator that can lock the holders file
// exclusively knows that nobody else holds the semaphore and starts it again at count 1: the
// lifetime of a Windows kernel object. Waits poll the count briefly.
#include "platform/Semaphore.h"

#include "platform/Time.h"
#include "platform/posix/Root.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace pelmux::platform {

namespace {

using Clock = std::chrono::steady_clock;

// The longest name CreateSemaphoreA accepts (MAX_PATH).
constexpr std::size_t maxNameLength = 260;
// Longest encoded file name kept readable; longer ones are shortened with a hash.
constexpr std::size_t maxFileNameLength = 160;

// The deadline of a wait; nullopt for no limit.
std::optional<Clock::time_point> deadlineOf(std::uint32_t timeoutMs)
{
    if (timeoutMs == waitForever)
        return std::nullopt;
    const auto scaled = std::chrono::duration<double, std::milli>(timeoutMs * timeScale());
    return Clock::now() + std::chrono::duration_cast<Clock::duration>(scaled);
}

class SemaphoreObject {
public:
    virtual ~SemaphoreObject() = default;
    virtual bool take(std::uint32_t timeoutMs) = 0;
    virtual bool give() = 0;
};

class LocalSemaphore final : public SemaphoreObject {
public:
    bool take(std::uint32_t timeoutMs) override
    {
        std::unique_lock lock(mutex_);
        const auto ready = [this] { return count_ > 0; };
        if (const auto deadline = deadlineOf(timeoutMs))
            changed_.wait_until(lock, *deadline, ready);
        else
            changed_.wait(lock, ready);
        if (count_ == 0)
            return false;
        --count_;
        return true;
    }

    bool give() override
    {
        {
            std::lock_guard lock(mutex_);
            if (count_ >= 1)
                return false;
            ++count_;
        }
        changed_.notify_one();
        return true;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    int count_ = 1;
};

int flockRetrying(int fd, int operation)
{
    int rc;
    do {
        rc = ::flock(fd, operation);
    } while (rc != 0 && errno == EINTR);
    return rc;
}

// Holds an exclusive flock for a scope.
class FileGuard {
public:
    explicit FileGuard(int fd) : fd_(fd), locked_(flockRetrying(fd, LOCK_EX) == 0) {}
    ~FileGuard()
    {
        if (locked_)
            flockRetrying(fd_, LOCK_UN);
    }
    FileGuard(const FileGuard&) = delete;
    FileGuard& operator=(const FileGuard&) = delete;
    bool locked() const { return locked_; }

private:
    int fd_;
    bool locked_;
};

// A file name for the semaphore name: letters, digits, '_' and '-' stay, every other byte becomes
// %XX; names too long for a file name keep a readable head and a hash of the whole name.
std::string fileNameFor(const std::string& name)
{
    std::string out;
    for (unsigned char c : name) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                           c == '_' || c == '-';
        if (plain) {
            out += static_cast<char>(c);
        } else {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", c);
            out += hex;
        }
    }
    if (out.size() > maxFileNameLength) {
        std::uint64_t hash = 1469598103934665603ull; // FNV-1a
        for (unsigned char c : name)
            hash = (hash ^ c) * 1099511628211ull;
        char tail[24];
        std::snprintf(tail, sizeof tail, "~%016llx", static_cast<unsigned long long>(hash));
        out = out.substr(0, maxFileNameLength - 17) + tail;
    }
    return out;
}

int openShared(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd >= 0)
        ::fchmod(fd, 0666); // every account may use the object; fails harmlessly for non-owners
    return fd;
}

class NamedSemaphore final : public SemaphoreObject {
public:
    static NamedSemaphore* open(const std::string& name)
    {
        const std::filesystem::path folder = std::filesystem::path(posix::root()) / "semaphores";
        std::error_code error;
        if (std::filesystem::create_directories(folder, error))
            ::chmod(folder.c_str(), 01777);
        const std::string base = (folder / fileNameFor(name)).string();
        const int countFd = openShared(base + ".count");
        if (countFd < 0)
            return nullptr;
        const int holdersFd = openShared(base + ".holders");
        if (holdersFd < 0) {
            ::close(countFd);
            return nullptr;
        }
        auto* semaphore = new NamedSemaphore(countFd, holdersFd);
        if (!semaphore->join()) {
            delete semaphore;
            return nullptr;
        }
        return semaphore;
    }

    ~NamedSemaphore() override
    {
        ::close(holdersFd_); // drops this handle's hold
        ::close(countFd_);
    }

    bool take(std::uint32_t timeoutMs) override
    {
        const auto deadline = deadlineOf(timeoutMs);
        auto pause = std::chrono::microseconds(50);
        for (;;) {
            if (tryTake())
                return true;
            if (deadline && Clock::now() >= *deadline)
                return false;
            std::this_thread::sleep_for(pause);
            pause = std::min(pause * 2, std::chrono::microseconds(2000));
        }
    }

    bool give() override
    {
        std::lock_guard lock(mutex_);
        FileGuard guard(countFd_);
        if (!guard.locked() || readCount() >= 1)
            return false;
        return writeCount(1);
    }

private:
    NamedSemaphore(int countFd, int holdersFd) : countFd_(countFd), holdersFd_(holdersFd) {}

    // Registers this handle as a holder; the first holder starts the count at 1.
    bool join()
    {
        FileGuard guard(countFd_);
        if (!guard.locked())
            return false;
        if (flockRetrying(holdersFd_, LOCK_EX | LOCK_NB) == 0) {
            if (!writeCount(1))
                return false;
        }
        // Nobody else tests the holders file without the guard, so this never waits.
        return flockRetrying(holdersFd_, LOCK_SH) == 0;
    }

    bool tryTake()
    {
        std::lock_guard lock(mutex_);
        FileGuard guard(countFd_);
        if (!guard.locked() || readCount() < 1)
            return false;
        return writeCount(0);
    }

    int readCount() const
    {
        char c = 0;
        ssize_t n;
        do {
            n = ::pread(countFd_, &c, 1, 0);
        } while (n < 0 && errno == EINTR);
        return n == 1 && c == '1' ? 1 : 0;
    }

    bool writeCount(int count) const
    {
        const char c = count > 0 ? '1' : '0';
        ssize_t n;
        do {
            n = ::pwrite(countFd_, &c, 1, 0);
        } while (n < 0 && errno == EINTR);
        return n == 1;
    }

    int countFd_;
    int holdersFd_;
    // Threads of this process that share one handle share its locks too; this orders them.
    std::mutex mutex_;
};

SemaphoreObject* object(SemaphoreHandle handle)
{
    return static_cast<SemaphoreObject*>(handle);
}

} // namespace

SemaphoreHandle createSemaphore(const char* name)
{
    if (name == nullptr || *name == '\0')
        return new LocalSemaphore();
    std::string text = name;
    // "Local\" is the session namespace, which unprefixed names already use.
    if (text.rfind("Local\\", 0) == 0)
        text.erase(0, 6);
    // Only the namespace prefix may hold a backslash, as in the kernel's object directory.
    const std::size_t prefix = text.rfind("Global\\", 0) == 0 ? 7 : 0;
    if (text.size() > maxNameLength || text.size() == prefix || text.find('\\', prefix) != std::string::npos)
        return nullptr;
    return NamedSemaphore::open(text);
}

bool takeSemaphore(SemaphoreHandle semaphore, std::uint32_t timeoutMs)
{
    return semaphore != nullptr && object(semaphore)->take(timeoutMs);
}

bool giveSemaphore(SemaphoreHandle semaphore)
{
    return semaphore != nullptr && object(semaphore)->give();
}

void closeSemaphore(SemaphoreHandle semaphore)
{
    delete object(semaphore);
}

} // namespace pelmux::platform
