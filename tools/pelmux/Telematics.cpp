// `pelmux telematics`: the radio modules behind the I2C port expander (GSM/GPRS modem, WLAN,
// Bluetooth, GPS): which are fitted, their power, their power-at-startup preference, the GPS status
// input; switching their power and their preference.
#include "Cli.h"

#include <iostream>
#include <map>

namespace pelmux::cli {

namespace PELMUX_FILE_SCOPE {

using Varnholt::ResultCode;
using Varnholt::Telematics;
using Getter = ResultCode (Telematics::*)(std::int32_t*);
using Setter = ResultCode (Telematics::*)(std::int32_t);

struct ModuleOps {
    const char* name;  // on the command line and in JSON
    const char* label; // in the table
    ResultCode notFitted;
    Getter power;
    Getter startup;
    Setter setPower;
    Setter setStartup;
};

constexpr ModuleOps moduleOps[] = {
    {"gprs", "GSM/GPRS modem", Varnholt::ERR_GSM_GPRS_NOT_AVAILABLE, &Telematics::getGPRSPowerStatus,
     &Telematics::getGPRSPowerAtStartup, &Telematics::setGPRSPowerStatus, &Telematics::setGPRSPowerAtStartup},
    {"wlan", "WLAN", Varnholt::ERR_WLAN_NOT_AVAILABLE, &Telematics::getWLANPowerStatus,
     &Telematics::getWLANPowerAtStartup, &Telematics::setWLANPowerStatus, &Telematics::setWLANPowerAtStartup},
    {"bt", "Bluetooth", Varnholt::ERR_BLUETOOTH_NOT_AVAILABLE, &Telematics::getBTPowerStatus,
     &Telematics::getBTPowerAtStartup, &Telematics::setBTPowerStatus, &Telematics::setBTPowerAtStartup},
    {"gps", "GPS", Varnholt::ERR_GPS_NOT_AVAILABLE, &Telematics::getGPSPowerStatus,
     &Telematics::getGPSPowerAtStartup, &Telematics::setGPSPowerStatus, &Telematics::setGPSPowerAtStartup},
};

const ModuleOps* findModule(const std::string& name)
{
    for (const auto& module : moduleOps)
        if (name == module.name)
            return &module;
    return nullptr;
}

const char* onOff(std::int32_t value)
{
    return value == 1 ? "on" : "off";
}

// Runs `use` on the process's telematics object and gives the reference back.
template <class Use> bool withTelematics(Use use)
{
    Telematics* telematics = GetTelematics();
    if (telematics == nullptr) {
        std::cerr << "pelmux telematics: no memory for the telematics object\n";
        return false;
    }
    const bool done = use(*telematics);
    telematics->release();
    return done;
}

// One reading of a module: its JSON entry and its text; a module not fitted is no failure.
bool readValue(Telematics& telematics, Getter get, Json& json, std::string& text)
{
    std::int32_t value = 0;
    const ResultCode result = (telematics.*get)(&value);
    json = outcome(result, {{"on", value == 1}});
    if (result != Varnholt::ERR_SUCCESS) {
        text = "error: " + describe(result);
        return false;
    }
    text = onOff(value);
    return true;
}

bool showTelematics(const Options& options)
{
    return withTelematics([&](Telematics& telematics) {
        bool all = true;
        Json json = Json::object();
        std::vector<std::pair<std::string, std::string>> rows;
        std::int32_t any = 0;
        telematics.getTelematicsAvailable(&any);
        json["available"] = any == 1;
        rows.emplace_back("Telematics", any == 1 ? "fitted" : "no module fitted");
        for (const auto& module : moduleOps) {
            Json entry = Json::object();
            std::string power;
            std::string startup;
            std::int32_t probe = 0;
            const bool fitted = (telematics.*module.startup)(&probe) != module.notFitted;
            entry["fitted"] = fitted;
            if (!fitted) {
                json["modules"][module.name] = entry;
                rows.emplace_back(module.label, "not fitted");
                continue;
            }
            all = readValue(telematics, module.power, entry["power"], power) && all;
            all = readValue(telematics, module.startup, entry["powerAtStartup"], startup) && all;
            std::string text = "power " + power + ", at start-up " + startup;
            if (module.power == &Telematics::getGPSPowerStatus) {
                std::string input;
                all = readValue(telematics, &Telematics::getGPSInputStatus, entry["input"], input) && all;
                text += ", status input " + std::string(input == "on"    ? "high"
                                                        : input == "off" ? "low"
                                                                         : input);
            }
            json["modules"][module.name] = entry;
            rows.emplace_back(module.label, text);
        }
        if (options.json)
            printJson(json);
        else
            printTable(rows);
        return all;
    });
}

bool switchModule(const Options& options, const std::string& what, const std::string& name,
                  const std::string& state)
{
    const ModuleOps* module = findModule(name);
    if (module == nullptr) {
        std::cerr << "pelmux telematics " << what << ": MODULE is gprs, wlan, bt or gps\n";
        return false;
    }
    const std::int32_t on = state == "on" ? 1 : 0;
    return withTelematics([&](Telematics& telematics) {
        const Setter set = what == "power" ? module->setPower : module->setStartup;
        const ResultCode result = (telematics.*set)(on);
        if (options.json) {
            Json json = result == Varnholt::ERR_SUCCESS ? Json{{"result", 0}} : failure(result);
            json["module"] = module->name;
            json[what == "power" ? "power" : "powerAtStartup"] = on == 1;
            printJson(json);
        } else if (result == Varnholt::ERR_SUCCESS) {
            std::cout << module->label << (what == "power" ? " power " : " power at start-up ") << onOff(on)
                      << ".\n";
        } else {
            std::cerr << "pelmux telematics " << what << ": " << describe(result) << '\n';
        }
        return result == Varnholt::ERR_SUCCESS;
    });
}

} // namespace PELMUX_FILE_SCOPE

void addTelematicsCommands(CLI::App& app, const Options& options, int& exitCode)
{
    using namespace PELMUX_FILE_SCOPE;
    auto* telematics = app.add_subcommand(
        "telematics", "Radio modules (GSM/GPRS, WLAN, Bluetooth, GPS): fitted, power, power at start-up");
    telematics->callback([&, telematics] {
        if (telematics->get_subcommands().empty())
            exitCode = showTelematics(options) ? 0 : 1;
    });

    // Option values live as long as the App, which outlives every callback.
    static std::map<std::string, std::pair<std::string, std::string>> arguments;
    for (const char* what : {"power", "startup"}) {
        auto* command = telematics->add_subcommand(
            what, std::string(what) == "power"
                      ? "Switch a module's power (the modem's key pulse takes 1.1 s on, 2.1 s off)"
                      : "Set whether a module is to be powered at start-up");
        auto& [module, state] = arguments[what];
        command->add_option("module", module, "gprs, wlan, bt or gps")
            ->required()
            ->transform(CLI::IsMember({"gprs", "wlan", "bt", "gps"}, CLI::ignore_case));
        command->add_option("state", state, "on or off")
            ->required()
            ->transform(CLI::IsMember({"on", "off"}, CLI::ignore_case));
        command->callback([&, what = std::string(what)] {
            const auto& [chosen, wanted] = arguments[what];
            exitCode = switchModule(options, what, chosen, wanted) ? 0 : 1;
        });
    }
}

TourStep telematicsTour()
{
    using namespace PELMUX_FILE_SCOPE;
    return {"Telematics", [] {
                bool all = showTelematics(Options{});
                std::cout << "  switching WLAN on and off:\n";
                all = switchModule(Options{}, "power", "wlan", "on") && all;
                all = showTelematics(Options{}) && all;
                all = switchModule(Options{}, "power", "wlan", "off") && all;
                return all;
            }};
}

} // namespace pelmux::cli
