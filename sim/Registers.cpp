// The system supervisor's registers: 750 registers of 16 bits, numbered 0 to 749, kept in
// "supervisorRegisters.values" by decimal index ({"10": 1234}); a register without an entry reads 0.
// A write stores its value there, so the state shows what a maintenance tool changed. A unit whose
// profile has no "supervisorRegisters" section does not answer either request.
#include "Unit.h"

#include <string>

namespace pelmux::sim {

namespace {

constexpr std::uint32_t registerCount = 750;
constexpr std::size_t recordSize = 4; // index (u16), then the value or two bytes that carry nothing

bool hasRegisters(const Json& state)
{
    const auto registers = state.find("supervisorRegisters");
    return registers != state.end() && registers->is_object();
}

// The register's value, or nullopt when the profile holds something a 16-bit register cannot.
std::optional<std::uint16_t> registerValue(const Json& state, std::uint16_t index)
{
    const auto registers = state.find("supervisorRegisters");
    if (registers == state.end())
        return std::nullopt;
    const auto values = registers->find("values");
    if (values == registers->end())
        return 0;
    if (!values->is_object())
        return std::nullopt;
    const auto entry = values->find(std::to_string(index));
    if (entry == values->end())
        return 0;
    if (!entry->is_number_integer() || entry->get<long long>() < 0 || entry->get<long long>() > 0xFFFF)
        return std::nullopt;
    return static_cast<std::uint16_t>(entry->get<long long>());
}

ControlReply readRegister(Unit& unit, const ControlRequest& request)
{
    if (request.input.size() != recordSize || request.outCapacity < recordSize)
        return ControlReply::failed();
    Reader in(request.input);
    const std::uint16_t index = in.u16();
    if (index >= registerCount || !hasRegisters(unit.state()))
        return ControlReply::failed();
    const auto value = registerValue(unit.state(), index);
    if (!value)
        return ControlReply::failed();
    Writer out;
    out.u16(index).u16(*value);
    return ControlReply::data(out.take());
}

ControlReply writeRegister(Unit& unit, const ControlRequest& request)
{
    if (request.input.size() != recordSize)
        return ControlReply::failed();
    Reader in(request.input);
    const std::uint16_t index = in.u16();
    const std::uint16_t value = in.u16();
    if (index >= registerCount || !hasRegisters(unit.state()))
        return ControlReply::failed();
    unit.state()["supervisorRegisters"]["values"][std::to_string(index)] = value;
    return ControlReply::consumed(recordSize);
}

} // namespace

void installSupervisorRegisters(Unit& unit)
{
    unit.onControl(0x22248C, readRegister);
    unit.onControl(0x222488, writeRegister);
}

} // namespace pelmux::sim
