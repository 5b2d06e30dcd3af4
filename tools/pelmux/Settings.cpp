// `pelmux settings`: the unit's shared settings file, one load-modify-write cycle per command.
#include "Cli.h"

#include "ToolAccess.h"

#include <iostream>

namespace pelmux::cli {

namespace PELMUX_FILE_SCOPE {

// Where the file lies on this machine, for the reader's orientation.
std::string hostPathOf(const std::string& path)
{
    return tool::hostPathOf(path);
}

bool listSettings(const Options& options)
{
    const tool::SettingsSnapshot file = tool::readSettings();
    const std::string& path = file.path;
    if (options.json) {
        printJson({{"path", path}, {"file", hostPathOf(path)}, {"settings", file.entries}});
        return true;
    }
    std::cout << "  " << path << " (" << hostPathOf(path) << ")\n";
    std::vector<std::pair<std::string, std::string>> rows;
    for (const auto& [key, value] : file.entries)
        rows.emplace_back(key.empty() ? "(empty key)" : key, value);
    if (rows.empty())
        std::cout << "  no settings\n";
    printTable(rows);
    return true;
}

bool getSetting(const std::string& key, const Options& options)
{
    const auto entries = tool::readSettings().entries;
    const auto found = entries.find(key);
    if (options.json) {
        Json answer = {{"key", key}, {"set", found != entries.end()}};
        if (found != entries.end())
            answer["value"] = found->second;
        printJson(answer);
    } else if (found != entries.end()) {
        std::cout << found->second << '\n';
    } else {
        std::cerr << "pelmux settings: " << key << " is not set\n";
    }
    return found != entries.end();
}

bool setSetting(const std::string& key, const std::string& value, const Options& options)
{
    std::string path;
    const bool written = tool::writeSetting(key, value, path);
    if (options.json) {
        printJson({{"key", key}, {"value", value}, {"written", written}});
    } else if (written) {
        std::cout << "  " << key << " = " << value << '\n';
    } else {
        std::cerr << "pelmux settings: " << key << " was not written to " << hostPathOf(path)
                  << " (a key with '=', a leading ';' or a line break, a value with a line break, or a file"
                     " that cannot be read or written)\n";
    }
    return written;
}

} // namespace PELMUX_FILE_SCOPE

void addSettingsCommands(CLI::App& app, const Options& options, int& exitCode)
{
    using namespace PELMUX_FILE_SCOPE;
    static std::string key;
    static std::string value;
    auto* settings = app.add_subcommand("settings", "The shared settings file Pelmux.ini");
    settings->require_subcommand(1);
    settings->add_subcommand("list", "Every key and value")->callback([&] {
        exitCode = listSettings(options) ? 0 : 1;
    });
    auto* get = settings->add_subcommand("get", "The value of one key");
    get->add_option("key", key, "Key")->required();
    get->callback([&] { exitCode = getSetting(key, options) ? 0 : 1; });
    auto* set = settings->add_subcommand("set", "Set one key (the whole file is rewritten)");
    set->add_option("key", key, "Key")->required();
    set->add_option("value", value, "Value")->required();
    set->callback([&] { exitCode = setSetting(key, value, options) ? 0 : 1; });
}

TourStep settingsTour()
{
    using namespace PELMUX_FILE_SCOPE;
    return {"Settings file", [] {
                // The automatic backlight controller's defaults.
                const bool written =
                    setSetting("ABL_k", "50", Options{}) && setSetting("ABL_mode", "2", Options{});
                return listSettings(Options{}) && written;
            }};
}

} // namespace pelmux::cli
