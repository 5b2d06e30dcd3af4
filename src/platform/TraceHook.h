// The seam's lines for the debug trace: why the unit could not be reached (what was tried, what
// answered). The seam does not know the frame's trace sink; the frame installs a hook that hands
// the lines on to it, and until it does they go nowhere.
#pragma once

#include <string>

namespace pelmux::platform {

// Receives one whole line (with its line end) on the thread that met the cause; answers whether a
// sink took it (false while tracing is off).
using TraceHook = bool (*)(const std::string& line);

// Installs the hook that takes the seam's lines (null: none).
void setTraceHook(TraceHook hook);

// Hands `line` to the hook until a sink has taken it once in this process: a unit that stays
// unreachable is told once per cause, not at every open that fails.
void traceOnce(const std::string& line);

} // namespace pelmux::platform
