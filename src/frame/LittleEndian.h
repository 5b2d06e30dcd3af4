// Little-endian 16-bit words and 32-bit double words, as the driver's request and answer records
// and the raw video frames carry them. Byte by byte, so that neither the host's byte order nor the
// alignment of a record matters.
#pragma once

#include <cstdint>

namespace pelmux {

constexpr void putWord(std::uint8_t* at, std::uint16_t value)
{
    at[0] = static_cast<std::uint8_t>(value);
    at[1] = static_cast<std::uint8_t>(value >> 8);
}

constexpr std::uint16_t wordAt(const std::uint8_t* at)
{
    return static_cast<std::uint16_t>(at[0] | (at[1] << 8));
}

constexpr void putDword(std::uint8_t* at, std::uint32_t value)
{
    putWord(at, static_cast<std::uint16_t>(value));
    putWord(at + 2, static_cast<std::uint16_t>(value >> 16));
}

constexpr std::uint32_t dwordAt(const std::uint8_t* at)
{
    return wordAt(at) | (static_cast<std::uint32_t>(wordAt(at + 2)) << 16);
}

} // namespace pelmux
