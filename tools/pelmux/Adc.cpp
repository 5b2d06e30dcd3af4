// `pelmux adc` and `pelmux dio`: the supply voltages and the digital inputs the supervisor reads.
#include "Cli.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <iostream>
#include <optional>

namespace pelmux::cli {

namespace {

// The rails in channel order.
constexpr const char* railNames[] = {"24V", "24VIN", "12V", "12VVIDEO", "5VSTBY", "5V",  "3V3", "TFTVOL",
                                     "1V9", "1V8",   "1V5", "1V2",      "1V05",   "1V0", "0V9"};
static_assert(std::size(railNames) == Varnholt::voltageChannelCount);

std::string railName(std::int32_t channel)
{
    if (channel >= 0 && channel < Varnholt::voltageChannelCount)
        return railNames[channel];
    return "channel " + std::to_string(channel);
}

std::string upper(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

// "all", a rail name in any case ("3v3") or a channel number (also one the unit does not name).
std::optional<std::vector<std::int32_t>> channelsFrom(const std::string& argument)
{
    std::vector<std::int32_t> channels;
    if (upper(argument) == "ALL") {
        for (std::int32_t c = 0; c < Varnholt::voltageChannelCount; ++c)
            channels.push_back(c);
        return channels;
    }
    for (std::int32_t c = 0; c < Varnholt::voltageChannelCount; ++c)
        if (upper(argument) == railNames[c])
            return std::vector<std::int32_t>{c};
    const auto number = parseInteger(argument, INT32_MIN, INT32_MAX);
    if (!number)
        return std::nullopt;
    return std::vector<std::int32_t>{static_cast<std::int32_t>(*number)};
}

std::string volts(double value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.3f V", value);
    return text;
}

bool showVoltages(const std::vector<std::int32_t>& channels, const Options& options)
{
    Varnholt::Adc* adc = GetAdc();
    Readings readings;
    readings.json = Json::array();
    for (const std::int32_t channel : channels) {
        double value = 0.0;
        const auto result = adc->getVoltage(static_cast<Varnholt::VoltageChannel>(channel), &value);
        char number[16];
        std::snprintf(number, sizeof number, "%2d", static_cast<int>(channel));
        Json& entry = readings.json.emplace_back(Json{{"channel", channel}, {"rail", railName(channel)}});
        readings.addTo(entry, std::string(number) + "  " + railName(channel), result, {{"volts", value}},
                       volts(value));
    }
    adc->release();
    return readings.print(options);
}

bool showInputs(const Options& options)
{
    Varnholt::DigIO* dio = GetDigIO();
    if (dio == nullptr) {
        std::cerr << "pelmux dio: no memory for the digital inputs object\n";
        return false;
    }
    unsigned char bits = 0;
    const auto result = dio->getDigitalInputs(&bits);
    dio->release();
    if (result != Varnholt::ERR_SUCCESS) {
        if (options.json) {
            printJson(failure(result));
        } else {
            std::cout << "  Digital inputs  error: " << describe(result) << '\n';
            if (const auto hint = driverHint(result); !hint.empty())
                std::cout << hint << '\n';
        }
        return false;
    }
    Json states = Json::array();
    std::vector<std::pair<std::string, std::string>> rows;
    for (int input = 0; input < 4; ++input) {
        const bool on = (bits >> input) & 1;
        states.push_back(on);
        rows.emplace_back("Input " + std::to_string(input + 1), on ? "on" : "off");
    }
    if (options.json)
        printJson({{"result", 0}, {"inputs", bits}, {"states", states}});
    else
        printTable(rows);
    return true;
}

} // namespace

void addAdcCommands(CLI::App& app, const Options& options, int& exitCode)
{
    static std::string channel = "all";
    auto* adc = app.add_subcommand("adc", "Supply voltages measured by the supervisor");
    adc->add_option("channel", channel, "all (default), a rail name such as 3V3, or a channel number");
    adc->callback([&] {
        const auto channels = channelsFrom(channel);
        if (!channels) {
            std::cerr << "pelmux adc: unknown channel '" << channel
                      << "' (all, 0 to 14, or a rail such as 24V)\n";
            exitCode = 2;
            return;
        }
        exitCode = showVoltages(*channels, options) ? 0 : 1;
    });

    app.add_subcommand("dio", "The four digital inputs")->callback([&] {
        exitCode = showInputs(options) ? 0 : 1;
    });
}

TourStep adcTour()
{
    return {"Supply voltages and digital inputs", [] {
                const bool voltages = showVoltages(*channelsFrom("all"), Options{});
                std::cout << '\n';
                const bool inputs = showInputs(Options{});
                return voltages && inputs;
            }};
}

} // namespace pelmux::cli
