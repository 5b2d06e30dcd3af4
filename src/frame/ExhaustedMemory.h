// Exhausted memory in work that allocates. On Windows no exception may leave Pelmux.dll: it would
// end the host. The pieces that allocate on an operation's way (the settings cycle, the text
// conversions of settings, a worker thread's start, an image check, the factories, the CAN settings'
// key names and texts, a snapshot's file) run their work through here, so that exhausted memory
// answers a result (ERR_MEMORY_ALLOCATION_FAILED for an operation, null for a factory) and nothing is
// left half done behind an exception. Each call holds a reserve of its own (platform/Memory.h): the
// outermost guard of the call takes it at its entry and answers at once when it cannot, before
// anything is allocated, since a failure inside could then not be reported. A guard inside another
// (a settings cycle in a factory, a number's text in a settings cycle) lets the failure through to
// the outermost one, which answers for the whole call. On Linux std::bad_alloc reaches the caller,
// as the library documents there.
#pragma once

#include "platform/Memory.h"

#include <pelmux/ResultCode.h>

namespace pelmux {

// Runs `body`; on Windows exhausted memory in it (or no reserve to report it with) answers
// `exhausted` instead.
using platform::unlessMemoryExhausted;

// The same for work that answers a result code.
template <class Body> Varnholt::ResultCode unlessMemoryExhausted(Body body)
{
    return unlessMemoryExhausted(Varnholt::ERR_MEMORY_ALLOCATION_FAILED, body);
}

} // namespace pelmux
