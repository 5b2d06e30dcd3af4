// pelmux: every hardware area of the unit from the shell, and a simulated unit to try them on.
#include "Cli.h"

#include <algorithm>
#include <string_view>

namespace {

using namespace pelmux::cli;

// Exit codes, as --help and the README state them.
constexpr int usageExitCode = 2;

constexpr const char* footer = R"(Exit codes:
  0    success
  1    the unit or the library refused (the message names the result code)
  2    usage: an unknown command, a missing or wrong argument
  130  stopped by Ctrl-C, 143 by SIGTERM (after switching the buzzer off, ending a calibration,
       releasing the objects; `abl run` ends with 0, as that is how it is stopped)

Options such as --json may come anywhere on the line. Numbers may be decimal or 0x hexadecimal;
on/off and colour names in any case.

Examples:
  pelmux sim &                       a simulated unit under $PELMUX_ROOT
  pelmux version --json              the six versions as JSON
  pelmux backlight set 0x80          a backlight level in hexadecimal
  pelmux buzzer buzz 500             a half-second buzz (Ctrl-C switches it off)
  pelmux firmware image ss s.hex && pelmux firmware upgrade ss s.hex
  pelmux calib run 1 --touch         a five-point calibration on the simulated screen)";

// What a group shows when it is given no command: its state.
constexpr std::pair<std::string_view, const char*> groupStates[] = {
    {"backlight", "get"},   {"can", "get"},       {"config", "list"},
    {"firmware", "status"}, {"settings", "list"}, {"powermgr", "request"},
};

CLI::App* subcommandNamed(CLI::App& group, const std::string& name)
{
    const auto found = group.get_subcommands([&](CLI::App* sub) { return sub->check_name(name); });
    return found.empty() ? nullptr : found.front();
}

bool takesValue(CLI::App& command, const std::string& token)
{
    const CLI::Option* option = command.get_option_no_throw(token.substr(0, token.find('=')));
    return option != nullptr && option->get_expected_max() > 0 && token.find('=') == std::string::npos;
}

// Follows the command words of the line down the groups. A word that names no command of a group
// is an unknown command (CLI11 would only say that a subcommand is required); a group given no
// command runs the one that shows its state, or shows its help when it has no state of its own; a
// group asked for its help shows its own, with its commands.
// Answers the exit code when the line ends here, -1 when it is to be parsed.
int walkCommands(CLI::App& app, std::vector<std::string>& args)
{
    CLI::App* at = &app;
    std::string path = "pelmux";
    bool help = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& token = args[i];
        if (token == "--")
            return -1;
        if (token.size() > 1 && token[0] == '-') {
            help = help || token == "--help" || token == "-h";
            i += takesValue(*at, token) || takesValue(app, token) ? 1 : 0;
            continue;
        }
        if (CLI::App* sub = subcommandNamed(*at, token)) {
            at = sub;
            path += ' ' + token;
            continue;
        }
        const bool group = !at->get_subcommands([](CLI::App*) { return true; }).empty();
        const bool positionals =
            !at->get_options([](const CLI::Option* o) { return o->get_positional(); }).empty();
        if (group && !positionals) {
            std::cerr << path << ": unknown command '" << token << "'\nRun '" << path
                      << " --help' for its commands.\n";
            return usageExitCode;
        }
        return -1;
    }
    if (at == &app || at->get_require_subcommand_min() == 0)
        return -1;
    // The usage line names the whole command, "pelmux backlight", as CLI11's own help does.
    const std::string parents = path.substr(0, path.rfind(' '));
    if (help) {
        std::cout << at->help(parents);
        return 0;
    }
    for (const auto& [group, command] : groupStates) {
        if (at->get_parent() == &app && at->get_name() == group) {
            args.emplace_back(command);
            return -1;
        }
    }
    std::cout << at->help(parents);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    CLI::App app{"pelmux: hardware access of the panel PC (PELMUX_ROOT selects the unit)", "pelmux"};
    app.require_subcommand(1);
    // Global options are taken after a command too (`pelmux version --json`); the groups made below
    // inherit this.
    app.fallthrough();
    app.set_version_flag("--version", "pelmux 1.5.0.0");
    Options options;
    app.add_flag("--json", options.json, "Print data as JSON");

    int exitCode = 0;
    addVersionCommands(app, options, exitCode);
    addIdentityCommands(app, options, exitCode);
    addDiagCommands(app, options, exitCode);
    addAdcCommands(app, options, exitCode);
    addLightCommands(app, options, exitCode);
    addSettingsCommands(app, options, exitCode);
    addBacklightCommands(app, options, exitCode);
    addAblCommands(app, options, exitCode);
    addPrivateCommands(app, options, exitCode);
    addCanCommands(app, options, exitCode);
    addTelematicsCommands(app, options, exitCode);
    addLedCommands(app, options, exitCode);
    addBuzzerCommands(app, options, exitCode);
    addTouchCommands(app, options, exitCode);
    addVideoCommands(app, options, exitCode);
    addFirmwareCommands(app, options, exitCode);
    addConfigCommands(app, options, exitCode);
    addPowerCommands(app, options, exitCode);
    addBatteryCommands(app, options, exitCode);
    addPowerMgrCommands(app, options, exitCode);
    addErrorCommands(app, options, exitCode);
    addSimCommands(app, options, exitCode);
    addSimControlCommands(app, options, exitCode);
    acceptHexAndDecimal(app);
    app.footer(footer); // after the commands, which would inherit it

    std::vector<std::string> args(argv + 1, argv + argc);
    if (const int ended = walkCommands(app, args); ended >= 0)
        return ended;
    try {
        std::reverse(args.begin(), args.end()); // CLI11 takes a vector last argument first
        app.parse(args);
    } catch (const CLI::ParseError& error) {
        // Help and --version end with 0; every other parse error is a usage error.
        return app.exit(error) == 0 ? 0 : usageExitCode;
    }
    return exitCode;
}
