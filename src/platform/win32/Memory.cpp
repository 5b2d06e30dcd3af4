// The DLL's allocation functions and its reserve for exhausted memory (see platform/Memory.h).
#include "platform/Memory.h"

#include <windows.h>

#include <atomic>
#include <cstdlib>
#include <new>

namespace pelmux::platform {

namespace {

// Room for what a throw needs: the exception object and, at a thread's first exception, the
// thread's exception record; the rest is margin. The unwinder's tables need more on the first
// throw, but it does without them when memory is short.
constexpr std::size_t reserveBytes = 16 * 1024;

std::atomic<void*> reserve{nullptr};

void* allocate(std::size_t size)
{
    return std::malloc(size != 0 ? size : 1);
}

// The run-time sets up the lock of guarded static initialisation at the first one, with memory it
// never checks (the thread library's once-object): a static of the library first met on exhausted
// memory would end the host. The first look for memory, which the first factory makes, does it
// while there is some.
void setUpStaticInitialisation()
{
    static const DWORD setUp = ::GetCurrentProcessId();
    static_cast<void>(setUp);
}

} // namespace

bool keepAllocationReserve()
{
    if (reserve.load() != nullptr)
        return true;
    void* block = std::malloc(reserveBytes);
    if (block == nullptr)
        return false;
    void* none = nullptr;
    if (!reserve.compare_exchange_strong(none, block))
        std::free(block); // another thread kept one meanwhile
    setUpStaticInitialisation();
    return true;
}

} // namespace pelmux::platform

// The replaceable allocation functions, for every allocation of the DLL: the run-time's operator
// new throws with nothing left to make the exception from, and its non-throwing forms call it and
// catch what it throws.
void* operator new(std::size_t size)
{
    for (;;) {
        if (void* block = pelmux::platform::allocate(size))
            return block;
        const std::new_handler handler = std::get_new_handler();
        if (handler == nullptr)
            break;
        handler();
    }
    // The exception is made from the reserve; the guard that catches it keeps a new one.
    std::free(pelmux::platform::reserve.exchange(nullptr));
    throw std::bad_alloc();
}

void* operator new(std::size_t size, const std::nothrow_t&) noexcept
{
    return pelmux::platform::allocate(size);
}

void* operator new[](std::size_t size, const std::nothrow_t&) noexcept
{
    return pelmux::platform::allocate(size);
}
