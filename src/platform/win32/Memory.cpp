// The DLL's allocation functions and its reserves for exhausted memory (see platform/Memory.h).
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

// The thread-local slot that points to the thread's outermost holder (TlsAlloc, which needs no
// memory of the heap; one slot for the life of the process, also when the DLL is unloaded).
std::atomic<DWORD> slotPlusOne{0};

DWORD reserveSlot() noexcept
{
    const DWORD known = slotPlusOne.load();
    if (known != 0)
        return known - 1;
    const DWORD fresh = ::TlsAlloc();
    if (fresh == TLS_OUT_OF_INDEXES)
        return TLS_OUT_OF_INDEXES;
    DWORD none = 0;
    if (!slotPlusOne.compare_exchange_strong(none, fresh + 1)) {
        ::TlsFree(fresh); // another thread made one meanwhile
        return none - 1;
    }
    return fresh;
}

// The calling thread's outermost holder, or null. Keeps the thread's last error.
AllocationReserve* holderOfThread(DWORD slot) noexcept
{
    const DWORD error = ::GetLastError();
    void* holder = ::TlsGetValue(slot);
    ::SetLastError(error);
    return static_cast<AllocationReserve*>(holder);
}

bool installHolder(DWORD slot, AllocationReserve* holder) noexcept
{
    const DWORD error = ::GetLastError();
    const bool installed = ::TlsSetValue(slot, holder) != FALSE;
    ::SetLastError(error);
    return installed;
}

void* allocate(std::size_t size)
{
    return std::malloc(size != 0 ? size : 1);
}

// The run-time sets up the lock of guarded static initialisation at the first one, with memory it
// never checks (the thread library's once-object): a static of the library first met on exhausted
// memory would end the host. The first reserve, which the first factory takes, does it while
// there is some.
void setUpStaticInitialisation()
{
    static const DWORD setUp = ::GetCurrentProcessId();
    static_cast<void>(setUp);
}

} // namespace

AllocationReserve::AllocationReserve() noexcept
{
    const DWORD slot = reserveSlot();
    AllocationReserve* holder = slot != TLS_OUT_OF_INDEXES ? holderOfThread(slot) : nullptr;
    if (slot == TLS_OUT_OF_INDEXES) {
        held_ = false;
        return;
    }
    if (holder == nullptr) {
        // The outermost guard of this call: a block of its own.
        block_ = std::malloc(reserveBytes);
        if (block_ == nullptr || !installHolder(slot, this)) {
            held_ = false;
            return;
        }
        installed_ = true;
        holder = this;
        setUpStaticInitialisation();
    } else if (holder->block_ == nullptr) {
        // A failure earlier in the thread's life used the block up (a worker thread's).
        holder->block_ = std::malloc(reserveBytes);
        if (holder->block_ == nullptr) {
            held_ = false;
            return;
        }
    }
    holder_ = holder;
    enclosed_ = holder->guards_ > 0;
    ++holder->guards_;
}

AllocationReserve::AllocationReserve(void* block) noexcept : block_(block)
{
    const DWORD slot = reserveSlot();
    installed_ = slot != TLS_OUT_OF_INDEXES && block != nullptr && installHolder(slot, this);
    held_ = installed_;
}

AllocationReserve::~AllocationReserve()
{
    if (holder_ != nullptr)
        --holder_->guards_;
    std::free(block_);
    if (installed_)
        installHolder(reserveSlot(), nullptr);
}

void AllocationReserve::giveBackForThrow() noexcept
{
    const DWORD known = slotPlusOne.load();
    AllocationReserve* holder = known != 0 ? holderOfThread(known - 1) : nullptr;
    if (holder == nullptr)
        return;
    std::free(holder->block_);
    holder->block_ = nullptr;
}

void* takeReserveBlock() noexcept
{
    return std::malloc(reserveBytes);
}

void giveBackReserveBlock(void* block) noexcept
{
    std::free(block);
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
    // The exception is made from the calling thread's reserve; the call's guard answers for it.
    pelmux::platform::AllocationReserve::giveBackForThrow();
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
