// `pelmux led`: the multi-colour LED on the unit's front: its colour (a standard colour or three
// channels of 0 to 15) and its blink (on and off time, or frequency and duty cycle).
#include "Cli.h"

#include <array>
#include <cstdio>
#include <iostream>

namespace pelmux::cli {

namespace PELMUX_FILE_SCOPE {

using Varnholt::FrontLED;
using Varnholt::ResultCode;

// The standard colours by the library's index.
constexpr std::array<const char*, 6> colorNames = {"red", "green", "blue", "cyan", "magenta", "orange"};

// Runs `use` on the process's front LED object and gives the reference back.
template <class Use> bool withLed(const char* command, Use use)
{
    return withObject(GetFrontLED, "led", command, "front LED object", use);
}

std::string hertz(double frequency)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.3g Hz", frequency);
    return text;
}

void readColor(FrontLED& led, Readings& readings)
{
    unsigned char red = 0, green = 0, blue = 0;
    std::int32_t index = 0;
    ResultCode result = led.getColor(red, green, blue);
    if (result == Varnholt::ERR_SUCCESS)
        result = led.getStandardColor(index);
    const bool standard = index >= 0 && index < static_cast<std::int32_t>(colorNames.size());
    readings.add("color", "Colour", result,
                 {{"red", red}, {"green", green}, {"blue", blue}, {"standard", index}},
                 std::to_string(red) + " " + std::to_string(green) + " " + std::to_string(blue) + " (" +
                     (standard ? colorNames[static_cast<std::size_t>(index)] : "no standard colour") + ")");
}

void readTiming(FrontLED& led, Readings& readings)
{
    unsigned char on = 0, off = 0, timing2 = 0, timing3 = 0;
    ResultCode result = led.getOnTime(on);
    if (result == Varnholt::ERR_SUCCESS)
        result = led.getOffTime(off);
    if (result == Varnholt::ERR_SUCCESS)
        result = led.getTiming2(timing2);
    if (result == Varnholt::ERR_SUCCESS)
        result = led.getTiming3(timing3);
    const std::string times = std::to_string(on * 10) + " ms, " + std::to_string(off * 10) + " ms" +
                              (on == 0    ? " (dark)"
                               : off == 0 ? " (steady)"
                                          : "");
    const Json json = {{"onMs", on * 10}, {"offMs", off * 10},  {"onTime", on},
                       {"offTime", off},  {"timing2", timing2}, {"timing3", timing3}};
    // The other two timing bytes get a row of their own.
    if (readings.add("timing", "On, off time", result, json, times))
        readings.rows.emplace_back("Timing bytes 2, 3",
                                   std::to_string(timing2) + ", " + std::to_string(timing3));
}

void readSignal(FrontLED& led, Readings& readings)
{
    double frequency = 0.0;
    unsigned char duty = 0;
    const ResultCode result = led.getSignal(frequency, duty);
    // On and off time 0: a dark LED without a period, which is no failure.
    if (result == Varnholt::ERR_INVALID_DATA_RANGE)
        readings.addAbsent("signal", "Blink", result, "none (on and off time 0)");
    else
        readings.add("signal", "Blink", result, {{"frequency", frequency}, {"dutyCycle", duty}},
                     hertz(frequency) + ", " + std::to_string(duty) + " % lit");
}

bool showLed(const Options& options)
{
    return withLed("", [&](FrontLED& led) {
        Readings readings;
        readColor(led, readings);
        readTiming(led, readings);
        readSignal(led, readings);
        std::int32_t flag = 0;
        const ResultCode result = led.getControlFlag(flag);
        readings.add("controlFlag", "Control flag", result, {{"value", flag}}, flag == 1 ? "set" : "clear");
        return readings.print(options);
    });
}

// A standard colour's name, or three channels.
bool setColor(const std::vector<std::string>& values, const Options& options)
{
    if (values.size() == 1) {
        for (std::size_t i = 0; i < colorNames.size(); ++i) {
            if (CLI::detail::to_lower(values[0]) != colorNames[i])
                continue;
            return withLed(" color", [&](FrontLED& led) {
                const ResultCode result = led.setStandardColor(static_cast<std::int32_t>(i));
                return reportChange(result, options, std::string("LED colour ") + colorNames[i] + ".",
                                    {{"standard", i}}, {.command = "led color"});
            });
        }
    }
    std::array<int, 3> channels{};
    bool numbers = values.size() == 3;
    for (std::size_t i = 0; numbers && i < 3; ++i) {
        const auto channel = parseInteger(values[i]);
        numbers = channel && *channel >= 0 && *channel <= 15;
        channels[i] = numbers ? static_cast<int>(*channel) : 0;
    }
    if (!numbers)
        throw CLI::ValidationError("pelmux led color", "give a colour name (red, green, blue, cyan, magenta, "
                                                       "orange) or three channels RED GREEN BLUE of 0 to 15");
    return withLed(" color", [&](FrontLED& led) {
        const ResultCode result =
            led.setColor(static_cast<unsigned char>(channels[0]), static_cast<unsigned char>(channels[1]),
                         static_cast<unsigned char>(channels[2]));
        return reportChange(result, options,
                            "LED colour " + std::to_string(channels[0]) + " " + std::to_string(channels[1]) +
                                " " + std::to_string(channels[2]) + ".",
                            {{"red", channels[0]}, {"green", channels[1]}, {"blue", channels[2]}},
                            {.command = "led color"});
    });
}

bool setBlink(double frequency, int duty, const Options& options)
{
    return withLed(" blink", [&](FrontLED& led) {
        const ResultCode result = led.setSignal(frequency, static_cast<unsigned char>(duty));
        return reportChange(result, options,
                            "LED blinks at " + hertz(frequency) + ", " + std::to_string(duty) + " % lit.",
                            {{"frequency", frequency}, {"dutyCycle", duty}}, {.command = "led blink"});
    });
}

bool setOff(const Options& options)
{
    return withLed(" off", [&](FrontLED& led) {
        return reportChange(led.setOff(), options, "LED dark.", Json::object(), {.command = "led off"});
    });
}

} // namespace PELMUX_FILE_SCOPE

void addLedCommands(CLI::App& app, const Options& options, int& exitCode)
{
    using namespace PELMUX_FILE_SCOPE;
    auto* led =
        app.add_subcommand("led", "The front LED: colour and blink (without a subcommand: show both)");
    led->callback([&, led] {
        if (led->get_subcommands().empty())
            exitCode = showLed(options) ? 0 : 1;
    });

    // Option values live as long as the App, which outlives every callback.
    static std::vector<std::string> color;
    auto* colorCommand = led->add_subcommand("color", "Set the colour: a standard colour or three channels");
    colorCommand
        ->add_option("colour", color,
                     "red, green, blue, cyan, magenta or orange; or RED GREEN BLUE, each 0 to 15")
        ->required();
    colorCommand->callback([&] { exitCode = setColor(color, options) ? 0 : 1; });

    static double frequency = 0.0;
    static int duty = 0;
    auto* blink = led->add_subcommand("blink", "Blink at a frequency and duty cycle");
    blink->add_option("hz", frequency, "0.2 to 50 blinks a second")->required()->check(CLI::Range(0.2, 50.0));
    blink->add_option("duty", duty, "percent of each blink lit, 0 to 100")
        ->required()
        ->check(CLI::Range(0, 100));
    blink->callback([&] { exitCode = setBlink(frequency, duty, options) ? 0 : 1; });

    led->add_subcommand("off", "Darken the LED (on time 0; colour and off time are kept)")->callback([&] {
        exitCode = setOff(options) ? 0 : 1;
    });
}

TourStep ledTour()
{
    using namespace PELMUX_FILE_SCOPE;
    return {"Front LED", [] {
                const Options quiet{};
                bool all = setColor({"cyan"}, quiet);
                all = setBlink(2.0, 50, quiet) && all;
                std::cout << '\n';
                return showLed(quiet) && all;
            }};
}

} // namespace pelmux::cli
