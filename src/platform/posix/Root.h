// PELMUX_ROOT: the folder that stands for everything outside the library on Linux.
#pragma once

#include <string>

namespace pelmux::platform::posix {

// $PELMUX_ROOT when it is set. Otherwise a private folder of the user's: $XDG_RUNTIME_DIR/pelmux
// when that variable is set, else /tmp/pelmux-<uid>; it is made with mode 0700 when missing. A
// default folder that is not a folder of the user's own, or that other users may write, could be
// served or read by someone else: it is refused, root() answers an empty text, every path built on
// it is empty too (nothing can be opened), and the reason goes to standard error once.
std::string root();

// Checks a default root: made with mode 0700 when missing; refused when it is not a real folder
// (a link included), belongs to another user, or others may write it. Answers the refusal in
// words that name the folder, or an empty text when the folder may be used.
std::string privateFolderProblem(const std::string& folder);

// The board socket of the unit: <root>/board.sock (empty without a root).
std::string boardSocketPath();

// Maps a Windows path of the library's own ("c:\Windows\System32\oeminfo.ini") to the host:
// a drive letter becomes <root>/<LETTER> in upper case, backslashes become slashes and every
// other component stays as written (empty without a root). Paths without a drive letter are taken
// as host paths.
std::string hostPath(const std::wstring& windowsPath);

// Opens a file for reading by its host path. Only a regular file opens, as CreateFileW opens no
// folder: anything else gives -1 with errno EISDIR (a folder) or EACCES, and a FIFO never blocks.
int openRegularFile(const std::string& hostPath);

// flock(2), repeated while a signal interrupts it.
int flockRetrying(int fd, int operation);

// UTF-8 form of a wide text.
std::string toUtf8(const std::wstring& text);

// The host path of a path a caller gave (a snapshot file), which the library widened byte by byte:
// each character up to U+00FF is one byte of the path, a larger one its UTF-8 form. Not mapped
// under the root.
std::string callerPath(const wchar_t* path);

} // namespace pelmux::platform::posix
