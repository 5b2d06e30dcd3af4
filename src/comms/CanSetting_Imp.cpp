#include "comms/CanSetting_Imp.h"

#include "frame/ExhaustedMemory.h"
#include "frame/LittleEndian.h"
#include "identity/About_Imp.h"
#include "identity/FeatureProbe.h"
#include "platform/Registry.h"

#include <array>
#include <cwchar>
#include <optional>
#include <string>
#include <string_view>

namespace pelmux {

namespace {

constexpr const wchar_t* baudRateName = L"BaudRate";
constexpr const wchar_t* modeName = L"Mode";

// The frame types' texts, indexed by CanFrameType.
constexpr std::array<std::string_view, 3> frameTypeTexts = {"Standard", "Extended", "Standard, Extended"};

bool validChannel(unsigned char channel)
{
    return channel >= 1 && channel <= 4;
}

// The text of a value's UTF-16LE bytes up to its terminator, or all of them when it has none (the
// data of a value need not end in one). Characters beyond ASCII become '?', which no reader here
// takes for a digit, a blank or a letter of a frame type.
std::string textOfValue(const std::uint8_t* data, std::uint32_t size)
{
    std::string text;
    for (std::uint32_t at = 0; at + 1 < size; at += 2) {
        const unsigned unit = wordAt(data + at);
        if (unit == 0)
            break;
        text += unit < 0x80 ? static_cast<char>(unit) : '?';
    }
    return text;
}

// A value's data: the text in UTF-16LE, its terminator, then zero bytes up to `size`.
template <std::uint32_t size> std::array<std::uint8_t, size> valueOfText(std::string_view text)
{
    std::array<std::uint8_t, size> data{};
    for (std::size_t i = 0; i < text.size() && 2 * i + 4 <= size; ++i)
        data[2 * i] = static_cast<std::uint8_t>(text[i]);
    return data;
}

} // namespace

std::wstring canParameterKey(unsigned char channel)
{
    wchar_t path[255];
    std::swprintf(path, std::size(path),
                  L"SYSTEM\\CurrentControlSet\\Services\\CanXilinxVH\\Parameters\\Device%d",
                  static_cast<int>(channel) - 1);
    return path;
}

namespace {

// Opens the channel's key for reading, queries `name` and closes the key again; answers the value's
// text, or nothing when the key or the value cannot be read.
std::optional<std::string> readValueText(unsigned char channel, const wchar_t* name)
{
    platform::RegistryKey key;
    if (!key.open(canParameterKey(channel).c_str(), platform::KeyAccess::Read))
        return std::nullopt;
    std::uint8_t data[canValueCapacity] = {};
    std::uint32_t size = 0;
    if (!key.queryValue(name, data, sizeof data, size))
        return std::nullopt;
    return textOfValue(data, size);
}

} // namespace

std::uint16_t baudRateFromText(const std::string& text)
{
    const auto bitsPerSecond = static_cast<std::uint32_t>(identityNumber(text));
    return static_cast<std::uint16_t>((bitsPerSecond / 1000u) & 0xFFFFu);
}

CanSetting_Imp::CanSetting_Imp() : canPresent(probeFeature(Feature::Can)) {}

ResultCode CanSetting_Imp::getBaudRate(unsigned char channel, std::uint16_t* rate)
{
    if (rate == nullptr || !validChannel(channel))
        return Varnholt::ERR_INVALID_PARAMETER_NULL;
    if (!canPresent)
        return Varnholt::ERR_NOT_SUPPORTED;
    return unlessMemoryExhausted([&] {
        const auto text = readValueText(channel, baudRateName);
        if (!text)
            return Varnholt::ERR_NOT_SUPPORTED;
        *rate = baudRateFromText(*text);
        return Varnholt::ERR_SUCCESS;
    });
}

ResultCode CanSetting_Imp::getFrameType(unsigned char channel, Varnholt::CanFrameType* type)
{
    if (type == nullptr || !validChannel(channel))
        return Varnholt::ERR_INVALID_PARAMETER_NULL;
    if (!canPresent)
        return Varnholt::ERR_NOT_SUPPORTED;
    return unlessMemoryExhausted([&] {
        const auto text = readValueText(channel, modeName);
        if (!text)
            return Varnholt::ERR_NOT_SUPPORTED;
        for (std::size_t i = 0; i < frameTypeTexts.size(); ++i) {
            if (*text == frameTypeTexts[i]) {
                *type = static_cast<Varnholt::CanFrameType>(i);
                return Varnholt::ERR_SUCCESS;
            }
        }
        return Varnholt::ERR_CODE_NOT_EXIST;
    });
}

ResultCode CanSetting_Imp::setBaudRate(unsigned char channel, std::uint16_t rate)
{
    if (rate > 1000 || !validChannel(channel))
        return Varnholt::ERR_INVALID_PARAMETER_NULL;
    if (!canPresent)
        return Varnholt::ERR_NOT_SUPPORTED;
    return unlessMemoryExhausted([&] {
        platform::RegistryKey key;
        if (!key.open(canParameterKey(channel).c_str(), platform::KeyAccess::Write))
            return Varnholt::ERR_OPEN_FAILED;
        const auto data = valueOfText<baudRateValueSize>(std::to_string(rate * 1000u));
        if (!key.setStringValue(baudRateName, data.data(), baudRateValueSize))
            return Varnholt::ERR_UNKNOWN_FEATURE;
        return Varnholt::ERR_SUCCESS;
    });
}

ResultCode CanSetting_Imp::setFrameType(unsigned char channel, Varnholt::CanFrameType type)
{
    if (!validChannel(channel))
        return Varnholt::ERR_INVALID_PARAMETER_NULL;
    if (!canPresent)
        return Varnholt::ERR_NOT_SUPPORTED;
    const auto index = static_cast<std::uint32_t>(type);
    if (index >= frameTypeTexts.size())
        return Varnholt::ERR_INVALID_PARAMETER_NULL;
    return unlessMemoryExhausted([&] {
        platform::RegistryKey key;
        if (!key.open(canParameterKey(channel).c_str(), platform::KeyAccess::Write))
            return Varnholt::ERR_OPEN_FAILED;
        const auto data = valueOfText<modeValueSize>(frameTypeTexts[index]);
        const bool written = key.setStringValue(modeName, data.data(), modeValueSize);
        key.close();
        return written ? Varnholt::ERR_SUCCESS : Varnholt::ERR_UNKNOWN_FEATURE;
    });
}

} // namespace pelmux
