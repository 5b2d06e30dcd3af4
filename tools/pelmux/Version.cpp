// `pelmux version`: the six versions of the unit and the library.
#include "Cli.h"

#include <iostream>

namespace pelmux::cli {

namespace {

using Read = Varnholt::ResultCode (Varnholt::AuxVersion::*)(unsigned char*, unsigned char*, unsigned char*,
                                                            unsigned char*);

struct VersionSource {
    const char* key;
    const char* label;
    Read read;
};

constexpr VersionSource sources[] = {
    {"fpga", "FPGA", &Varnholt::AuxVersion::getFpgaVersion},
    {"supervisor", "System supervisor", &Varnholt::AuxVersion::getSupervisorVersion},
    {"front", "Front controller", &Varnholt::AuxVersion::getFrontVersion},
    {"extra", "Extra firmware", &Varnholt::AuxVersion::getExtraVersion},
    {"library", "Library", &Varnholt::AuxVersion::getLibraryVersion},
    {"osImage", "OS image", &Varnholt::AuxVersion::getOsImageVersion},
};

// Reads every version; answers whether all succeeded.
bool showVersions(const Options& options)
{
    Varnholt::AuxVersion* versions = GetAuxVersion();
    Json json = Json::object();
    std::vector<std::pair<std::string, std::string>> rows;
    bool allRead = true;
    std::string hint;
    for (const auto& source : sources) {
        unsigned char v[4] = {};
        const auto result = (versions->*source.read)(&v[0], &v[1], &v[2], &v[3]);
        const std::string text = std::to_string(v[0]) + "." + std::to_string(v[1]) + "." +
                                 std::to_string(v[2]) + "." + std::to_string(v[3]);
        if (result == Varnholt::ERR_SUCCESS) {
            json[source.key] = {{"result", 0}, {"version", text}};
            rows.emplace_back(source.label, text);
        } else {
            allRead = false;
            json[source.key] = {{"result", static_cast<int>(result)},
                                {"error", Varnholt::GetErrorStringA(result)}};
            rows.emplace_back(source.label, "error: " + describe(result));
            if (hint.empty())
                hint = driverHint(result);
        }
    }
    versions->release();
    if (options.json) {
        printJson(json);
    } else {
        printTable(rows);
        if (!hint.empty())
            std::cout << hint << '\n';
    }
    return allRead;
}

} // namespace

void addVersionCommands(CLI::App& app, const Options& options, int& exitCode)
{
    app.add_subcommand("version", "Firmware, library and OS image versions")->callback([&] {
        exitCode = showVersions(options) ? 0 : 1;
    });
}

TourStep versionTour()
{
    return {"Versions", [] { return showVersions(Options{}); }};
}

} // namespace pelmux::cli
