// `pelmux simctl COMMAND`: steers a running `pelmux sim` (faults, state) with its unit commands.
#include "Cli.h"

#include "Server.h"
#include "exports/ToolAccess.h"

#include <iostream>

namespace pelmux::cli {

void addSimControlCommands(CLI::App& app, const Options&, int& exitCode)
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
}

} // namespace pelmux::cli
