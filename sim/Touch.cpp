// The touch controller of the front micro-controller: its mode (0 to 3), a 16-bit value, numbered
// parameters, and the calibration it runs.
//
// Parameters are kept by code as the controller stores them ("parameters": {"7": 4000}); the
// codes it knows are 4 to 19. Code 1 is no stored parameter but the calibration point: written, it
// names the point the user is to touch next; read, it answers the point awaited in byte 2 and the
// last point taken in byte 3.
//
// A calibration runs while "calibration.kind" holds a kind's byte (1, 6, 10 or 14, with 5, 5, 9 and
// 13 points numbered from 1). The controller takes the awaited point when the screen is touched: the
// unit command {"cmd":"touch"} (a person or a test), or at once when the point is named while
// "calibration.autoTouch" is true. A touch is measured in raw units from the panel's edges in
// "panel" and the point's place on the screen, unless the command gives "x" and "y". Once every
// point of the kind is taken the controller stores its calibration values (codes 13 to 18: the span
// of the touches left, right, top and bottom, the points taken, the kind's byte) and the
// calibration ends (kind 0).
//
// State (docs/unit-profile.md): "touch": {"mode", "value", "parameters", "panel": {"left",
// "right", "top", "bottom"}, "calibration": {"kind", "point", "taken", "autoTouch", "touches"}}.
// Without the "touch" section the controller does not answer.
#include "Unit.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <stdexcept>
#include <string>

namespace pelmux::sim {

namespace {

constexpr std::uint8_t pointCode = 1;
constexpr std::uint8_t firstCode = 4;
constexpr std::uint8_t lastCode = 19;

// A place on the screen, as fractions of its width and height from the top left corner.
struct Place {
    double x;
    double y;
};

// Five points: the corners inset by a tenth, then the centre.
constexpr Place fivePoints[] = {{0.1, 0.1}, {0.9, 0.1}, {0.9, 0.9}, {0.1, 0.9}, {0.5, 0.5}};
// Nine points: a 3 by 3 grid, row by row; thirteen add the centres of the four quarters.
constexpr Place thirteenPoints[] = {{0.1, 0.1}, {0.5, 0.1}, {0.9, 0.1}, {0.1, 0.5}, {0.5, 0.5},
                                    {0.9, 0.5}, {0.1, 0.9}, {0.5, 0.9}, {0.9, 0.9}, {0.3, 0.3},
                                    {0.7, 0.3}, {0.3, 0.7}, {0.7, 0.7}};

struct Kind {
    std::uint8_t byte;
    int points;
    const Place* places;
};

constexpr Kind kinds[] = {
    {1, 5, fivePoints}, {6, 5, fivePoints}, {10, 9, thirteenPoints}, {14, 13, thirteenPoints}};

const Kind* kindOf(std::int64_t byte)
{
    for (const auto& kind : kinds)
        if (kind.byte == byte)
            return &kind;
    return nullptr;
}

// The "touch" section; a unit without one has no controller that answers.
Json& controller(Unit& unit)
{
    Json& state = unit.state();
    const auto it = state.find("touch");
    if (it == state.end() || !it->is_object())
        throw std::runtime_error("no touch controller");
    return *it;
}

Json& calibration(Json& touch)
{
    Json& section = touch["calibration"];
    if (!section.is_object())
        section = Json::object();
    return section;
}

Json& parameters(Json& touch)
{
    Json& section = touch["parameters"];
    if (!section.is_object())
        section = Json::object();
    return section;
}

// A touch where the panel's edges and the point's place put it, in raw units.
std::pair<std::int64_t, std::int64_t> rawTouch(const Json& touch, const Place& place)
{
    const Json& panel = touch.at("panel");
    const auto along = [](double low, double high, double fraction) {
        return static_cast<std::int64_t>(std::lround(low + (high - low) * fraction));
    };
    return {along(panel.at("left").get<double>(), panel.at("right").get<double>(), place.x),
            along(panel.at("top").get<double>(), panel.at("bottom").get<double>(), place.y)};
}

// What the controller keeps once every point is taken: the span of the touches, the points taken
// and the kind; then the calibration ends.
void finishCalibration(Json& touch, Json& calib, const Kind& kind)
{
    std::int64_t left = 0xFFFF, right = 0, top = 0xFFFF, bottom = 0;
    for (const auto& t : calib["touches"]) {
        left = std::min(left, t.at("x").get<std::int64_t>());
        right = std::max(right, t.at("x").get<std::int64_t>());
        top = std::min(top, t.at("y").get<std::int64_t>());
        bottom = std::max(bottom, t.at("y").get<std::int64_t>());
    }
    Json& stored = parameters(touch);
    stored["13"] = left & 0xFFFF;
    stored["14"] = right & 0xFFFF;
    stored["15"] = top & 0xFFFF;
    stored["16"] = bottom & 0xFFFF;
    stored["17"] = kind.points;
    stored["18"] = kind.byte;
    calib["kind"] = 0;
    calib["point"] = 0;
}

// The screen is touched: the awaited point is taken. Answers the point and whether that ended the
// calibration; throws when the controller awaits no point.
Json takePoint(Json& touch, std::optional<std::pair<std::int64_t, std::int64_t>> at)
{
    Json& calib = calibration(touch);
    const Kind* kind = kindOf(calib.value("kind", 0));
    if (kind == nullptr)
        throw std::runtime_error("no calibration is running");
    const int point = calib.value("point", 0);
    if (point < 1 || point > kind->points)
        throw std::runtime_error("the controller awaits no point (the library names it first)");
    const auto [x, y] = at ? *at : rawTouch(touch, kind->places[point - 1]);
    Json& touches = calib["touches"];
    if (!touches.is_array())
        touches = Json::array();
    // A point touched again replaces its earlier touch.
    for (auto it = touches.begin(); it != touches.end(); ++it)
        if (it->value("point", 0) == point) {
            touches.erase(it);
            break;
        }
    touches.push_back({{"point", point}, {"x", x}, {"y", y}});
    calib["taken"] = point;
    calib["point"] = 0;
    const bool finished = touches.size() == static_cast<std::size_t>(kind->points);
    if (finished)
        finishCalibration(touch, calib, *kind);
    return {{"ok", true}, {"point", point}, {"x", x}, {"y", y}, {"finished", finished}};
}

ControlReply readMode(Unit& unit, const ControlRequest&)
{
    return ControlReply::data(
        Writer()
            .u8(static_cast<std::uint8_t>(controller(unit).at("mode").get<std::int64_t>() & 0xFF))
            .take());
}

// The controller knows four modes; it refuses any other byte.
ControlReply writeMode(Unit& unit, const ControlRequest& request)
{
    Json& touch = controller(unit);
    if (request.input.size() != 1 || request.input[0] > 3)
        return ControlReply::failed();
    touch["mode"] = request.input[0];
    return ControlReply::consumed(1);
}

ControlReply readValue(Unit& unit, const ControlRequest&)
{
    return ControlReply::data(Writer().u16(stateWord(controller(unit).at("value"))).take());
}

ControlReply writeValue(Unit& unit, const ControlRequest& request)
{
    Json& touch = controller(unit);
    if (request.input.size() != 2)
        return ControlReply::failed();
    touch["value"] = Reader(request.input).u16();
    return ControlReply::consumed(2);
}

// Input: the code. Answer: the code, 0, then the 16-bit value (for code 1: the point awaited and the
// point taken). A code the controller does not know fails.
ControlReply readParameter(Unit& unit, const ControlRequest& request)
{
    Json& touch = controller(unit);
    if (request.input.size() != 1)
        return ControlReply::failed();
    const std::uint8_t code = request.input[0];
    Writer out;
    out.u8(code).u8(0);
    if (code == pointCode) {
        const Json& calib = calibration(touch);
        out.u8(static_cast<std::uint8_t>(calib.value("point", 0)))
            .u8(static_cast<std::uint8_t>(calib.value("taken", 0)));
    } else if (code >= firstCode && code <= lastCode) {
        const Json& stored = parameters(touch);
        const auto it = stored.find(std::to_string(code));
        out.u16(it == stored.end() ? 0 : stateWord(*it));
    } else {
        return ControlReply::failed();
    }
    return ControlReply::data(out.take());
}

// Input: the code, a byte the controller ignores, the 16-bit value. Code 1 names the point the user
// is to touch (0 for none); it is refused while no calibration runs or beyond the kind's points.
ControlReply writeParameter(Unit& unit, const ControlRequest& request)
{
    Json& touch = controller(unit);
    if (request.input.size() != 4)
        return ControlReply::failed();
    Reader in(request.input);
    const std::uint8_t code = in.u8();
    in.u8();
    const std::uint16_t value = in.u16();
    if (code == pointCode) {
        Json& calib = calibration(touch);
        const Kind* kind = kindOf(calib.value("kind", 0));
        if (kind == nullptr || value > kind->points)
            return ControlReply::failed();
        calib["point"] = value;
        if (value != 0 && calib.value("autoTouch", false))
            takePoint(touch, std::nullopt);
    } else if (code >= firstCode && code <= lastCode) {
        parameters(touch)[std::to_string(code)] = value;
    } else {
        return ControlReply::failed();
    }
    return ControlReply::consumed(4);
}

ControlReply readCalibrationKind(Unit& unit, const ControlRequest&)
{
    const Json& calib = calibration(controller(unit));
    return ControlReply::data(Writer().u8(static_cast<std::uint8_t>(calib.value("kind", 0) & 0xFF)).take());
}

// A kind's byte starts a calibration afresh (no point awaited, none taken); 0 ends the running one.
ControlReply writeCalibrationKind(Unit& unit, const ControlRequest& request)
{
    Json& calib = calibration(controller(unit));
    if (request.input.size() != 1 || (request.input[0] != 0 && kindOf(request.input[0]) == nullptr))
        return ControlReply::failed();
    calib["kind"] = request.input[0];
    calib["point"] = 0;
    calib["taken"] = 0;
    calib["touches"] = Json::array();
    return ControlReply::consumed(1);
}

Json touchCommand(Unit& unit, const Json& command)
{
    std::optional<std::pair<std::int64_t, std::int64_t>> at;
    if (command.contains("x") || command.contains("y")) {
        const std::int64_t x = command.at("x").get<std::int64_t>();
        const std::int64_t y = command.at("y").get<std::int64_t>();
        if (x < 0 || x > 0xFFFF || y < 0 || y > 0xFFFF)
            throw std::runtime_error("a touch lies at raw x and y from 0 to 65535");
        at = std::pair{x, y};
    }
    return takePoint(controller(unit), at);
}

} // namespace

void installTouch(Unit& unit)
{
    unit.onControl(0x222554, readMode);
    unit.onControl(0x222558, writeMode);
    unit.onControl(0x2225A0, readValue);
    unit.onControl(0x222594, writeValue);
    unit.onControl(0x2225B8, readParameter);
    unit.onControl(0x2225BC, writeParameter);
    unit.onControl(0x2225B4, readCalibrationKind);
    unit.onControl(0x2225B0, writeCalibrationKind);
    unit.onCommand("touch", touchCommand);
}

} // namespace pelmux::sim
