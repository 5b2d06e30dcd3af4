#include "Timing.h"

#include <cmath>
#include <sstream>
#include <stdexcept>

namespace pelmux::sim {

namespace PELMUX_FILE_SCOPE {

// The number under `key` of `timing`, or `fallback` when it is not there. Throws for another kind
// of value, one below 0, or 0 itself unless `zeroAllowed`.
double figure(const Json& timing, const char* key, double fallback, bool zeroAllowed)
{
    if (!timing.contains(key))
        return fallback;
    const Json& value = timing[key];
    const double number = value.is_number() ? value.get<double>() : -1.0;
    if (!value.is_number() || !std::isfinite(number) || number < 0.0 || (!zeroAllowed && number == 0.0))
        throw std::invalid_argument(std::string("timing.") + key + " must be a number " +
                                    (zeroAllowed ? "from 0 on" : "above 0"));
    return number;
}

} // namespace PELMUX_FILE_SCOPE

Timing timingOf(const Json& state)
{
    using namespace PELMUX_FILE_SCOPE;
    Timing timing;
    if (!state.is_object() || !state.contains("timing"))
        return timing;
    const Json& section = state["timing"];
    if (!section.is_object())
        throw std::invalid_argument("timing must be an object such as {\"mode\": \"real\"}");
    if (section.contains("mode")) {
        const Json& mode = section["mode"];
        if (mode != "real" && mode != "instant")
            throw std::invalid_argument("timing.mode must be \"real\" or \"instant\"");
        timing.real = mode == "real";
    }
    timing.i2cClockHz = figure(section, "i2cClockHz", timing.i2cClockHz, false);
    timing.vendorCallUs = figure(section, "vendorCallUs", timing.vendorCallUs, true);
    timing.driverRequestUs = figure(section, "driverRequestUs", timing.driverRequestUs, true);
    return timing;
}

std::chrono::nanoseconds busTime(double clockHz, std::size_t bytes, int conditions)
{
    const double bitTimes = 9.0 * static_cast<double>(bytes) + conditions;
    return std::chrono::nanoseconds(static_cast<std::int64_t>(std::llround(bitTimes * 1e9 / clockHz)));
}

std::string describeTiming(const Timing& timing)
{
    if (!timing.real)
        return "instant: every request is answered at once";
    std::ostringstream text;
    text << "real speed: I2C at " << timing.i2cClockHz / 1000 << " kHz, " << timing.vendorCallUs
         << " us per vendor call, " << timing.driverRequestUs << " us per driver request";
    return text.str();
}

} // namespace pelmux::sim
