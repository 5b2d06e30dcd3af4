// `pelmux buzzer`: the unit's buzzer: its tone (frequency and volume), whether it sounds, and
// timed buzzes (one at a time in the session).
#include "Cli.h"
#include "Stop.h"

#include <chrono>
#include <iostream>
#include <thread>

namespace pelmux::cli {

namespace PELMUX_FILE_SCOPE {

using Varnholt::Buzzer;
using Varnholt::ResultCode;

// Runs `use` on a buzzer object and gives it back (which waits for a timed buzz it started).
template <class Use> bool withBuzzer(const char* command, Use use)
{
    return withObject(GetBuzzer, "buzzer", command, "buzzer object", use);
}

// What a failed change adds: a timed buzz refused because another one runs says when to try again.
std::string buzzerHint(ResultCode result)
{
    if (result == Varnholt::ERR_FUNCTION_IN_PROGRESS)
        return "Another timed buzz is running in this session; try again when it has ended.";
    return driverHint(result);
}

bool showBuzzer(const Options& options)
{
    return withBuzzer("", [&](Buzzer& buzzer) {
        Readings readings;
        std::uint16_t frequency = 0;
        ResultCode result = buzzer.getFrequency(frequency);
        readings.add("frequency", "Frequency", result, {{"value", frequency}},
                     std::to_string(frequency) + " Hz");
        std::uint16_t volume = 0;
        result = buzzer.getVolume(volume);
        readings.add("volume", "Volume", result, {{"value", volume}}, std::to_string(volume) + " of 51");
        bool on = false;
        result = buzzer.isSounding(on);
        readings.add("sounding", "Sounding", result, {{"on", on}}, on ? "yes" : "no");
        return readings.print(options);
    });
}

bool setTone(int frequency, int volume, const Options& options)
{
    return withBuzzer(" tone", [&](Buzzer& buzzer) {
        ResultCode result = buzzer.setFrequency(static_cast<std::uint16_t>(frequency));
        if (result == Varnholt::ERR_SUCCESS)
            result = buzzer.setVolume(static_cast<std::uint16_t>(volume));
        return reportChange(result, options,
                            "Buzzer tone " + std::to_string(frequency) + " Hz, volume " +
                                std::to_string(volume) + ".",
                            {{"frequency", frequency}, {"volume", volume}},
                            {.command = "buzzer tone", .hintFor = buzzerHint});
    });
}

// A buzz longer than this is refused unless the user insists (--long): a zero too many would
// otherwise sound for minutes.
constexpr std::uint32_t longBuzzMs = 10000;

// Switches the buzzer off after a stop. The buzz switches it on first thing; a stop that came before
// that would be undone by it, so this waits (briefly) until the unit reports the buzzer on.
ResultCode switchOff(Buzzer& buzzer)
{
    bool on = false;
    for (int i = 0; i < 50 && buzzer.isSounding(on) == Varnholt::ERR_SUCCESS && !on; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return buzzer.setSounding(false);
}

// The library cannot cut a timed buzz short and its thread sleeps on: the buzzer is switched off
// here and the process ends, which gives the session's buzzing lock back.
[[noreturn]] void stopBuzz(Buzzer& buzzer, int signal)
{
    const ResultCode off = switchOff(buzzer);
    std::cerr << "pelmux buzzer buzz: " << stopName(signal) << "; "
              << (off == Varnholt::ERR_SUCCESS ? "the buzzer is off."
                                               : "the buzzer could not be switched off: " + describe(off))
              << '\n';
    endAfterStop(signal);
}

// --wait buzzes on a thread of the tool (a blocking buzz); without it the library's own thread
// buzzes, and the tool still stays until that buzz has ended (giving the object back waits for it),
// or the buzzer would stay on. Ctrl-C or SIGTERM switch the buzzer off and end the tool.
bool buzz(std::uint32_t durationMs, bool wait, const Options& options)
{
    StopSignals stop;
    Buzzer* buzzer = GetBuzzer();
    if (buzzer == nullptr) {
        std::cerr << "pelmux buzzer buzz: no memory for the buzzer object\n";
        return false;
    }
    ResultCode result = Varnholt::ERR_SUCCESS;
    if (wait) {
        if (const int signal = stop.runUntilStopped([&] { result = buzzer->buzz(durationMs, true); }))
            stopBuzz(*buzzer, signal);
    } else {
        result = buzzer->buzz(durationMs, false);
    }
    const bool ok = reportChange(result, options,
                                 wait ? "Buzzed for " + std::to_string(durationMs) + " ms."
                                      : "Buzzing for " + std::to_string(durationMs) + " ms.",
                                 {{"durationMs", durationMs}, {"waited", wait}},
                                 {.command = "buzzer buzz", .hintFor = buzzerHint});
    std::cout.flush();
    if (const int signal = stop.runUntilStopped([&] { buzzer->release(); }))
        stopBuzz(*buzzer, signal);
    return ok;
}

} // namespace PELMUX_FILE_SCOPE

void addBuzzerCommands(CLI::App& app, const Options& options, int& exitCode)
{
    using namespace PELMUX_FILE_SCOPE;
    auto* buzzer =
        app.add_subcommand("buzzer", "The buzzer: tone and timed buzzes (without a subcommand: show)");
    buzzer->callback([&, buzzer] {
        if (buzzer->get_subcommands().empty())
            exitCode = showBuzzer(options) ? 0 : 1;
    });

    // Option values live as long as the App, which outlives every callback.
    static int frequency = 0;
    static int volume = 0;
    auto* tone = buzzer->add_subcommand("tone", "Set the tone");
    tone->add_option("hz", frequency, "700 to 10000 Hz")->required()->check(CLI::Range(700, 10000));
    tone->add_option("volume", volume, "0 to 51")->required()->check(CLI::Range(0, 51));
    tone->callback([&] { exitCode = setTone(frequency, volume, options) ? 0 : 1; });

    static std::uint32_t durationMs = 0;
    static bool wait = false;
    static bool longBuzz = false;
    auto* buzzCommand = buzzer->add_subcommand(
        "buzz", "Sound the buzzer for a time (one timed buzz at a time in the session); the tool returns "
                "when the buzz has ended. Ctrl-C or SIGTERM switch the buzzer off and end the tool");
    buzzCommand->add_option("ms", durationMs, "milliseconds, up to 10000 (more with --long)")->required();
    buzzCommand->add_flag("--wait", wait,
                          "Buzz on the tool's own thread (a blocking buzz) instead of the library's");
    buzzCommand->add_flag("--long", longBuzz, "Allow a buzz longer than 10000 ms");
    buzzCommand->callback([&] {
        if (durationMs > longBuzzMs && !longBuzz)
            throw CLI::ValidationError("pelmux buzzer buzz",
                                       std::to_string(durationMs) + " ms is longer than " +
                                           std::to_string(longBuzzMs) + " ms; give --long to buzz that long");
        exitCode = buzz(durationMs, wait, options) ? 0 : 1;
    });
}

TourStep buzzerTour()
{
    using namespace PELMUX_FILE_SCOPE;
    return {"Buzzer", [] {
                const Options quiet{};
                bool all = setTone(2500, 20, quiet);
                all = buzz(150, true, quiet) && all;
                std::cout << '\n';
                return showBuzzer(quiet) && all;
            }};
}

} // namespace pelmux::cli
