// Little-endian 16-bit words, as the driver's request and answer records carry them.
#pragma once

#include <cstdint>

namespace pelmux {

inline void putWord(std::uint8_t* at, std::uint16_t value)
{
    at[0] = static_cast<std::uint8_t>(value);
    at[1] = static_cast<std::uint8_t>(value >> 8);
}

inline std::uint16_t wordAt(const std::uint8_t* at)
{
    return static_cast<std::uint16_t>(at[0] | (at[1] << 8));
}

} // namespace pelmux
