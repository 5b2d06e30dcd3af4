// Shared pieces of the pelmux command-line tool.
#pragma once

#include "Output.h"

#include <pelmux/Pelmux.h>

#include <CLI/CLI.hpp>

#include <functional>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

namespace pelmux::cli {

// A whole text read as a decimal or 0x hexadecimal integer (a leading zero does not make it octal);
// nullopt when it is none.
std::optional<long long> parseInteger(const std::string& text);
// The same, nullopt too when the number lies outside `lowest` to `highest`.
std::optional<long long> parseInteger(const std::string& text, long long lowest, long long highest);
// Lets every integer option and argument of the tool take decimal or 0x hexadecimal numbers.
void acceptHexAndDecimal(CLI::App& app);

// Why the tool cannot read (`write` false) or write `path`: "cannot read PATH: No such file or
// directory"; empty when nothing is in the way. Leaves no file behind.
std::string fileProblem(const std::string& path, bool write);

// Runs `use` on an object of the command's own from `factory` and releases it; a factory that
// gives no object is reported on standard error as "pelmux AREA COMMAND: no memory for the OBJECT".
template <class Interface, class Use>
bool withObject(Interface* (*factory)(), const char* area, const char* command, const char* object, Use use)
{
    Interface* instance = factory();
    if (instance == nullptr) {
        std::cerr << "pelmux " << area << ' ' << command << ": no memory for the " << object << '\n';
        return false;
    }
    const bool done = use(*instance);
    instance->release();
    return done;
}

// One step of the demo tour: prints what it shows and answers whether every read succeeded.
struct TourStep {
    const char* title;
    std::function<bool()> run;
};

// Each area adds its subcommands (setting exitCode when one runs) and its step of the demo tour.
// The lists in main.cpp and Tour.cpp name them all, in the order of the tour.
void addVersionCommands(CLI::App& app, const Options& options, int& exitCode);
void addErrorCommands(CLI::App& app, const Options& options, int& exitCode);
void addSimCommands(CLI::App& app, const Options& options, int& exitCode);
void addSimControlCommands(CLI::App& app, const Options& options, int& exitCode);
TourStep versionTour();
void addIdentityCommands(CLI::App& app, const Options& options, int& exitCode);
TourStep identityTour();
void addDiagCommands(CLI::App& app, const Options& options, int& exitCode);
TourStep diagTour();
void addAdcCommands(CLI::App& app, const Options& options, int& exitCode);
TourStep adcTour();
void addLightCommands(CLI::App& app, const Options& options, int& exitCode);
TourStep lightTour();
void addSettingsCommands(CLI::App& app, const Options& options, int& exitCode);
TourStep settingsTour();
void addBacklightCommands(CLI::App& app, const Options& options, int& exitCode);
TourStep backlightTour();
void addAblCommands(CLI::App& app, const Options& options, int& exitCode);
TourStep ablTour();
void addPrivateCommands(CLI::App& app, const Options& options, int& exitCode);
TourStep privateTour();
void addCanCommands(CLI::App& app, const Options& options, int& exitCode);
TourStep canTour();
void addTelematicsCommands(CLI::App& app, const Options& options, int& exitCode);
TourStep telematicsTour();
void addLedCommands(CLI::App& app, const Options& options, int& exitCode);
TourStep ledTour();
void addBuzzerCommands(CLI::App& app, const Options& options, int& exitCode);
TourStep buzzerTour();
void addTouchCommands(CLI::App& app, const Options& options, int& exitCode);
TourStep touchTour();
void addVideoCommands(CLI::App& app, const Options& options, int& exitCode);
TourStep videoTour();
void addFirmwareCommands(CLI::App& app, const Options& options, int& exitCode);
TourStep firmwareTour();
void addConfigCommands(CLI::App& app, const Options& options, int& exitCode);
TourStep configTour();
void addPowerCommands(CLI::App& app, const Options& options, int& exitCode);
TourStep powerTour();
void addBatteryCommands(CLI::App& app, const Options& options, int& exitCode);
TourStep batteryTour();
void addPowerMgrCommands(CLI::App& app, const Options& options, int& exitCode);
TourStep powerMgrTour();

// Every step of the demo tour, in order.
std::vector<TourStep> tourSteps();

} // namespace pelmux::cli
