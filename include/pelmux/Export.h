// Calling conventions and symbol visibility shared by every public header.
#pragma once

#if defined(_WIN32)
#define PELMUX_STDCALL __stdcall
#if defined(PELMUX_BUILDING_LIBRARY)
// The module definition file alone decides the export table (names and ordinals).
#define PELMUX_API
#else
#define PELMUX_API __declspec(dllimport)
#endif
#else
#define PELMUX_STDCALL
#define PELMUX_API __attribute__((visibility("default")))
#endif
