// `pelmux simctl COMMAND`: steers a running `pelmux sim` (faults, state) with its unit commands.
// `pelmux sim set NAME VALUE`: changes one value of a running unit by a name people remember.
#include "Cli.h"

#include "Server.h"
#include "exports/ToolAccess.h"

#include <cmath>
#include <cstdlib>
#include <iostream>
#include <optional>

namespace pelmux::cli {

namespace {

// A value of the unit's state that `pelmux sim set` may change: its name, where it lies in the
// state (a JSON pointer) and the numbers it takes.
struct SettableValue {
    const char* name;
    const char* pointer;
    const char* meaning;
    double lowest;
    double highest;
    bool integer;
};

constexpr SettableValue settableValues[] = {
    {"lux", "/lightSensor/lux", "illuminance at the light sensor in lux", 0, 1000000, false},
    {"range", "/lightSensor/range", "light sensor operating range: 0 standard, 1 extended", 0, 1, true},
    {"charge", "/battery/charge", "battery charge in percent", 0, 100, true},
};

const SettableValue* settableValue(const std::string& name)
{
    for (const auto& value : settableValues)
        if (name == value.name)
            return &value;
    return nullptr;
}

std::string settableNames()
{
    std::string names;
    for (const auto& value : settableValues)
        names += std::string(names.empty() ? "" : ", ") + value.name;
    return names;
}

// The number VALUE stands for, when it is one the entry takes.
std::optional<Json> valueFrom(const SettableValue& entry, const std::string& text)
{
    char* end = nullptr;
    const double number = std::strtod(text.c_str(), &end);
    if (text.empty() || end != text.c_str() + text.size() || !std::isfinite(number) ||
        number < entry.lowest || number > entry.highest)
        return std::nullopt;
    if (entry.integer) {
        if (number != std::floor(number))
            return std::nullopt;
        return Json(static_cast<long long>(number));
    }
    return Json(number);
}

int setValue(const std::string& name, const std::string& text, const Options& options)
{
    const SettableValue* entry = settableValue(name);
    if (entry == nullptr) {
        std::cerr << "pelmux sim set: unknown name '" << name << "' (" << settableNames() << ")\n";
        return 2;
    }
    const auto value = valueFrom(*entry, text);
    if (!value) {
        std::cerr << "pelmux sim set: " << name << " takes "
                  << (entry->integer ? "a whole number" : "a number") << " from " << entry->lowest << " to "
                  << entry->highest << " (" << entry->meaning << ")\n";
        return 2;
    }
    const Json command = {{"cmd", "set"}, {"path", entry->pointer}, {"value", *value}};
    const Json answer = sim::sendUnitCommand(tool::boardSocketPath(), command.dump());
    const bool done = answer.value("ok", false);
    if (options.json)
        printJson(answer);
    else if (done)
        std::cout << name << " = " << text << '\n';
    else
        std::cerr << "pelmux sim set: " << answer.value("error", std::string("the unit refused")) << '\n';
    return done ? 0 : 1;
}

} // namespace

void addSimControlCommands(CLI::App& app, const Options& options, int& exitCode)
{
    static std::string command;
    auto* simctl =
        app.add_subcommand("simctl", "Send a unit command to a running `pelmux sim`, e.g. "
                                     "'{\"cmd\":\"fail\",\"code\":2237680}' (see docs/board-protocol.md)");
    simctl->add_option("command", command, "The command, a JSON object")->required();
    simctl->callback([&] {
        const Json answer = sim::sendUnitCommand(tool::boardSocketPath(), command);
        std::cout << answer.dump(2) << '\n';
        exitCode = answer.value("ok", false) ? 0 : 1;
    });

    // Under `pelmux sim`, which then serves no unit of its own.
    static std::string name;
    static std::string value;
    CLI::App* sim = app.get_subcommand("sim");
    auto* set =
        sim->add_subcommand("set", "Change a value of the running `pelmux sim` (names: " + settableNames() +
                                       "), e.g. `pelmux sim set lux 300`");
    set->add_option("name", name, "What to change")->required();
    set->add_option("value", value, "The new value")->required();
    set->callback([&, sim] {
        if (const std::string root = sim->get_option("--root")->as<std::string>(); !root.empty())
            ::setenv("PELMUX_ROOT", root.c_str(), 1);
        exitCode = setValue(name, value, options);
    });
}

} // namespace pelmux::cli
