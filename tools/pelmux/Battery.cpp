// `pelmux battery`: the optional battery pack: whether one is fitted, its charge, temperatures,
// version and ident text, and the controller's other registers as the library reads them.
#include "Cli.h"

#include <iostream>

namespace pelmux::cli {

namespace PELMUX_FILE_SCOPE {

using Varnholt::Battery;
using Varnholt::ResultCode;

// The readings of one summary: a JSON field and a table row each; failures go to standard error.
struct Summary {
    Json json = Json::object();
    std::vector<std::pair<std::string, std::string>> rows;
    std::vector<std::string> failures;

    bool add(const char* key, const std::string& label, ResultCode result, Json value, std::string text)
    {
        if (result != Varnholt::ERR_SUCCESS) {
            json[key] = failure(result);
            failures.push_back(label + ": " + describe(result));
            return false;
        }
        json[key] = std::move(value);
        rows.emplace_back(label, std::move(text));
        return true;
    }
};

void readCharge(Battery& battery, Summary& summary)
{
    unsigned char percent = 0;
    const ResultCode result = battery.getChargeLevel(&percent);
    summary.add("chargePercent", "Charge", result, percent, std::to_string(percent) + " %");
}

void readStates(Battery& battery, Summary& summary)
{
    int state = 0;
    ResultCode result = battery.getRegister4State(&state);
    summary.add("register4State", "Register 4 state", result, state, std::to_string(state) + " (0 to 4)");
    int flag = 0;
    result = battery.getRegister4Flag(&flag);
    summary.add("register4Flag", "Register 4 flag", result, flag,
                std::to_string(flag) + (flag == 1 ? " (bit 0 clear)" : " (bit 0 set)"));
    short value = 0;
    result = battery.getRegister3Value(&value);
    summary.add("register3", "Register 3", result, value, std::to_string(value));
    result = battery.getRegister5State(&state);
    summary.add("register5State", "Register 5 state", result, state, std::to_string(state) + " (0 to 5)");
}

void readTemperatures(Battery& battery, Summary& summary)
{
    short first = 0;
    short second = 0;
    const ResultCode result = battery.getTemperatures(&first, &second);
    summary.add("temperaturesCelsius", "Temperatures", result, Json::array({first, second}),
                std::to_string(first) + " °C, " + std::to_string(second) + " °C");
}

void readTexts(Battery& battery, Summary& summary)
{
    char version[16] = {};
    ResultCode result = battery.getVersionText(version, sizeof version);
    summary.add("version", "Version", result, version, version);
    char ident[16] = {};
    result = battery.getIdentText(ident, sizeof ident);
    summary.add("ident", "Ident", result, ident, ident);
}

void readRegisters(Battery& battery, Summary& summary)
{
    unsigned short values[4] = {};
    const ResultCode result = battery.getRegisters7To10(&values[0], &values[1], &values[2], &values[3]);
    summary.add("registers7To10", "Registers 7 to 10", result,
                Json::array({values[0], values[1], values[2], values[3]}),
                std::to_string(values[0]) + ", " + std::to_string(values[1]) + ", " +
                    std::to_string(values[2]) + ", " + std::to_string(values[3]));
    Varnholt::BatteryTimeRecord times{};
    const ResultCode timeResult = battery.getTimeRecord(&times);
    Json list = Json::array();
    std::string text;
    for (const auto value : times.values) {
        list.push_back(value);
        text += (text.empty() ? "" : ", ") + std::to_string(value);
    }
    summary.add("timeRecord", "Time record", timeResult, list, text);
}

bool showBattery(const Options& options)
{
    Battery* battery = GetBattery();
    if (battery == nullptr) {
        std::cerr << "pelmux battery: no memory for the battery object\n";
        return false;
    }
    Summary summary;
    unsigned char present = 0;
    const ResultCode result = battery->getBatteryPresent(&present);
    summary.add("present", "Battery", result, present == 1, present == 1 ? "fitted" : "not fitted");
    if (result == Varnholt::ERR_SUCCESS && present == 1) {
        readCharge(*battery, summary);
        readTemperatures(*battery, summary);
        readTexts(*battery, summary);
        readStates(*battery, summary);
        readRegisters(*battery, summary);
    }
    battery->release();

    if (options.json)
        printJson(summary.json);
    else
        printTable(summary.rows);
    for (const auto& failure : summary.failures)
        std::cerr << "pelmux battery: " << failure << '\n';
    if (result == Varnholt::ERR_NEWER_SS_REQUIRED)
        std::cerr << "The battery needs supervisor firmware 1.3.0.0 or newer (or no board driver answers).\n";
    else if (result == Varnholt::ERR_JIDA_EEPROM_ACCESS)
        std::cerr << "The unit's identity EEPROM has no readable BATTERY line.\n";
    return summary.failures.empty();
}

} // namespace PELMUX_FILE_SCOPE

void addBatteryCommands(CLI::App& app, const Options& options, int& exitCode)
{
    using namespace PELMUX_FILE_SCOPE;
    app.add_subcommand("battery", "The battery pack: fitted, charge, temperatures, version, ident, registers")
        ->callback([&] { exitCode = showBattery(options) ? 0 : 1; });
}

TourStep batteryTour()
{
    using namespace PELMUX_FILE_SCOPE;
    return {"Battery", [] { return showBattery(Options{}); }};
}

} // namespace pelmux::cli
