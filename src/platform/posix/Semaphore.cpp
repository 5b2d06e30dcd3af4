// Semaphores on Linux. Unnamed ones live in the process. A named one is a few files under
// PELMUX_ROOT/semaphores/: a count file whose exclusive flock guards every change of the count,
// and a holders file on which every open handle keeps a shared flock. The kernel drops those locks
// with the last descriptor of a process, killed or not, so a creator that can lock the holders file
// exclusively knows that nobody else holds the semaphore and starts it again at count 1: the
// lifetime of a Windows kernel object.
//
// A killed taker gives its count back even while other processes keep the name open. Every process
// that takes a named semaphore keeps a token for its life: a file in semaphores/takers/ on which it
// holds an exclusive flock. The count record names the token of its taker, and a waiter that finds
// the token gone, or can lock it, knows the taker has ended and takes the count over. A live
// taker's token can never be locked by anyone else, so two takers never hold a count at once. The
// count is not tied to a handle or a thread: any handle of any process may give it back, as on
// Windows. Waits poll the count: every 2 ms at most during the first 100 ms, then every 20 ms.
#include "platform/Semaphore.h"

#include "platform/Time.h"
#include "platform/posix/Root.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/random.h>
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

// Holds an exclusive flock for a scope.
class FileGuard {
public:
    explicit FileGuard(int fd) : fd_(fd), locked_(posix::flockRetrying(fd, LOCK_EX) == 0) {}
    ~FileGuard()
    {
        if (locked_)
            posix::flockRetrying(fd_, LOCK_UN);
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

// A folder every account may use (as the semaphores themselves).
void makeSharedFolder(const std::filesystem::path& folder)
{
    std::error_code error;
    if (std::filesystem::create_directories(folder, error))
        ::chmod(folder.c_str(), 01777);
}

// The count record: one fixed-size block written in one pwrite, "1", or "0" followed by the id of
// the taker's token; the rest is zero bytes. A record without a valid id (a one-byte "0" of an
// older build, an empty or damaged file) has no live taker: its count may be taken.
constexpr std::size_t recordSize = 64;
constexpr std::size_t maxTokenIdLength = 40;

// Token ids are made by this file: "<pid>-<16 hex digits>". Anything else read from a record is
// never used as a file name.
bool validTokenId(std::string_view id)
{
    if (id.empty() || id.size() > maxTokenIdLength)
        return false;
    return std::all_of(id.begin(), id.end(),
                       [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || c == '-'; });
}

std::uint64_t randomBits()
{
    std::uint64_t bits = 0;
    if (::getrandom(&bits, sizeof bits, GRND_NONBLOCK) == static_cast<ssize_t>(sizeof bits))
        return bits;
    // No entropy yet (early boot): time and address still differ between attempts and processes,
    // and the exclusive creation below refuses a repeated name.
    static std::uint64_t counter = 0;
    return static_cast<std::uint64_t>(Clock::now().time_since_epoch().count()) ^
           (reinterpret_cast<std::uintptr_t>(&bits) << 16) ^ (++counter * 0x9E3779B97F4A7C15ull);
}

std::string newTokenId()
{
    char id[maxTokenIdLength + 1];
    std::snprintf(id, sizeof id, "%ld-%016llx", static_cast<long>(::getpid()),
                  static_cast<unsigned long long>(randomBits()));
    return id;
}

// Opens a token file to test it, without following a link and without waiting on a fifo.
int openToken(const std::string& path)
{
    return ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
}

// What a token file tells of its process.
enum class Taker {
    Alive, // somebody holds the file's lock (or the file cannot be tested)
    Gone,  // no such file: its process ended and the file was swept
    Ended, // the file is there and was locked here: its process ended
};

// Tests the token at `path`; for Ended, `lockedFd` holds the lock for removeEndedToken.
Taker testToken(const std::string& path, int& lockedFd)
{
    const int fd = openToken(path);
    if (fd < 0)
        return errno == ENOENT ? Taker::Gone : Taker::Alive;
    if (posix::flockRetrying(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return Taker::Alive;
    }
    lockedFd = fd;
    return Taker::Ended;
}

// Removes the token file of an ended process, whose lock `fd` holds.
void removeEndedToken(const std::string& path, int fd)
{
    ::unlink(path.c_str()); // another account's file may stay; the next sweep tries again
    ::close(fd);
}

// The tokens of this process, one per takers folder (PELMUX_ROOT may change within a process).
class TakerTokens {
public:
    // The id of this process's token in `folder`, made at the first call; nullopt when no token
    // can be made there.
    std::optional<std::string> idIn(const std::string& folder)
    {
        std::lock_guard lock(mutex_);
        const pid_t pid = ::getpid();
        dropUnusable(pid);
        if (const auto found = tokens_.find(folder); found != tokens_.end())
            return found->second.id;
        auto token = make(folder, pid);
        if (!token)
            return std::nullopt;
        sweep(folder, token->id);
        return tokens_.emplace(folder, std::move(*token)).first->second.id;
    }

private:
    struct Token {
        pid_t pid;
        int fd;
        std::string id;
    };

    // Forgets tokens inherited through fork(), which still stand for the parent, and tokens whose
    // file was removed (with its PELMUX_ROOT, say), which stand for nobody.
    void dropUnusable(pid_t pid)
    {
        for (auto it = tokens_.begin(); it != tokens_.end();) {
            struct stat info {};
            const bool inherited = it->second.pid != pid;
            if (inherited || ::fstat(it->second.fd, &info) != 0 || info.st_nlink == 0) {
                // Closing never unlocks an inherited token: the parent's descriptor keeps the lock.
                ::close(it->second.fd);
                it = tokens_.erase(it);
            } else {
                ++it;
            }
        }
    }

    // A new token file in `folder`, locked before it appears under its name.
    static std::optional<Token> make(const std::string& folder, pid_t pid)
    {
        makeSharedFolder(folder);
        for (int attempt = 0; attempt < 8; ++attempt) {
            const std::string id = newTokenId();
            const std::string path = folder + "/" + id;
            int fd = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0644);
            if (fd >= 0) {
                ::fchmod(fd, 0644); // every account may test it, whatever the umask
                char self[64];
                std::snprintf(self, sizeof self, "/proc/self/fd/%d", fd);
                if (posix::flockRetrying(fd, LOCK_EX | LOCK_NB) == 0 &&
                    ::linkat(AT_FDCWD, self, AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) == 0)
                    return Token{pid, fd, id};
                const int error = errno;
                ::close(fd);
                if (error == EEXIST)
                    continue;
            }
            // No O_TMPFILE on this file system (or no /proc): lock under a temporary name, then
            // link it into place (a link, unlike a rename, never replaces a file). A sweep may
            // remove the temporary file before we lock it; then the link fails and we try again.
            const std::string temporary = folder + "/.new-" + id;
            fd = ::open(temporary.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
            if (fd < 0)
                continue;
            ::fchmod(fd, 0644);
            const bool placed = posix::flockRetrying(fd, LOCK_EX | LOCK_NB) == 0 &&
                                ::link(temporary.c_str(), path.c_str()) == 0;
            ::unlink(temporary.c_str());
            if (placed)
                return Token{pid, fd, id};
            ::close(fd);
        }
        return std::nullopt;
    }

    // Removes the token files of processes that have ended (all of them taken over or never used).
    static void sweep(const std::string& folder, const std::string& ownId)
    {
        std::error_code error;
        for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end;
             it.increment(error)) {
            const std::string name = it->path().filename().string();
            if (name == ownId)
                continue;
            const std::string path = it->path().string();
            int fd = -1;
            if (testToken(path, fd) == Taker::Ended)
                removeEndedToken(path, fd);
        }
    }

    std::mutex mutex_;
    std::map<std::string, Token> tokens_;
};

// Lives as long as the process: a thread may still take while static objects are destroyed.
TakerTokens& takerTokens()
{
    static auto* tokens = new TakerTokens();
    return *tokens;
}

class NamedSemaphore final : public SemaphoreObject {
public:
    static NamedSemaphore* open(const std::string& name)
    {
        const std::string root = posix::root();
        if (root.empty())
            return nullptr; // no usable root: no object anyone else could serve
        const std::filesystem::path folder = std::filesystem::path(root) / "semaphores";
        makeSharedFolder(folder);
        const std::string base = (folder / fileNameFor(name)).string();
        const int countFd = openShared(base + ".count");
        if (countFd < 0)
            return nullptr;
        const int holdersFd = openShared(base + ".holders");
        if (holdersFd < 0) {
            ::close(countFd);
            return nullptr;
        }
        auto* semaphore = new NamedSemaphore(countFd, holdersFd, (folder / "takers").string());
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
        const auto start = Clock::now();
        auto pause = std::chrono::microseconds(50);
        for (;;) {
            const Attempt attempt = tryTake();
            if (attempt != Attempt::Busy)
                return attempt == Attempt::Taken;
            const auto now = Clock::now();
            if (deadline && now >= *deadline)
                return false;
            std::this_thread::sleep_for(pause);
            // Short holds are met within 2 ms; a waiter that has waited long already (a thread
            // waiting for a signal that comes seldom) looks less often, so that it costs no CPU.
            const auto longest = now - start < std::chrono::milliseconds(100)
                                     ? std::chrono::microseconds(2000)
                                     : std::chrono::microseconds(20000);
            pause = std::min(pause * 2, longest);
        }
    }

    bool give() override
    {
        std::lock_guard lock(mutex_);
        FileGuard guard(countFd_);
        if (!guard.locked() || readRecord().count >= 1)
            return false;
        return writeRecord(1, {});
    }

private:
    enum class Attempt { Taken, Busy, Failed };

    struct Record {
        int count = 0;
        std::string taker; // a valid token id, or empty
    };

    NamedSemaphore(int countFd, int holdersFd, std::string takersFolder)
        : countFd_(countFd), holdersFd_(holdersFd), takersFolder_(std::move(takersFolder))
    {
    }

    // Registers this handle as a holder; the first holder starts the count at 1.
    bool join()
    {
        FileGuard guard(countFd_);
        if (!guard.locked())
            return false;
        if (posix::flockRetrying(holdersFd_, LOCK_EX | LOCK_NB) == 0) {
            if (!writeRecord(1, {}))
                return false;
        }
        // Nobody else tests the holders file without the guard, so this never waits.
        return posix::flockRetrying(holdersFd_, LOCK_SH) == 0;
    }

    Attempt tryTake()
    {
        // The count is recorded under this process's token; without one it cannot be taken safely.
        const auto me = takerTokens().idIn(takersFolder_);
        if (!me)
            return Attempt::Failed;
        std::lock_guard lock(mutex_);
        FileGuard guard(countFd_);
        if (!guard.locked())
            return Attempt::Busy;
        const Record record = readRecord();
        int endedTaker = -1;
        if (record.count == 0 && !record.taker.empty()) {
            // Taken by this process (any thread, any handle), or by a process that still lives.
            if (record.taker == *me)
                return Attempt::Busy;
            if (testToken(tokenPath(record.taker), endedTaker) == Taker::Alive)
                return Attempt::Busy;
        }
        const bool taken = writeRecord(0, *me);
        if (endedTaker >= 0)
            removeEndedToken(tokenPath(record.taker), endedTaker);
        return taken ? Attempt::Taken : Attempt::Busy;
    }

    std::string tokenPath(const std::string& id) const { return takersFolder_ + "/" + id; }

    Record readRecord() const
    {
        char block[recordSize] = {};
        ssize_t n;
        do {
            n = ::pread(countFd_, block, sizeof block, 0);
        } while (n < 0 && errno == EINTR);
        Record record;
        if (n < 1)
            return record;
        if (block[0] == '1') {
            record.count = 1;
            return record;
        }
        const std::string_view rest(block + 1, static_cast<std::size_t>(n) - 1);
        const std::string_view id = rest.substr(0, rest.find_first_of(std::string_view("\0\n", 2)));
        if (validTokenId(id))
            record.taker = id;
        return record;
    }

    bool writeRecord(int count, const std::string& taker) const
    {
        char block[recordSize] = {};
        block[0] = count > 0 ? '1' : '0';
        std::memcpy(block + 1, taker.data(), std::min(taker.size(), maxTokenIdLength));
        ssize_t n;
        do {
            n = ::pwrite(countFd_, block, sizeof block, 0);
        } while (n < 0 && errno == EINTR);
        return n == static_cast<ssize_t>(sizeof block);
    }

    int countFd_;
    int holdersFd_;
    std::string takersFolder_;
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
        return static_cast<SemaphoreObject*>(new LocalSemaphore());
    std::string text = name;
    // "Local\" is the session namespace, which unprefixed names already use.
    if (text.rfind("Local\\", 0) == 0)
        text.erase(0, 6);
    // Only the namespace prefix may hold a backslash, as in the kernel's object directory.
    const std::size_t prefix = text.rfind("Global\\", 0) == 0 ? 7 : 0;
    if (text.size() > maxNameLength || text.size() == prefix || text.find('\\', prefix) != std::string::npos)
        return nullptr;
    return static_cast<SemaphoreObject*>(NamedSemaphore::open(text));
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

bool unprefixedNamesSpanSessions()
{
    return true; // one namespace per PELMUX_ROOT, no sessions
}

} // namespace pelmux::platform
