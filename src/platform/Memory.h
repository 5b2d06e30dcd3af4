// The library's memory on exhausted heaps.
//
// On Windows an exception that leaves Pelmux.dll ends the host (the cross compiler's static run-time
// cannot unwind into the caller), and with the heap used up the run-time cannot even make one: its
// emergency reserve sits behind a lock whose first use needs memory, and so does the first
// exception of a thread, so the process ends with a stack overflow. So the DLL keeps a reserve of
// its own: its allocation function gives the reserve back just before it throws std::bad_alloc, and
// the exception is made from it. The non-throwing forms of new answer null without an exception
// (the run-time's own forms throw and catch inside). On Linux the run-time's allocation functions
// stay; there the exception can always be made.
#pragma once

namespace pelmux::platform {

// Looks for memory before work that allocates: on Windows takes the reserve again when a failed
// allocation gave it away and answers false when it cannot, because a failure in that work could
// then not be reported. Always true on Linux.
bool keepAllocationReserve();

} // namespace pelmux::platform
