// Exhausted memory in work that allocates. On Windows no exception may leave Pelmux.dll: it would
// end the host. The pieces that allocate on an operation's way (the settings cycle, the text
// conversions of settings, a worker thread's start, an image check, the factories) run their work
// through here, so that exhausted memory answers a result (ERR_MEMORY_ALLOCATION_FAILED for an
// operation, null for a factory) and nothing is left half done behind an exception. The reserve is
// looked for first (platform/Memory.h): without it a failure could not even be reported. On Linux
// std::bad_alloc reaches the caller, as the library documents there.
#pragma once

#include "platform/Memory.h"

#include <pelmux/ResultCode.h>

#include <new>

namespace pelmux {

// Runs `body`; on Windows exhausted memory in it (or no reserve to report it with) answers
// `exhausted` instead.
template <class Result, class Body> Result unlessMemoryExhausted(Result exhausted, Body body)
{
#ifdef _WIN32
    if (!platform::keepAllocationReserve())
        return exhausted;
    try {
        return body();
    } catch (const std::bad_alloc&) {
    }
    // The exception is gone: its memory is the reserve again, for the work around this one.
    platform::keepAllocationReserve();
    return exhausted;
#else
    static_cast<void>(exhausted);
    return body();
#endif
}

// The same for work that answers a result code.
template <class Body> Varnholt::ResultCode unlessMemoryExhausted(Body body)
{
    return unlessMemoryExhausted(Varnholt::ERR_MEMORY_ALLOCATION_FAILED, body);
}

} // namespace pelmux
