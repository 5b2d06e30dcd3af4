// `pelmux light`: the ambient light sensor, one reading or an averaging calculation.
#include "Cli.h"
#include "Stop.h"

#include <chrono>
#include <cstdio>
#include <iostream>

namespace pelmux::cli {

namespace {

// The averaging settings the automatic backlight controller starts with.
constexpr std::uint32_t averageWindow = 5;
constexpr std::uint32_t rejectWindow = 5;
constexpr std::uint32_t rejectDeltaLux = 50;

std::string hexByte(unsigned value)
{
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", value & 0xFFu);
    return text;
}

const char* rangeName(std::int32_t range)
{
    return range == Varnholt::RANGE_EXTENDED ? "extended" : "standard";
}

// What a saturated reading means in `range`.
std::string saturatedText(std::int32_t range)
{
    return range == Varnholt::RANGE_EXTENDED ? "saturated: more light than the extended range reads"
                                             : "saturated: use the extended range";
}

void printFailure(const char* what, Varnholt::ResultCode result, const Options& options)
{
    if (options.json) {
        printJson(failure(result));
        return;
    }
    std::cout << "  " << what << "  error: " << describe(result) << '\n';
    if (const auto hint = driverHint(result); !hint.empty())
        std::cout << hint << '\n';
}

bool showReading(bool raw, const Options& options)
{
    Varnholt::Lightsensor* sensor = GetLightsensor();
    std::uint16_t lux = 0;
    unsigned char channel1 = 0;
    unsigned char channel2 = 0;
    std::int32_t range = 0;
    auto result = sensor->getIlluminanceChannels(&lux, &channel1, &channel2);
    // Channel 1 at full scale: the library reads the range's largest value.
    const bool saturated = result == Varnholt::ERR_SUCCESS && (channel1 & 0x7F) == 0x7F;
    if (result == Varnholt::ERR_SUCCESS && (raw || saturated))
        result = sensor->getOperatingRange(&range);
    sensor->release();
    if (result != Varnholt::ERR_SUCCESS) {
        printFailure("Illuminance", result, options);
        return false;
    }
    if (options.json) {
        Json reading = {{"result", 0}, {"lux", lux}};
        if (saturated)
            reading["saturated"] = saturatedText(range);
        if (raw) {
            reading["channel1"] = channel1;
            reading["channel2"] = channel2;
            reading["range"] = rangeName(range);
        }
        printJson(reading);
        return true;
    }
    std::vector<std::pair<std::string, std::string>> rows{
        {"Illuminance", std::to_string(lux) + " lx" + (saturated ? " (" + saturatedText(range) + ")" : "")}};
    if (raw) {
        rows.emplace_back("Channel 1", hexByte(channel1));
        rows.emplace_back("Channel 2", hexByte(channel2));
        rows.emplace_back("Range", rangeName(range));
    }
    printTable(rows);
    return true;
}

// Averages for `seconds`, printing the average once a second, then stops the calculation. Ctrl-C
// or SIGTERM end it early the same way: the calculation stopped, the sensor released (which gives
// the session's averaging lock back), the averages so far printed. Answers the exit code.
int runAverage(unsigned seconds, const Options& options)
{
    StopSignals stop;
    Varnholt::Lightsensor* sensor = GetLightsensor();
    const auto started =
        sensor->startAverageCalc(averageWindow, rejectWindow, rejectDeltaLux, Varnholt::RANGE_MODE_AUTO);
    if (started != Varnholt::ERR_SUCCESS) {
        sensor->release();
        printFailure("Averaging", started, options);
        return 1;
    }
    Json samples = Json::array();
    bool allRead = true;
    int signal = 0;
    for (unsigned second = 1; second <= seconds; ++second) {
        if ((signal = stop.waitFor(std::chrono::seconds(1))) != 0)
            break;
        std::uint16_t lux = 0;
        const auto result = sensor->getAverageIlluminance(&lux);
        samples.push_back(outcome(result, {{"lux", lux}}));
        samples.back()["second"] = second;
        if (result == Varnholt::ERR_SUCCESS) {
            if (!options.json)
                std::cout << "  " << second << " s  " << lux << " lx" << std::endl;
        } else {
            allRead = false;
            if (!options.json)
                std::cout << "  " << second << " s  error: " << describe(result) << std::endl;
        }
    }
    sensor->stopAverageCalc();
    sensor->release();
    if (options.json)
        printJson(samples);
    if (signal != 0) {
        std::cerr << "pelmux light: " << stopName(signal) << "; the averaging is stopped.\n";
        return stoppedExitCode(signal);
    }
    return allRead ? 0 : 1;
}

} // namespace

void addLightCommands(CLI::App& app, const Options& options, int& exitCode)
{
    static bool raw = false;
    static unsigned seconds = 0;
    auto* light = app.add_subcommand("light", "Ambient light: one reading in lux, or an average over time");
    auto* rawFlag = light->add_flag("--raw", raw, "Show the raw channel bytes and the operating range too");
    auto* average = light->add_option("--average", seconds,
                                      "Run an averaging calculation for SECONDS, printing the average "
                                      "once a second");
    average->check(CLI::Range(1u, 86400u));
    rawFlag->excludes(average);
    light->callback([&, average] {
        if (average->count() > 0)
            exitCode = runAverage(seconds, options);
        else
            exitCode = showReading(raw, options) ? 0 : 1;
    });
}

TourStep lightTour()
{
    return {"Ambient light", [] { return showReading(true, Options{}); }};
}

} // namespace pelmux::cli
