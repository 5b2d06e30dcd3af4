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
    app.add_subcommand("version", "Firmware, library and OS image versions")->callback([&] {
        exitCode = runVersion(options);
    });
    app.add_subcommand("errors", "Every result code and its text")->callback([&] {
        exitCode = runErrors(options);
    });

    std::string profile;
    std::string root;
    auto* sim = app.add_subcommand("sim", "Serve a simulated unit on PELMUX_ROOT/board.sock until stopped");
    sim->add_option("--profile", profile, "Unit profile (JSON); the built-in full unit when omitted")
        ->check(CLI::ExistingFile);
    sim->add_option("--root", root, "Folder to serve instead of PELMUX_ROOT");
    sim->callback([&] { exitCode = runSim(profile, root); });

    auto* demo = app.add_subcommand("demo", "Tour every hardware area on a simulated unit");
    demo->add_option("--profile", profile, "Unit profile (JSON)")->check(CLI::ExistingFile);
    demo->callback([&] { exitCode = runDemo(profile); });

    CLI11_PARSE(app, argc, argv);
    return exitCode;
}
