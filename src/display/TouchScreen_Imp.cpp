#include "display/TouchScreen_Imp.h"

#include "display/TouchParameters.h"
#include "identity/FeatureProbe.h"
#include "identity/VersionGates.h"

#include <iterator>

namespace pelmux {

namespace {

// How the controller keeps a parameter's value.
enum class Stored : std::uint8_t {
    AsGiven,
    Quartered, // the controller keeps four times the value; reads give it back divided by 4
    Flag,      // any value: 1 when non-zero, else 0
};

struct ParameterRule {
    std::uint8_t code;     // the controller's parameter number
    std::uint16_t highest; // the largest value accepted
    Stored stored;
};

// By the caller's index. Indices 6 and 7 are not in code order: 6 is code 11 and 7 is code 10.
constexpr ParameterRule parameterRules[] = {
    {4, 0xFFFF, Stored::AsGiven},   {5, 4095, Stored::AsGiven},    {6, 4095, Stored::AsGiven},
    {7, 16383, Stored::Quartered},  {8, 16383, Stored::Quartered}, {9, 16383, Stored::Quartered},
    {11, 16383, Stored::Quartered}, {10, 32767, Stored::AsGiven},  {12, 0xFFFF, Stored::Flag},
    {13, 32767, Stored::AsGiven},   {14, 0xFFFF, Stored::AsGiven}, {19, 0xFFFF, Stored::AsGiven},
};

// The oldest front firmware that has the touch settings, and the one that has parameters 1 to 11.
constexpr unsigned char settingsMajor = 0, settingsMinor = 5;
constexpr unsigned char parametersMajor = 1, parametersMinor = 0;

} // namespace

TouchScreen_Imp::TouchScreen_Imp()
{
    link_.open();
    // No display means no touch screen; the touch field is asked only when a display is fitted.
    touchPresent_ = probeFeature(Feature::Display);
    if (touchPresent_)
        touchPresent_ = probeFeature(Feature::Touch);
}

ResultCode TouchScreen_Imp::settingsReady() const
{
    if (!link_.isOpen())
        return Varnholt::ERR_OPEN_FAILED;
    if (!touchPresent_)
        return Varnholt::ERR_NOT_SUPPORTED;
    if (!isFrontVersionAtLeast(settingsMajor, settingsMinor))
        return Varnholt::ERR_NEWER_FRONT_UC_REQUIRED;
    return Varnholt::ERR_SUCCESS;
}

ResultCode TouchScreen_Imp::parameterReady(std::int32_t index) const
{
    if (!touchPresent_)
        return Varnholt::ERR_NOT_SUPPORTED;
    const bool gated = index == 0 ? isFrontVersionAtLeast(settingsMajor, settingsMinor)
                                  : isFrontVersionAtLeast(parametersMajor, parametersMinor);
    if (!gated)
        return Varnholt::ERR_NEWER_FRONT_UC_REQUIRED;
    if (static_cast<std::uint32_t>(index) >= std::size(parameterRules))
        return Varnholt::ERR_INVALID_DATA_RANGE;
    return Varnholt::ERR_SUCCESS;
}

ResultCode TouchScreen_Imp::getTouchMode(std::int32_t* mode)
{
    if (const ResultCode ready = settingsReady(); ready != Varnholt::ERR_SUCCESS)
        return ready;
    if (mode == nullptr)
        return Varnholt::ERR_INVALID_PARAMETER_NULL;
    std::uint8_t byte = 0;
    const ResultCode result = issue(link_, touchModeReadRequest, nullptr, 0, &byte, 1, Count::Output);
    if (result != Varnholt::ERR_SUCCESS)
        return result;
    // The controller knows four modes.
    if (byte > 3)
        return Varnholt::ERR_INVALID_DATA_RANGE;
    *mode = byte;
    return Varnholt::ERR_SUCCESS;
}

ResultCode TouchScreen_Imp::getTouchValue(std::uint16_t* value)
{
    if (const ResultCode ready = settingsReady(); ready != Varnholt::ERR_SUCCESS)
        return ready;
    if (value == nullptr)
        return Varnholt::ERR_INVALID_PARAMETER_NULL;
    std::uint8_t bytes[2] = {};
    const ResultCode result = issue(link_, touchValueReadRequest, nullptr, 0, bytes, 2, Count::Output);
    if (result != Varnholt::ERR_SUCCESS)
        return result;
    *value = wordAt(bytes);
    return Varnholt::ERR_SUCCESS;
}

ResultCode TouchScreen_Imp::setTouchMode(unsigned char mode)
{
    if (const ResultCode ready = settingsReady(); ready != Varnholt::ERR_SUCCESS)
        return ready;
    // Only the two low bits reach the controller; larger modes are not refused.
    const std::uint8_t byte = mode & 3;
    return issue(link_, touchModeWriteRequest, &byte, 1, nullptr, 0, Count::Input);
}

ResultCode TouchScreen_Imp::setTouchValue(std::uint16_t value)
{
    if (const ResultCode ready = settingsReady(); ready != Varnholt::ERR_SUCCESS)
        return ready;
    std::uint8_t bytes[2];
    putWord(bytes, value);
    return issue(link_, touchValueWriteRequest, bytes, 2, nullptr, 0, Count::Input);
}

ResultCode TouchScreen_Imp::setTouchParameter(std::int32_t index, std::uint16_t value)
{
    if (const ResultCode ready = parameterReady(index); ready != Varnholt::ERR_SUCCESS)
        return ready;
    const ParameterRule& rule = parameterRules[index];
    std::uint16_t stored = value;
    if (rule.stored == Stored::Flag) {
        stored = value != 0 ? 1 : 0;
    } else {
        if (value > rule.highest)
            return Varnholt::ERR_INVALID_DATA_RANGE;
        if (rule.stored == Stored::Quartered)
            stored = static_cast<std::uint16_t>(value * 4);
    }
    if (!link_.isOpen())
        return Varnholt::ERR_OPEN_FAILED;
    return writeTouchParameter(link_, rule.code, 0, stored);
}

ResultCode TouchScreen_Imp::getTouchParameter(std::int32_t index, std::uint16_t* value)
{
    if (const ResultCode ready = parameterReady(index); ready != Varnholt::ERR_SUCCESS)
        return ready;
    if (!link_.isOpen())
        return Varnholt::ERR_OPEN_FAILED;
    if (value == nullptr)
        return Varnholt::ERR_INVALID_PARAMETER_NULL;
    const ParameterRule& rule = parameterRules[index];
    std::uint8_t answer[4] = {};
    const ResultCode result = readTouchParameter(link_, rule.code, answer);
    if (result != Varnholt::ERR_SUCCESS)
        return result;
    const std::uint16_t stored = touchParameterValue(answer);
    *value = rule.stored == Stored::Quartered ? static_cast<std::uint16_t>(stored >> 2) : stored;
    return Varnholt::ERR_SUCCESS;
}

} // namespace pelmux
