// Helpers shared by the factories of the areas.
#pragma once

#include <cstdlib>
#include <new>

namespace pelmux {

// Factories that answer null on exhausted memory instead of throwing.
template <class Imp, class... Args> Imp* makeNoThrow(Args&&... args)
{
    return new (std::nothrow) Imp(static_cast<Args&&>(args)...);
}

// Runs an exported factory's body, which builds an `Imp`, at the module boundary. On Windows no
// exception may leave Pelmux.dll: with the cross compiler's static run-time it cannot unwind into
// the caller (the process ends), and a caller built with another compiler could not catch it
// anyway. Exhausted memory answers null there, as a factory answers for an object it cannot give.
// The object's memory is looked for first: with the heap used up the run-time cannot even make
// the exception (its emergency reserve sits behind a lock whose first use needs memory, and the
// process ends), so the catch only meets what that look cannot foresee (a constructor's own
// allocations, another thread taking the memory meanwhile). On Linux std::bad_alloc reaches the
// caller, as documented there.
template <class Imp, class Make> auto atModuleBoundary(Make make) -> decltype(make())
{
#ifdef _WIN32
    void* room = std::malloc(sizeof(Imp));
    if (room == nullptr)
        return nullptr;
    std::free(room);
    try {
        return make();
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
#else
    return make();
#endif
}

} // namespace pelmux
