// The debug trace: short texts the light-sensor averaging and the automatic backlight controller
// format at fixed points. They go to one sink, off by default: PELMUX_TRACE=stderr sends them to
// standard error, and a test may install a sink of its own to capture them.
#pragma once

#include <functional>
#include <string_view>

namespace pelmux {

// The longest trace text; a longer one is cut.
inline constexpr std::size_t maxTraceLength = 120;

// Formats the text (printf rules, at most maxTraceLength characters) and hands it to the sink.
// Nothing is formatted while no sink is installed. Any thread may trace; the sink sees one text
// at a time.
#if defined(__GNUC__)
__attribute__((format(printf, 1, 2)))
#endif
void trace(const char* format, ...);

using TraceSink = std::function<void(std::string_view text)>;

// Installs a sink in place of the current one (an empty function switches tracing off) and answers
// the one it replaces.
TraceSink setTraceSink(TraceSink sink);

} // namespace pelmux
