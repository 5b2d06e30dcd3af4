// `pelmux private`: the maintenance door of the unit: identity EEPROM fields by name, the
// supervisor's registers, and single keys of the settings file.
#include "Cli.h"

#include <cstdio>
#include <iostream>
#include <optional>

namespace pelmux::cli {

namespace PELMUX_FILE_SCOPE {

using Varnholt::PelmuxPrivate;
using Varnholt::ResultCode;

// Registers up to this index use the byte-indexed operations; above it, the extended ones.
constexpr long lastByteRegister = 95;
constexpr long lastRegister = 749;

// The interface for one command, given back when the command ends.
class Door {
public:
    Door() : door_(GetPelmuxPrivate()) {}
    ~Door()
    {
        if (door_ != nullptr)
            door_->release();
    }
    Door(const Door&) = delete;
    Door& operator=(const Door&) = delete;
    PelmuxPrivate* operator->() const { return door_; }
    PelmuxPrivate& operator*() const { return *door_; }
    explicit operator bool() const { return door_ != nullptr; }

private:
    PelmuxPrivate* door_;
};

// A decimal or 0x-hexadecimal number from 0 to `max`.
std::optional<long> numberFrom(const std::string& text, long max)
{
    const auto number = parseInteger(text, 0, max);
    return number ? std::optional<long>(static_cast<long>(*number)) : std::nullopt;
}

std::string hex16(std::uint16_t value)
{
    char text[8];
    std::snprintf(text, sizeof text, "0x%04X", static_cast<unsigned>(value));
    return text;
}

const char* eepromName(bool expansion)
{
    return expansion ? "expansion" : "unit";
}

// Prints a failure (as JSON with `what` merged in, or as a line on standard error) and answers false.
bool failed(const char* command, ResultCode result, Json what, const Options& options)
{
    if (options.json) {
        what.update(failure(result));
        printJson(what);
    } else {
        std::cerr << "pelmux private " << command << ": " << describe(result) << '\n';
        if (const auto hint = driverHint(result); !hint.empty())
            std::cerr << hint << '\n';
    }
    return false;
}

bool noObject(const char* command)
{
    std::cerr << "pelmux private " << command << ": no maintenance object\n";
    return false;
}

// Prints the outcome of one command: a failure as `failed` does; a success as `what` with result 0
// in JSON, else as `text` (a line of its own). Answers whether the command succeeded.
bool reported(const char* command, ResultCode result, Json what, const Options& options,
              const std::string& text)
{
    if (result != Varnholt::ERR_SUCCESS)
        return failed(command, result, std::move(what), options);
    if (options.json) {
        what["result"] = 0;
        printJson(what);
    } else {
        std::cout << text << '\n';
    }
    return true;
}

bool getIdentity(bool expansion, const std::string& name, const Options& options)
{
    Door door;
    if (!door)
        return noObject("identity get");
    char value[256] = {};
    const ResultCode result = door->getIdentityField(expansion ? 1 : 0, name.c_str(), value,
                                                     static_cast<std::int32_t>(sizeof value) - 1);
    Json what = {{"eeprom", eepromName(expansion)}, {"name", name}};
    if (result == Varnholt::ERR_SUCCESS)
        what["value"] = value;
    return reported("identity get", result, what, options, value);
}

bool setIdentity(bool expansion, const std::string& name, const std::string& value, const Options& options)
{
    Door door;
    if (!door)
        return noObject("identity set");
    const ResultCode result = door->setIdentityField(expansion ? 1 : 0, name.c_str(), value.c_str());
    return reported("identity set", result,
                    {{"eeprom", eepromName(expansion)}, {"name", name}, {"value", value}}, options,
                    "  " + name + " = " + value + " (" + eepromName(expansion) + " EEPROM)");
}

ResultCode readRegister(PelmuxPrivate& door, long index, std::uint16_t& value)
{
    if (index <= lastByteRegister)
        return door.readSupervisorRegister(static_cast<signed char>(index), &value);
    return door.readSupervisorRegisterExt(static_cast<std::uint16_t>(index), &value);
}

bool getRegister(long index, const Options& options)
{
    Door door;
    if (!door)
        return noObject("register get");
    std::uint16_t value = 0;
    const ResultCode result = readRegister(*door, index, value);
    Json what = {{"index", index}};
    if (result == Varnholt::ERR_SUCCESS)
        what["value"] = value;
    return reported("register get", result, what, options, std::to_string(value) + " (" + hex16(value) + ")");
}

bool setRegister(long index, std::uint16_t value, const Options& options)
{
    Door door;
    if (!door)
        return noObject("register set");
    const ResultCode result =
        index <= lastByteRegister
            ? door->writeSupervisorRegister(static_cast<signed char>(index), value)
            : door->writeSupervisorRegisterExt(static_cast<std::uint16_t>(index), value);
    return reported("register set", result, {{"index", index}, {"value", value}}, options,
                    "  register " + std::to_string(index) + " = " + std::to_string(value) + " (" +
                        hex16(value) + ")");
}

bool getSetting(const std::string& key, const Options& options)
{
    Door door;
    if (!door)
        return noObject("setting get");
    std::string value(64 * 1024, '\0');
    const ResultCode result =
        door->getSetting(key.c_str(), value.data(), static_cast<std::int32_t>(value.size()));
    value.resize(value.find('\0'));
    Json what = {{"key", key}};
    if (result == Varnholt::ERR_SUCCESS)
        what["value"] = value;
    return reported("setting get", result, what, options, value);
}

bool setSetting(const std::string& key, const std::string& value, const Options& options)
{
    Door door;
    if (!door)
        return noObject("setting set");
    const ResultCode result = door->setSetting(key.c_str(), value.c_str());
    return reported("setting set", result, {{"key", key}, {"value", value}}, options,
                    "  " + key + " = " + value);
}

// Parses INDEX (and VALUE) and runs the command; a malformed number is a usage error (exit 2).
int registerCommand(const std::string& indexText, const std::string* valueText, const Options& options)
{
    const auto index = numberFrom(indexText, lastRegister);
    if (!index) {
        std::cerr << "pelmux private register: the index '" << indexText << "' is not a number from 0 to "
                  << lastRegister << '\n';
        return 2;
    }
    if (valueText == nullptr)
        return getRegister(*index, options) ? 0 : 1;
    const auto value = numberFrom(*valueText, 0xFFFF);
    if (!value) {
        std::cerr << "pelmux private register set: the value '" << *valueText
                  << "' is not a number from 0 to 65535 (or 0x0000 to 0xFFFF)\n";
        return 2;
    }
    return setRegister(*index, static_cast<std::uint16_t>(*value), options) ? 0 : 1;
}

} // namespace PELMUX_FILE_SCOPE

void addPrivateCommands(CLI::App& app, const Options& options, int& exitCode)
{
    using namespace PELMUX_FILE_SCOPE;
    static bool expansion = false;
    static std::string name;
    static std::string value;
    static std::string index;

    auto* maintenance = app.add_subcommand(
        "private", "Maintenance access: identity EEPROM fields, supervisor registers, settings keys");
    maintenance->require_subcommand(1);

    auto* identity = maintenance->add_subcommand("identity", "One field of an identity EEPROM, by its name");
    identity->require_subcommand(1);
    auto* identityGet = identity->add_subcommand("get", "The value of a field, such as PCB_SERIAL");
    identityGet->add_flag("--expansion", expansion,
                          "The expansion board's EEPROM (0xA4) instead of the unit's (0xAE)");
    identityGet->add_option("name", name, "Field name")->required();
    identityGet->callback([&] { exitCode = getIdentity(expansion, name, options) ? 0 : 1; });
    auto* identitySet = identity->add_subcommand(
        "set", "Rewrite the value of an existing field (the whole EEPROM is written and read back)");
    identitySet->add_flag("--expansion", expansion,
                          "The expansion board's EEPROM (0xA4) instead of the unit's (0xAE)");
    identitySet->add_option("name", name, "Field name")->required();
    identitySet->add_option("value", value, "New value (no blanks or line breaks)")->required();
    identitySet->callback([&] { exitCode = setIdentity(expansion, name, value, options) ? 0 : 1; });

    auto* registers = maintenance->add_subcommand(
        "register", "The supervisor's 16-bit registers 0 to 749: 0 to 95 through the byte-indexed requests, "
                    "96 to 749 through the extended ones, which need supervisor firmware 1.3.0 or later");
    registers->require_subcommand(1);
    auto* registerGet = registers->add_subcommand("get", "Read one register");
    registerGet->add_option("index", index, "Register index, 0 to 749 (decimal or 0x hexadecimal)")
        ->required();
    registerGet->callback([&] { exitCode = registerCommand(index, nullptr, options); });
    auto* registerSet = registers->add_subcommand("set", "Write one register");
    registerSet->add_option("index", index, "Register index, 0 to 749 (decimal or 0x hexadecimal)")
        ->required();
    registerSet->add_option("value", value, "Value, 0 to 65535 (decimal or 0x hexadecimal)")->required();
    registerSet->callback([&] { exitCode = registerCommand(index, &value, options); });

    auto* setting = maintenance->add_subcommand("setting", "One key of the settings file Pelmux.ini");
    setting->require_subcommand(1);
    auto* settingGet = setting->add_subcommand("get", "The value of a key (a missing or empty one fails)");
    settingGet->add_option("key", name, "Key")->required();
    settingGet->callback([&] { exitCode = getSetting(name, options) ? 0 : 1; });
    auto* settingSet = setting->add_subcommand("set", "Set a key (the whole file is rewritten)");
    settingSet->add_option("key", name, "Key")->required();
    settingSet->add_option("value", value, "Value")->required();
    settingSet->callback([&] { exitCode = setSetting(name, value, options) ? 0 : 1; });
}

TourStep privateTour()
{
    using namespace PELMUX_FILE_SCOPE;
    return {"Maintenance access", [] {
                Door door;
                if (!door)
                    return noObject("tour");
                std::vector<std::pair<std::string, std::string>> rows;
                bool all = true;
                for (const bool expansion : {false, true}) {
                    char serial[256] = {};
                    const ResultCode result =
                        door->getIdentityField(expansion ? 1 : 0, "PCB_SERIAL", serial, sizeof serial - 1);
                    all = all && result == Varnholt::ERR_SUCCESS;
                    rows.emplace_back(std::string(eepromName(expansion)) + " PCB_SERIAL",
                                      result == Varnholt::ERR_SUCCESS ? std::string(serial)
                                                                      : "error: " + describe(result));
                }
                for (const long index : {0L, 1L, 2L, 10L, 95L, 96L, 749L}) {
                    std::uint16_t value = 0;
                    const ResultCode result = readRegister(*door, index, value);
                    all = all && result == Varnholt::ERR_SUCCESS;
                    rows.emplace_back("register " + std::to_string(index),
                                      result == Varnholt::ERR_SUCCESS
                                          ? std::to_string(value) + " (" + hex16(value) + ")"
                                          : "error: " + describe(result));
                }
                printTable(rows);
                return all;
            }};
}

} // namespace pelmux::cli
