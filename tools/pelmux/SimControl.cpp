// `pelmux simctl COMMAND`: steers a running `pelmux sim` (faults, state) with its unit commands.
// `pelmux sim set NAME VALUE`: changes one value of a running unit by a name people remember.
#include "Cli.h"

#include "Adjust.h"
#include "Server.h"
#include "ToolAccess.h"

#include <cstdlib>
#include <iostream>
#include <stdexcept>

namespace pelmux::cli {

namespace PELMUX_FILE_SCOPE {

// The JSON value VALUE stands for: a whole number as the tool reads numbers (0x hexadecimal, a
// leading zero still decimal), another number or true/false as written, anything else as a text
// (which the unit's table then refuses).
Json valueFrom(const std::string& text)
{
    if (const auto number = parseInteger(text))
        return *number;
    Json value = Json::parse(text, nullptr, false);
    if (value.is_discarded() || !(value.is_number() || value.is_boolean()))
        return Json(text);
    return value;
}

int setValue(const std::string& name, const std::string& text, const Options& options)
{
    const Json value = valueFrom(text);
    try {
        sim::adjustment(name, value);
    } catch (const std::invalid_argument& e) {
        std::cerr << "pelmux sim set: " << e.what() << '\n';
        return 2;
    }
    const Json command = {{"cmd", "adjust"}, {"name", name}, {"value", value}};
    const Json answer = sim::sendUnitCommand(tool::boardSocketPath(), jsonText(command));
    const bool done = answer.value("ok", false);
    if (options.json)
        printJson(answer);
    else if (done)
        std::cout << name << " = " << text << '\n';
    else
        std::cerr << "pelmux sim set: " << answer.value("error", std::string("the unit refused")) << '\n';
    return done ? 0 : 1;
}

} // namespace PELMUX_FILE_SCOPE

void addSimControlCommands(CLI::App& app, const Options& options, int& exitCode)
{
    using namespace PELMUX_FILE_SCOPE;
    static std::string command;
    auto* simctl =
        app.add_subcommand("simctl", "Send a unit command to a running `pelmux sim`, e.g. "
                                     "'{\"cmd\":\"fail\",\"code\":2237680}' (see docs/board-protocol.md)");
    simctl->add_option("command", command, "The command, a JSON object")->required();
    simctl->callback([&] {
        const Json answer = sim::sendUnitCommand(tool::boardSocketPath(), command);
        printJson(answer);
        exitCode = answer.value("ok", false) ? 0 : 1;
    });

    // Under `pelmux sim`, which then serves no unit of its own.
    static std::string name;
    static std::string value;
    CLI::App* sim = app.get_subcommand("sim");
    auto* set = sim->add_subcommand("set", "Change a value of the running `pelmux sim` (names: " +
                                               sim::adjustableNames() + "), e.g. `pelmux sim set lux 300`");
    set->add_option("name", name, "What to change")->required();
    set->add_option("value", value, "The new value")->required();
    set->callback([&, sim] {
        if (const std::string root = sim->get_option("--root")->as<std::string>(); !root.empty())
            ::setenv("PELMUX_ROOT", root.c_str(), 1);
        exitCode = setValue(name, value, options);
    });
}

} // namespace pelmux::cli
