// CAN settings: the start-up bit rate and frame type of each CAN channel, kept in the CAN driver's
// parameter keys in the registry. The driver reads them on its own terms; nothing here notifies it.
#pragma once

#include <pelmux/CanSetting.h>

#include <cstdint>
#include <string>

namespace pelmux {

using Varnholt::ResultCode;

// The operations build the key's name and the value's text on the heap: on Windows exhausted memory
// answers ERR_MEMORY_ALLOCATION_FAILED (32) after the argument and feature checks, the registry
// untouched.
class CanSetting_Imp final : public Varnholt::CanSetting {
public:
    // Asks the unit's identity whether it has CAN channels; a failed read counts as present.
    CanSetting_Imp();

    ResultCode getBaudRate(unsigned char channel, std::uint16_t* rate) override;
    ResultCode getFrameType(unsigned char channel, Varnholt::CanFrameType* type) override;
    ResultCode setBaudRate(unsigned char channel, std::uint16_t rate) override;
    ResultCode setFrameType(unsigned char channel, Varnholt::CanFrameType type) override;
    void release() override { delete this; }

private:
    ~CanSetting_Imp() = default;

    bool canPresent;
};

// The parameter key of channel 1 to 4 under HKEY_LOCAL_MACHINE:
// "SYSTEM\CurrentControlSet\Services\CanXilinxVH\Parameters\Device0" for channel 1, and so on.
std::wstring canParameterKey(unsigned char channel);

// The data sizes the values are written with: the text, its terminator, then zero bytes.
inline constexpr std::uint32_t baudRateValueSize = 40;
inline constexpr std::uint32_t modeValueSize = 255;
// The most a value may hold to be read.
inline constexpr std::uint32_t canValueCapacity = 255;

// The kbit/s of a stored "BaudRate" text: its decimal number read as atoi reads it, divided by 1000
// as an unsigned number, low 16 bits.
std::uint16_t baudRateFromText(const std::string& text);

} // namespace pelmux
