// The library's memory on exhausted heaps.
//
// On Windows an exception that leaves Pelmux.dll ends the host (the cross compiler's static run-time
// cannot unwind into the caller), and with the heap used up the run-time cannot even make one: its
// emergency reserve sits behind a lock whose first use needs memory, and so does the first
// exception of a thread, so the process ends with a stack overflow. So the DLL keeps reserves of
// its own, one per call that is running guarded work (frame/ExhaustedMemory.h), never one for the
// whole process: the outermost guard of a call takes a block of 16 KB at its entry and gives it
// back at its end, and a call that finds no memory for one answers the failure before it allocates
// anything. A worker thread holds one for its whole life, taken by the thread that starts it. The
// DLL's allocation function gives the calling thread's block back just before it throws
// std::bad_alloc, and the exception is made from it; two threads that fail at once each give back
// their own. The non-throwing forms of new answer null without an exception (the run-time's own
// forms throw and catch inside). On Linux the run-time's allocation functions stay; there the
// exception can always be made, and the reserves below hold nothing.
#pragma once

#include <new>
#include <utility>

namespace pelmux::platform {

// The reserve of the calling thread for one call: the block the thread's exception is made from
// when an allocation fails. Lives on the stack of the guard (or of a worker thread's start
// routine) that makes it; the thread's reserve is the one of its outermost holder.
class AllocationReserve {
public:
    // For a guard: the thread's reserve when an enclosing holder keeps one (taken again when a
    // failure used it up), else a block of its own, given back at the end.
    AllocationReserve() noexcept;
    // For a worker thread's start routine: `block` (from takeReserveBlock) becomes the thread's
    // reserve for its life, given back when the routine ends. Guards inside are outermost guards.
    explicit AllocationReserve(void* block) noexcept;
    ~AllocationReserve();
    AllocationReserve(const AllocationReserve&) = delete;
    AllocationReserve& operator=(const AllocationReserve&) = delete;

    // False when the thread has no reserve and none could be taken: the work must not start, its
    // failure could not be reported.
    bool held() const noexcept { return held_; }
    // True for a guard inside another of the same thread, which then answers for both.
    bool enclosed() const noexcept { return enclosed_; }

    // For the allocation function, just before it throws std::bad_alloc: gives the calling
    // thread's block back to the heap, to make the exception from.
    static void giveBackForThrow() noexcept;

private:
    // Unused on Linux.
    [[maybe_unused]] AllocationReserve* holder_ = nullptr; // the thread's outermost holder, for a guard
    [[maybe_unused]] void* block_ = nullptr;  // the thread's block, while this one is its outermost holder
    [[maybe_unused]] int guards_ = 0;         // the guards running on this holder's block
    [[maybe_unused]] bool installed_ = false; // this one is the thread's holder
    bool held_ = true;
    bool enclosed_ = false;
};

// The guard (see frame/ExhaustedMemory.h): runs `body`; on Windows exhausted memory in it, or no
// reserve to report it with, answers `exhausted` instead. Inside another guard of the thread it
// lets the failure through to that one, which answers for the whole call.
template <class Result, class Body> Result unlessMemoryExhausted(Result exhausted, Body body)
{
#ifdef _WIN32
    const AllocationReserve reserve;
    if (!reserve.held())
        return exhausted;
    if (reserve.enclosed())
        return body();
    try {
        return body();
    } catch (const std::bad_alloc&) {
    }
    return exhausted;
#else
    static_cast<void>(exhausted);
    return body();
#endif
}

// The same on every platform: on Linux too exhausted memory in `body` answers `exhausted`, for the
// pieces that answer it there as well (a firmware image's reading, the light sensor's rings).
template <class Result, class Body> Result unlessMemoryExhaustedAnywhere(Result exhausted, Body body)
{
#ifdef _WIN32
    return unlessMemoryExhausted(std::move(exhausted), body);
#else
    try {
        return body();
    } catch (const std::bad_alloc&) {
    }
    return exhausted;
#endif
}

#ifdef _WIN32
// A block for a worker thread's reserve, taken by the thread that starts the worker; null when
// there is no memory for one: the worker is then not started.
void* takeReserveBlock() noexcept;
// Gives back a block that no thread took (the thread could not be started).
void giveBackReserveBlock(void* block) noexcept;
#endif

} // namespace pelmux::platform
