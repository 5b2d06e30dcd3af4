#include "Adjust.h"

#include <cmath>
#include <iomanip>
#include <sstream>
#include <stdexcept>

namespace pelmux::sim {

namespace {

enum class AdjustKind { number, whole, flag };

// One value a person may change: where it lies in the state and the values it takes. `scale`
// turns the value a person gives into the one the state keeps (degrees into thousandths).
struct AdjustableValue {
    const char* name;
    const char* pointer;
    const char* meaning;
    AdjustKind kind;
    double lowest;
    double highest;
    double scale;
};

constexpr AdjustableValue adjustableValues[] = {
    {"lux", "/lightSensor/lux", "illuminance at the light sensor in lux", AdjustKind::number, 0, 1000000, 1},
    {"range", "/lightSensor/range", "light sensor operating range: 0 standard, 1 extended", AdjustKind::whole,
     0, 1, 1},
    {"charge", "/battery/charge", "battery charge in percent", AdjustKind::whole, 0, 100, 1},
    {"battery", "/battery/fitted", "whether the battery controller answers", AdjustKind::flag, 0, 1, 1},
    {"gps", "/expander/gpsInput", "level of the GPS status input", AdjustKind::whole, 0, 1, 1},
    {"inputs", "/digitalInputs", "digital inputs byte, bits 0 to 3 inputs 1 to 4", AdjustKind::whole, 0, 255,
     1},
};

// The families of names with a part of their own: a sensor index, a rail, a word number.
constexpr AdjustableValue temperatureValue = {"temperatureN",
                                              "/temperatures/",
                                              "temperature of sensor N in degrees Celsius",
                                              AdjustKind::number,
                                              -273,
                                              1000,
                                              1000};
constexpr AdjustableValue railValue = {"rail.NAME",
                                       "/adc/",
                                       "supply rail NAME (24V, 5V, ... or a channel number) in volts",
                                       AdjustKind::number,
                                       0,
                                       100,
                                       1};
constexpr AdjustableValue wordValue = {
    "wordN", "/diagnostics/word", "diagnostic word N (1 to 6)", AdjustKind::whole, 0, 65535, 1};

constexpr const char* railNames[] = {"24V", "24VIN", "12V", "12VVIDEO", "5VSTBY", "5V",  "3V3", "TFTVOL",
                                     "1V9", "1V8",   "1V5", "1V2",      "1V05",   "1V0", "0V9"};

bool decimalDigits(const std::string& text, std::size_t most)
{
    return !text.empty() && text.size() <= most && text.find_first_not_of("0123456789") == std::string::npos;
}

bool railName(const std::string& rail)
{
    for (const char* known : railNames)
        if (rail == known)
            return true;
    return decimalDigits(rail, 10) && std::stoull(rail) <= 0xFFFFFFFFull;
}

std::string describeAdjustable(const AdjustableValue& entry, const std::string& name)
{
    std::ostringstream text;
    text << std::setprecision(10) << name << " takes ";
    if (entry.kind == AdjustKind::flag)
        text << "true or false";
    else
        text << (entry.kind == AdjustKind::whole ? "a whole number" : "a number") << " from " << entry.lowest
             << " to " << entry.highest;
    text << " (" << entry.meaning << ")";
    return text.str();
}

// The value as the state keeps it, or nothing when the entry does not take it.
std::optional<Json> checked(const AdjustableValue& entry, const Json& value)
{
    if (entry.kind == AdjustKind::flag) {
        if (!value.is_boolean())
            return std::nullopt;
        return value;
    }
    if (!value.is_number())
        return std::nullopt;
    const double number = value.get<double>();
    if (!std::isfinite(number) || number < entry.lowest || number > entry.highest)
        return std::nullopt;
    if (entry.kind == AdjustKind::whole) {
        if (number != std::floor(number))
            return std::nullopt;
        return Json(static_cast<long long>(number));
    }
    if (entry.scale != 1)
        return Json(std::llround(number * entry.scale));
    return value.is_number_integer() ? value : Json(number);
}

Adjustment adjust(const AdjustableValue& entry, const std::string& name, std::string pointer,
                  const Json& value, bool targetMustExist = false)
{
    const auto kept = checked(entry, value);
    if (!kept)
        throw std::invalid_argument(describeAdjustable(entry, name));
    return {std::move(pointer), *kept, targetMustExist};
}

} // namespace

Adjustment adjustment(const std::string& name, const Json& value)
{
    for (const auto& entry : adjustableValues)
        if (name == entry.name)
            return adjust(entry, name, entry.pointer, value);
    if (name.rfind("temperature", 0) == 0 && decimalDigits(name.substr(11), 3))
        return adjust(temperatureValue, name,
                      std::string(temperatureValue.pointer) + std::to_string(std::stoi(name.substr(11))) +
                          "/value",
                      value, true);
    if (name.rfind("rail.", 0) == 0 && railName(name.substr(5)))
        return adjust(railValue, name, railValue.pointer + name.substr(5), value);
    if (name.size() == 5 && name.rfind("word", 0) == 0 && name[4] >= '1' && name[4] <= '6')
        return adjust(wordValue, name, wordValue.pointer + name.substr(4), value);
    throw std::invalid_argument("unknown name '" + name + "' (" + adjustableNames() + ")");
}

std::string adjustableNames()
{
    std::string names;
    for (const auto& entry : adjustableValues)
        names += std::string(names.empty() ? "" : ", ") + entry.name;
    for (const auto* entry : {&temperatureValue, &railValue, &wordValue})
        names += std::string(", ") + entry->name;
    return names;
}

void installAdjust(Unit& unit)
{
    unit.onCommand("adjust", [](Unit& target, const Json& command) -> Json {
        const Json& name = command.at("name");
        if (!name.is_string())
            throw std::invalid_argument("name must be a text");
        const Adjustment change = adjustment(name.get<std::string>(), command.at("value"));
        const Json::json_pointer pointer(change.pointer);
        Json& state = target.state();
        if (change.targetMustExist && !state.contains(pointer.parent_pointer()))
            throw std::invalid_argument("the unit has no " + name.get<std::string>());
        state[pointer] = change.value;
        return {{"ok", true}, {"name", name}, {"value", change.value}};
    });
}

} // namespace pelmux::sim
