// A child process that a test reads line by line and may kill at any moment (runCommand and
// Daemon of Process.h cover the processes that run to their end or stop when asked). It runs with
// the test's environment (PELMUX_ROOT).
#pragma once

#include "Process.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace pelmux::test {

// What a KillableProcess reads of its child.
struct ChildOutput {
    // Standard error comes in the same lines as standard output.
    bool withErrors = false;
    // The output pipe starts full: the child's first write waits until the test reads.
    bool stalled = false;
};

class KillableProcess {
public:
    explicit KillableProcess(const std::vector<std::string>& argv, ChildOutput options = {})
    {
        int pipeFds[2];
        if (::pipe2(pipeFds, O_CLOEXEC) != 0)
            return;
        if (options.stalled)
            fill(pipeFds[1]);
        std::vector<std::string> command = argv;
        if (options.withErrors)
            command.insert(command.begin(), {"/bin/sh", "-c", "exec \"$0\" \"$@\" 2>&1"});
        pid_ = spawn(command, std::string(), pipeFds[1], false);
        ::close(pipeFds[1]);
        out_ = pipeFds[0];
    }
    ~KillableProcess()
    {
        if (pid_ > 0 && !reaped_) {
            ::kill(pid_, SIGKILL);
            wait();
        }
        if (out_ >= 0)
            ::close(out_);
    }
    KillableProcess(const KillableProcess&) = delete;
    KillableProcess& operator=(const KillableProcess&) = delete;

    bool started() const { return pid_ > 0; }
    pid_t pid() const { return pid_; }

    // One line of the child's output without its line feed; empty at the end of the output.
    std::string readLine()
    {
        std::string line;
        char c;
        while (readByte(c) && c != '\n')
            line += c;
        return line;
    }
    // The output until it holds `text` or ends.
    std::string readUntil(const std::string& text)
    {
        std::string read;
        char c;
        while (!read.ends_with(text) && readByte(c))
            read += c;
        return read;
    }
    std::string readAll()
    {
        std::string text;
        char c;
        while (readByte(c))
            text += c;
        return text;
    }
    // Never signals a child that did not start: kill(-1) would reach every process of the user.
    void kill(int signal = SIGKILL)
    {
        if (pid_ > 0 && !reaped_)
            ::kill(pid_, signal);
    }
    // The exit code, or 128 + the signal that ended the child.
    int wait()
    {
        if (reaped_ || pid_ <= 0)
            return status_;
        reaped_ = true;
        status_ = waitExitCode(pid_);
        return status_;
    }
    // As wait(), but answers nullopt when the child still runs after `limit`.
    std::optional<int> waitFor(std::chrono::milliseconds limit)
    {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        int status = 0;
        while (!reaped_ && pid_ > 0 && ::waitpid(pid_, &status, WNOHANG) != pid_) {
            if (std::chrono::steady_clock::now() >= deadline)
                return std::nullopt;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        if (!reaped_ && pid_ > 0) {
            reaped_ = true;
            status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        return status_;
    }

private:
    // Fills the pipe with filler bytes, which reading skips, until not one more byte fits.
    static void fill(int writeEnd)
    {
        const int flags = ::fcntl(writeEnd, F_GETFL);
        ::fcntl(writeEnd, F_SETFL, flags | O_NONBLOCK);
        while (::write(writeEnd, &filler, 1) == 1) {
        }
        ::fcntl(writeEnd, F_SETFL, flags);
    }

    bool readByte(char& c)
    {
        ssize_t n;
        do {
            n = ::read(out_, &c, 1);
        } while ((n < 0 && errno == EINTR) || (n == 1 && c == filler));
        return n == 1;
    }

    static constexpr char filler = '\0';

    pid_t pid_ = -1;
    int out_ = -1;
    bool reaped_ = false;
    int status_ = -1;
};

} // namespace pelmux::test
