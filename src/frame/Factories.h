// Helpers shared by the factories of the areas.
#pragma once

#include "frame/ExhaustedMemory.h"

#include <new>

namespace pelmux {

// Factories that answer null on exhausted memory instead of throwing.
template <class Imp, class... Args> Imp* makeNoThrow(Args&&... args)
{
    return new (std::nothrow) Imp(static_cast<Args&&>(args)...);
}

// Runs an exported factory's body, which builds an object, at the module boundary: on Windows
// exhausted memory answers null there, as a factory answers for an object it cannot give (see
// frame/ExhaustedMemory.h). On Linux std::bad_alloc reaches the caller, as documented there.
template <class Make> auto atModuleBoundary(Make make) -> decltype(make())
{
    return unlessMemoryExhausted<decltype(make())>(nullptr, make);
}

} // namespace pelmux
