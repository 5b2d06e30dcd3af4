#include "indicators/FrontLED_Imp.h"

#include "frame/OutputReference.h"
#include "platform/Mutex.h"

#include <cmath>
#include <mutex>

namespace pelmux {

namespace {

constexpr double minFrequency = 0.2;
constexpr double maxFrequency = 50.0;
constexpr unsigned char maxDutyCycle = 100;

// A whole, non-negative number of 10 ms units as the byte the controller takes.
std::uint8_t timeByte(double units)
{
    return units >= 255.0 ? std::uint8_t{255} : static_cast<std::uint8_t>(units);
}

// The LED controller holds one timing record, which every FrontLED object of the process reaches:
// its read-modify-writes take turns here, so that threads setting different timing bytes keep each
// other's changes. The platform's lock, which needs no memory: a setter on exhausted memory still
// reaches the driver. Taken once per operation, never again inside (setSignal holds it across its
// two writes).
platform::Mutex timingLock;

} // namespace

std::int32_t standardColorIndex(const LedColor& color)
{
    for (std::size_t i = 0; i < standardColors.size(); ++i)
        if (standardColors[i] == color)
            return static_cast<std::int32_t>(i);
    return noStandardColor;
}

ResultCode blinkOfSignal(double frequency, unsigned char dutyCycle, LedBlink& blink)
{
    // Written as a test of the valid range, so that a frequency that is not a number is refused.
    if (!(frequency >= minFrequency && frequency <= maxFrequency) || dutyCycle > maxDutyCycle)
        return Varnholt::ERR_INVALID_PARAMETER_NULL;
    const double period = 100.0 / frequency;
    const double on = std::trunc(period * dutyCycle / 100.0);
    const double off = std::trunc(period - on);
    blink.onTime = timeByte(on);
    blink.offTime = timeByte(off);
    return Varnholt::ERR_SUCCESS;
}

ResultCode signalOfBlink(const LedBlink& blink, double& frequency, unsigned char& dutyCycle)
{
    const unsigned sum = unsigned{blink.onTime} + blink.offTime;
    if (sum == 0)
        return Varnholt::ERR_INVALID_DATA_RANGE;
    frequency = 100.0 / sum;
    dutyCycle = static_cast<unsigned char>(100u * blink.onTime / sum);
    return Varnholt::ERR_SUCCESS;
}

SharedInstance<FrontLED_Imp>& frontLedInstance()
{
    static SharedInstance<FrontLED_Imp> instance;
    return instance;
}

FrontLED_Imp::FrontLED_Imp()
{
    link_.open();
}

void FrontLED_Imp::release()
{
    frontLedInstance().release();
}

ResultCode FrontLED_Imp::write(std::uint32_t code, const void* input, std::uint32_t size)
{
    if (!link_.isOpen())
        return Varnholt::ERR_OPEN_FAILED;
    return issue(link_, code, input, size, nullptr, 0, Count::Unchecked);
}

ResultCode FrontLED_Imp::getTimingByte(std::size_t at, unsigned char* value)
{
    if (value == nullptr)
        return Varnholt::ERR_INVALID_PARAMETER_NULL;
    LedTiming timing{};
    const ResultCode result = readRequest(link_, ledReadTimingRequest, timing.data(), timing.size());
    if (result == Varnholt::ERR_SUCCESS)
        *value = timing[at];
    return result;
}

ResultCode FrontLED_Imp::setTimingByte(std::size_t at, unsigned char value)
{
    std::lock_guard turn(timingLock);
    return replaceTimingByte(at, value);
}

ResultCode FrontLED_Imp::replaceTimingByte(std::size_t at, unsigned char value)
{
    LedTiming timing{};
    const ResultCode result = readRequest(link_, ledReadTimingRequest, timing.data(), timing.size());
    if (result != Varnholt::ERR_SUCCESS)
        return result;
    timing[at] = value;
    return write(ledWriteTimingRequest, timing.data(), timing.size());
}

ResultCode FrontLED_Imp::getSignal(double& frequency, unsigned char& dutyCycle)
{
    double* const frequencyOut = outputAddress(&frequency);
    unsigned char* const dutyCycleOut = outputAddress(&dutyCycle);
    if (frequencyOut == nullptr || dutyCycleOut == nullptr)
        return Varnholt::ERR_INVALID_PARAMETER_NULL;
    LedBlink blink;
    ResultCode result = getOnTime(blink.onTime);
    if (result != Varnholt::ERR_SUCCESS)
        return result;
    result = getOffTime(blink.offTime);
    if (result != Varnholt::ERR_SUCCESS)
        return result;
    return signalOfBlink(blink, *frequencyOut, *dutyCycleOut);
}

ResultCode FrontLED_Imp::getOnTime(unsigned char& onTime)
{
    return getTimingByte(onTimeByte, outputAddress(&onTime));
}

ResultCode FrontLED_Imp::getOffTime(unsigned char& offTime)
{
    return getTimingByte(offTimeByte, outputAddress(&offTime));
}

ResultCode FrontLED_Imp::getTiming2(unsigned char& timing2)
{
    return getTimingByte(timing2Byte, outputAddress(&timing2));
}

ResultCode FrontLED_Imp::getTiming3(unsigned char& timing3)
{
    return getTimingByte(timing3Byte, outputAddress(&timing3));
}

ResultCode FrontLED_Imp::getStandardColor(std::int32_t& index)
{
    std::int32_t* const indexOut = outputAddress(&index);
    if (indexOut == nullptr)
        return Varnholt::ERR_INVALID_PARAMETER_NULL;
    LedColor color;
    const ResultCode result = getColor(color.red, color.green, color.blue);
    if (result == Varnholt::ERR_SUCCESS)
        *indexOut = standardColorIndex(color);
    return result;
}

ResultCode FrontLED_Imp::getColor(unsigned char& red, unsigned char& green, unsigned char& blue)
{
    unsigned char* const outputs[3] = {outputAddress(&red), outputAddress(&green), outputAddress(&blue)};
    for (unsigned char* output : outputs)
        if (output == nullptr)
            return Varnholt::ERR_INVALID_PARAMETER_NULL;
    std::uint8_t color[3] = {};
    const ResultCode result = readRequest(link_, ledReadColorRequest, color, sizeof color);
    if (result == Varnholt::ERR_SUCCESS)
        for (std::size_t i = 0; i < 3; ++i)
            *outputs[i] = color[i];
    return result;
}

ResultCode FrontLED_Imp::getControlFlag(std::int32_t& flag)
{
    std::int32_t* const flagOut = outputAddress(&flag);
    if (flagOut == nullptr)
        return Varnholt::ERR_INVALID_PARAMETER_NULL;
    std::uint8_t raw = 0;
    const ResultCode result = readRequest(link_, ledReadFlagRequest, &raw, 1);
    if (result == Varnholt::ERR_SUCCESS)
        *flagOut = static_cast<std::int8_t>(raw) > 0 ? 1 : 0;
    return result;
}

ResultCode FrontLED_Imp::setSignal(double frequency, unsigned char dutyCycle)
{
    LedBlink blink;
    const ResultCode result = blinkOfSignal(frequency, dutyCycle, blink);
    if (result != Varnholt::ERR_SUCCESS)
        return result;
    // Two writes: between them the controller runs the new on time with the old off time. Other
    // threads' timing changes wait until both are done, so that the process sets a signal whole.
    std::lock_guard turn(timingLock);
    const ResultCode on = replaceTimingByte(onTimeByte, blink.onTime);
    if (on != Varnholt::ERR_SUCCESS)
        return on;
    return replaceTimingByte(offTimeByte, blink.offTime);
}

ResultCode FrontLED_Imp::setOnTime(unsigned char onTime)
{
    return setTimingByte(onTimeByte, onTime);
}

ResultCode FrontLED_Imp::setOffTime(unsigned char offTime)
{
    return setTimingByte(offTimeByte, offTime);
}

ResultCode FrontLED_Imp::setTiming2(unsigned char timing2)
{
    return setTimingByte(timing2Byte, timing2);
}

ResultCode FrontLED_Imp::setTiming3(unsigned char timing3)
{
    return setTimingByte(timing3Byte, timing3);
}

ResultCode FrontLED_Imp::setStandardColor(std::int32_t index)
{
    if (index < 0 || index >= static_cast<std::int32_t>(standardColors.size()))
        return Varnholt::ERR_INVALID_PARAMETER_NULL;
    const LedColor& color = standardColors[static_cast<std::size_t>(index)];
    return setColor(color.red, color.green, color.blue);
}

ResultCode FrontLED_Imp::setColor(unsigned char red, unsigned char green, unsigned char blue)
{
    // The range comes before the open test.
    if (red > maxColorChannel || green > maxColorChannel || blue > maxColorChannel)
        return Varnholt::ERR_INVALID_PARAMETER_NULL;
    const std::uint8_t color[3] = {red, green, blue};
    return write(ledWriteColorRequest, color, sizeof color);
}

ResultCode FrontLED_Imp::setOff()
{
    return setOnTime(0);
}

ResultCode FrontLED_Imp::setControlFlag(std::int32_t value)
{
    const std::uint8_t flag = value == 1 ? 1 : 0;
    return write(ledWriteFlagRequest, &flag, 1);
}

} // namespace pelmux
