#include "frame/Semaphores.h"

namespace pelmux {

bool createSemaphore(const char* name, platform::SemaphoreHandle& handle)
{
    const platform::SemaphoreHandle made = platform::createSemaphore(name);
    if (made == nullptr)
        return false;
    handle = made;
    return true;
}

} // namespace pelmux
