#include "platform/posix/Root.h"

#include "platform/board/Connection.h"

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace pelmux::platform::posix {

namespace {

std::string octal(unsigned mode)
{
    char text[8];
    std::snprintf(text, sizeof text, "%04o", mode & 07777u);
    return text;
}

} // namespace

std::string privateFolderProblem(const std::string& folder)
{
    const std::string advice = "; set PELMUX_ROOT to a folder of your own";
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
        return "pelmux: cannot make the folder " + folder + advice;
    struct stat info {};
    if (::lstat(folder.c_str(), &info) != 0)
        return "pelmux: cannot inspect the folder " + folder + advice;
    if (!S_ISDIR(info.st_mode))
        return "pelmux: refusing " + folder + ": it is not a folder (a link or a file)" + advice;
    if (info.st_uid != ::getuid())
        return "pelmux: refusing " + folder + ": it belongs to user " + std::to_string(info.st_uid) +
               ", not to you (user " + std::to_string(::getuid()) + ")" + advice;
    if ((info.st_mode & (S_IWGRP | S_IWOTH)) != 0)
        return "pelmux: refusing " + folder + ": other users may write it (mode " + octal(info.st_mode) +
               ")" + advice;
    return {};
}

std::string root()
{
    if (const char* env = std::getenv("PELMUX_ROOT"); env != nullptr && *env != '\0')
        return env;
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    const std::string folder = runtime != nullptr && *runtime == '/'
                                   ? std::string(runtime) + "/pelmux"
                                   : "/tmp/pelmux-" + std::to_string(::getuid());
    const std::string problem = privateFolderProblem(folder);
    if (problem.empty())
        return folder;
    static std::atomic<bool> told{false};
    if (!told.exchange(true))
        std::fprintf(stderr, "%s\n", problem.c_str());
    return {};
}

std::string boardSocketPath()
{
    const std::string folder = root();
    return folder.empty() ? folder : folder + "/board.sock";
}

int flockRetrying(int fd, int operation)
{
    int rc;
    do {
        rc = ::flock(fd, operation);
    } while (rc != 0 && errno == EINTR);
    return rc;
}

int openRegularFile(const std::string& hostPath)
{
    // Without O_NONBLOCK a FIFO would wait for a writer before the type could be tested.
    const int fd = ::open(hostPath.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return -1;
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        const int error = S_ISDIR(info.st_mode) ? EISDIR : EACCES;
        ::close(fd);
        errno = error;
        return -1;
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0)
        ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    return fd;
}

std::string toUtf8(const std::wstring& text)
{
    return board::utf8Of(text.data(), text.size());
}

std::string callerPath(const wchar_t* path)
{
    std::string bytes;
    for (const wchar_t* c = path; *c != L'\0'; ++c) {
        if (static_cast<std::uint32_t>(*c) <= 0xFF)
            bytes.push_back(static_cast<char>(static_cast<unsigned char>(*c)));
        else
            bytes += toUtf8(std::wstring(1, *c));
    }
    return bytes;
}

std::string hostPath(const std::wstring& windowsPath)
{
    std::string path = toUtf8(windowsPath);
    for (char& c : path)
        if (c == '\\')
            c = '/';
    const bool hasDrive = path.size() >= 2 && path[1] == ':' &&
                          ((path[0] >= 'a' && path[0] <= 'z') || (path[0] >= 'A' && path[0] <= 'Z'));
    if (!hasDrive)
        return path;
    char drive = path[0];
    if (drive >= 'a' && drive <= 'z')
        drive = static_cast<char>(drive - 'a' + 'A');
    std::string rest = path.substr(2);
    if (rest.empty() || rest.front() != '/')
        rest.insert(rest.begin(), '/');
    const std::string folder = root();
    if (folder.empty())
        return folder;
    return folder + "/" + drive + rest;
}

} // namespace pelmux::platform::posix
