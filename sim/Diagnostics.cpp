// The supervisor's diagnostic records: six 16-bit words, a 28-byte record, a word pair and a
// data-less command, answered from "diagnostics" in the profile (docs/unit-profile.md).
#include "Unit.h"

namespace pelmux::sim {

namespace {

Json& diagnostics(Unit& unit)
{
    Json& section = unit.state()["diagnostics"];
    if (!section.is_object())
        section = Json::object();
    return section;
}

// A field of the section, or null (a missing field is not added).
const Json& field(Unit& unit, const char* name)
{
    static const Json missing;
    const Json& section = diagnostics(unit);
    return section.contains(name) ? section[name] : missing;
}

// A 16-bit word, little-endian; the request fails when the profile does not hold it.
ControlHandler word(const char* name)
{
    return [name](Unit& unit, const ControlRequest&) {
        const Json& value = field(unit, name);
        if (!value.is_number_integer())
            return ControlReply::failed();
        return ControlReply::data(Writer().u16(static_cast<std::uint16_t>(value.get<std::int64_t>())).take());
    };
}

ControlReply record(Unit& unit, const ControlRequest&)
{
    const Json& bytes = field(unit, "record");
    if (!bytes.is_array())
        return ControlReply::failed();
    Writer out;
    for (const auto& b : bytes)
        out.u8(static_cast<std::uint8_t>(b.is_number_integer() ? b.get<std::int64_t>() : 0));
    return ControlReply::data(out.take());
}

// The pair as the driver answers it: "pair"[0] in bytes 0-1, "pair"[1] in bytes 2-3.
ControlReply pair(Unit& unit, const ControlRequest&)
{
    const Json& words = field(unit, "pair");
    if (!words.is_array() || words.size() != 2 || !words[0].is_number_integer() ||
        !words[1].is_number_integer())
        return ControlReply::failed();
    Writer out;
    out.u16(static_cast<std::uint16_t>(words[0].get<std::int64_t>()))
        .u16(static_cast<std::uint16_t>(words[1].get<std::int64_t>()));
    return ControlReply::data(out.take());
}

// The command carries no data; the unit counts it in "commands" and reports no bytes.
ControlReply diagnosticCommand(Unit& unit, const ControlRequest&)
{
    Json& section = diagnostics(unit);
    const Json& count = field(unit, "commands");
    section["commands"] = (count.is_number_integer() ? count.get<std::int64_t>() : 0) + 1;
    return ControlReply::consumed(0);
}

} // namespace

void installDiagnostics(Unit& unit)
{
    unit.onControl(0x222468, word("word1"));
    unit.onControl(0x22246C, word("word2"));
    unit.onControl(0x222474, word("word3"));
    unit.onControl(0x222478, word("word4"));
    unit.onControl(0x22247C, word("word5"));
    unit.onControl(0x222480, word("word6"));
    unit.onControl(0x222470, record);
    unit.onControl(0x222484, pair);
    unit.onControl(0x22259C, diagnosticCommand);
}

} // namespace pelmux::sim
