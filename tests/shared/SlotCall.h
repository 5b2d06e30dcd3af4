// Calls an interface operation by its slot number, as a program that uses the DLL's binary
// interface does, on both builds: on 32-bit Windows an operation is a member function (`this` in
// ECX, the callee removes the other arguments from the stack), which a fastcall function whose
// second argument (EDX) is unused receives exactly; elsewhere `this` is the first argument.
// Every argument is one machine word (integers of any width, pointers, references), which both
// conventions pass alike.
#pragma once

#include <cstdint>
#include <vector>

namespace pelmux::shared {

using Word = std::uintptr_t;

inline void** vtableOf(void* object)
{
    return *static_cast<void***>(object);
}

#ifdef _WIN32
#define PELMUX_SLOT_CALL(R, ...) R(__fastcall*)(void*, int __VA_OPT__(, ) __VA_ARGS__)
#define PELMUX_SLOT_THIS(object) object, 0
#else
#define PELMUX_SLOT_CALL(R, ...) R (*)(void* __VA_OPT__(, ) __VA_ARGS__)
#define PELMUX_SLOT_THIS(object) object
#endif

// The slot's operation with these word arguments; answers its 32-bit result (a ResultCode). Up to
// six arguments.
inline int callSlot(void* object, int slot, const std::vector<Word>& a)
{
    void* fn = vtableOf(object)[slot];
    using W = Word;
    switch (a.size()) {
    case 0:
        return reinterpret_cast<PELMUX_SLOT_CALL(int)>(fn)(PELMUX_SLOT_THIS(object));
    case 1:
        return reinterpret_cast<PELMUX_SLOT_CALL(int, W)>(fn)(PELMUX_SLOT_THIS(object), a[0]);
    case 2:
        return reinterpret_cast<PELMUX_SLOT_CALL(int, W, W)>(fn)(PELMUX_SLOT_THIS(object), a[0], a[1]);
    case 3:
        return reinterpret_cast<PELMUX_SLOT_CALL(int, W, W, W)>(fn)(PELMUX_SLOT_THIS(object), a[0], a[1],
                                                                    a[2]);
    case 4:
        return reinterpret_cast<PELMUX_SLOT_CALL(int, W, W, W, W)>(fn)(PELMUX_SLOT_THIS(object), a[0], a[1],
                                                                       a[2], a[3]);
    case 5:
        return reinterpret_cast<PELMUX_SLOT_CALL(int, W, W, W, W, W)>(fn)(PELMUX_SLOT_THIS(object), a[0],
                                                                          a[1], a[2], a[3], a[4]);
    default:
        return reinterpret_cast<PELMUX_SLOT_CALL(int, W, W, W, W, W, W)>(fn)(PELMUX_SLOT_THIS(object), a[0],
                                                                             a[1], a[2], a[3], a[4], a[5]);
    }
}

// An operation whose one argument is a double (a setter of a voltage).
inline int callSlotDouble(void* object, int slot, double value)
{
    return reinterpret_cast<PELMUX_SLOT_CALL(int, double)>(vtableOf(object)[slot])(PELMUX_SLOT_THIS(object),
                                                                                   value);
}

// An operation whose arguments are a double and a word (the front LED's signal).
inline int callSlotDoubleWord(void* object, int slot, double value, Word word)
{
    return reinterpret_cast<PELMUX_SLOT_CALL(int, double, Word)>(vtableOf(object)[slot])(
        PELMUX_SLOT_THIS(object), value, word);
}

inline void releaseSlot(void* object, int slot)
{
    reinterpret_cast<PELMUX_SLOT_CALL(void)>(vtableOf(object)[slot])(PELMUX_SLOT_THIS(object));
}

#undef PELMUX_SLOT_CALL
#undef PELMUX_SLOT_THIS

} // namespace pelmux::shared
