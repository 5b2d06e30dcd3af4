// The factories of Pelmux.dll with the process's memory used up: first every free range of the
// address space is reserved, then the heap is filled with small blocks until it refuses. Each
// factory must then answer null (an exception would end the process at the module boundary), and
// work again once the memory is given back. A run of its own (argument "oom"): it wrecks the heap.
#include "Checks.h"

#include <windows.h>

#include <cstddef>
#include <cstdio>
#include <cstdlib>

namespace {

using Factory = void*(__stdcall*)();
using ReleaseSlot = void(__fastcall*)(void*, int);

// The whole 32-bit address space in the smallest pieces reserved.
constexpr std::size_t maxReservations = std::size_t(1) << 16;
void* reservations[maxReservations];
std::size_t reservationCount = 0;

void reserveAddressSpace()
{
    for (SIZE_T chunk = SIZE_T(1) << 30; chunk >= 64 * 1024; chunk /= 2) {
        while (reservationCount < maxReservations) {
            void* range = ::VirtualAlloc(nullptr, chunk, MEM_RESERVE, PAGE_NOACCESS);
            if (range == nullptr)
                break;
            reservations[reservationCount++] = range;
        }
    }
}

void releaseAddressSpace()
{
    while (reservationCount > 0)
        ::VirtualFree(reservations[--reservationCount], 0, MEM_RELEASE);
}

// Fills the heap; each block holds the address of the one before, so that the blocks themselves
// keep the list. Answers the last block.
void* fillHeap()
{
    void* last = nullptr;
    for (std::size_t size : {std::size_t(4096), std::size_t(256), sizeof(void*)}) {
        for (;;) {
            void** block = static_cast<void**>(std::malloc(size));
            if (block == nullptr)
                break;
            *block = last;
            last = block;
        }
    }
    return last;
}

void emptyHeap(void* last)
{
    while (last != nullptr) {
        void* before = *static_cast<void**>(last);
        std::free(last);
        last = before;
    }
}

struct FactoryCase {
    const char* name;
    int releaseSlot;
    Factory factory = nullptr;
    void* object = reinterpret_cast<void*>(1); // what the call gave while memory was exhausted
};

void release(void* object, int slot)
{
    reinterpret_cast<ReleaseSlot>((*reinterpret_cast<void***>(object))[slot])(object, 0);
}

} // namespace

void checks::outOfMemoryChecks()
{
    HMODULE library = ::LoadLibraryW(L"Pelmux.dll");
    checks::check(library != nullptr, "Pelmux.dll loads");
    if (library == nullptr)
        return;
    FactoryCase cases[] = {{"GetAdc", 1},
                           {"GetAuxVersion", 6},
                           {"GetDiagnostic", 10},
                           {"GetBacklight", 12},
                           {"GetLightsensor", 7}};
    for (FactoryCase& c : cases) {
        c.factory = reinterpret_cast<Factory>(reinterpret_cast<void*>(::GetProcAddress(library, c.name)));
        checks::check(c.factory != nullptr, std::string("export ") + c.name);
        if (c.factory == nullptr)
            return;
    }
    std::printf("exhausting the address space and the heap\n");
    std::fflush(stdout); // the stream's buffer exists before the heap is full

    reserveAddressSpace();
    void* blocks = fillHeap();
    // Not new (std::nothrow): this run-time's nothrow form throws inside, and with the heap used up
    // that throw ends the process.
    const bool exhausted = std::malloc(16) == nullptr && std::malloc(1) == nullptr;
    for (FactoryCase& c : cases)
        c.object = c.factory();
    emptyHeap(blocks);
    releaseAddressSpace();

    checks::check(exhausted, "the heap refuses even small blocks");
    for (const FactoryCase& c : cases) {
        checks::check(c.object == nullptr, std::string(c.name) + " answers null on exhausted memory");
        if (c.object != nullptr)
            release(c.object, c.releaseSlot);
    }
    for (const FactoryCase& c : cases) {
        void* object = c.factory();
        checks::check(object != nullptr, std::string(c.name) + " works again once memory is back");
        if (object != nullptr)
            release(object, c.releaseSlot);
    }
    ::FreeLibrary(library);
}
