// Files on Windows: the shell's common application-data folder, narrow paths in the C run-time's
// current locale, and a replacement of a file by a temporary file written through to the disk. The
// writer holds its temporary file without sharing while it writes, closes it once the content is
// on the disk and then moves it into place. The temporary file's name carries the writer's process
// id and the content's size: a temporary file whose process has ended, or whose id now belongs to
// a process that started after the file was made, is a leftover of a writer that died. A caller's
// file (a snapshot) is replaced the same way, moved over the old one with MoveFileExW.
#include "platform/Files.h"

#include "platform/win32/EveryAccount.h"

#include <windows.h>

#include <cwchar>

#include <shlobj.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <string>
#include <vector>

namespace pelmux::platform {

namespace {

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

HANDLE openForRead(const std::wstring& path)
{
    HANDLE file = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < sharingAttempts; ++attempt) {
        file =
            ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                          nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE || !sharingError(::GetLastError()))
            break;
        ::Sleep(sharingPauseMs);
    }
    return file;
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

// "<name>.<process>-<sequence>-<size>.tmp": what the name of a temporary file tells. Files of
// earlier versions lack the size.
struct Leftover {
    std::wstring path;
    unsigned long process = 0;
    bool sizeKnown = false;
    unsigned long long size = 0;
    WIN32_FIND_DATAW found;
};

bool parseLeftover(const std::wstring& folder, const std::wstring& name, const WIN32_FIND_DATAW& found,
                   Leftover& leftover)
{
    const std::wstring candidate = found.cFileName;
    const std::wstring prefix = name + L".";
    if (candidate.size() <= prefix.size() + 4 || candidate.compare(0, prefix.size(), prefix) != 0 ||
        candidate.compare(candidate.size() - 4, 4, L".tmp") != 0)
        return false;
    const std::wstring writer = candidate.substr(prefix.size(), candidate.size() - prefix.size() - 4);
    if (writer.find_first_not_of(L"0123456789-") != std::wstring::npos)
        return false;
    leftover.path = folder + L"\\" + candidate;
    leftover.process = std::wcstoul(writer.c_str(), nullptr, 10);
    const std::size_t first = writer.find(L'-');
    const std::size_t second = first == std::wstring::npos ? first : writer.find(L'-', first + 1);
    leftover.sizeKnown = second != std::wstring::npos && second + 1 < writer.size();
    if (leftover.sizeKnown)
        leftover.size = std::wcstoull(writer.c_str() + second + 1, nullptr, 10);
    leftover.found = found;
    return true;
}

// Calls `visit` for every temporary file of `name` in `folder`.
template <class Visit> void forEachLeftover(const std::wstring& folder, const std::wstring& name, Visit visit)
{
    WIN32_FIND_DATAW found;
    const std::wstring pattern = folder + L"\\" + name + L".*.tmp";
    HANDLE search = ::FindFirstFileW(pattern.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        Leftover leftover;
        if (parseLeftover(folder, name, found, leftover))
            visit(leftover);
    } while (::FindNextFileW(search, &found));
    ::FindClose(search);
}

// Whether the writer of a temporary file may still be at work: its process runs (it may be between
// closing its file and moving it into place; a writer of another session holds another lock) and
// started before the file was made. A process that started later only reuses a dead writer's id.
bool writerAlive(const Leftover& leftover)
{
    if (leftover.process == 0)
        return false;
    HANDLE handle = ::OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, leftover.process);
    if (handle == nullptr)
        return ::GetLastError() == ERROR_ACCESS_DENIED;
    bool alive = ::WaitForSingleObject(handle, 0) == WAIT_TIMEOUT;
    FILETIME created, exited, kernel, user;
    if (alive && ::GetProcessTimes(handle, &created, &exited, &kernel, &user))
        alive = ::CompareFileTime(&created, &leftover.found.ftCreationTime) <= 0;
    ::CloseHandle(handle);
    return alive;
}

// Deletes the temporary files of `name` whose writers died; those of living writers stay.
void removeLeftovers(const std::wstring& folder, const std::wstring& name)
{
    forEachLeftover(folder, name, [](const Leftover& leftover) {
        if (!writerAlive(leftover))
            ::DeleteFileW(leftover.path.c_str());
    });
}

bool whole(const Leftover& leftover)
{
    const unsigned long long size =
        (static_cast<unsigned long long>(leftover.found.nFileSizeHigh) << 32) | leftover.found.nFileSizeLow;
    return leftover.sizeKnown && leftover.size == size;
}

// The newest temporary file of `path` whose size is the one its name gives: the content of the
// last rewrite that reached the disk. A writer that died while writing left less, and a name of an
// earlier version tells no size; neither is ever taken for the file's content.
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

// Where the content of a missing file lies when a rewrite removed the old file but could not move
// the new one in: the newest whole temporary file. When its writer has ended, or is this process
// (which holds the settings lock, so none of its writers is at work), it takes the file's place,
// with the access every account has to the file; a writer in another process that still runs may
// yet move it in itself, so its file is only read. Answers the path to read, or empty when the
// file has no content anywhere.
std::wstring keptContent(const std::wstring& path)
{
    const PathParts parts = splitPath(path);
    const std::optional<Leftover> newest = newestWholeLeftover(parts);
    if (!newest)
        return {};
    if (newest->process != ::GetCurrentProcessId() && writerAlive(*newest))
        return newest->path;
    // Without MOVEFILE_REPLACE_EXISTING: a file that appeared meanwhile is newer than any leftover.
    if (::MoveFileExW(newest->path.c_str(), path.c_str(), MOVEFILE_WRITE_THROUGH)) {
        EveryAccount().grantTo(path.c_str());
        return path;
    }
    // A file appeared meanwhile, or the leftover cannot move now: read what is there, and the
    // next rewrite, which removes a dead writer's leftover, puts the content in place.
    return exists(path) ? path : newest->path;
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

// "<name>.<process>-<sequence>-<size>.tmp" beside the file: the name removeLeftovers and
// restoreLeftover read.
std::wstring temporaryName(const PathParts& parts, std::size_t size)
{
    static std::atomic<unsigned> sequence{0};
    return parts.folder + L"\\" + parts.name + L"." + std::to_wstring(::GetCurrentProcessId()) + L"-" +
           std::to_wstring(sequence.fetch_add(1)) + L"-" + std::to_wstring(size) + L".tmp";
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
    // Every account writes the settings file; inherited rights would let most of them only read.
    EveryAccount access;
    return ::CreateDirectoryW(path.c_str(), access.attributes()) != FALSE;
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
    if (path.empty())
        return result;
    HANDLE file = openForRead(path);
    // The open's own error: looking for temporary files below sets another.
    DWORD error = file == INVALID_HANDLE_VALUE ? ::GetLastError() : ERROR_SUCCESS;
    // A rewrite that removed the old file but could not move the new one in left the content under
    // its temporary name: the file is missing only when no such content exists.
    if (file == INVALID_HANDLE_VALUE && missingError(error)) {
        const std::wstring kept = keptContent(path);
        if (!kept.empty()) {
            file = openForRead(kept);
            // A living writer's file that vanished was moved in by that writer: read the file.
            if (file == INVALID_HANDLE_VALUE && kept != path && missingError(::GetLastError()))
                file = openForRead(path);
            error = file == INVALID_HANDLE_VALUE ? ::GetLastError() : ERROR_SUCCESS;
        }
    }
    if (file == INVALID_HANDLE_VALUE) {
        result.status = missingError(error) ? ReadStatus::Missing : ReadStatus::Failed;
        return result;
    }
    LARGE_INTEGER size;
    bool ok = ::GetFileSizeEx(file, &size) != FALSE && size.QuadPart >= 0 &&
              static_cast<unsigned long long>(size.QuadPart) <= maxBytes;
    if (ok) {
        result.bytes.resize(static_cast<std::size_t>(size.QuadPart));
        std::size_t done = 0;
        while (ok && done < result.bytes.size()) {
            DWORD read = 0;
            ok = ::ReadFile(file, result.bytes.data() + done, static_cast<DWORD>(result.bytes.size() - done),
                            &read, nullptr) != FALSE;
            if (ok && read == 0)
                break; // the file became shorter meanwhile
            done += read;
        }
        result.bytes.resize(done);
    }
    ::CloseHandle(file);
    if (!ok) {
        result.bytes.clear();
        return result;
    }
    result.status = ReadStatus::Ok;
    return result;
}

ReplaceStatus replaceFile(const std::wstring& path, std::string_view content)
{
    if (path.empty())
        return ReplaceStatus::Failed;
    const PathParts parts = splitPath(path);
    if (parts.name.empty())
        return ReplaceStatus::Failed;

    removeLeftovers(parts.folder, parts.name);

    const std::wstring temporary = temporaryName(parts, content.size());
    // A file made here keeps these rights where no file was; ReplaceFileW keeps an existing
    // file's own.
    EveryAccount access;
    HANDLE file = ::CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, access.attributes(), CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return ::GetLastError() == ERROR_PATH_NOT_FOUND ? ReplaceStatus::FolderMissing
                                                        : ReplaceStatus::Failed;
    const bool written = writeAll(file, content) && ::FlushFileBuffers(file) != FALSE;
    ::CloseHandle(file);
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
    HANDLE file = ::CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return SaveStatus::NotCreated;
    const bool written = writeAll(file, content);
    ::CloseHandle(file);
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
