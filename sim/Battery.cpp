// The battery pack's controller behind the driver: 64 registers of 16 bits, each read by its number
// (request 0x2225C0), answered from "battery" in the state. The profile gives what a person reads
// (charge in percent, degrees Celsius, times in minutes, the version, the ident text) and the unit
// turns it into the controller's registers; "registers" gives any register's raw value instead.
// While "fitted" is false, or without the section, no controller answers and the request fails.
#include "Unit.h"

#include <optional>
#include <stdexcept>
#include <string>

namespace pelmux::sim {

namespace {

constexpr std::uint16_t batteryRegisterCount = 64;

// Charge: the controller reads 8100 when empty and 12300 when full, 42 steps a percent.
constexpr long long emptyReading = 8100;
constexpr long long stepsPerPercent = 42;
// Temperatures count from -56 degrees Celsius.
constexpr long long temperatureOffset = 56;
// Registers 15 to 19: ten ident characters, two a register, the first in the high byte.
constexpr std::uint16_t firstIdentRegister = 15;
constexpr std::size_t identCharacters = 10;
// Nine times, each in a register pair as minutes = first * 60 + second.
constexpr std::uint16_t timePairs[9][2] = {{20, 22}, {21, 23}, {26, 27}, {28, 29}, {30, 31},
                                           {32, 33}, {34, 35}, {36, 37}, {38, 39}};

std::uint16_t word(long long value)
{
    if (value < 0 || value > 0xFFFF)
        throw std::out_of_range("a battery register holds 0 to 65535");
    return static_cast<std::uint16_t>(value);
}

bool fitted(const Json& battery)
{
    const auto flag = battery.find("fitted");
    if (flag == battery.end())
        return true;
    return flag->is_boolean() ? flag->get<bool>() : flag->get<long long>() != 0;
}

// The register from the person's values; nullopt for a register they do not describe (reads 0).
std::optional<std::uint16_t> described(const Json& battery, std::uint16_t number)
{
    if (number == 2 && battery.contains("charge")) {
        const long long percent = battery["charge"].get<long long>();
        if (percent < 0 || percent > 100)
            throw std::out_of_range("the charge is 0 to 100 percent");
        return word(emptyReading + stepsPerPercent * percent);
    }
    if (number == 3 && battery.contains("current"))
        return static_cast<std::uint16_t>(static_cast<std::int16_t>(battery["current"].get<int>()));
    if (number == 4 && battery.contains("status"))
        return word(battery["status"].get<long long>());
    if (number == 5 && battery.contains("state"))
        return word(battery["state"].get<long long>());
    if (number == 6 && battery.contains("version")) {
        // [major, minor]: major in the high byte.
        const Json& version = battery["version"];
        const long long major = version.at(0).get<long long>();
        const long long minor = version.at(1).get<long long>();
        if (major < 0 || major > 255 || minor < 0 || minor > 255)
            throw std::out_of_range("a battery version part is 0 to 255");
        return word(major * 256 + minor);
    }
    if ((number == 24 || number == 25) && battery.contains("temperatures"))
        return word(battery["temperatures"].at(number - 24).get<long long>() + temperatureOffset);
    if (number >= firstIdentRegister && number < firstIdentRegister + identCharacters / 2 &&
        battery.contains("ident")) {
        const std::string ident = battery["ident"].get<std::string>();
        const std::size_t at = 2 * static_cast<std::size_t>(number - firstIdentRegister);
        const auto character = [&](std::size_t k) {
            return k < ident.size() ? static_cast<std::uint8_t>(ident[k]) : std::uint8_t{0};
        };
        return static_cast<std::uint16_t>(character(at) << 8 | character(at + 1));
    }
    if (battery.contains("times")) {
        for (std::size_t k = 0; k < std::size(timePairs); ++k) {
            if (number != timePairs[k][0] && number != timePairs[k][1])
                continue;
            const long long minutes = battery["times"].at(k).get<long long>();
            if (minutes < 0)
                throw std::out_of_range("a time is 0 minutes or more");
            return word(number == timePairs[k][0] ? minutes / 60 : minutes % 60);
        }
    }
    return std::nullopt;
}

std::uint16_t batteryRegister(const Json& battery, std::uint16_t number)
{
    const auto raw = battery.find("registers");
    if (raw != battery.end() && raw->contains(std::to_string(number)))
        return word((*raw)[std::to_string(number)].get<long long>());
    return described(battery, number).value_or(0);
}

ControlReply readBatteryRegister(Unit& unit, const ControlRequest& request)
{
    if (request.input.size() != 2 || request.outCapacity < 2)
        return ControlReply::failed();
    const Json& state = unit.state();
    const auto battery = state.find("battery");
    if (battery == state.end() || !battery->is_object() || !fitted(*battery))
        return ControlReply::failed();
    const std::uint16_t number = Reader(request.input).u16();
    if (number >= batteryRegisterCount)
        return ControlReply::failed();
    return ControlReply::data(Writer().u16(batteryRegister(*battery, number)).take());
}

} // namespace

void installBattery(Unit& unit)
{
    unit.onControl(0x2225C0, readBatteryRegister);
}

} // namespace pelmux::sim
