// `pelmux power`: the power outputs the system supervisor switches (display, CAN, the video inputs,
// the auxiliary output), its power-state code, and its power command.
#include "Cli.h"

#include <iostream>
#include <map>

namespace pelmux::cli {

namespace PELMUX_FILE_SCOPE {

using Varnholt::Power;
using Varnholt::ResultCode;

// The on/off outputs.
struct OutputOps {
    const char* name;  // on the command line and in JSON
    const char* label; // in the table
    ResultCode (Power::*get)(int*);
    ResultCode (Power::*set)(int);
};

constexpr OutputOps outputOps[] = {
    {"display", "Display power", &Power::getDisplayPowerStatus, &Power::setDisplayPowerStatus},
    {"can", "CAN power", &Power::getCanPowerStatus, &Power::setCanPowerStatus},
    {"aux", "Auxiliary power", &Power::getAuxPowerStatus, &Power::setAuxPowerStatus},
};

std::string inputList(unsigned mask)
{
    std::string list;
    for (unsigned input = 0; input < 4; ++input)
        if ((mask & (1u << input)) != 0)
            list += (list.empty() ? "" : ", ") + std::to_string(input + 1);
    return list.empty() ? "all off" : "inputs " + list + " on";
}

// Runs `use` on a power object of its own and releases it.
template <class Use> bool withPower(const char* command, Use use)
{
    return withObject(GetPower, "power", command, "power object", use);
}

// Collects the readings: a JSON field and a table row each. A feature the unit lacks is no failure.

bool showPower(const Options& options)
{
    return withPower("show", [&](Power& power) {
        Readings readings;
        readings.absentText = "not fitted on this unit";
        for (const auto& output : outputOps) {
            int on = 0;
            const ResultCode result = (power.*output.get)(&on);
            readings.add(output.name, output.label, result, {{"on", on == 1}}, on == 1 ? "on" : "off");
        }
        unsigned char mask = 0;
        ResultCode result = power.getVideoPowerStatus(&mask);
        readings.add("video", "Video power", result, {{"mask", mask}},
                     std::to_string(mask) + " (" + inputList(mask) + ")");
        int state = 0;
        result = power.getPowerStateCode(&state);
        readings.add("state", "Power state code", result, {{"code", state}}, std::to_string(state));
        return readings.print(options);
    });
}

bool switchOutput(const OutputOps& output, bool on, const Options& options)
{
    return withPower(output.name, [&](Power& power) {
        const ResultCode result = (power.*output.set)(on ? 1 : 0);
        return reportChange(result, options, std::string(output.label) + (on ? " on." : " off."),
                            {{"output", output.name}, {"on", on}},
                            {.command = std::string("power ") + output.name});
    });
}

// 0 done, 1 refused, 2 a mask text that is no number from 0 to 15.
int setVideo(const std::string& text, const Options& options)
{
    const auto number = parseInteger(text, 0, 15);
    if (!number) {
        std::cerr << "pelmux power video: MASK is a number from 0 to 15 (bit 0 is video input 1)\n";
        return 2;
    }
    const auto mask = static_cast<unsigned>(*number);
    const bool done = withPower("video", [&](Power& power) {
        const ResultCode result = power.setVideoPowerStatus(static_cast<unsigned char>(mask));
        return reportChange(result, options, "Video power " + inputList(mask) + ".", {{"mask", mask}},
                            {.command = "power video"});
    });
    return done ? 0 : 1;
}

bool sendCommand(const Options& options)
{
    return withPower("command", [&](Power& power) {
        return reportChange(power.sendPowerCommand(), options, "Power command sent.", Json::object(),
                            {.command = "power command"});
    });
}

} // namespace PELMUX_FILE_SCOPE

void addPowerCommands(CLI::App& app, const Options& options, int& exitCode)
{
    using namespace PELMUX_FILE_SCOPE;
    auto* power = app.add_subcommand(
        "power", "Power outputs (display, CAN, video inputs, auxiliary) and the supervisor's power state");
    power->callback([&, power] {
        if (power->get_subcommands().empty())
            exitCode = showPower(options) ? 0 : 1;
    });

    // Option values live as long as the App, which outlives every callback.
    static std::map<std::string, std::string> states;
    for (const auto& output : outputOps) {
        auto* command =
            power->add_subcommand(output.name, std::string("Switch the ") + output.label + " on or off");
        command->add_option("state", states[output.name], "on or off")
            ->required()
            ->transform(CLI::IsMember({"on", "off"}, CLI::ignore_case));
        command->callback([&, &output = output] {
            exitCode = switchOutput(output, states[output.name] == "on", options) ? 0 : 1;
        });
    }

    static std::string mask;
    auto* video = power->add_subcommand("video", "Switch the power of the video inputs by a mask");
    video->add_option("mask", mask, "0 to 15: bit 0 is input 1, ..., bit 3 input 4 (15 all on, 0 all off)")
        ->required();
    video->callback([&] { exitCode = setVideo(mask, options); });

    power->add_subcommand("command", "Send the supervisor its power command (a request without data)")
        ->callback([&] { exitCode = sendCommand(options) ? 0 : 1; });
}

TourStep powerTour()
{
    using namespace PELMUX_FILE_SCOPE;
    return {"Power outputs", [] {
                const Options quiet{};
                bool all = showPower(quiet);
                std::cout << "  switching the auxiliary output on and video input 3 on as well:\n";
                all = switchOutput(outputOps[2], true, quiet) && all;
                all = setVideo("7", quiet) == 0 && all;
                return showPower(quiet) && all;
            }};
}

} // namespace pelmux::cli
