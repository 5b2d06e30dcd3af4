// The system supervisor's thirteen stored settings, kept in "config" in the state as the supervisor
// means them (volts, degrees Celsius, plain numbers) and sent in its own wire encodings. What the
// library writes is kept across restarts of `pelmux sim` (docs/unit-profile.md).
//
// The voltage setting is a reading of the supervisor's 12-bit converter (3.3 V reference) behind
// the 24 V divider (12 to 1); the temperature setting is degrees Celsius offset by 56.
#include "Unit.h"

#include <algorithm>
#include <cmath>

namespace pelmux::sim {

namespace {

enum class Encoding {
    Word,   // u16
    Pair,   // u16 word 0, u16 word 1; kept as [word0, word1]
    Long,   // u32
    Byte,   // the setting in byte 0, a byte that carries nothing in byte 1; written as a u16
    Volts,  // a converter reading (u16)
    Celsius // degrees Celsius + 56 (u16)
};

struct Setting {
    const char* key;
    std::uint32_t read;
    std::uint32_t write;
    Encoding encoding;
};

constexpr Setting settings[] = {
    {"selector1", 0x22255C, 0x222560, Encoding::Word},
    {"selector2", 0x222564, 0x222580, Encoding::Word},
    {"selector3", 0x222584, 0x222588, Encoding::Word},
    {"selector4", 0x22258C, 0x222590, Encoding::Word},
    {"pairedWord1", 0x2224B8, 0x2224BC, Encoding::Pair},
    {"longSetting", 0x2224C0, 0x2224C4, Encoding::Long},
    {"pairedWord2", 0x2224C8, 0x2224CC, Encoding::Pair},
    {"canPowerConfig", 0x2224D0, 0x2224D4, Encoding::Word},
    {"videoPowerConfig", 0x2224D8, 0x2224DC, Encoding::Byte},
    {"wordSetting", 0x2224E0, 0x2224E4, Encoding::Word},
    {"voltageSetting", 0x2224E8, 0x2224EC, Encoding::Volts},
    {"temperatureSetting", 0x22254C, 0x222550, Encoding::Celsius},
    {"flagSetting", 0x2225A4, 0x2225A8, Encoding::Word},
};

constexpr double dividerRatio = 12.0;
constexpr int celsiusOffset = 56;
// Byte 1 of the video power answer carries nothing; the unit fills it so that a reader using it shows.
constexpr std::uint8_t fillerByte = 0xA5;

std::size_t wireSize(Encoding encoding)
{
    return encoding == Encoding::Pair || encoding == Encoding::Long ? 4 : 2;
}

// The converter's reading for `volts` at the rail, clamped to what a word holds.
std::uint16_t converterReading(double volts)
{
    const double steps = converterStepsFor(volts, dividerRatio);
    return static_cast<std::uint16_t>(std::clamp(steps, 0.0, 65535.0));
}

ControlReply readSetting(Unit& unit, const Setting& setting)
{
    // A unit without the section or the setting does not answer; a value of the wrong type throws
    // and fails the request too.
    const Json& value = unit.state().at("config").at(setting.key);
    Writer out;
    switch (setting.encoding) {
    case Encoding::Word:
        out.u16(stateWord(value));
        break;
    case Encoding::Pair:
        out.u16(stateWord(value.at(0))).u16(stateWord(value.at(1)));
        break;
    case Encoding::Long:
        out.u32(static_cast<std::uint32_t>(value.get<std::int64_t>() & 0xFFFFFFFF));
        break;
    case Encoding::Byte:
        out.u8(static_cast<std::uint8_t>(stateWord(value) & 0xFF)).u8(fillerByte);
        break;
    case Encoding::Volts:
        out.u16(converterReading(value.get<double>()));
        break;
    case Encoding::Celsius:
        out.u16(static_cast<std::uint16_t>((value.get<std::int64_t>() + celsiusOffset) & 0xFFFF));
        break;
    }
    return ControlReply::data(out.take());
}

ControlReply writeSetting(Unit& unit, const Setting& setting, const ControlRequest& request)
{
    if (request.input.size() != wireSize(setting.encoding))
        return ControlReply::failed();
    Json& section = unit.state()["config"];
    if (!section.is_object())
        return ControlReply::failed();
    Reader in(request.input);
    Json value;
    switch (setting.encoding) {
    case Encoding::Word:
    case Encoding::Byte:
        value = in.u16();
        break;
    case Encoding::Pair: {
        const std::uint16_t word0 = in.u16();
        value = Json::array({word0, in.u16()});
        break;
    }
    case Encoding::Long:
        value = in.u32();
        break;
    case Encoding::Volts:
        value = in.u16() / static_cast<double>(converterSteps) * converterReferenceVolts * dividerRatio;
        break;
    case Encoding::Celsius:
        value = static_cast<int>(in.u16()) - celsiusOffset;
        break;
    }
    section[setting.key] = value;
    unit.persist(Json{{"config", {{setting.key, value}}}});
    return ControlReply::consumed(request.input.size());
}

} // namespace

void installConfig(Unit& unit)
{
    for (const Setting& setting : settings) {
        unit.onControl(setting.read,
                       [&setting](Unit& u, const ControlRequest&) { return readSetting(u, setting); });
        unit.onControl(setting.write, [&setting](Unit& u, const ControlRequest& request) {
            return writeSetting(u, setting, request);
        });
    }
}

} // namespace pelmux::sim
