// What the C runtime would otherwise give the application: the symbols the compiler itself refers
// to. Apart from Client.cpp, whose headers declare memset and memcpy as the runtime's imports.
#include <stddef.h>

extern "C" {

// Every program that uses floating point refers to this symbol.
int _fltused = 0;

#ifndef __clang__
// Visual Studio's compiler knows both as intrinsics; defining them needs this.
#pragma function(memset, memcpy)
#endif

// The compiler turns a zeroed aggregate or a copy into these calls. Volatile, so that the
// optimiser does not turn the loops back into calls of themselves.
void* memset(void* target, int value, size_t size)
{
    volatile unsigned char* p = static_cast<unsigned char*>(target);
    while (size-- > 0)
        *p++ = static_cast<unsigned char>(value);
    return target;
}

void* memcpy(void* target, const void* source, size_t size)
{
    volatile unsigned char* p = static_cast<unsigned char*>(target);
    const unsigned char* q = static_cast<const unsigned char*>(source);
    while (size-- > 0)
        *p++ = *q++;
    return target;
}
}
