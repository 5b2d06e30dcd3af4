// Runs the command-line tool as a child process (it inherits PELMUX_ROOT, so it reaches the test's
// simulated unit over the board socket).
#pragma once

#include <cstdio>
#include <string>
#include <sys/wait.h>
#include <utility>

namespace pelmux::test {

// Runs the tool with the given arguments, after `environment` ("NAME=value ...") when given;
// answers its exit code and standard output (with standard error after it when `withErrors`).
inline std::pair<int, std::string> runTool(const std::string& arguments, const std::string& environment = "",
                                           bool withErrors = false)
{
    const std::string command =
        environment + " " + PELMUX_TOOL + " " + arguments + (withErrors ? " 2>&1" : " 2>/dev/null");
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr)
        return {-1, {}};
    std::string output;
    char buffer[4096];
    std::size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
        output.append(buffer, n);
    const int status = ::pclose(pipe);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, output};
}

} // namespace pelmux::test
