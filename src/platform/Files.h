// Files of the library's own (the settings file): the common application-data folder, folders,
// whole-file reads and atomic replacement; and the atomic replacement of a file a caller names (a
// snapshot). Paths of the library's own are wide Windows paths as the library holds them
// ("C:\ProgramData\Varnholt\Pelmux.ini"); narrow forms are in the process's current locale. On
// Linux a drive letter maps under PELMUX_ROOT as in posix/Root.h, and narrow paths are UTF-8.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace pelmux::platform {

// The common application-data folder (SHGetFolderPathW with CSIDL_COMMON_APPDATA and
// CSIDL_FLAG_CREATE, "C:\ProgramData"), created when missing. Nullopt when the lookup fails.
std::optional<std::wstring> commonAppDataFolder();

// Creates one folder (CreateDirectoryW). False when it exists already or cannot be made. On Windows
// the folder is made with the settings store's rights (win32/StoreAccess.h).
bool createDirectory(const std::wstring& path);

// The path as narrow text in the process's current locale. When the locale cannot express it,
// Windows falls back to the short (8.3) name of the folder; nullopt when that fails too.
std::optional<std::string> narrowPath(const std::wstring& path);

// The wide form of a narrow path, converted with the process's current locale (UTF-8 on Linux).
// Nullopt for an empty path or one the locale cannot read.
std::optional<std::wstring> widePath(const std::string& path);

enum class ReadStatus {
    Ok,      // bytes holds the whole file
    Missing, // no such file or folder
    Failed,  // the file exists but cannot be read, or holds more than the limit
};

struct FileContent {
    ReadStatus status = ReadStatus::Failed;
    std::string bytes;
};

// Reads a whole file, at most maxBytes of it. What is not a regular file (a folder, a device)
// fails, as CreateFileW refuses a folder. On Windows a file that ends before the size it had when
// the read began (a program cut it meanwhile) fails too, as does a file whose folder is a reparse
// point (a junction or a link). On Windows a missing file whose last rewrite removed the old content
// but could not move the new one in is first put back from that rewrite's whole temporary file (see
// replaceFile), or read from it while its writer runs in another process; temporary files that hold
// no whole content, or that are links or have a second name, never make the read fail.
FileContent readWholeFile(const std::wstring& path, std::size_t maxBytes);

enum class ReplaceStatus {
    Done,
    FolderMissing, // the file's folder does not exist; nothing was written
    Failed,        // the file keeps its old content (on Windows it may instead be missing, see below)
};

// Replaces the file's content in one step: the content goes to a temporary file in the same
// folder, reaches the disk and then takes the old file's place, so that readers and a crash at any
// moment find either the old or the new file whole. The temporary file is named as TemporaryName.h
// gives; such files that writers which died left behind are removed on the way, never a file of
// another name, a link or a file with a second name. On Windows the temporary file is made with the
// settings store's rights, and a folder that is a reparse point fails (nothing is written). On
// Windows a file that another program holds open is waited for
// a bounded time (about two seconds); when a replacement removed the old file but could neither
// move the new one in nor finish that move in that time, the file is missing and the temporary
// file, now the only copy, stays for the next read to put in place.
ReplaceStatus replaceFile(const std::wstring& path, std::string_view content);

enum class SaveStatus {
    Saved,
    NotCreated, // the file could not be made, or could not take the old one's place
    NotWritten, // the content did not reach the disk whole
};

// Writes a file at a path a caller gave (a video snapshot), replacing one that is there, in one
// step: the content goes to a temporary file in the same folder, which then takes the file's place
// (on Windows MoveFileExW with MOVEFILE_REPLACE_EXISTING, on Linux a rename), so that an old file
// survives a write that fails and no reader finds half a file. The library's own temporary files
// of that name whose writers died are removed on the way, as replaceFile does; the application's
// own files beside it ("shot.bmp.7.tmp") are never touched. A name too long to leave room for
// the temporary name beside it (MAX_PATH on Windows, a 255-byte name on Linux) is written in
// place, as is, on Linux, what is no regular file (a device such as /dev/null), having no content
// to keep. The path is the host's own and is not mapped under PELMUX_ROOT; on Linux each character
// up to U+00FF stands for one byte of the path, larger ones for their UTF-8 form, and a link is
// followed to the file it names.
SaveStatus saveCallerFile(const wchar_t* path, std::string_view content);

// The line end of text files on this system: "\r\n" on Windows, "\n" elsewhere.
const char* textLineEnd();

} // namespace pelmux::platform
