// `pelmux sim` and `pelmux demo`: a simulated unit as a daemon or for one tour.
#include "Cli.h"
#include "Stop.h"

#include "HttpPanel.h"
#include "SavedState.h"
#include "Server.h"
#include "ToolAccess.h"

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <optional>
#include <unistd.h>

namespace pelmux::cli {

namespace {

sim::Json profileFrom(const std::string& path)
{
    return path.empty() ? sim::defaultProfile() : sim::loadProfile(path);
}

int runSim(const std::string& profilePath, const std::string& root, const std::string& tcp,
           const std::string& timing);
int runDemo(const std::string& profilePath);

// ---- the front panel (`--http HOST:PORT`)

struct PanelOptions {
    std::string address; // empty: no panel
    int paceMs = 1500;   // the demo's pause between steps while a panel shows it
};

PanelOptions& panelOptions()
{
    static PanelOptions options;
    return options;
}

void addPanelOption(CLI::App* command)
{
    command->add_option("--http", panelOptions().address,
                        "Also serve the unit's front panel page on HOST:PORT, or on 127.0.0.1:PORT for a "
                        "port alone (e.g. 8080)");
}

// Starts the panel when one was asked for; prints where it is.
std::unique_ptr<sim::HttpPanel> startPanel(sim::Unit& unit)
{
    if (panelOptions().address.empty())
        return nullptr;
    const auto [host, port] = sim::httpAddress(panelOptions().address);
    auto panel = std::make_unique<sim::HttpPanel>(unit, host, port);
    panel->start();
    std::cout << "Front panel at " << panel->url() << std::endl;
    return panel;
}

} // namespace

void addSimCommands(CLI::App& app, const Options&, int& exitCode)
{
    // Option values live as long as the App, which outlives every callback.
    static std::string profile;
    static std::string root;
    static std::string tcp;
    static std::string timing;
    auto* sim = app.add_subcommand("sim", "Serve a simulated unit on PELMUX_ROOT/board.sock until stopped");
    sim->add_option("--profile", profile, "Unit profile (JSON); the built-in full unit when omitted")
        ->check(CLI::ExistingFile);
    sim->add_option("--root", root, "Folder to serve instead of PELMUX_ROOT");
    addPanelOption(sim);
    sim->add_option("--tcp", tcp,
                    "Serve on TCP as well, for the Windows test DLL: HOST:PORT, or PORT on 127.0.0.1 "
                    "(port 0 picks a free one)");
    sim->add_option("--timing", timing,
                    "real: the unit takes the time the hardware takes (each I2C transfer its bus time at "
                    "the profile's clock, 100 kHz by default, each vendor-library call and driver request "
                    "the profile's figure; see docs/unit-profile.md); instant: every request is answered "
                    "at once. Default: the profile's timing.mode, else instant")
        ->check(CLI::IsMember({"real", "instant"}));
    sim->callback([&, sim] {
        // `pelmux sim set ...` and the like talk to a running unit instead of serving one.
        if (!sim->get_subcommands().empty())
            return;
        exitCode = runSim(profile, root, tcp, timing);
    });

    auto* demo = app.add_subcommand("demo", "Tour every hardware area on a simulated unit");
    demo->add_option("--profile", profile, "Unit profile (JSON)")->check(CLI::ExistingFile);
    addPanelOption(demo);
    demo->add_option("--pace", panelOptions().paceMs,
                     "Milliseconds between the tour's steps while the front panel shows them")
        ->check(CLI::Range(0, 60000));
    demo->callback([&] { exitCode = runDemo(profile); });
}

namespace {

int runSim(const std::string& profilePath, const std::string& root, const std::string& tcp,
           const std::string& timing)
{
    const auto tcpAddress = tcp.empty() ? std::nullopt : sim::parseTcpAddress(tcp);
    if (!tcp.empty() && !tcpAddress) {
        std::cerr << "pelmux sim: --tcp wants HOST:PORT or PORT with an IPv4 address, not " << tcp << '\n';
        return 1;
    }
    if (!root.empty())
        ::setenv("PELMUX_ROOT", root.c_str(), 1);
    const std::string folder = tool::unitRoot();
    if (folder.empty())
        return 1; // the library has said why
    StopSignals stop;
    try {
        sim::Json profile = profileFrom(profilePath);
        // A timing the unit could not keep is refused before it serves.
        sim::Timing pace = sim::timingOf(profile);
        if (!timing.empty()) {
            profile["timing"]["mode"] = timing;
            pace.real = timing == "real";
        }
        // What the unit changed of its lasting state (the identity EEPROMs) survives a restart.
        const std::string statePath = sim::savedStatePath(folder);
        // Saving is set up before the unit serves, so that no early write is lost.
        sim::SimulatedUnit unit(folder, sim::withSavedState(std::move(profile), statePath),
                                [&statePath](sim::Unit& served) { sim::saveStateTo(served, statePath); });
        const auto panel = startPanel(unit.unit());
        std::cout << "Simulated unit serving " << folder << "/board.sock (stop with Ctrl-C)" << std::endl;
        if (pace.real)
            std::cout << "Simulated unit at " << sim::describeTiming(pace) << std::endl;
        if (tcpAddress) {
            const std::uint16_t port = unit.serveTcp(*tcpAddress);
            std::cout << "Simulated unit serving tcp:" << tcpAddress->host << ':' << port << std::endl;
        }
        stop.wait();
        std::cout << "Stopping the simulated unit" << std::endl;
    } catch (const std::exception& e) {
        std::cerr << "pelmux sim: " << e.what() << '\n';
        return 1;
    }
    return 0;
}

int runDemo(const std::string& profilePath)
{
    char pattern[] = "/tmp/pelmux-demo-XXXXXX";
    const char* folder = ::mkdtemp(pattern);
    if (folder == nullptr) {
        std::cerr << "pelmux demo: cannot create a folder for the simulated unit\n";
        return 1;
    }
    ::setenv("PELMUX_ROOT", folder, 1);
    int failures = 0;
    const bool watched = !panelOptions().address.empty();
    // Ctrl-C reaches the tour between its steps, not the panel's threads.
    std::optional<StopSignals> stop;
    if (watched)
        stop.emplace();
    try {
        sim::SimulatedUnit unit(folder, profileFrom(profilePath));
        const auto panel = startPanel(unit.unit());
        std::cout << "Pelmux tour on a simulated unit in " << folder << '\n';
        bool stopped = false;
        for (const auto& step : tourSteps()) {
            // A person watching the page needs time to see each step.
            if (stop && (stopped = stop->waitFor(std::chrono::milliseconds(panelOptions().paceMs)) != 0))
                break;
            heading(step.title);
            if (!step.run())
                ++failures;
        }
        if (stop && !stopped) {
            std::cout << "\nTour done; the front panel stays at " << panel->url() << " (stop with Ctrl-C)"
                      << std::endl;
            stop->wait();
        }
    } catch (const std::exception& e) {
        std::cerr << "pelmux demo: " << e.what() << '\n';
        failures = 1;
    }
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
    std::cout << '\n' << (failures == 0 ? "Tour complete." : "Tour finished with failed steps.") << '\n';
    return failures == 0 ? 0 : 1;
}

} // namespace

} // namespace pelmux::cli
