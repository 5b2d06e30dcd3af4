// `pelmux backlight`: the display backlight level and the settings of the automatic backlight
// controller (which the controller reads from the settings file when it is told to).
#include "Cli.h"

#include <cstdio>
#include <iostream>

namespace pelmux::cli {

namespace PELMUX_FILE_SCOPE {

using Varnholt::Backlight;
using Varnholt::ResultCode;

constexpr const char* filterHelp =
    "AVERAGE: how many accepted light readings are averaged (at least 1); REJECT: how many newest "
    "readings are compared before one is accepted (0 or 1: every reading is accepted); DELTA: the "
    "largest spread in lux among those readings that still accepts one (at least 1); MODE: the light "
    "sensor's range, 0 standard, 1 extended (five times the standard range), 2 automatic. The values "
    "are judged when the controller starts averaging with them";

constexpr const char* settingsHint =
    "A setting of the automatic backlight is missing from the settings file or is not a number: the "
    "controller writes its defaults when it starts; `pelmux backlight auto`, `soft` and `filter` set them.";

std::string backlightHint(ResultCode result)
{
    return result == Varnholt::ERR_DATATYPE_MISMATCH ? settingsHint : driverHint(result);
}

// The preference is in the settings file whatever the service answered.
std::string ledDimmingHint(ResultCode result)
{
    if (result == Varnholt::ERR_OPEN_FAILED)
        return "UseLEDDimming is written, but the service PelmuxService could not be opened.";
    if (result == Varnholt::ERR_EXECUTE_COMMAND_FAILED)
        return "UseLEDDimming is written, but the service PelmuxService refused the control code.";
    return driverHint(result);
}

const char* onOff(bool on)
{
    return on ? "on" : "off";
}

const char* modeName(std::int32_t mode)
{
    switch (mode) {
    case Varnholt::RANGE_MODE_STANDARD:
        return "standard";
    case Varnholt::RANGE_MODE_EXTENDED:
        return "extended";
    case Varnholt::RANGE_MODE_AUTO:
        return "automatic";
    default:
        return "not a range mode";
    }
}

std::string number(double value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

// Runs `use` on the process's backlight object and gives the reference back.
template <class Use> bool withBacklight(const char* command, Use use)
{
    return withObject(GetBacklight, "backlight", command, "backlight object", use);
}

// Collects the readings of one command: a JSON field and a table row each.

void readParameters(Backlight& backlight, Readings& readings)
{
    bool soft = false;
    double k = 0.0;
    const ResultCode result = backlight.getAutomaticBacklightParameters(&soft, &k);
    readings.add("parameters", "Soft transitions, k", result, {{"softTransitions", soft}, {"k", k}},
                 std::string(onOff(soft)) + ", k = " + number(k));
}

void readFilter(Backlight& backlight, Readings& readings)
{
    std::int32_t average = 0;
    std::int32_t reject = 0;
    std::int32_t delta = 0;
    std::int32_t mode = 0;
    const ResultCode result = backlight.getAutomaticBacklightFilter(&average, &reject, &delta, &mode);
    readings.add(
        "filter", "Filter", result,
        {{"averageWndSize", average}, {"rejectWndSize", reject}, {"rejectDeltaInLux", delta}, {"mode", mode}},
        "average " + std::to_string(average) + ", reject " + std::to_string(reject) + ", delta " +
            std::to_string(delta) + " lux, mode " + std::to_string(mode) + " (" + modeName(mode) + ")");
}

void readLedDimming(Backlight& backlight, Readings& readings)
{
    bool dimming = false;
    const ResultCode result = backlight.getLedDimming(&dimming);
    readings.add("ledDimming", "LED dimming", result, {{"enabled", dimming}}, onOff(dimming));
}

bool showBacklight(const Options& options)
{
    return withBacklight("get", [&](Backlight& backlight) {
        Readings readings;
        readings.hintFor = backlightHint;
        unsigned char level = 0;
        ResultCode result = backlight.getIntensity(&level);
        readings.add("level", "Level", result, {{"value", level}}, std::to_string(level) + " of 255");
        unsigned char status = 0;
        result = backlight.getStatus(&status);
        char hex[8];
        std::snprintf(hex, sizeof hex, "0x%02X", status);
        readings.add("status", "Status", result, {{"value", status}},
                     std::string(hex) + " (" + std::to_string(status) + ")");
        bool automatic = false;
        result = backlight.getAutomaticBacklightStatus(&automatic);
        readings.add("automatic", "Automatic backlight", result, {{"enabled", automatic}}, onOff(automatic));
        readParameters(backlight, readings);
        readFilter(backlight, readings);
        readLedDimming(backlight, readings);
        readings.print(options);
        return readings.all;
    });
}

bool showOne(const char* command, void (*read)(Backlight&, Readings&), const Options& options)
{
    return withBacklight(command, [&](Backlight& backlight) {
        Readings readings;
        readings.hintFor = backlightHint;
        read(backlight, readings);
        readings.print(options);
        return readings.all;
    });
}

bool setLevel(int level, const Options& options)
{
    return withBacklight("set", [&](Backlight& backlight) {
        const ResultCode result = backlight.setIntensity(static_cast<unsigned char>(level));
        return reportChange(result, options, "Backlight level " + std::to_string(level) + ".",
                            {{"level", level}});
    });
}

bool setAutomatic(bool on, const Options& options)
{
    return withBacklight("auto", [&](Backlight& backlight) {
        const ResultCode result =
            on ? backlight.enableAutomaticBacklight() : backlight.disableAutomaticBacklight();
        return reportChange(result, options, std::string("Automatic backlight ") + onOff(on) + ".",
                            {{"automatic", on}});
    });
}

bool setSoft(bool on, const Options& options)
{
    return withBacklight("soft", [&](Backlight& backlight) {
        const ResultCode result = backlight.setSoftTransitions(on);
        return reportChange(result, options, std::string("Soft transitions ") + onOff(on) + ".",
                            {{"softTransitions", on}});
    });
}

bool setFilter(const std::vector<std::int32_t>& values, const Options& options)
{
    return withBacklight("filter", [&](Backlight& backlight) {
        const ResultCode result =
            backlight.setAutomaticBacklightFilter(values[0], values[1], values[2], values[3]);
        return reportChange(result, options,
                            "Filter: average " + std::to_string(values[0]) + ", reject " +
                                std::to_string(values[1]) + ", delta " + std::to_string(values[2]) +
                                " lux, mode " + std::to_string(values[3]) + ".",
                            {{"averageWndSize", values[0]},
                             {"rejectWndSize", values[1]},
                             {"rejectDeltaInLux", values[2]},
                             {"mode", values[3]}});
    });
}

bool setLedDimming(bool on, const Options& options)
{
    return withBacklight("led-dimming", [&](Backlight& backlight) {
        const ResultCode result = backlight.setLedDimming(on ? 1 : 0);
        return reportChange(result, options, std::string("LED dimming ") + onOff(on) + ".",
                            {{"ledDimming", on}}, {.hintFor = ledDimmingHint});
    });
}

// The filter as the help states it, judged before it reaches the settings file (the library stores
// any numbers and the controller would refuse them only when it starts averaging).
void checkFilter(const std::vector<std::int32_t>& values)
{
    struct Limit {
        const char* name;
        std::int32_t low, high;
    };
    constexpr Limit limits[] = {
        {"AVERAGE", 1, INT32_MAX}, {"REJECT", 0, INT32_MAX}, {"DELTA", 1, INT32_MAX}, {"MODE", 0, 2}};
    for (std::size_t i = 0; i < std::size(limits); ++i) {
        if (values[i] < limits[i].low || values[i] > limits[i].high)
            throw CLI::ValidationError("pelmux backlight filter",
                                       std::string(limits[i].name) + " " + std::to_string(values[i]) +
                                           (limits[i].high == INT32_MAX
                                                ? " is below " + std::to_string(limits[i].low)
                                                : " is not 0, 1 or 2") +
                                           " (see `pelmux backlight filter --help`)");
    }
}

} // namespace PELMUX_FILE_SCOPE

void addBacklightCommands(CLI::App& app, const Options& options, int& exitCode)
{
    using namespace PELMUX_FILE_SCOPE;
    auto* backlight = app.add_subcommand("backlight", "Display backlight level and automatic backlight");
    backlight->require_subcommand(1);

    backlight->add_subcommand("get", "Level, status and every setting of the automatic backlight")
        ->callback([&] { exitCode = showBacklight(options) ? 0 : 1; });

    // Option values live as long as the App, which outlives every callback.
    static int level = 0;
    auto* set = backlight->add_subcommand("set", "Set the backlight level");
    set->add_option("level", level, "0 (darkest) to 255 (brightest)")->required()->check(CLI::Range(0, 255));
    set->callback([&] { exitCode = setLevel(level, options) ? 0 : 1; });

    static std::string automatic;
    auto* autoCommand =
        backlight->add_subcommand("auto", "Switch the automatic backlight controller on or off");
    autoCommand->add_option("state", automatic, "on or off")
        ->required()
        ->transform(CLI::IsMember({"on", "off"}, CLI::ignore_case));
    autoCommand->callback([&] { exitCode = setAutomatic(automatic == "on", options) ? 0 : 1; });

    backlight->add_subcommand("params", "Soft transitions and k of the controller (level = k * ln(lux) - 10)")
        ->callback([&] { exitCode = showOne("params", readParameters, options) ? 0 : 1; });

    static std::string soft;
    auto* softCommand = backlight->add_subcommand("soft", "Soft transitions: one level step every 50 ms");
    softCommand->add_option("state", soft, "on or off")
        ->required()
        ->transform(CLI::IsMember({"on", "off"}, CLI::ignore_case));
    softCommand->callback([&] { exitCode = setSoft(soft == "on", options) ? 0 : 1; });

    static std::vector<std::int32_t> filter;
    auto* filterCommand = backlight->add_subcommand(
        "filter",
        std::string("Show the light filter of the controller, or set it with four numbers. ") + filterHelp);
    filterCommand->add_option("values", filter, "AVERAGE REJECT DELTA MODE (all four, or none to show)");
    filterCommand->callback([&] {
        if (filter.empty()) {
            exitCode = showOne("filter", readFilter, options) ? 0 : 1;
        } else if (filter.size() == 4) {
            checkFilter(filter);
            exitCode = setFilter(filter, options) ? 0 : 1;
        } else {
            throw CLI::ValidationError("pelmux backlight filter",
                                       "give all four numbers AVERAGE REJECT DELTA MODE, or none");
        }
    });

    static std::string dimming;
    auto* dimmingCommand = backlight->add_subcommand(
        "led-dimming", "Show the LED dimming preference, or set it and tell the service PelmuxService");
    dimmingCommand->add_option("state", dimming, "on or off (none to show)")
        ->transform(CLI::IsMember({"on", "off"}, CLI::ignore_case));
    dimmingCommand->callback([&] {
        exitCode = (dimming.empty() ? showOne("led-dimming", readLedDimming, options)
                                    : setLedDimming(dimming == "on", options))
                       ? 0
                       : 1;
    });
}

TourStep backlightTour()
{
    using namespace PELMUX_FILE_SCOPE;
    return {"Backlight", [] {
                // What an application sets for the controller; k is the controller's own (the
                // settings step stored its default).
                const Options quiet{};
                bool all = setLevel(200, quiet);
                all = setSoft(true, quiet) && all;
                all = setFilter({5, 5, 50, Varnholt::RANGE_MODE_AUTO}, quiet) && all;
                all = setAutomatic(false, quiet) && all;
                std::cout << '\n';
                return showBacklight(quiet) && all;
            }};
}

} // namespace pelmux::cli
