// `pelmux buzzer`: the unit's buzzer: its tone (frequency and volume), whether it sounds, and
// timed buzzes (one at a time in the session).
#include "Cli.h"

#include <iostream>

namespace pelmux::cli {

namespace {

using Varnholt::Buzzer;
using Varnholt::ResultCode;

// Runs `use` on a buzzer object and gives it back (which waits for a timed buzz it started).
template <class Use> bool withBuzzer(const char* command, Use use)
{
    return withObject(GetBuzzer, "buzzer", command, "buzzer object", use);
}

bool report(const char* command, ResultCode result, const Options& options, const std::string& done,
            Json data)
{
    const bool ok = result == Varnholt::ERR_SUCCESS;
    if (options.json) {
        if (ok)
            data["result"] = 0;
        printJson(ok ? data : failure(result));
    } else if (ok) {
        std::cout << done << '\n';
    } else {
        std::cerr << "pelmux buzzer " << command << ": " << describe(result) << '\n';
        if (result == Varnholt::ERR_FUNCTION_IN_PROGRESS)
            std::cerr << "Another timed buzz is running in this session; try again when it has ended.\n";
        const std::string hint = driverHint(result);
        if (!hint.empty())
            std::cerr << hint << '\n';
    }
    return ok;
}

bool showBuzzer(const Options& options)
{
    return withBuzzer("", [&](Buzzer& buzzer) {
        Json json = Json::object();
        std::vector<std::pair<std::string, std::string>> rows;
        bool all = true;
        const auto add = [&](const char* key, const char* label, ResultCode result, Json value,
                             std::string text) {
            if (result != Varnholt::ERR_SUCCESS) {
                json[key] = failure(result);
                rows.emplace_back(label, "error: " + describe(result));
                all = false;
                return;
            }
            value["result"] = 0;
            json[key] = std::move(value);
            rows.emplace_back(label, std::move(text));
        };
        std::uint16_t frequency = 0;
        ResultCode result = buzzer.getFrequency(frequency);
        add("frequency", "Frequency", result, {{"value", frequency}}, std::to_string(frequency) + " Hz");
        std::uint16_t volume = 0;
        result = buzzer.getVolume(volume);
        add("volume", "Volume", result, {{"value", volume}}, std::to_string(volume) + " of 51");
        bool on = false;
        result = buzzer.isSounding(on);
        add("sounding", "Sounding", result, {{"on", on}}, on ? "yes" : "no");
        if (options.json) {
            printJson(json);
        } else {
            printTable(rows);
            const std::string hint = driverHint(result);
            if (!hint.empty())
                std::cout << hint << '\n';
        }
        return all;
    });
}

bool setTone(int frequency, int volume, const Options& options)
{
    return withBuzzer(" tone", [&](Buzzer& buzzer) {
        ResultCode result = buzzer.setFrequency(static_cast<std::uint16_t>(frequency));
        if (result == Varnholt::ERR_SUCCESS)
            result = buzzer.setVolume(static_cast<std::uint16_t>(volume));
        return report("tone", result, options,
                      "Buzzer tone " + std::to_string(frequency) + " Hz, volume " + std::to_string(volume) +
                          ".",
                      {{"frequency", frequency}, {"volume", volume}});
    });
}

// --wait buzzes on this thread; without it the library's own thread buzzes, and the tool still stays
// until that buzz has ended (giving the object back waits for it), or the buzzer would stay on.
bool buzz(std::uint32_t durationMs, bool wait, const Options& options)
{
    return withBuzzer(" buzz", [&](Buzzer& buzzer) {
        const ResultCode result = buzzer.buzz(durationMs, wait);
        return report("buzz", result, options,
                      wait ? "Buzzed for " + std::to_string(durationMs) + " ms."
                           : "Buzzing for " + std::to_string(durationMs) + " ms.",
                      {{"durationMs", durationMs}, {"waited", wait}});
    });
}

} // namespace

void addBuzzerCommands(CLI::App& app, const Options& options, int& exitCode)
{
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
    auto* buzzCommand = buzzer->add_subcommand(
        "buzz", "Sound the buzzer for a time (one timed buzz at a time in the session); the tool returns "
                "when the buzz has ended");
    buzzCommand->add_option("ms", durationMs, "milliseconds")->required();
    buzzCommand->add_flag("--wait", wait,
                          "Buzz on the tool's own thread (a blocking buzz) instead of the library's");
    buzzCommand->callback([&] { exitCode = buzz(durationMs, wait, options) ? 0 : 1; });
}

TourStep buzzerTour()
{
    return {"Buzzer", [] {
                const Options quiet{};
                bool all = setTone(2500, 20, quiet);
                all = buzz(150, true, quiet) && all;
                std::cout << '\n';
                return showBuzzer(quiet) && all;
            }};
}

} // namespace pelmux::cli
