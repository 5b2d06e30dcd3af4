// pelmux: every hardware area of the unit from the shell, and a simulated unit to try them on.
#include "Cli.h"

int main(int argc, char** argv)
{
    using namespace pelmux::cli;
    CLI::App app{"pelmux: hardware access of the panel PC (PELMUX_ROOT selects the unit)"};
    app.require_subcommand(1);
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
    addFirmwareCommands(app, options, exitCode);
    addErrorCommands(app, options, exitCode);
    addSimCommands(app, options, exitCode);
    addSimControlCommands(app, options, exitCode);

    CLI11_PARSE(app, argc, argv);
    return exitCode;
}
