// The unit's JSON texts in and out: one rule for every server of the unit (board socket, TCP,
// front panel) and for its saved state, so that no client can hand the unit a text it cannot
// hold or make it answer one it cannot write.
#pragma once

#include <nlohmann/json.hpp>

#include <string>

namespace pelmux::sim {

using Json = nlohmann::json;

// How deep a value the unit takes may nest (objects and arrays in one another), counted from the
// value itself. The unit's own state nests a few levels; every part of the unit that walks a
// value (copy, compare, write) recurses once per level, so a bound keeps them within their stack.
inline constexpr int maxJsonDepth = 64;

// A value as JSON text (compact, or indented by `indent` spaces). Never throws: a text that is
// not UTF-8 (a settings value written in a Windows code page, a raw byte quoted in a parse error)
// is written with each byte that is not part of a UTF-8 character replaced by U+FFFD.
std::string jsonText(const Json& value, int indent = -1);

// Parses a command text (a frame's body, an HTTP request's body). Throws std::invalid_argument
// with a readable message when the text is not JSON or nests deeper than maxJsonDepth; the text
// is read without recursion, so any depth is refused rather than followed.
Json parseJsonCommand(const std::string& text);

// How deep `value` nests: 0 for a number, text, true, false or null, 1 for a container of such
// values and so on; stops counting above `limit` (then answers limit + 1).
int jsonDepth(const Json& value, int limit = maxJsonDepth);

} // namespace pelmux::sim
