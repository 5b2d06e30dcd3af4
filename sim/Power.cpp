// The power outputs the system supervisor switches, its power-state code and its power command,
// answered from "power" in the state (docs/unit-profile.md). Every request carries one byte: an
// output's byte is kept as the library sent it, so a test or a person sees exactly what arrived.
#include "Unit.h"

namespace pelmux::sim {

namespace {

Json& power(Unit& unit)
{
    // A unit without the section does not answer (at() throws and the request fails).
    return unit.state().at("power");
}

ControlHandler readByte(const char* name)
{
    return [name](Unit& unit, const ControlRequest&) {
        const Json& value = power(unit).at(name);
        return ControlReply::data(
            Writer().u8(static_cast<std::uint8_t>(value.get<std::int64_t>() & 0xFF)).take());
    };
}

ControlHandler writeByte(const char* name)
{
    return [name](Unit& unit, const ControlRequest& request) {
        if (request.input.size() != 1)
            return ControlReply::failed();
        power(unit)[name] = request.input[0];
        return ControlReply::consumed(1);
    };
}

// The command: counted in "commands", its byte kept in "lastCommand".
ControlReply powerCommand(Unit& unit, const ControlRequest& request)
{
    if (request.input.size() != 1)
        return ControlReply::failed();
    Json& section = power(unit);
    section["commands"] = section.value("commands", 0) + 1;
    section["lastCommand"] = request.input[0];
    return ControlReply::consumed(1);
}

} // namespace

void installPower(Unit& unit)
{
    unit.onControl(0x222490, readByte("display"));
    unit.onControl(0x222494, writeByte("display"));
    unit.onControl(0x222498, readByte("can"));
    unit.onControl(0x22249C, writeByte("can"));
    unit.onControl(0x2224A0, readByte("video"));
    unit.onControl(0x2224A4, writeByte("video"));
    unit.onControl(0x2224A8, readByte("aux"));
    unit.onControl(0x2224AC, writeByte("aux"));
    unit.onControl(0x2224B0, readByte("state"));
    unit.onControl(0x2224B4, powerCommand);
}

} // namespace pelmux::sim
