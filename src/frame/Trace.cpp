#include "frame/Trace.h"

#include "platform/Mutex.h"
#include "platform/TraceHook.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace pelmux {

namespace {

struct SinkSlot {
    platform::Mutex mutex;
    TraceSink sink;
    std::atomic<bool> active{false};

    SinkSlot()
    {
        const char* target = std::getenv("PELMUX_TRACE");
        if (target != nullptr && std::strcmp(target, "stderr") == 0) {
            sink = [](std::string_view text) {
                std::fwrite(text.data(), 1, text.size(), stderr);
                std::fflush(stderr);
            };
            active = true;
        }
    }
};

SinkSlot& slot()
{
    static SinkSlot instance;
    return instance;
}

bool traceFromSeam(const std::string& line)
{
    return traceText(line);
}

// The seam's lines reach the sink from the start: the hook is in place before any code of the
// library runs.
[[maybe_unused]] const bool seamHooked = (platform::setTraceHook(&traceFromSeam), true);

} // namespace

bool traceText(std::string_view text)
{
    SinkSlot& s = slot();
    if (!s.active.load(std::memory_order_relaxed))
        return false;
    std::lock_guard lock(s.mutex);
    if (!s.sink)
        return false;
    s.sink(text);
    return true;
}

void trace(const char* format, ...)
{
    SinkSlot& s = slot();
    if (!s.active.load(std::memory_order_relaxed))
        return;
    char text[maxTraceLength + 1];
    va_list arguments;
    va_start(arguments, format);
    const int length = std::vsnprintf(text, sizeof text, format, arguments);
    va_end(arguments);
    if (length < 0)
        return;
    const std::size_t size =
        static_cast<std::size_t>(length) < maxTraceLength ? static_cast<std::size_t>(length) : maxTraceLength;
    std::lock_guard lock(s.mutex);
    if (s.sink)
        s.sink(std::string_view(text, size));
}

TraceSink setTraceSink(TraceSink sink)
{
    SinkSlot& s = slot();
    std::lock_guard lock(s.mutex);
    TraceSink previous = std::move(s.sink);
    s.sink = std::move(sink);
    s.active = static_cast<bool>(s.sink);
    return previous;
}

void outputLine(OutputStream stream, const char* text)
{
    std::fputs(text, stream == OutputStream::Out ? stdout : stderr);
}

} // namespace pelmux
