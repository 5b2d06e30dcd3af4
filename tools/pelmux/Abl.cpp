// `pelmux abl run`: the automatic backlight controller in the foreground of this process, as a
// maintenance tool or a service would run it. Applications steer it with `pelmux backlight ...`.
#include "Cli.h"

#include "exports/ToolAccess.h"

#include <chrono>
#include <csignal>
#include <ctime>
#include <iomanip>
#include <iostream>
#include <mutex>
#include <pthread.h>

namespace pelmux::cli {

namespace {

// Prints every trace text with the time it was made (the texts end with their own line break).
void printTraces()
{
    static std::mutex printing;
    tool::traceTo([](std::string_view text) {
        const auto now = std::chrono::system_clock::now();
        const auto ms =
            std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
        const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
        std::tm local{};
        ::localtime_r(&seconds, &local);
        std::lock_guard lock(printing);
        std::cout << std::put_time(&local, "%H:%M:%S") << '.' << std::setw(3) << std::setfill('0') << ms
                  << std::setfill(' ') << "  " << text;
        if (text.empty() || text.back() != '\n')
            std::cout << '\n';
        std::cout << std::flush;
    });
}

int runController(bool withTrace, int seconds)
{
    // Ctrl-C and SIGTERM end the run through the orderly path below.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    if (withTrace)
        printTraces();

    Varnholt::PelmuxPrivate* maintenance = GetPelmuxPrivate();
    if (maintenance == nullptr) {
        std::cerr << "pelmux abl: the maintenance interface is not available\n";
        return 1;
    }
    const Varnholt::ResultCode result = maintenance->startBacklightController();
    if (result != Varnholt::ERR_SUCCESS) {
        std::cerr << "pelmux abl: the controller did not start: " << describe(result) << '\n';
        maintenance->release();
        return 1;
    }
    std::cout << "Automatic backlight controller running (stop with Ctrl-C). Switch it with "
                 "`pelmux backlight auto on|off`."
              << std::endl;
    if (seconds > 0) {
        const timespec limit{seconds, 0};
        sigtimedwait(&stopSignals, nullptr, &limit);
    } else {
        int signal = 0;
        sigwait(&stopSignals, &signal);
    }
    // Releasing the interface stops the controller's thread and waits for it.
    maintenance->release();
    tool::traceTo({});
    std::cout << "Controller stopped" << std::endl;
    return 0;
}

} // namespace

void addAblCommands(CLI::App& app, const Options&, int& exitCode)
{
    static bool withTrace = false;
    static int seconds = 0;
    auto* abl = app.add_subcommand("abl", "The automatic backlight controller");
    abl->require_subcommand(1);
    auto* run = abl->add_subcommand(
        "run", "Run the controller in this process until Ctrl-C: it follows the light sensor's average "
               "and learns a level set by hand (enable it with `pelmux backlight auto on`)");
    run->add_flag("--trace", withTrace, "Print the controller's trace texts as they are made");
    run->add_option("--seconds", seconds, "Stop after this many seconds (default: run until stopped)")
        ->check(CLI::NonNegativeNumber);
    run->callback([&] { exitCode = runController(withTrace, seconds); });
}

} // namespace pelmux::cli
