#pragma once

#include "frame/DriverChannel.h"
#include "identity/VersionText.h"

#include <pelmux/AuxVersion.h>

namespace pelmux {

class AuxVersion_Imp final : public Varnholt::AuxVersion {
public:
    AuxVersion_Imp() { link_.open(); }

    ResultCode getFpgaVersion(unsigned char* major, unsigned char* minor, unsigned char* revision,
                              unsigned char* build) override;
    ResultCode getSupervisorVersion(unsigned char* major, unsigned char* minor, unsigned char* revision,
                                    unsigned char* build) override;
    ResultCode getFrontVersion(unsigned char* major, unsigned char* minor, unsigned char* revision,
                               unsigned char* build) override;
    ResultCode getLibraryVersion(unsigned char* major, unsigned char* minor, unsigned char* revision,
                                 unsigned char* build) override;
    ResultCode getOsImageVersion(unsigned char* major, unsigned char* minor, unsigned char* revision,
                                 unsigned char* build) override;
    ResultCode getExtraVersion(unsigned char* major, unsigned char* minor, unsigned char* revision,
                               unsigned char* build) override;
    void release() override { delete this; }

private:
    ~AuxVersion_Imp() = default;
    ResultCode readDriverVersion(std::uint32_t code, unsigned char* major, unsigned char* minor,
                                 unsigned char* revision, unsigned char* build);

    DriverLink link_;
};

// Reads one of the driver's four-byte version records on `link` (open test, request, byte count).
ResultCode readVersionRecord(const DriverLink& link, std::uint32_t code, VersionBytes& version);

// Driver requests of the version records.
inline constexpr std::uint32_t fpgaVersionRequest = 0x2224F0;
inline constexpr std::uint32_t supervisorVersionRequest = 0x2224F4;
inline constexpr std::uint32_t frontVersionRequest = 0x2224F8;
inline constexpr std::uint32_t extraVersionRequest = 0x222598;

// The library's own version, as its version resource carries it.
inline constexpr const char* libraryVersionText = "1.5.0.0";
// The operating-system image's description file.
inline constexpr const char* osImageInfoPath = "c:\\Windows\\System32\\oeminfo.ini";

} // namespace pelmux
