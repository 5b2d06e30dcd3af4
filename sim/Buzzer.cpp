// The buzzer: its settings register (frequency in hertz and volume, 16 bits each) and its on/off
// switch, kept in "buzzer" in the state. The switch request carries the tone it sounds with. Every
// time the buzzer sounds the unit logs it in "buzzer.log" (the newest 64, oldest first) when it
// stops: the wall-clock start in milliseconds since 1970, how long it sounded in milliseconds of
// real time, and the tone. While it sounds, "buzzer.onSinceMs" holds the start.
#include "Unit.h"

#include <chrono>
#include <memory>
#include <optional>

namespace pelmux::sim {

namespace {

constexpr std::size_t buzzLogLength = 64;

using Clock = std::chrono::steady_clock;

// When the buzzer began to sound, while it sounds (the unit's own clock, for the duration).
struct Sounding {
    std::optional<Clock::time_point> since;
};

Json& buzzer(Unit& unit)
{
    Json& section = unit.state()["buzzer"];
    if (!section.is_object())
        section = Json::object();
    return section;
}

std::optional<std::uint16_t> word(const Json& section, const char* name)
{
    const auto value = section.find(name);
    if (value == section.end() || !value->is_number_integer() || value->get<std::int64_t>() < 0 ||
        value->get<std::int64_t>() > 0xFFFF)
        return std::nullopt;
    return static_cast<std::uint16_t>(value->get<std::int64_t>());
}

ControlReply readSettings(Unit& unit, const ControlRequest&)
{
    const Json& section = buzzer(unit);
    const auto frequency = word(section, "frequency");
    const auto volume = word(section, "volume");
    if (!frequency || !volume)
        return ControlReply::failed();
    return ControlReply::data(Writer().u16(*frequency).u16(*volume).take());
}

ControlReply writeSettings(Unit& unit, const ControlRequest& request)
{
    if (request.input.size() != 4)
        return ControlReply::failed();
    Reader in(request.input);
    Json& section = buzzer(unit);
    section["frequency"] = in.u16();
    section["volume"] = in.u16();
    return ControlReply::consumed(4);
}

ControlReply readState(Unit& unit, const ControlRequest&)
{
    const Json& section = buzzer(unit);
    const bool on = section.value("on", false);
    return ControlReply::data(Writer().u8(on ? 1 : 0).take());
}

std::int64_t wallClockMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// Byte 0 switches (above 0: on); bytes 1 to 3 are the tone: frequency (low, high), volume.
ControlHandler switchBuzzer(std::shared_ptr<Sounding> sounding)
{
    return [sounding](Unit& unit, const ControlRequest& request) {
        if (request.input.size() != 4)
            return ControlReply::failed();
        const bool on = static_cast<std::int8_t>(request.input[0]) > 0;
        const Json tone = {{"frequency", request.input[1] | request.input[2] << 8},
                           {"volume", request.input[3]}};
        Json& section = buzzer(unit);
        const bool wasOn = section.value("on", false) && sounding->since.has_value();
        if (on) {
            if (!wasOn) {
                sounding->since = Clock::now();
                section["onSinceMs"] = wallClockMs();
            }
            section["tone"] = tone;
        } else if (wasOn) {
            const double ms =
                std::chrono::duration<double, std::milli>(Clock::now() - *sounding->since).count();
            Json& log = section["log"];
            if (!log.is_array())
                log = Json::array();
            Json entry = {{"startMs", section.value("onSinceMs", std::int64_t{0})}, {"durationMs", ms}};
            if (const auto sounded = section.find("tone"); sounded != section.end() && sounded->is_object())
                entry.update(*sounded);
            log.push_back(std::move(entry));
            if (log.size() > buzzLogLength)
                log.erase(log.begin());
        }
        if (!on) {
            sounding->since.reset();
            section.erase("onSinceMs");
            section.erase("tone");
        }
        section["on"] = on;
        return ControlReply::consumed(4);
    };
}

} // namespace

void installBuzzer(Unit& unit)
{
    unit.onControl(0x222520, readSettings);
    unit.onControl(0x222524, writeSettings);
    unit.onControl(0x222528, readState);
    unit.onControl(0x22252C, switchBuzzer(std::make_shared<Sounding>()));
}

} // namespace pelmux::sim
