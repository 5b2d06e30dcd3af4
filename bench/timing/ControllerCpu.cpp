// CPU time of a process that runs the automatic backlight controller with its light-sensor
// averaging, as a share of one core. The controller runs in a child (`pelmux abl run`) against a
// simulated unit served by this process; only the child's own CPU time counts.
//
//   pelmux_controller_cpu [SECONDS]   (default 60)
#include <pelmux/Pelmux.h>

#include "Server.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <iostream>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

int main(int argc, char** argv)
{
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 60;
    if (seconds <= 0) {
        std::cerr << "usage: pelmux_controller_cpu [SECONDS]\n";
        return 2;
    }
    char pattern[] = "/tmp/pelmux-bench-XXXXXX";
    const std::string root = ::mkdtemp(pattern);
    ::setenv("PELMUX_ROOT", root.c_str(), 1);
    ::unsetenv("PELMUX_TIME_SCALE");
    int exitCode = 0;
    {
        pelmux::sim::SimulatedUnit unit(root, pelmux::sim::defaultProfile());

        // The application side switches the controller on before it starts, so that it runs at once.
        Varnholt::Backlight* backlight = GetBacklight();
        if (backlight == nullptr || backlight->enableAutomaticBacklight() != Varnholt::ERR_SUCCESS) {
            std::cerr << "the backlight interface cannot enable the controller\n";
            return 1;
        }
        backlight->release();

        const auto started = std::chrono::steady_clock::now();
        const pid_t child = ::fork();
        if (child == 0) {
            const int devNull = ::open("/dev/null", O_WRONLY);
            ::dup2(devNull, 1);
            const std::string limit = std::to_string(seconds);
            ::execl(PELMUX_TOOL, PELMUX_TOOL, "abl", "run", "--seconds", limit.c_str(), nullptr);
            ::_exit(127);
        }
        int status = 0;
        rusage usage{};
        while (::wait4(child, &status, 0, &usage) < 0) {
        }
        const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        const double cpu = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
        const double share = 100.0 * cpu / wall;
        const pelmux::sim::Json state = unit.unit().snapshot();
        const pelmux::sim::Json::json_pointer history("/backlight/history");
        const std::size_t levels = state.contains(history) ? state[history].size() : 0;
        std::printf("controller with averaging: %.3f s CPU in %.1f s = %.3f%% of one core (goal below 0.2%%)\n",
                    cpu, wall, share);
        std::printf("levels the controller set meanwhile: %zu\n", levels);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            std::cerr << "the controller process did not end cleanly\n";
            exitCode = 1;
        }
    }
    std::filesystem::remove_all(root);
    return exitCode;
}
