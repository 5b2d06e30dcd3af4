// PELMUX_ROOT: the folder that stands for everything outside the library on Linux.
#pragma once

#include <string>

namespace pelmux::platform::posix {

// $PELMUX_ROOT, or /tmp/pelmux-<uid> when it is not set.
std::string root();

// The board socket of the unit: <root>/board.sock.
std::string boardSocketPath();

// Maps a Windows path of the library's own ("c:\Windows\System32\oeminfo.ini") to the host:
// a drive letter becomes <root>/<LETTER> in upper case, backslashes become slashes and every
// other component stays as written. Paths without a drive letter are taken as host paths.
std::string hostPath(const std::wstring& windowsPath);

// UTF-8 form of a wide text.
std::string toUtf8(const std::wstring& text);

} // namespace pelmux::platform::posix
