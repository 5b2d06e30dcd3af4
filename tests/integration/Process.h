// Child processes for integration tests: run a command to completion, or keep one running.
#pragma once

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace pelmux::test {

struct CommandResult {
    int exitCode = -1;
    std::string output; // standard output
};

// Starts argv in a child. Its standard output goes to `stdoutFd` (kept when -1), its standard
// error to /dev/null when `quiet`; PELMUX_ROOT is set to `root` unless that is empty.
inline pid_t spawn(const std::vector<std::string>& argv, const std::string& root, int stdoutFd, bool quiet)
{
    const pid_t pid = ::fork();
    if (pid != 0)
        return pid;
    if (stdoutFd >= 0)
        ::dup2(stdoutFd, 1);
    if (quiet)
        std::freopen("/dev/null", "w", stderr);
    if (!root.empty())
        ::setenv("PELMUX_ROOT", root.c_str(), 1);
    std::vector<char*> args;
    for (const auto& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    ::execv(args[0], args.data());
    ::_exit(127);
}

// The exit code of a waited-for child, or 128 + the signal that ended it.
inline int waitExitCode(pid_t pid)
{
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Runs argv with PELMUX_ROOT=root and waits for it; standard error is discarded.
inline CommandResult runCommand(const std::vector<std::string>& argv, const std::string& root)
{
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0)
        return {};
    const pid_t pid = spawn(argv, root, pipeFds[1], true);
    ::close(pipeFds[1]);
    CommandResult result;
    char buffer[4096];
    ssize_t n;
    while ((n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0)
        result.output.append(buffer, static_cast<std::size_t>(n));
    ::close(pipeFds[0]);
    result.exitCode = waitExitCode(pid);
    return result;
}

// A process that keeps running until stopped (SIGTERM, then waited for).
class Daemon {
public:
    Daemon(const std::vector<std::string>& argv, const std::string& root)
    {
        const int devNull = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
        pid_ = spawn(argv, root, devNull, true);
        ::close(devNull);
    }
    ~Daemon()
    {
        if (pid_ > 0)
            stop();
    }
    // Sends SIGTERM and answers the exit code.
    int stop()
    {
        ::kill(pid_, SIGTERM);
        const int code = waitExitCode(pid_);
        pid_ = -1;
        return code;
    }

private:
    pid_t pid_ = -1;
};

// Waits up to 10 s for a path to appear.
inline bool waitForPath(const std::string& path)
{
    for (int i = 0; i < 1000; ++i) {
        if (std::filesystem::exists(path))
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

} // namespace pelmux::test
