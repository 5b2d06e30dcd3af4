// The debug trace: short texts the light-sensor averaging and the automatic backlight controller
// format at fixed points. They go to one sink, off by default: PELMUX_TRACE=stderr sends them to
// standard error, and a test may install a sink of its own to capture them.
//
// Beside it, the library's few output lines that are no trace: they always go to standard output
// or standard error, whatever the sink.
#pragma once

#include <cstdint>
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

// Hands a whole text (with its line end) to the sink, not cut: the library's own lines beside the
// fixed trace points, such as why the unit could not be reached. Answers whether a sink took it.
bool traceText(std::string_view text);

using TraceSink = std::function<void(std::string_view text)>;

// Installs a sink in place of the current one (an empty function switches tracing off) and answers
// the one it replaces.
TraceSink setTraceSink(TraceSink sink);

// The standard stream an output line goes to.
enum class OutputStream : std::uint8_t { Out, Err };

// Writes `text` as it is (it carries its own line end) to standard output or standard error,
// buffered as the C library buffers that stream. Does not block beyond the write itself.
void outputLine(OutputStream stream, const char* text);

} // namespace pelmux
