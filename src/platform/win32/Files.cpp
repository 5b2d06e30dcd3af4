// Files on Windows: the shell's common application-data folder, narrow paths in the C run-time's
// current locale, and a replacement of a file by a temporary file written through to the disk. The
// writer holds its temporary file without sharing while it writes, closes it once the content is
// on the disk and then moves it into place. The temporary file's name (platform/TemporaryName.h)
// carries the writer's process id and start time and the content's size: a temporary file whose
// process has ended, or whose id now belongs to a process that started at another time, is a
// leftover of a writer that died. A caller's file (a snapshot) is replaced the same way, moved over
// the old one with MoveFileExW. The settings folder and files get the rights of StoreAccess.h when
// they are made.
#include "platform/Files.h"

#include "platform/TemporaryName.h"
#include "platform/win32/StoreAccess.h"

#include <windows.h>

#include <cwchar>

#include <shlobj.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

namespace pelmux::platform {

namespace {

// A handle that is closed when it goes, whatever leaves the scope (an exception included).
template <class Close> class Owned {
public:
    Owned() = default;
    explicit Owned(HANDLE handle) : handle_(handle) {}
    ~Owned() { reset(); }
    Owned(Owned&& other) noexcept : handle_(std::exchange(other.handle_, INVALID_HANDLE_VALUE)) {}
    Owned& operator=(Owned&& other) noexcept
    {
        if (this != &other) {
            reset();
            handle_ = std::exchange(other.handle_, INVALID_HANDLE_VALUE);
        }
        return *this;
    }
    Owned(const Owned&) = delete;
    Owned& operator=(const Owned&) = delete;

    HANDLE get() const { return handle_; }
    explicit operator bool() const { return handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr; }
    void reset()
    {
        if (*this)
            Close()(handle_);
        handle_ = INVALID_HANDLE_VALUE;
    }

private:
    HANDLE handle_ = INVALID_HANDLE_VALUE;
};

struct CloseFile {
    void operator()(HANDLE handle) const { ::CloseHandle(handle); }
};
struct CloseSearch {
    void operator()(HANDLE handle) const { ::FindClose(handle); }
};
using FileHandle = Owned<CloseFile>;
using SearchHandle = Owned<CloseSearch>;

// CSIDL_COMMON_APPDATA combined with CSIDL_FLAG_CREATE.
constexpr int commonAppDataCreate = 0x8023;
// Attempts of a read that met a file another program has open (a scanner, an editor).
constexpr int sharingAttempts = 5;
constexpr DWORD sharingPauseMs = 20;
// How long a move into place waits for a file another program holds: a scanner or an indexer
// opens a freshly written file for a moment, an editor for longer.
constexpr DWORD sharingWaitMs = 2000;
constexpr DWORD longestPauseMs = 100;

std::optional<std::string> toNarrow(const std::wstring& text)
{
    const std::size_t size = std::wcstombs(nullptr, text.c_str(), 0);
    if (size == static_cast<std::size_t>(-1))
        return std::nullopt;
    std::string out(size, '\0');
    std::wcstombs(out.data(), text.c_str(), size);
    return out;
}

std::optional<std::wstring> toWide(const std::string& text)
{
    if (text.empty())
        return std::nullopt;
    const std::size_t size = std::mbstowcs(nullptr, text.c_str(), 0);
    if (size == static_cast<std::size_t>(-1))
        return std::nullopt;
    std::wstring out(size, L'\0');
    std::mbstowcs(out.data(), text.c_str(), size);
    return out;
}

std::size_t lastSeparator(const std::wstring& path)
{
    return path.find_last_of(L"\\/");
}

bool sharingError(DWORD error)
{
    return error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED || error == ERROR_LOCK_VIOLATION;
}

// The errors after which a move is tried again: a file held open, and a replacement that could
// not remove the old file (it changed nothing, as a sharing violation).
bool retryableMoveError(DWORD error)
{
    return sharingError(error) || error == ERROR_UNABLE_TO_REMOVE_REPLACED;
}

bool missingError(DWORD error)
{
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

FileHandle openForRead(const std::wstring& path)
{
    for (int attempt = 0;; ++attempt) {
        FileHandle file(::CreateFileW(path.c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (file || !sharingError(::GetLastError()) || attempt + 1 == sharingAttempts)
            return file;
        ::Sleep(sharingPauseMs);
    }
}

std::uint64_t fileTimeValue(const FILETIME& time)
{
    return (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

// A folder that is a reparse point (a junction, a link) may lead anywhere: the store refuses it.
bool reparsePoint(const std::wstring& folder)
{
    const DWORD attributes = ::GetFileAttributesW(folder.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

bool exists(const std::wstring& path)
{
    return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Pauses between attempts of a move, growing, until sharingWaitMs have passed since the first.
class RetryClock {
public:
    bool pauseOrGiveUp()
    {
        if (::GetTickCount() - start_ >= sharingWaitMs)
            return false;
        ::Sleep(pause_);
        pause_ = std::min(pause_ * 2, longestPauseMs);
        return true;
    }

private:
    DWORD start_ = ::GetTickCount();
    DWORD pause_ = sharingPauseMs;
};

struct PathParts {
    std::wstring folder;
    std::wstring name;
};

PathParts splitPath(const std::wstring& path)
{
    const std::size_t separator = lastSeparator(path);
    if (separator == std::wstring::npos)
        return {L".", path};
    return {path.substr(0, separator), path.substr(separator + 1)};
}

bool writeAll(HANDLE file, std::string_view content)
{
    while (!content.empty()) {
        const DWORD chunk = content.size() > 0x100000 ? 0x100000 : static_cast<DWORD>(content.size());
        DWORD written = 0;
        if (!::WriteFile(file, content.data(), chunk, &written, nullptr) || written == 0)
            return false;
        content.remove_prefix(written);
    }
    return true;
}

// A temporary file of this library beside a file, and what its name tells.
struct Leftover {
    std::wstring path;
    TemporaryWriter writer;
    WIN32_FIND_DATAW found;
};

// Calls `visit` for every temporary file of `name` in `folder`.
template <class Visit> void forEachLeftover(const std::wstring& folder, const std::wstring& name, Visit visit)
{
    WIN32_FIND_DATAW found;
    const std::wstring pattern = folder + L"\\" + name + L".pelmux-*.tmp";
    const SearchHandle search(::FindFirstFileW(pattern.c_str(), &found));
    if (!search)
        return;
    do {
        if (const auto writer = parseTemporaryFileName(std::wstring_view(name), found.cFileName))
            visit(Leftover{folder + L"\\" + found.cFileName, *writer, found});
    } while (::FindNextFileW(search.get(), &found));
}

// Whether a temporary file's writer is this very process.
bool ownWriter(const TemporaryWriter& writer)
{
    return writer.process == ::GetCurrentProcessId() && writer.start == processStartTime();
}

// Whether the writer of a temporary file may still be at work: its process runs (it may be between
// closing its file and moving it into place; a writer of another session holds another lock) and
// is the process that started at the time the name gives. A process with the id that started at
// another time only reuses a dead writer's id. A process that cannot be looked at counts as alive.
bool writerAlive(const TemporaryWriter& writer)
{
    if (writer.process == 0 || writer.process > MAXDWORD)
        return false;
    if (writer.process == ::GetCurrentProcessId())
        return ownWriter(writer);
    HANDLE handle = ::OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE,
                                  static_cast<DWORD>(writer.process));
    if (handle == nullptr)
        return ::GetLastError() == ERROR_ACCESS_DENIED;
    bool alive = ::WaitForSingleObject(handle, 0) == WAIT_TIMEOUT;
    FILETIME created, exited, kernel, user;
    if (alive && ::GetProcessTimes(handle, &created, &exited, &kernel, &user))
        alive = fileTimeValue(created) == writer.start;
    ::CloseHandle(handle);
    return alive;
}

// Opens a temporary file without following a link: only a plain file with one name (no reparse
// point, no second hard link, which another account could have made to lead to a file of its
// choice) is taken, and (checkSize) only with the size its name gives. Otherwise, or when
// it cannot be opened, nothing; the last error then tells why (ERROR_FILE_NOT_FOUND for a file that
// is not taken).
FileHandle openLeftover(const Leftover& leftover, DWORD access, bool checkSize)
{
    FileHandle file(::CreateFileW(leftover.path.c_str(), access | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file)
        return file;
    BY_HANDLE_FILE_INFORMATION info;
    const bool plain =
        ::GetFileInformationByHandle(file.get(), &info) != FALSE && info.nNumberOfLinks == 1 &&
        (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) == 0;
    if (!plain || (checkSize && ((static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) |
                                 info.nFileSizeLow) != leftover.writer.size)) {
        ::SetLastError(ERROR_FILE_NOT_FOUND);
        return {};
    }
    return file;
}

// Deletes the temporary files of `name` whose writers died; those of living writers stay, and so
// does what openLeftover does not take.
void removeLeftovers(const std::wstring& folder, const std::wstring& name)
{
    forEachLeftover(folder, name, [](const Leftover& leftover) {
        if (writerAlive(leftover.writer))
            return;
        const FileHandle file = openLeftover(leftover, DELETE, false);
        FILE_DISPOSITION_INFO disposition{TRUE};
        if (file)
            ::SetFileInformationByHandle(file.get(), FileDispositionInfo, &disposition, sizeof disposition);
    });
}

bool whole(const Leftover& leftover)
{
    const std::uint64_t size =
        (static_cast<std::uint64_t>(leftover.found.nFileSizeHigh) << 32) | leftover.found.nFileSizeLow;
    return leftover.writer.size == size;
}

// The newest temporary file of `path` whose size is the one its name gives: the content of the
// last rewrite that reached the disk. A writer that died while writing left less, which is never
// taken for the file's content.
std::optional<Leftover> newestWholeLeftover(const PathParts& parts)
{
    std::optional<Leftover> newest;
    forEachLeftover(parts.folder, parts.name, [&](const Leftover& leftover) {
        if (whole(leftover) && (!newest || ::CompareFileTime(&leftover.found.ftLastWriteTime,
                                                             &newest->found.ftLastWriteTime) > 0))
            newest = leftover;
    });
    return newest;
}

// Gives the open file the name `path`, unless a file has it (a rename on the handle, so that the
// file checked is the file moved).
bool renameTo(const FileHandle& file, const std::wstring& path)
{
    std::vector<unsigned char> buffer(sizeof(FILE_RENAME_INFO) + path.size() * sizeof(wchar_t));
    auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    rename->ReplaceIfExists = FALSE;
    rename->RootDirectory = nullptr;
    rename->FileNameLength = static_cast<DWORD>(path.size() * sizeof(wchar_t));
    std::copy(path.begin(), path.end(), rename->FileName);
    return ::SetFileInformationByHandle(file.get(), FileRenameInfo, rename,
                                        static_cast<DWORD>(buffer.size())) != FALSE;
}

// Where the content of a missing file lies when a rewrite removed the old file but could not move
// the new one in: the newest whole temporary file. When its writer has ended, or is this process
// (which holds the settings lock, so none of its writers is at work), it takes the file's place
// with the rights it was made with; a writer in another process that still runs may yet move it in
// itself, so its file is only read. Answers the open file to read, or nothing when the file has no
// content anywhere (`error` then tells why).
FileHandle keptContent(const std::wstring& path, DWORD& error)
{
    const PathParts parts = splitPath(path);
    const std::optional<Leftover> newest = newestWholeLeftover(parts);
    if (!newest)
        return {};
    FileHandle leftover = openLeftover(*newest, GENERIC_READ | DELETE, true);
    if (!leftover) {
        error = ::GetLastError();
        if (!missingError(error))
            return {};
        // Gone meanwhile: its writer moved it in. Or not taken: the file counts as missing.
        FileHandle file = openForRead(path);
        error = file ? ERROR_SUCCESS : ::GetLastError();
        return file;
    }
    error = ERROR_SUCCESS;
    if (!ownWriter(newest->writer) && writerAlive(newest->writer))
        return leftover;
    // Not over a file that appeared meanwhile: it is newer than any leftover. A leftover that
    // cannot move now is read where it lies; the next rewrite, which removes a dead writer's
    // leftover, puts the content in place.
    if (renameTo(leftover, path) || !exists(path))
        return leftover;
    if (FileHandle file = openForRead(path))
        return file;
    return leftover;
}

// Whether the file can be opened as ReplaceFileW opens the file it replaces (read and delete access,
// every sharing mode). While another program holds it without FILE_SHARE_DELETE this fails, and so
// would the replacement; waiting here spares the call, which under wine leaves a stray file behind
// each time it fails so. On failure the last error tells why.
bool replaceableNow(const std::wstring& path)
{
    HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ | DELETE | SYNCHRONIZE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    ::CloseHandle(file);
    return true;
}

// The temporary file beside the file, named as removeLeftovers and keptContent read it.
std::wstring temporaryName(const PathParts& parts, std::size_t size)
{
    static std::atomic<unsigned> sequence{0};
    return parts.folder + L"\\" +
           temporaryFileName(std::wstring_view(parts.name),
                             {::GetCurrentProcessId(), processStartTime(), sequence.fetch_add(1), size});
}

// Moves the temporary file over the file (MoveFileExW, MOVEFILE_REPLACE_EXISTING), waiting a
// bounded time for a program that holds the file open. The last step of a replacement that
// removed the old file (or moved it to another name) but could not move the new one in, and the
// whole move of a caller's file.
bool finishMove(const std::wstring& temporary, const std::wstring& path)
{
    RetryClock clock;
    for (;;) {
        if (::MoveFileExW(temporary.c_str(), path.c_str(),
                          MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
            return true;
        if (!sharingError(::GetLastError()) || !clock.pauseOrGiveUp())
            return false;
    }
}

// Moves the temporary file into the file's place. An existing file is replaced in place, keeping
// its access rights and attributes, so that rights granted to every account on it survive the
// rewrite. Answers whether the file now holds the temporary file's content.
bool moveIntoPlace(const std::wstring& temporary, const std::wstring& path)
{
    RetryClock clock;
    for (;;) {
        DWORD error = ERROR_SUCCESS;
        if (!exists(path)) {
            // No file yet; one that appears meanwhile is replaced.
            if (::MoveFileExW(temporary.c_str(), path.c_str(),
                              MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
                return true;
            error = ::GetLastError();
        } else if (!replaceableNow(path)) {
            error = ::GetLastError();
        } else if (::ReplaceFileW(path.c_str(), temporary.c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS,
                                  nullptr, nullptr)) {
            return true;
        } else {
            error = ::GetLastError();
            // The old file is gone (1176) or kept under another name (1177); the new content is
            // still under the temporary name.
            if (error == ERROR_UNABLE_TO_MOVE_REPLACEMENT || error == ERROR_UNABLE_TO_MOVE_REPLACEMENT_2)
                return finishMove(temporary, path);
        }
        // A file that went between the look and the move is moved in by the next round.
        if (!(retryableMoveError(error) || missingError(error)) || !clock.pauseOrGiveUp())
            return false;
    }
}

// Writes a caller's file where it is (CreateFileW, create-always, not shared).
SaveStatus writeInPlace(const std::wstring& path, std::string_view content)
{
    HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return SaveStatus::NotCreated;
    const bool written = writeAll(file, content);
    ::CloseHandle(file);
    return written ? SaveStatus::Saved : SaveStatus::NotWritten;
}

} // namespace

std::optional<std::wstring> commonAppDataFolder()
{
    wchar_t folder[MAX_PATH] = {};
    if (::SHGetFolderPathW(nullptr, commonAppDataCreate, nullptr, SHGFP_TYPE_CURRENT, folder) != S_OK)
        return std::nullopt;
    return std::wstring(folder);
}

bool createDirectory(const std::wstring& path)
{
    // Every account writes the settings file; inherited rights would let most of them only read,
    // and the owner change the rights. Without its rights the folder is not made.
    StoreAccess access(StoreAccess::Kind::Folder);
    return access.attributes() != nullptr && ::CreateDirectoryW(path.c_str(), access.attributes()) != FALSE;
}

std::uint64_t processStartTime()
{
    FILETIME created, exited, kernel, user;
    if (!::GetProcessTimes(::GetCurrentProcess(), &created, &exited, &kernel, &user))
        return 0;
    return fileTimeValue(created);
}

std::optional<std::string> narrowPath(const std::wstring& path)
{
    if (auto narrow = toNarrow(path))
        return narrow;
    // The locale cannot express a character of the path: the short name of the folder can.
    const std::size_t separator = lastSeparator(path);
    if (separator == std::wstring::npos)
        return std::nullopt;
    const std::wstring folder = path.substr(0, separator);
    const DWORD size = ::GetShortPathNameW(folder.c_str(), nullptr, 0);
    if (size == 0)
        return std::nullopt;
    std::vector<wchar_t> shortFolder(size);
    if (::GetShortPathNameW(folder.c_str(), shortFolder.data(), size) == 0)
        return std::nullopt;
    return toNarrow(std::wstring(shortFolder.data()) + path.substr(separator));
}

std::optional<std::wstring> widePath(const std::string& path)
{
    return toWide(path);
}

FileContent readWholeFile(const std::wstring& path, std::size_t maxBytes)
{
    FileContent result;
    if (path.empty() || reparsePoint(splitPath(path).folder))
        return result;
    FileHandle file = openForRead(path);
    // The open's own error: looking for temporary files below sets another.
    DWORD error = file ? ERROR_SUCCESS : ::GetLastError();
    // A rewrite that removed the old file but could not move the new one in left the content under
    // its temporary name: the file is missing only when no such content exists.
    if (!file && missingError(error))
        file = keptContent(path, error);
    if (!file) {
        result.status = missingError(error) ? ReadStatus::Missing : ReadStatus::Failed;
        return result;
    }
    LARGE_INTEGER size;
    if (!::GetFileSizeEx(file.get(), &size) || size.QuadPart < 0 ||
        static_cast<unsigned long long>(size.QuadPart) > maxBytes)
        return result;
    result.bytes.resize(static_cast<std::size_t>(size.QuadPart));
    std::size_t done = 0;
    while (done < result.bytes.size()) {
        DWORD read = 0;
        // The file became shorter meanwhile (a program writing it in place): what was read is no
        // whole content, and a rewrite from it would cut the file short.
        if (!::ReadFile(file.get(), result.bytes.data() + done,
                        static_cast<DWORD>(result.bytes.size() - done), &read, nullptr) ||
            read == 0) {
            result.bytes.clear();
            return result;
        }
        done += read;
    }
    result.status = ReadStatus::Ok;
    return result;
}

ReplaceStatus replaceFile(const std::wstring& path, std::string_view content)
{
    if (path.empty())
        return ReplaceStatus::Failed;
    const PathParts parts = splitPath(path);
    if (parts.name.empty() || reparsePoint(parts.folder))
        return ReplaceStatus::Failed;

    removeLeftovers(parts.folder, parts.name);

    const std::wstring temporary = temporaryName(parts, content.size());
    // A file made here keeps these rights where no file was; ReplaceFileW keeps an existing
    // file's own.
    StoreAccess access(StoreAccess::Kind::File);
    if (access.attributes() == nullptr)
        return ReplaceStatus::Failed;
    FileHandle file(::CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, access.attributes(), CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH, nullptr));
    if (!file)
        return ::GetLastError() == ERROR_PATH_NOT_FOUND ? ReplaceStatus::FolderMissing
                                                        : ReplaceStatus::Failed;
    const bool written = writeAll(file.get(), content) && ::FlushFileBuffers(file.get()) != FALSE;
    file.reset();
    if (!written) {
        ::DeleteFileW(temporary.c_str());
        return ReplaceStatus::Failed;
    }
    if (moveIntoPlace(temporary, path))
        return ReplaceStatus::Done;
    // The temporary file goes only while the file holds a whole content of its own: when a
    // replacement removed the old file and the new one could not take its place, the temporary
    // file is the only copy, and the next read puts it in place.
    if (exists(path))
        ::DeleteFileW(temporary.c_str());
    return ReplaceStatus::Failed;
}

SaveStatus saveCallerFile(const wchar_t* path, std::string_view content)
{
    if (path == nullptr || *path == L'\0')
        return SaveStatus::NotCreated;
    const std::wstring target(path);
    const PathParts parts = splitPath(target);
    if (parts.name.empty())
        return SaveStatus::NotCreated;

    removeLeftovers(parts.folder, parts.name);

    const std::wstring temporary = temporaryName(parts, content.size());
    // A path that leaves no room for the temporary name within MAX_PATH is written in place.
    if (temporary.size() >= MAX_PATH)
        return writeInPlace(target, content);
    FileHandle file(::CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return SaveStatus::NotCreated;
    const bool written = writeAll(file.get(), content);
    file.reset();
    if (!written) {
        ::DeleteFileW(temporary.c_str());
        return SaveStatus::NotWritten;
    }
    // The new file takes the old one's place whole; a program holding the old one open is waited
    // for a bounded time.
    if (finishMove(temporary, target))
        return SaveStatus::Saved;
    ::DeleteFileW(temporary.c_str());
    return SaveStatus::NotCreated;
}

const char* textLineEnd()
{
    return "\r\n";
}

} // namespace pelmux::platform
