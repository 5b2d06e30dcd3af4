// <windows.h> of the Windows SDK, which Debian does not ship: Wine's (libwine-dev) stands in. On
// x86 Wine's winnt.h defines the 64-bit interlocked functions inline under names that clang keeps
// as builtins there; they get names of their own, so that the header compiles as the SDK's does.
#pragma once

#define _InterlockedAnd64 pelmuxSdk_InterlockedAnd64
#define _InterlockedCompareExchangePointer pelmuxSdk_InterlockedCompareExchangePointer
#define _InterlockedDecrement64 pelmuxSdk_InterlockedDecrement64
#define _InterlockedExchangeAdd64 pelmuxSdk_InterlockedExchangeAdd64
#define _InterlockedExchangePointer pelmuxSdk_InterlockedExchangePointer
#define _InterlockedIncrement64 pelmuxSdk_InterlockedIncrement64
#define _InterlockedOr64 pelmuxSdk_InterlockedOr64
#define _InterlockedXor64 pelmuxSdk_InterlockedXor64
#include_next <windows.h>
