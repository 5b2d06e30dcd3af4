// Files on Linux: drive C: is PELMUX_ROOT/C, the common application-data folder is
// C:\ProgramData, and a replacement (of the settings file or of a caller's snapshot file) is a
// rename of a temporary file that was synced first. The temporary file is named as
// platform/TemporaryName.h gives; its writer keeps an exclusive flock on it until it is renamed, so
// that a file of that shape nobody has locked is a leftover of a writer that died.
#include "platform/Files.h"

#include "platform/TemporaryName.h"
#include "platform/posix/Root.h"

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <system_error>

#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace pelmux::platform {

namespace {

constexpr const wchar_t* commonAppData = L"C:\\ProgramData";

// Strict UTF-8 to wide text; nullopt for a malformed sequence.
std::optional<std::wstring> fromUtf8(const std::string& text)
{
    std::wstring out;
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        int extra = 0;
        std::uint32_t code = 0;
        if (lead < 0x80) {
            code = lead;
        } else if ((lead & 0xE0) == 0xC0) {
            extra = 1;
            code = lead & 0x1F;
        } else if ((lead & 0xF0) == 0xE0) {
            extra = 2;
            code = lead & 0x0F;
        } else if ((lead & 0xF8) == 0xF0) {
            extra = 3;
            code = lead & 0x07;
        } else {
            return std::nullopt;
        }
        if (text.size() - i <= static_cast<std::size_t>(extra) && extra > 0)
            return std::nullopt;
        for (int k = 1; k <= extra; ++k) {
            const auto next = static_cast<unsigned char>(text[i + static_cast<std::size_t>(k)]);
            if ((next & 0xC0) != 0x80)
                return std::nullopt;
            code = (code << 6) | (next & 0x3F);
        }
        out += static_cast<wchar_t>(code);
        i += static_cast<std::size_t>(extra) + 1;
    }
    return out;
}

std::optional<std::string> hostOf(const std::wstring& path)
{
    if (path.empty())
        return std::nullopt;
    return posix::hostPath(path);
}

bool writeAll(int fd, std::string_view content)
{
    while (!content.empty()) {
        const ssize_t n = ::write(fd, content.data(), content.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        content.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

// Removes this library's temporary files of `name` in `folder` that no writer holds. A writer
// holds an exclusive flock on its temporary file from the moment the file carries its name until
// the rename, so the lock alone tells a leftover: a process id in the name may belong to another
// process by now. A link, or a file with a second name, is not taken.
void removeLeftovers(const std::string& folder, const std::string& name)
{
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr)
        return;
    struct CloseDir {
        DIR* dir;
        ~CloseDir() { ::closedir(dir); }
    } closing{dir};
    while (const dirent* entry = ::readdir(dir)) {
        if (!parseTemporaryFileName(std::string_view(name), entry->d_name))
            continue;
        const std::string full = folder + "/" + entry->d_name;
        const int fd = ::open(full.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
        if (fd < 0)
            continue;
        struct stat info {};
        if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_nlink == 1 &&
            ::flock(fd, LOCK_EX | LOCK_NB) == 0)
            ::unlink(full.c_str());
        ::close(fd);
    }
}

// Creates and locks a new temporary file beside the target. Between the creation and the lock a
// sweeping writer may take the file for a leftover and remove it; the name is then checked to
// still lead to the locked file, and a file that lost its name is made again.
int createTemporary(const std::string& folder, const std::string& name, std::size_t size,
                    std::string& temporary)
{
    static std::atomic<unsigned> sequence{0};
    const std::uint64_t start = processStartTime();
    for (int attempt = 0; attempt < 8; ++attempt) {
        temporary = folder + "/" +
                    temporaryFileName(std::string_view(name), {static_cast<std::uint64_t>(::getpid()), start,
                                                               sequence.fetch_add(1), size});
        const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0) {
            if (errno == EEXIST)
                continue;
            return -1;
        }
        struct stat mine {};
        struct stat named {};
        if (posix::flockRetrying(fd, LOCK_EX) == 0 && ::fstat(fd, &mine) == 0 &&
            ::stat(temporary.c_str(), &named) == 0 && mine.st_ino == named.st_ino &&
            mine.st_dev == named.st_dev)
            return fd;
        ::close(fd);
    }
    errno = EAGAIN;
    return -1;
}

// Makes the rename itself durable, as MOVEFILE_WRITE_THROUGH does on Windows.
void syncFolder(const std::string& folder)
{
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

// How a replacement ended: replaceFile and saveCallerFile each tell their callers in their words.
enum class Replaced { Done, FolderMissing, NameTooLong, NotCreated, NotWritten, NotMoved };

// Replaces the file at a host path: a temporary file beside it, synced, then renamed over it.
Replaced replaceHostFile(const std::string& host, std::string_view content)
{
    const std::filesystem::path target(host);
    const std::string name = target.filename().string();
    if (name.empty())
        return Replaced::NotCreated;
    const std::string folder = target.has_parent_path() ? target.parent_path().string() : std::string(".");

    removeLeftovers(folder, name);

    std::string temporary;
    const int fd = createTemporary(folder, name, content.size(), temporary);
    if (fd < 0) {
        if (errno == ENOENT || errno == ENOTDIR)
            return Replaced::FolderMissing;
        return errno == ENAMETOOLONG ? Replaced::NameTooLong : Replaced::NotCreated;
    }

    // The new file keeps the permissions of the one it replaces.
    struct stat old {};
    if (::stat(host.c_str(), &old) == 0 && S_ISREG(old.st_mode))
        ::fchmod(fd, old.st_mode & 07777);

    Replaced outcome = Replaced::Done;
    if (!writeAll(fd, content) || ::fsync(fd) != 0)
        outcome = Replaced::NotWritten;
    else if (::rename(temporary.c_str(), host.c_str()) != 0)
        outcome = Replaced::NotMoved;
    if (outcome != Replaced::Done)
        ::unlink(temporary.c_str());
    ::close(fd);
    if (outcome == Replaced::Done)
        syncFolder(folder);
    return outcome;
}

// Writes the file where it is, created or cut to nothing first: what is no regular file (a device,
// a FIFO), which holds no content to keep, and a file whose name leaves no room for a temporary
// name beside it.
SaveStatus writeInPlace(const std::string& host, std::string_view content)
{
    int fd;
    do {
        fd = ::open(host.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return SaveStatus::NotCreated;
    const bool written = writeAll(fd, content);
    ::close(fd);
    return written ? SaveStatus::Saved : SaveStatus::NotWritten;
}

} // namespace

std::optional<std::wstring> commonAppDataFolder()
{
    std::error_code error;
    const std::filesystem::path folder = posix::hostPath(commonAppData);
    std::filesystem::create_directories(folder, error);
    if (!std::filesystem::is_directory(folder, error))
        return std::nullopt;
    return std::wstring(commonAppData);
}

std::uint64_t processStartTime()
{
    // Field 22 of /proc/self/stat; the command name before it, in parentheses, may hold anything.
    std::ifstream stat("/proc/self/stat");
    std::string text;
    std::getline(stat, text);
    const std::size_t close = text.rfind(')');
    if (close == std::string::npos)
        return 0;
    std::istringstream fields(text.substr(close + 1));
    std::string field;
    for (int index = 3; index < 22 && fields >> field; ++index) {
    }
    std::uint64_t start = 0;
    return fields >> start ? start : 0;
}

bool createDirectory(const std::wstring& path)
{
    return ::mkdir(posix::hostPath(path).c_str(), 0777) == 0;
}

std::optional<std::string> narrowPath(const std::wstring& path)
{
    return posix::toUtf8(path);
}

std::optional<std::wstring> widePath(const std::string& path)
{
    if (path.empty())
        return std::nullopt;
    return fromUtf8(path);
}

FileContent readWholeFile(const std::wstring& path, std::size_t maxBytes)
{
    FileContent result;
    const auto host = hostOf(path);
    if (!host)
        return result;
    const int fd = posix::openRegularFile(*host);
    if (fd < 0) {
        result.status = errno == ENOENT || errno == ENOTDIR ? ReadStatus::Missing : ReadStatus::Failed;
        return result;
    }
    char chunk[65536];
    bool ok = true;
    for (;;) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 || result.bytes.size() + static_cast<std::size_t>(n) > maxBytes) {
            ok = false;
            break;
        }
        if (n == 0)
            break;
        result.bytes.append(chunk, static_cast<std::size_t>(n));
    }
    ::close(fd);
    if (!ok) {
        result.bytes.clear();
        return result;
    }
    result.status = ReadStatus::Ok;
    return result;
}

ReplaceStatus replaceFile(const std::wstring& path, std::string_view content)
{
    const auto host = hostOf(path);
    if (!host)
        return ReplaceStatus::Failed;
    switch (replaceHostFile(*host, content)) {
    case Replaced::Done:
        return ReplaceStatus::Done;
    case Replaced::FolderMissing:
        return ReplaceStatus::FolderMissing;
    default:
        return ReplaceStatus::Failed;
    }
}

SaveStatus saveCallerFile(const wchar_t* path, std::string_view content)
{
    if (path == nullptr || *path == L'\0')
        return SaveStatus::NotCreated;
    std::string host = posix::callerPath(path);
    // Through a link the file it names takes the new content; the link stays.
    if (char* resolved = ::realpath(host.c_str(), nullptr)) {
        host = resolved;
        std::free(resolved);
    }
    struct stat existing {};
    if (::stat(host.c_str(), &existing) == 0 && !S_ISREG(existing.st_mode))
        return writeInPlace(host, content);
    switch (replaceHostFile(host, content)) {
    case Replaced::Done:
        return SaveStatus::Saved;
    case Replaced::NameTooLong:
        return writeInPlace(host, content);
    case Replaced::NotWritten:
        return SaveStatus::NotWritten;
    default:
        return SaveStatus::NotCreated;
    }
}

const char* textLineEnd()
{
    return "\n";
}

} // namespace pelmux::platform
