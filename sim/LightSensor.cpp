// The display's ambient light sensor, answered from "lightSensor" in the profile.
//
// The sensor has two photodiode channels: channel 1 sees visible and infrared light, channel 2
// infrared only. The model takes the illuminance the profile sets and the infrared share of
// channel 1's count, works out the two counts that this illuminance gives, and sends each as the
// sensor's chord/step code at or below its count. In the extended range the sensor counts five
// times less light. After a range change the sensor integrates anew: the next readings come
// without their valid bit.
#include "Unit.h"

#include <algorithm>
#include <cmath>

namespace pelmux::sim {

namespace {

constexpr std::uint32_t measureCode = 0x222514;
constexpr std::uint32_t setRangeCode = 0x222518;
constexpr std::uint32_t getRangeCode = 0x22251C;

constexpr std::uint8_t validBit = 0x80;
// The first count of each chord; a step within chord c is 2^c counts, 16 steps per chord.
constexpr double chordStart[8] = {0, 16, 49, 115, 247, 511, 1039, 2095};
constexpr double largestCount = 4015;
constexpr double extendedDivisor = 5;

// The sensor's code for a count: the highest chord that starts at or below it, the highest step
// at or below it; at or beyond the largest count, full scale (chord 7, step 15).
std::uint8_t codeFor(double count)
{
    if (count >= largestCount)
        return 0x7F;
    int chord = 7;
    while (chord > 0 && chordStart[chord] > count)
        --chord;
    const double steps = std::floor((count - chordStart[chord]) / std::ldexp(1.0, chord));
    const int step = static_cast<int>(std::clamp(steps, 0.0, 15.0));
    return static_cast<std::uint8_t>((chord << 4) | step);
}

// Channel 1's count per lux for an infrared share f of it: the lux a pair of counts stands for is
// (c1 - c2) * 0.39 * e^(-0.181 ((c2 / (c1 - c2))^2), with c2 = f c1.
double countsPerLux(double infrared)
{
    const double ratio = infrared / (1.0 - infrared);
    return 1.0 / ((1.0 - infrared) * 0.39 * std::exp(-0.181 * ratio * ratio));
}

Json& sensorState(Unit& unit)
{
    return unit.state().at("lightSensor");
}

int integerOr(const Json& sensor, const char* key, int otherwise)
{
    return sensor.contains(key) ? sensor.at(key).get<int>() : otherwise;
}

ControlReply measure(Unit& unit, const ControlRequest&)
{
    Json& sensor = sensorState(unit);
    const double lux = std::max(0.0, sensor.at("lux").get<double>());
    const double infrared = sensor.value("infrared", 0.25);
    // A share of 1 or more would leave no visible light to count: the profile is unusable.
    if (!(infrared >= 0.0 && infrared < 1.0))
        return ControlReply::failed();
    double channel1 = lux * countsPerLux(infrared);
    if (integerOr(sensor, "range", 0) == 1)
        channel1 /= extendedDivisor;
    const double channel2 = channel1 * infrared;

    std::uint8_t valid = validBit;
    if (const int notReady = integerOr(sensor, "notReady", 0); notReady > 0) {
        sensor["notReady"] = notReady - 1;
        valid = 0;
    }
    Writer out;
    out.u8(static_cast<std::uint8_t>(valid | codeFor(channel1)));
    out.u8(static_cast<std::uint8_t>(valid | codeFor(channel2)));
    return ControlReply::data(out.take());
}

ControlReply setRange(Unit& unit, const ControlRequest& request)
{
    Json& sensor = sensorState(unit);
    if (request.input.size() != 1 || request.input[0] > 1)
        return ControlReply::failed();
    const int range = request.input[0];
    if (range != integerOr(sensor, "range", 0)) {
        const int settle = integerOr(sensor, "settleReadings", 0);
        sensor["notReady"] = std::max(integerOr(sensor, "notReady", 0), settle);
    }
    sensor["range"] = range;
    return ControlReply::consumed(1);
}

ControlReply getRange(Unit& unit, const ControlRequest&)
{
    const Json& sensor = sensorState(unit);
    Writer out;
    // Sent as it stands, so that a profile can make the sensor answer a range it does not have.
    out.u8(static_cast<std::uint8_t>(integerOr(sensor, "range", 0) & 0xFF));
    return ControlReply::data(out.take());
}

} // namespace

void installLightSensor(Unit& unit)
{
    unit.onControl(measureCode, measure);
    unit.onControl(setRangeCode, setRange);
    unit.onControl(getRangeCode, getRange);
}

} // namespace pelmux::sim
