// Dotted version texts ("1.5.0.0", "v2.1.4.17" in oeminfo.ini).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

namespace pelmux {

// Four version bytes in delivery order: major, minor, revision, build.
using VersionBytes = std::array<std::uint8_t, 4>;

// Reads "%d.%d.%d.%d" from [begin, end) as a formatted scan does (white space skipped before each
// number, an optional sign), never past `end`. Succeeds only with four numbers each within 0..255.
std::optional<VersionBytes> parseVersionText(const char* begin, const char* end);

// Finds the first lower-case 'v' directly followed by a decimal digit in [begin, end) and parses
// the version after it. A 'v' followed by anything else is skipped; a found 'v' whose version does
// not parse ends the search without a result.
std::optional<VersionBytes> findVersionAfterV(const char* begin, const char* end);

} // namespace pelmux
