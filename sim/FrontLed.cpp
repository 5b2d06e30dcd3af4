// The front LED controller: its timing register (on time, off time, two further timing bytes), its
// colour register (three 4-bit channels) and its control flag, kept in "frontLed" in the state.
// After every write the unit also shows what a person would see in "frontLed.light": the colour as
// "#RRGGBB", the blink's on and off times in milliseconds and whether the light is off, steady or
// blinking, so that a page can draw it.
#include "Unit.h"

#include <cstdio>
#include <optional>

namespace pelmux::sim {

namespace {

constexpr std::size_t timingBytes = 4;
constexpr std::size_t colorBytes = 3;
constexpr std::uint8_t maxChannel = 15;

Json& frontLed(Unit& unit)
{
    Json& section = unit.state()["frontLed"];
    if (!section.is_object())
        section = Json::object();
    return section;
}

// A register of `count` bytes from the section, or nothing when the state does not hold one there.
std::optional<Bytes> registerOf(const Json& section, const char* name, std::size_t count)
{
    const auto value = section.find(name);
    if (value == section.end() || !value->is_array() || value->size() != count)
        return std::nullopt;
    Bytes bytes;
    for (const Json& item : *value) {
        if (!item.is_number_integer() || item.get<std::int64_t>() < 0 || item.get<std::int64_t>() > 255)
            return std::nullopt;
        bytes.push_back(static_cast<std::uint8_t>(item.get<std::int64_t>()));
    }
    return bytes;
}

// What the LED shows, from the registers (nothing when they are not usable).
void showLight(Json& section)
{
    const auto timing = registerOf(section, "timing", timingBytes);
    const auto color = registerOf(section, "color", colorBytes);
    if (!timing || !color) {
        section.erase("light");
        return;
    }
    char rgb[8];
    // A 4-bit channel spreads over 0 to 255 as 0x00, 0x11, ... 0xFF.
    std::snprintf(rgb, sizeof rgb, "#%02X%02X%02X", (*color)[0] * 17 & 0xFF, (*color)[1] * 17 & 0xFF,
                  (*color)[2] * 17 & 0xFF);
    const int onMs = (*timing)[0] * 10;
    const int offMs = (*timing)[1] * 10;
    const char* mode = onMs == 0 ? "off" : offMs == 0 ? "steady" : "blinking";
    section["light"] = {{"rgb", rgb}, {"onMs", onMs}, {"offMs", offMs}, {"mode", mode}};
}

ControlHandler registerReader(const char* name, std::size_t count)
{
    return [name, count](Unit& unit, const ControlRequest&) {
        const auto bytes = registerOf(frontLed(unit), name, count);
        return bytes ? ControlReply::data(*bytes) : ControlReply::failed();
    };
}

// The controller takes exactly the register's bytes and reports them consumed.
ControlReply writeTiming(Unit& unit, const ControlRequest& request)
{
    if (request.input.size() != timingBytes)
        return ControlReply::failed();
    Json& section = frontLed(unit);
    section["timing"] = request.input;
    showLight(section);
    return ControlReply::consumed(timingBytes);
}

// A channel above 15 does not fit the colour register: the driver refuses it.
ControlReply writeColor(Unit& unit, const ControlRequest& request)
{
    if (request.input.size() != colorBytes)
        return ControlReply::failed();
    for (const std::uint8_t channel : request.input)
        if (channel > maxChannel)
            return ControlReply::failed();
    Json& section = frontLed(unit);
    section["color"] = request.input;
    showLight(section);
    return ControlReply::consumed(colorBytes);
}

ControlReply readFlag(Unit& unit, const ControlRequest&)
{
    const Json& section = frontLed(unit);
    const auto flag = section.find("controlFlag");
    if (flag == section.end() || !flag->is_number_integer())
        return ControlReply::failed();
    return ControlReply::data(
        Writer().u8(static_cast<std::uint8_t>(flag->get<std::int64_t>() & 0xFF)).take());
}

ControlReply writeFlag(Unit& unit, const ControlRequest& request)
{
    if (request.input.size() != 1)
        return ControlReply::failed();
    frontLed(unit)["controlFlag"] = request.input[0];
    return ControlReply::consumed(1);
}

} // namespace

void installFrontLed(Unit& unit)
{
    unit.update([](Json& state) {
        if (state.contains("frontLed") && state["frontLed"].is_object())
            showLight(state["frontLed"]);
    });
    unit.onControl(0x222530, registerReader("timing", timingBytes));
    unit.onControl(0x222534, writeTiming);
    unit.onControl(0x222538, registerReader("color", colorBytes));
    unit.onControl(0x22253C, writeColor);
    unit.onControl(0x222540, readFlag);
    unit.onControl(0x222544, writeFlag);
}

} // namespace pelmux::sim
