// `pelmux led`: the multi-colour LED on the unit's front: its colour (a standard colour or three
// channels of 0 to 15) and its blink (on and off time, or frequency and duty cycle).
#include "Cli.h"

#include <array>
#include <cstdio>
#include <iostream>

namespace pelmux::cli {

namespace {

using Varnholt::FrontLED;
using Varnholt::ResultCode;

// The standard colours by the library's index.
constexpr std::array<const char*, 6> colorNames = {"red", "green", "blue", "cyan", "magenta", "orange"};

// Runs `use` on the process's front LED object and gives the reference back.
template <class Use> bool withLed(const char* command, Use use)
{
    return withObject(GetFrontLED, "led", command, "front LED object", use);
}

// Prints what a change answered: `done` on success, the result on standard error otherwise.
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
        std::cerr << "pelmux led " << command << ": " << describe(result) << '\n';
        const std::string hint = driverHint(result);
        if (!hint.empty())
            std::cerr << hint << '\n';
    }
    return ok;
}

std::string hertz(double frequency)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.3g Hz", frequency);
    return text;
}

bool showLed(const Options& options)
{
    return withLed("", [&](FrontLED& led) {
        Json json = Json::object();
        std::vector<std::pair<std::string, std::string>> rows;
        bool all = true;
        std::string hint;
        const auto failed = [&](const char* key, const char* label, ResultCode result) {
            json[key] = failure(result);
            rows.emplace_back(label, "error: " + describe(result));
            if (hint.empty())
                hint = driverHint(result);
            all = false;
        };

        unsigned char red = 0, green = 0, blue = 0;
        std::int32_t index = 0;
        ResultCode result = led.getColor(red, green, blue);
        if (result == Varnholt::ERR_SUCCESS)
            result = led.getStandardColor(index);
        if (result == Varnholt::ERR_SUCCESS) {
            const bool standard = index >= 0 && index < static_cast<std::int32_t>(colorNames.size());
            json["color"] = {
                {"result", 0}, {"red", red}, {"green", green}, {"blue", blue}, {"standard", index}};
            rows.emplace_back(
                "Colour",
                std::to_string(red) + " " + std::to_string(green) + " " + std::to_string(blue) + " (" +
                    (standard ? colorNames[static_cast<std::size_t>(index)] : "no standard colour") + ")");
        } else {
            failed("color", "Colour", result);
        }

        unsigned char on = 0, off = 0, timing2 = 0, timing3 = 0;
        result = led.getOnTime(on);
        if (result == Varnholt::ERR_SUCCESS)
            result = led.getOffTime(off);
        if (result == Varnholt::ERR_SUCCESS)
            result = led.getTiming2(timing2);
        if (result == Varnholt::ERR_SUCCESS)
            result = led.getTiming3(timing3);
        if (result == Varnholt::ERR_SUCCESS) {
            json["timing"] = {{"result", 0},    {"onMs", on * 10},    {"offMs", off * 10}, {"onTime", on},
                              {"offTime", off}, {"timing2", timing2}, {"timing3", timing3}};
            rows.emplace_back("On, off time", std::to_string(on * 10) + " ms, " + std::to_string(off * 10) +
                                                  " ms" +
                                                  (on == 0    ? " (dark)"
                                                   : off == 0 ? " (steady)"
                                                              : ""));
            rows.emplace_back("Timing bytes 2, 3", std::to_string(timing2) + ", " + std::to_string(timing3));
        } else {
            failed("timing", "On, off time", result);
        }

        double frequency = 0.0;
        unsigned char duty = 0;
        result = led.getSignal(frequency, duty);
        if (result == Varnholt::ERR_SUCCESS) {
            json["signal"] = {{"result", 0}, {"frequency", frequency}, {"dutyCycle", duty}};
            rows.emplace_back("Blink", hertz(frequency) + ", " + std::to_string(duty) + " % lit");
        } else if (result == Varnholt::ERR_INVALID_DATA_RANGE) {
            // On and off time 0: a dark LED without a period, which is no failure.
            json["signal"] = failure(result);
            rows.emplace_back("Blink", "none (on and off time 0)");
        } else {
            failed("signal", "Blink", result);
        }

        std::int32_t flag = 0;
        result = led.getControlFlag(flag);
        if (result == Varnholt::ERR_SUCCESS) {
            json["controlFlag"] = {{"result", 0}, {"value", flag}};
            rows.emplace_back("Control flag", flag == 1 ? "set" : "clear");
        } else {
            failed("controlFlag", "Control flag", result);
        }

        if (options.json) {
            printJson(json);
        } else {
            printTable(rows);
            if (!hint.empty())
                std::cout << hint << '\n';
        }
        return all;
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
                return report("color", result, options, std::string("LED colour ") + colorNames[i] + ".",
                              {{"standard", i}});
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
        return report("color", result, options,
                      "LED colour " + std::to_string(channels[0]) + " " + std::to_string(channels[1]) + " " +
                          std::to_string(channels[2]) + ".",
                      {{"red", channels[0]}, {"green", channels[1]}, {"blue", channels[2]}});
    });
}

bool setBlink(double frequency, int duty, const Options& options)
{
    return withLed(" blink", [&](FrontLED& led) {
        const ResultCode result = led.setSignal(frequency, static_cast<unsigned char>(duty));
        return report("blink", result, options,
                      "LED blinks at " + hertz(frequency) + ", " + std::to_string(duty) + " % lit.",
                      {{"frequency", frequency}, {"dutyCycle", duty}});
    });
}

bool setOff(const Options& options)
{
    return withLed(" off",
                   [&](FrontLED& led) { return report("off", led.setOff(), options, "LED dark.", {}); });
}

} // namespace

void addLedCommands(CLI::App& app, const Options& options, int& exitCode)
{
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
    return {"Front LED", [] {
                const Options quiet{};
                bool all = setColor({"cyan"}, quiet);
                all = setBlink(2.0, 50, quiet) && all;
                std::cout << '\n';
                return showLed(quiet) && all;
            }};
}

} // namespace pelmux::cli
