// The run-time's allocation functions stay on Linux: its exceptions can always be made.
#include "platform/Memory.h"

namespace pelmux::platform {

bool keepAllocationReserve()
{
    return true;
}

} // namespace pelmux::platform
