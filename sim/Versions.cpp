// Firmware version records: four bytes each, answered from "versions" in the profile.
#include "Unit.h"

namespace pelmux::sim {

namespace {

ControlHandler versionRecord(const char* name)
{
    return [name](Unit& unit, const ControlRequest&) {
        const Json& state = unit.state();
        const auto versions = state.find("versions");
        if (versions == state.end() || !versions->contains(name))
            return ControlReply::failed();
        const Json& record = (*versions)[name];
        if (!record.is_array() || record.size() != 4)
            return ControlReply::failed();
        Writer out;
        for (const auto& b : record) {
            // A version byte the firmware could not hold makes the record unreadable.
            if (!b.is_number_integer() || b.get<int>() < 0 || b.get<int>() > 255)
                return ControlReply::failed();
            out.u8(static_cast<std::uint8_t>(b.get<int>()));
        }
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
