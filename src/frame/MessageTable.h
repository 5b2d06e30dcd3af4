// Static message tables of (narrow, wide) text pairs, looked up without reading past their end.
#pragma once

#include <cstddef>
#include <cstdint>

namespace pelmux {

struct MessagePair {
    const char* narrow;
    const wchar_t* wide;
};

template <std::size_t N>
constexpr const MessagePair& lookupMessage(const MessagePair (&table)[N], std::uint32_t index,
                                           const MessagePair& fallback)
{
    return index < N ? table[index] : fallback;
}

} // namespace pelmux
