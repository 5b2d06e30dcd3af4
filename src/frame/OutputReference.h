// Outputs that an interface declares as references. A program that calls the library through its
// binary interface passes a reference as a plain address, which may be null; the compiler assumes
// that a reference never is and would drop a plain test of its address. An operation therefore
// takes the address at once (`outputAddress(&output)`: taking it binds no further reference to a
// null one) and reads it back through a volatile, which keeps the test; it then works on the
// pointer: ERR_INVALID_PARAMETER_NULL (9) for a null one, as for the interfaces that take pointers.
#pragma once

namespace pelmux {

// The address of a reference output (`&output`), or null when the caller passed none.
template <class T> T* outputAddress(T* address) noexcept
{
    T* volatile kept = address;
    return kept;
}

} // namespace pelmux
