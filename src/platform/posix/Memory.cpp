// The run-time's allocation functions stay on Linux: its exceptions can always be made, and a
// reserve holds nothing.
#include "platform/Memory.h"

namespace pelmux::platform {

AllocationReserve::AllocationReserve() noexcept = default;

AllocationReserve::AllocationReserve(void*) noexcept {}

AllocationReserve::~AllocationReserve() = default;

void AllocationReserve::giveBackForThrow() noexcept {}

} // namespace pelmux::platform
