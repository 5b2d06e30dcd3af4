// Helpers shared by the factories of the areas.
#pragma once

#include <new>

namespace pelmux {

// Factories that answer null on exhausted memory instead of throwing.
template <class Imp, class... Args> Imp* makeNoThrow(Args&&... args)
{
    return new (std::nothrow) Imp(static_cast<Args&&>(args)...);
}

} // namespace pelmux
