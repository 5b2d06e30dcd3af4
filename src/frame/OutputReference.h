// Outputs that an interface declares as references. A program that calls the library through its
// binary interface passes a reference as a plain address, which may be null; the compiler assumes
// that a reference never is and would drop a plain test of its address. The address therefore
// comes back through a volatile, which keeps the test, and the operation then works on the
// pointer: ERR_INVALID_PARAMETER_NULL (9) for a null one, as for the interfaces that take pointers.
#pragma once

namespace pelmux {

// The address of a reference output, or null when the caller passed none.
template <class T> T* outputAddress(T& output) noexcept
{
    T* volatile address = &output;
    return address;
}

} // namespace pelmux
