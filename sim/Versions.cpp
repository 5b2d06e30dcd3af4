// Firmware version records: four bytes each, answered from "versions" in the profile.
#include "Unit.h"

namespace pelmux::sim {

namespace {

ControlHandler versionRecord(const char* name)
{
    return [name](Unit& unit, const ControlRequest&) {
        const Json& versions = unit.state()["versions"];
        if (!versions.contains(name) || !versions[name].is_array() || versions[name].size() != 4)
            return ControlReply::failed();
        Writer out;
        for (const auto& b : versions[name])
            out.u8(static_cast<std::uint8_t>(b.get<int>() & 0xFF));
        return ControlReply::data(out.take());
    };
}

} // namespace

void installVersions(Unit& unit)
{
    unit.onControl(0x2224F0, versionRecord("fpga"));
    unit.onControl(0x2224F4, versionRecord("supervisor"));
    unit.onControl(0x2224F8, versionRecord("front"));
    unit.onControl(0x222598, versionRecord("extra"));
}

} // namespace pelmux::sim
