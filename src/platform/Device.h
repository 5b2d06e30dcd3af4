// The seam to the operating system's device and file I/O. Each call has the meaning of the
// Windows call it stands for (CreateFileW, DeviceIoControl, ReadFile, CloseHandle); the win32/
// implementation makes exactly those calls, the posix/ one reaches the unit over the board socket.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace pelmux::platform {

using Handle = void*;

// The value a failed open returns (INVALID_HANDLE_VALUE).
Handle invalidHandle();

// Opens a device ("\\.\PelmuxDrv", a video sub-device) for reading and writing, not shared,
// open-existing. Returns invalidHandle() when it is absent.
Handle openDevice(const wchar_t* name);

// Asked right after a failed openDevice, on the same thread: whether no device of that name exists
// at all (on Windows the open failed with ERROR_FILE_NOT_FOUND: no driver made the device), rather
// than one that exists and refused the open. The endpoints on the simulated unit (Linux, the
// Windows test build) answer false.
bool deviceNotFound();

// One synchronous control request. Returns false when the request failed; `returned` then holds 0.
bool deviceControl(Handle device, std::uint32_t code, const void* input, std::uint32_t inputSize,
                   void* output, std::uint32_t outputSize, std::uint32_t* returned);

// Opens an existing file by its Windows path, read access only, not shared.
Handle openFileForRead(const wchar_t* windowsPath);

// The longest 8-bit file name a caller may give (MAX_PATH less its terminator), counted in bytes.
inline constexpr std::size_t longestCallerFileName = 259;

// The wide form of a file name a caller gives as 8-bit text (a firmware image, a snapshot), as the
// application's own C run-time reads it: on Windows in the ANSI code page (MultiByteToWideChar
// with CP_ACP), so that "\x8E" is U+017D under code page 1252; on Linux each byte stands for the
// character of its value, which saveCallerFile takes back to the same byte. Nullopt for a null name,
// one longer than longestCallerFileName bytes, or one holding a byte sequence that is no character
// of the code page.
std::optional<std::wstring> callerFileName(const char* name);

// Opens a file a caller names by its 8-bit path (a firmware image), read access, must exist.
// `exclusive` opens it without sharing. Names longer than longestCallerFileName fail. On Windows
// the name is read as callerFileName reads it (CreateFileW); on Linux it is the host path as given.
Handle openImageFile(const char* name, bool exclusive);

// The size in bytes of a file opened by openImageFile or openFileForRead (GetFileSizeEx).
bool fileSize(Handle file, std::uint64_t* size);

// One synchronous read from a device or file handle (ReadFile): a capture device delivers one
// frame per read. `bytesRead` holds what arrived, 0 when the read failed.
bool readHandle(Handle handle, void* buffer, std::uint32_t capacity, std::uint32_t* bytesRead);

// Closes any handle returned by the functions above.
void closeHandle(Handle handle);

} // namespace pelmux::platform
