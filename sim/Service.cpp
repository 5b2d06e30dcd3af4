// The unit's service "PelmuxService": it takes user-defined control codes and keeps a log of them
// in "service" of the state, so that a test or a person sees what the library sent:
//   "installed": false   the service cannot be opened (absent or stopped)
//   "refuse": [132, ...] codes the service refuses (true refuses every code)
//   "controls": [...]    the codes taken, oldest first (the newest 64)
//   "counts": {"132": n} how often each code was taken
//   "powerMgr": {"mode": 0|1|2, "requests": [...]}
//                        the mode an application registered (134 mode 1, 135 mode 2, 133 none)
//                        and the power-manager requests posted with the unit command
//                        {"cmd": "powerMgrRequest", "request": N}, which the service writes as
//                        "PowerMgrReq" into the settings file of the unit's machine
#include "HttpPanel.h"
#include "Unit.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>

namespace pelmux::sim {

namespace {

constexpr std::size_t keptControls = 64;

// ---- the power manager's side of the service

// The codes an application's power manager sends, and the mode each leaves registered.
void recordPowerMgrMode(Json& service, std::uint32_t controlCode)
{
    constexpr std::pair<std::uint32_t, int> modes[] = {{133, 0}, {134, 1}, {135, 2}};
    for (const auto& [code, mode] : modes)
        if (code == controlCode)
            service["powerMgr"]["mode"] = mode;
}

// The settings file as the library reads it: lines split at line feeds (a carriage return before
// one dropped); empty lines, lines starting with ';' and the lines "[" and "/" skipped; the rest
// split at the first '=' (no '=': the empty key and value), key and value without leading and
// trailing spaces; later lines win.
std::string trimSpaces(const std::string& text)
{
    const auto first = text.find_first_not_of(' ');
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

} // namespace

std::map<std::string, std::string> settingsEntries(const std::string& text)
{
    std::map<std::string, std::string> entries;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty() || line.front() == ';' || line == "[" || line == "/")
            continue;
        const auto equals = line.find('=');
        if (equals == std::string::npos)
            entries[""] = "";
        else
            entries[trimSpaces(line.substr(0, equals))] = trimSpaces(line.substr(equals + 1));
    }
    return entries;
}

namespace {

// Sets one key the way the library rewrites the file: every entry as key=value in key order, a
// new key last as "key = value". The new text takes the old one's place in one rename. The
// service holds no lock the library shares (on the unit it runs in another session), so a
// library cycle running at the same moment may write over the new value.
void postSetting(const std::string& root, const std::string& key, const std::string& value)
{
    namespace fs = std::filesystem;
    const fs::path file = fs::path(root) / "C" / "ProgramData" / "Varnholt" / "Pelmux.ini";
    std::string old;
    if (std::ifstream in(file, std::ios::binary); in) {
        std::ostringstream content;
        content << in.rdbuf();
        old = content.str();
    }
    const auto entries = settingsEntries(old);
    std::string text;
    for (const auto& [entryKey, entryValue] : entries)
        text += entryKey + "=" + (entryKey == key ? value : entryValue) + "\n";
    if (!entries.contains(key))
        text += key + " = " + value + "\n";
    fs::create_directories(file.parent_path());
    // Not a name the library's writers use for their temporary files, so they leave it alone.
    const fs::path temporary = file.string() + ".service.tmp";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << text;
        if (!out.flush())
            throw std::runtime_error("cannot write " + temporary.string());
    }
    fs::rename(temporary, file);
}

// {"cmd": "powerMgrRequest", "request": N}: posts request N (a number, or any text to try what
// the library makes of it) for the applications that registered with the power manager.
Json postPowerMgrRequest(Unit& unit, const Json& command)
{
    const std::string root = unit.root();
    if (root.empty())
        return {{"ok", false}, {"error", "the unit has no machine folder for the settings file"}};
    const Json& request = command.at("request");
    if (!request.is_number_integer() && !request.is_string())
        return {{"ok", false}, {"error", "request is a whole number (0 to 3) or a text"}};
    const std::string text =
        request.is_string() ? request.get<std::string>() : std::to_string(request.get<long long>());
    postSetting(root, "PowerMgrReq", text);
    Json& service = unit.state()["service"];
    if (!service.is_object())
        service = Json::object();
    Json& requests = service["powerMgr"]["requests"];
    if (!requests.is_array())
        requests = Json::array();
    requests.push_back(request);
    if (requests.size() > keptControls)
        requests.erase(requests.begin());
    return {{"ok", true}, {"PowerMgrReq", text}};
}

bool refuses(const Json& service, std::uint32_t controlCode)
{
    const auto refuse = service.find("refuse");
    if (refuse == service.end())
        return false;
    if (refuse->is_boolean())
        return refuse->get<bool>();
    if (refuse->is_array())
        return std::any_of(refuse->begin(), refuse->end(), [&](const Json& code) {
            // A code given in C++ is a signed number, one read from a file an unsigned one.
            return code.is_number_integer() && code.get<std::int64_t>() == controlCode;
        });
    return false;
}

std::uint8_t control(Unit& unit, std::uint32_t controlCode)
{
    Json& service = unit.state()["service"];
    if (!service.is_object())
        service = Json::object();
    if (refuses(service, controlCode))
        return 2;
    Json& controls = service["controls"];
    if (!controls.is_array())
        controls = Json::array();
    controls.push_back(controlCode);
    if (controls.size() > keptControls)
        controls.erase(controls.begin());
    Json& count = service["counts"][std::to_string(controlCode)];
    count = count.is_number_unsigned() ? count.get<std::uint64_t>() + 1 : 1;
    recordPowerMgrMode(service, controlCode);
    return 0;
}

} // namespace

void installService(Unit& unit)
{
    unit.addEndpoint("service:PelmuxService", [](const Json& state) {
        const auto service = state.find("service");
        return service == state.end() || !service->is_object() || service->value("installed", true);
    });
    unit.onService(control);
    unit.onCommand("powerMgrRequest", postPowerMgrRequest);
}

} // namespace pelmux::sim
