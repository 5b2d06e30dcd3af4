// `pelmux version`: the six versions of the unit and the library.
#include "Cli.h"

namespace pelmux::cli {

namespace PELMUX_FILE_SCOPE {

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
    Readings readings;
    for (const auto& source : sources) {
        unsigned char v[4] = {};
        const auto result = (versions->*source.read)(&v[0], &v[1], &v[2], &v[3]);
        const std::string text = std::to_string(v[0]) + "." + std::to_string(v[1]) + "." +
                                 std::to_string(v[2]) + "." + std::to_string(v[3]);
        readings.add(source.key, source.label, result, {{"version", text}}, text);
    }
    versions->release();
    return readings.print(options);
}

} // namespace PELMUX_FILE_SCOPE

void addVersionCommands(CLI::App& app, const Options& options, int& exitCode)
{
    using namespace PELMUX_FILE_SCOPE;
    app.add_subcommand("version", "Firmware, library and OS image versions")->callback([&] {
        exitCode = showVersions(options) ? 0 : 1;
    });
}

TourStep versionTour()
{
    using namespace PELMUX_FILE_SCOPE;
    return {"Versions", [] { return showVersions(Options{}); }};
}

} // namespace pelmux::cli
