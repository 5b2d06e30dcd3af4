/// \file
/// Calling conventions and symbol visibility shared by every public header.
#pragma once

// Pelmux.dll is built for 32-bit Windows only: a 64-bit application could neither link its import
// libraries nor load it.
#if defined(_WIN64)
#error "Pelmux.dll is a 32-bit library: build the application for 32-bit Windows (x86)"
#endif

#if defined(_WIN32)
/// Every exported function uses the standard Windows calling convention: the callee removes its
/// arguments.
#define PELMUX_STDCALL __stdcall
#if defined(PELMUX_BUILDING_LIBRARY)
// The module definition file alone decides the export table (names and ordinals).
#define PELMUX_API
#define PELMUX_MESSAGE_LINKAGE
#else
/// Marks a function that Pelmux.dll exports; an application imports it through libPelmux.a.
#define PELMUX_API __declspec(dllimport)
/// The linkage of the message functions (GetErrorStringA, ...) as an application sees them. The
/// DLL exports them under their plain names ("Varnholt::GetErrorStringA") and undecorated aliases
/// (_GetErrorStringA@4), never under a compiler's C++ name, so an application on Windows declares
/// them with C linkage: every compiler then asks for the symbol GetErrorStringA@4, which the
/// import library answers with the plain export name. They stay in namespace Varnholt.
#define PELMUX_MESSAGE_LINKAGE extern "C"
#endif
#else
#define PELMUX_STDCALL
#define PELMUX_API __attribute__((visibility("default")))
#define PELMUX_MESSAGE_LINKAGE
#endif
