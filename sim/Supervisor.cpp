// The system supervisor's measurements: supply rails through its analogue-to-digital converter and
// the digital inputs, answered from "adc" and "digitalInputs" in the profile.
//
// A rail is given either in volts, which the model sends through the rail's resistor divider into a
// 12-bit converter with a 3.3 V reference, or as the converter's raw reading.
#include "Unit.h"

#include <algorithm>
#include <cmath>
#include <string>

namespace pelmux::sim {

namespace {

struct Rail {
    const char* name;
    double divider; // rail volts per volt at the converter input
};

// The rails in channel order, as the supervisor numbers them.
constexpr Rail rails[] = {
    {"24V", 12.0}, {"24VIN", 12.0}, {"12V", 5.0},    {"12VVIDEO", 5.0}, {"5VSTBY", 2.0},
    {"5V", 2.0},   {"3V3", 2.0},    {"TFTVOL", 2.0}, {"1V9", 1.0},      {"1V8", 1.0},
    {"1V5", 1.0},  {"1V2", 1.0},    {"1V05", 1.0},   {"1V0", 1.0},      {"0V9", 1.0},
};

// What the converter reads for `volts` on a rail with `divider`, clamped to its 12 bits.
std::uint16_t converterReading(double volts, double divider)
{
    const double steps = converterStepsFor(volts, divider);
    return static_cast<std::uint16_t>(std::clamp(steps, 0.0, static_cast<double>(converterSteps - 1)));
}

// The profile entry of a channel: by its number ("15"), or for the known rails by name ("24V").
const Json* railEntry(const Json& adc, std::uint32_t channel)
{
    const std::string number = std::to_string(channel);
    if (adc.contains(number))
        return &adc[number];
    if (channel < std::size(rails) && adc.contains(rails[channel].name))
        return &adc[rails[channel].name];
    return nullptr;
}

ControlReply voltage(Unit& unit, const ControlRequest& request)
{
    if (request.input.size() != 4 || request.outCapacity < 8)
        return ControlReply::failed();
    Reader in(request.input);
    const std::uint32_t channel = in.u32();
    const Json& state = unit.state();
    const auto adc = state.find("adc");
    if (adc == state.end() || !adc->is_object())
        return ControlReply::failed();
    const Json* entry = railEntry(*adc, channel);
    if (entry == nullptr)
        return ControlReply::failed();
    // Channels the supervisor does not name have no divider in front of them.
    const double divider = channel < std::size(rails) ? rails[channel].divider : 1.0;
    std::uint16_t raw = 0;
    if (entry->is_number())
        raw = converterReading(entry->get<double>(), divider);
    else if (entry->is_object() && entry->contains("raw") && (*entry)["raw"].is_number_integer())
        raw = static_cast<std::uint16_t>((*entry)["raw"].get<long long>() & 0xFFFF);
    else
        return ControlReply::failed();
    Writer out;
    // The last two bytes carry nothing; the model fills them so that a reader using them shows.
    out.u32(channel).u16(raw).u8(0xA5).u8(0x5A);
    return ControlReply::data(out.take());
}

ControlReply digitalInputs(Unit& unit, const ControlRequest& request)
{
    if (request.outCapacity < 1)
        return ControlReply::failed();
    const Json& state = unit.state();
    const auto inputs = state.find("digitalInputs");
    if (inputs == state.end() || !inputs->is_number_integer())
        return ControlReply::failed();
    Writer out;
    out.u8(static_cast<std::uint8_t>(inputs->get<long long>() & 0xFF));
    return ControlReply::data(out.take());
}

} // namespace

void installSupervisor(Unit& unit)
{
    unit.onControl(0x222464, voltage);
    unit.onControl(0x222548, digitalInputs);
}

} // namespace pelmux::sim
