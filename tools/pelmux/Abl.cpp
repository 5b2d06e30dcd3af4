// `pelmux abl run`: the automatic backlight controller in the foreground of this process, as a
// maintenance tool or a service would run it. Applications steer it with `pelmux backlight ...`.
#include "Cli.h"
#include "Stop.h"

#include "Server.h"
#include "ToolAccess.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <ctime>
#include <iomanip>
#include <iostream>
#include <mutex>
#include <sstream>
#include <thread>

namespace pelmux::cli {

namespace {

// Prints every trace text with the time it was made (the texts end with their own line break), or
// with --json each as a line {"time": ..., "trace": ...}.
void printTraces(bool json)
{
    static std::mutex printing;
    tool::traceTo([json](std::string_view text) {
        const auto now = std::chrono::system_clock::now();
        const auto ms =
            std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
        const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
        std::tm local{};
        ::localtime_r(&seconds, &local);
        std::ostringstream time;
        time << std::put_time(&local, "%H:%M:%S") << '.' << std::setw(3) << std::setfill('0') << ms;
        std::lock_guard lock(printing);
        if (json) {
            if (!text.empty() && text.back() == '\n')
                text.remove_suffix(1);
            printJsonLine({{"time", time.str()}, {"trace", std::string(text)}});
            return;
        }
        std::cout << time.str() << "  " << text;
        if (text.empty() || text.back() != '\n')
            std::cout << '\n';
        std::cout << std::flush;
    });
}

// Runs the controller until a signal or for `seconds`; with --json a line when it runs (and one
// per trace text) and one at the end.
int runController(bool withTrace, int seconds, const Options& options)
{
    // Ctrl-C and SIGTERM end the run through the orderly path below.
    StopSignals stop;
    if (withTrace)
        printTraces(options.json);

    Varnholt::PelmuxPrivate* maintenance = GetPelmuxPrivate();
    if (maintenance == nullptr) {
        std::cerr << "pelmux abl: the maintenance interface is not available\n";
        if (options.json)
            printJsonLine(failure(Varnholt::ERR_MEMORY_ALLOCATION_FAILED));
        return 1;
    }
    const Varnholt::ResultCode result = maintenance->startBacklightController();
    if (result != Varnholt::ERR_SUCCESS) {
        std::cerr << "pelmux abl: the controller did not start: " << describe(result) << '\n';
        if (options.json)
            printJsonLine(failure(result));
        maintenance->release();
        tool::traceTo({});
        return 1;
    }
    if (options.json)
        printJsonLine({{"result", 0}, {"running", true}});
    else
        std::cout << "Automatic backlight controller running (stop with Ctrl-C). Switch it with "
                     "`pelmux backlight auto on|off`."
                  << std::endl;
    const int signal = seconds > 0 ? stop.waitFor(std::chrono::seconds(seconds)) : stop.wait();
    // Releasing the interface stops the controller's thread and waits for it.
    maintenance->release();
    tool::traceTo({});
    if (options.json)
        printJsonLine(
            {{"result", 0}, {"running", false}, {"stoppedBy", signal != 0 ? stopName(signal) : "--seconds"}});
    else
        std::cout << "Controller stopped" << std::endl;
    return 0;
}

// Sets the simulated unit's illuminance, as `pelmux sim set lux` does.
bool setLux(int lux)
{
    const Json answer =
        sim::sendUnitCommand(tool::boardSocketPath(),
                             jsonText(Json{{"cmd", "set"}, {"path", "/lightSensor/lux"}, {"value", lux}}));
    return answer.value("ok", false);
}

// Waits up to `seconds` for the backlight level to reach `level`; answers the level last read.
int waitForLevel(Varnholt::Backlight& backlight, int level, int seconds)
{
    unsigned char now = 0;
    for (int i = 0; i < seconds * 10; ++i) {
        if (backlight.getIntensity(&now) == Varnholt::ERR_SUCCESS && now == level)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return now;
}

// Sets the illuminance and waits for the level the curve gives for what the sensor reads of it
// (the sensor's steps make 150 lux read as a little less).
bool tourStep(Varnholt::Backlight& backlight, Varnholt::Lightsensor& sensor, int lux, double k,
              const char* what)
{
    if (!setLux(lux))
        return false;
    std::uint16_t reading = 0;
    if (sensor.getIlluminance(&reading) != Varnholt::ERR_SUCCESS)
        return false;
    const int expected =
        static_cast<int>(std::clamp(k * std::log(std::max<double>(reading, 2)) - 10.0, 0.0, 254.0));
    const int level = waitForLevel(backlight, expected, 6);
    std::cout << "  " << lux << " lux" << what << " (the sensor reads " << reading << "): level " << level
              << (level == expected ? "" : " (expected " + std::to_string(expected) + ")") << '\n';
    return level == expected;
}

bool runTour()
{
    Varnholt::Backlight* backlight = GetBacklight();
    Varnholt::Lightsensor* sensor = GetLightsensor();
    Varnholt::PelmuxPrivate* maintenance = GetPelmuxPrivate();
    if (backlight == nullptr || sensor == nullptr || maintenance == nullptr)
        return false;
    // A short filter and direct steps, so that the tour does not wait for the controller's
    // smoothing: an average of 2 samples, no reject window, automatic range.
    bool all =
        backlight->setAutomaticBacklightFilter(2, 1, 50, Varnholt::RANGE_MODE_AUTO) == Varnholt::ERR_SUCCESS;
    all = backlight->setSoftTransitions(false) == Varnholt::ERR_SUCCESS && all;
    all = backlight->enableAutomaticBacklight() == Varnholt::ERR_SUCCESS && all;
    all = maintenance->startBacklightController() == Varnholt::ERR_SUCCESS && all;
    double k = 0;
    bool soft = false;
    backlight->getAutomaticBacklightParameters(&soft, &k);
    std::cout << "  controller started in this process: level = k ln(lux) - 10 with k " << k << '\n';
    all = tourStep(*backlight, *sensor, 20, k, "") && all;
    all = tourStep(*backlight, *sensor, 150, k, "") && all;

    // A person turns the backlight down by hand: the controller keeps that level and learns k.
    all = backlight->setIntensity(120) == Varnholt::ERR_SUCCESS && all;
    double learnt = k;
    for (int i = 0; i < 30 && learnt == k; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        backlight->getAutomaticBacklightParameters(&soft, &learnt);
    }
    unsigned char level = 0;
    backlight->getIntensity(&level);
    std::cout << "  set by hand to 120: level " << static_cast<int>(level) << ", k learnt " << k << " -> "
              << learnt << '\n';
    all = level == 120 && learnt != k && all;
    all = tourStep(*backlight, *sensor, 40, learnt, " on the learnt curve") && all;

    all = backlight->disableAutomaticBacklight() == Varnholt::ERR_SUCCESS && all;
    all = backlight->setSoftTransitions(true) == Varnholt::ERR_SUCCESS && all;
    maintenance->release(); // stops the controller and waits for its thread
    sensor->release();
    backlight->release();
    return all;
}

} // namespace

TourStep ablTour()
{
    return {"Automatic backlight controller", runTour};
}

void addAblCommands(CLI::App& app, const Options& options, int& exitCode)
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
    run->callback([&] { exitCode = runController(withTrace, seconds, options); });
}

} // namespace pelmux::cli
