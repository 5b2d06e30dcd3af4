// The display backlight: its level and the driver's status byte, answered from "backlight" in the
// state. Every level set is kept in "history" (the newest 64, oldest first), so that a test or a
// person sees the sequence of levels the library sent, for example during a soft transition.
#include "Unit.h"

namespace pelmux::sim {

namespace {

constexpr std::size_t keptLevels = 64;

Json& backlight(Unit& unit)
{
    Json& section = unit.state()["backlight"];
    if (!section.is_object())
        section = Json::object();
    return section;
}

// One byte from the section; the request fails when the state does not hold a number there.
ControlHandler byte(const char* name)
{
    return [name](Unit& unit, const ControlRequest&) {
        const Json& section = backlight(unit);
        const auto value = section.find(name);
        if (value == section.end() || !value->is_number_integer())
            return ControlReply::failed();
        return ControlReply::data(
            Writer().u8(static_cast<std::uint8_t>(value->get<std::int64_t>() & 0xFF)).take());
    };
}

// The driver takes exactly one byte, the new level, and reports it consumed.
ControlReply setLevel(Unit& unit, const ControlRequest& request)
{
    if (request.input.size() != 1)
        return ControlReply::failed();
    const std::uint8_t level = request.input[0];
    Json& section = backlight(unit);
    section["level"] = level;
    Json& history = section["history"];
    if (!history.is_array())
        history = Json::array();
    history.push_back(level);
    if (history.size() > keptLevels)
        history.erase(history.begin());
    return ControlReply::consumed(1);
}

} // namespace

void installBacklight(Unit& unit)
{
    unit.onControl(0x222418, byte("level"));
    unit.onControl(0x22241C, setLevel);
    unit.onControl(0x222420, byte("status"));
}

} // namespace pelmux::sim
