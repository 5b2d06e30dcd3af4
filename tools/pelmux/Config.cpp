// `pelmux config`: the thirteen settings the system supervisor stores, listed, read and written one
// by one, in volts and degrees Celsius where the setting is one.
#include "Cli.h"

#include <charconv>
#include <climits>
#include <cstdio>
#include <iostream>
#include <optional>

namespace pelmux::cli {

namespace PELMUX_FILE_SCOPE {

using Varnholt::Config;
using Varnholt::ResultCode;

// A setting read: its result, its value for JSON and its text for a person.
struct Reading {
    ResultCode result = Varnholt::ERR_SUCCESS;
    Json value;
    std::string text;
};

using Read = std::function<Reading(Config&)>;
// Parses the value text and writes it; nothing (and no request) when the text is no such value.
using Write = std::function<std::optional<ResultCode>(Config&, const std::string&)>;

struct SettingOps {
    const char* name;    // on the command line and in JSON
    const char* accepts; // the values the supervisor takes, as the help and errors show them
    Read read;
    Write write;
};

std::optional<double> decimalFrom(const std::string& text)
{
    double number = 0.0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, number);
    if (text.empty() || error != std::errc() || stop != end)
        return std::nullopt;
    return number;
}

std::string settingVolts(double value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.2f V", value);
    return text;
}

std::string inputs(unsigned mask)
{
    std::string list;
    for (unsigned input = 0; input < 4; ++input)
        if ((mask & (1u << input)) != 0)
            list += (list.empty() ? "" : ", ") + std::to_string(input + 1);
    return std::to_string(mask) + (list.empty() ? " (no input)" : " (inputs " + list + ")");
}

// A getter whose value shows as a plain number.
template <class T> Read number(ResultCode (Config::*get)(T*))
{
    return [get](Config& config) {
        T value{};
        Reading reading;
        reading.result = (config.*get)(&value);
        reading.value = value;
        reading.text = std::to_string(value);
        return reading;
    };
}

// A setter of a whole number; the text must be a number the argument's type holds.
template <class T> Write whole(ResultCode (Config::*set)(T), long long lowest, long long highest)
{
    return [set, lowest, highest](Config& config, const std::string& text) -> std::optional<ResultCode> {
        const auto value = parseInteger(text, lowest, highest);
        if (!value)
            return std::nullopt;
        return (config.*set)(static_cast<T>(*value));
    };
}

const std::vector<SettingOps>& settingOps()
{
    static const std::vector<SettingOps> ops = {
        {"selector1", "1, 2 or 3", number(&Config::getSelector1),
         whole(&Config::setSelector1, INT_MIN, INT_MAX)},
        {"selector2", "0, 1 or 2", number(&Config::getSelector2),
         whole(&Config::setSelector2, INT_MIN, INT_MAX)},
        {"selector3", "0, 1 or 2", number(&Config::getSelector3),
         whole(&Config::setSelector3, INT_MIN, INT_MAX)},
        {"selector4", "0, 1 or 2", number(&Config::getSelector4),
         whole(&Config::setSelector4, INT_MIN, INT_MAX)},
        {"paired-word1", "0 to 65535", number(&Config::getPairedWord1),
         whole(&Config::setPairedWord1, 0, 0xFFFF)},
        {"long", "0 to 4294967295", number(&Config::getLongSetting),
         whole(&Config::setLongSetting, 0, 0xFFFFFFFF)},
        {"paired-word2", "0 to 65535", number(&Config::getPairedWord2),
         whole(&Config::setPairedWord2, 0, 0xFFFF)},
        {"can-power", "0 to 65535", number(&Config::getCanPowerConfig),
         whole(&Config::setCanPowerConfig, 0, 0xFFFF)},
        {"video-power", "0 to 15, a mask of video inputs 1 to 4 (bit 0 is input 1)",
         [](Config& config) {
             unsigned char mask = 0;
             Reading reading;
             reading.result = config.getVideoPowerConfig(&mask);
             reading.value = mask;
             reading.text = inputs(mask);
             return reading;
         },
         whole(&Config::setVideoPowerConfig, 0, 0xFF)},
        {"word", "0 to 65535", number(&Config::getWordSetting), whole(&Config::setWordSetting, 0, 0xFFFF)},
        {"voltage", "9.0 to 28.0 volts (kept in steps of about 0.01 V, rounded down)",
         [](Config& config) {
             double value = 0.0;
             Reading reading;
             reading.result = config.getVoltageSetting(&value);
             reading.value = value;
             reading.text = settingVolts(value);
             return reading;
         },
         [](Config& config, const std::string& text) -> std::optional<ResultCode> {
             const auto value = decimalFrom(text);
             if (!value)
                 return std::nullopt;
             return config.setVoltageSetting(*value);
         }},
        {"temperature", "-25 to 5 degrees Celsius",
         [](Config& config) {
             short value = 0;
             Reading reading;
             reading.result = config.getTemperatureSetting(&value);
             reading.value = value;
             reading.text = std::to_string(value) + " °C";
             return reading;
         },
         whole(&Config::setTemperatureSetting, SHRT_MIN, SHRT_MAX)},
        {"flag", "on or off (1 or 0)",
         [](Config& config) {
             int value = 0;
             Reading reading;
             reading.result = config.getFlagSetting(&value);
             reading.value = value == 1;
             reading.text = value == 1 ? "on" : "off";
             return reading;
         },
         [](Config& config, const std::string& text) -> std::optional<ResultCode> {
             if (text != "on" && text != "off" && text != "1" && text != "0")
                 return std::nullopt;
             return config.setFlagSetting(text == "on" || text == "1" ? 1 : 0);
         }},
    };
    return ops;
}

const SettingOps* findSetting(const std::string& name)
{
    for (const auto& setting : settingOps())
        if (name == setting.name)
            return &setting;
    return nullptr;
}

std::string settingNames()
{
    std::string names;
    for (const auto& setting : settingOps())
        names += (names.empty() ? "" : ", ") + std::string(setting.name);
    return names;
}

// Runs `use` on the process's configuration object and gives the reference back.
template <class Use> bool withConfig(const char* command, Use use)
{
    return withObject(GetConfig, "config", command, "configuration object", use);
}

void reportSettingFailure(const char* command, const SettingOps& setting, ResultCode result,
                          const Options& options)
{
    if (options.json) {
        Json json = failure(result);
        json["name"] = setting.name;
        printJson(json);
        return;
    }
    std::cerr << "pelmux config " << command << " " << setting.name << ": " << describe(result) << '\n';
    if (result == Varnholt::ERR_INVALID_DATA_RANGE)
        std::cerr << setting.name << " takes " << setting.accepts << '\n';
    else if (const auto hint = driverHint(result); !hint.empty())
        std::cerr << hint << '\n';
}

bool listSettings(const Options& options)
{
    return withConfig("list", [&](Config& config) {
        Readings readings;
        // A feature the unit lacks is no failure of the listing.
        readings.absentText = "not fitted on this unit";
        for (const auto& setting : settingOps()) {
            const Reading reading = setting.read(config);
            readings.add(setting.name, setting.name, reading.result, reading.value,
                         reading.text + "   [" + setting.accepts + "]");
        }
        return readings.print(options);
    });
}

bool getSetting(const SettingOps& setting, const Options& options)
{
    return withConfig("get", [&](Config& config) {
        const Reading reading = setting.read(config);
        if (reading.result != Varnholt::ERR_SUCCESS) {
            reportSettingFailure("get", setting, reading.result, options);
            return false;
        }
        if (options.json)
            printJson({{"name", setting.name}, {"result", 0}, {"value", reading.value}});
        else
            std::cout << reading.text << '\n';
        return true;
    });
}

// 0 done, 1 refused by the library or the unit, 2 a value text that is no value of the setting.
int setSetting(const SettingOps& setting, const std::string& text, const Options& options)
{
    int exitCode = 1;
    withConfig("set", [&](Config& config) {
        const auto result = setting.write(config, text);
        if (!result) {
            std::cerr << "pelmux config set " << setting.name << ": '" << text << "' is not a value; "
                      << setting.name << " takes " << setting.accepts << '\n';
            exitCode = 2;
            return false;
        }
        if (*result != Varnholt::ERR_SUCCESS) {
            reportSettingFailure("set", setting, *result, options);
            return false;
        }
        // What the supervisor keeps now, read back (the voltage is kept in converter steps).
        const Reading reading = setting.read(config);
        if (options.json) {
            Json json = {{"name", setting.name}, {"result", 0}};
            if (reading.result == Varnholt::ERR_SUCCESS)
                json["value"] = reading.value;
            printJson(json);
        } else {
            std::cout << setting.name << " set"
                      << (reading.result == Varnholt::ERR_SUCCESS ? ", now " + reading.text : std::string())
                      << ".\n";
        }
        exitCode = 0;
        return true;
    });
    return exitCode;
}

int settingCommand(const std::string& name, const std::string* value, const Options& options)
{
    const SettingOps* setting = findSetting(name);
    if (setting == nullptr) {
        std::cerr << "pelmux config: no setting '" << name << "'; the settings are " << settingNames()
                  << '\n';
        return 2;
    }
    if (value == nullptr)
        return getSetting(*setting, options) ? 0 : 1;
    return setSetting(*setting, *value, options);
}

std::string settingsHelp()
{
    std::string help = "NAME and the values it takes:";
    for (const auto& setting : settingOps())
        help += std::string("\n  ") + setting.name + ": " + setting.accepts;
    return help;
}

} // namespace PELMUX_FILE_SCOPE

void addConfigCommands(CLI::App& app, const Options& options, int& exitCode)
{
    using namespace PELMUX_FILE_SCOPE;
    auto* config = app.add_subcommand(
        "config", "The settings the system supervisor stores: list them, read or write one by name");
    config->require_subcommand(1);
    config->footer(settingsHelp());

    config->add_subcommand("list", "Every setting with its value and the values it takes")->callback([&] {
        exitCode = listSettings(options) ? 0 : 1;
    });

    // Option values live as long as the App, which outlives every callback.
    static std::string name;
    static std::string value;
    auto* get = config->add_subcommand("get", "Read one setting");
    get->add_option("name", name, "Setting: " + settingNames())->required();
    get->callback([&] { exitCode = settingCommand(name, nullptr, options); });

    auto* set = config->add_subcommand("set", "Write one setting (then read back what the supervisor keeps)");
    set->add_option("name", name, "Setting: " + settingNames())->required();
    set->add_option("value", value, "The new value; see the list below for each setting's values")
        ->required();
    set->footer(settingsHelp());
    set->callback([&] { exitCode = settingCommand(name, &value, options); });
}

TourStep configTour()
{
    using namespace PELMUX_FILE_SCOPE;
    return {"Supervisor settings", [] {
                const Options quiet{};
                bool all = listSettings(quiet);
                const std::string voltage = "24";
                const std::string temperature = "-5";
                std::cout << "  setting the voltage to 24 V and the temperature to -5 °C:\n";
                all = settingCommand("voltage", &voltage, quiet) == 0 && all;
                all = settingCommand("temperature", &temperature, quiet) == 0 && all;
                return all;
            }};
}

} // namespace pelmux::cli
