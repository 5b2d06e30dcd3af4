// Files on Windows: the shell's common application-data folder, narrow paths in the C run-time's
// current locale, and a replacement by MoveFileExW of a temporary file written through to the
// disk. A writer opens its temporary file without sharing until it is moved, so a temporary file
// that can be deleted is a leftover of a writer that died.
#include "platform/Files.h"

#include <windows.h>

#include <cwchar>

#include <shlobj.h>

#include <atomic>
#include <cstdlib>
#include <string>
#include <vector>

namespace pelmux::platform {

namespace {

// CSIDL_COMMON_APPDATA combined with CSIDL_FLAG_CREATE.
constexpr int commonAppDataCreate = 0x8023;
// Attempts of a call that met a file another program has open (a scanner, an editor).
constexpr int sharingAttempts = 5;
constexpr DWORD sharingPauseMs = 20;

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

// Whether the process named at the front of "<process>-<sequence>" still runs: it may be between
// closing its file and moving it into place (a writer of another session holds another lock).
bool writerAlive(const std::wstring& writer)
{
    const unsigned long process = std::wcstoul(writer.c_str(), nullptr, 10);
    if (process == 0)
        return false;
    HANDLE handle = ::OpenProcess(SYNCHRONIZE, FALSE, process);
    if (handle == nullptr)
        return ::GetLastError() == ERROR_ACCESS_DENIED;
    const bool running = ::WaitForSingleObject(handle, 0) == WAIT_TIMEOUT;
    ::CloseHandle(handle);
    return running;
}

// Deletes "<name>.<process>-<sequence>.tmp" files in `folder`; those a living writer holds refuse.
void removeLeftovers(const std::wstring& folder, const std::wstring& name)
{
    WIN32_FIND_DATAW found;
    const std::wstring pattern = folder + L"\\" + name + L".*.tmp";
    HANDLE search = ::FindFirstFileW(pattern.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    const std::wstring prefix = name + L".";
    do {
        const std::wstring candidate = found.cFileName;
        if (candidate.size() <= prefix.size() + 4 || candidate.compare(0, prefix.size(), prefix) != 0 ||
            candidate.compare(candidate.size() - 4, 4, L".tmp") != 0)
            continue;
        const std::wstring writer = candidate.substr(prefix.size(), candidate.size() - prefix.size() - 4);
        if (writer.find_first_not_of(L"0123456789-") != std::wstring::npos || writerAlive(writer))
            continue;
        ::DeleteFileW((folder + L"\\" + candidate).c_str());
    } while (::FindNextFileW(search, &found));
    ::FindClose(search);
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
    return ::CreateDirectoryW(path.c_str(), nullptr) != FALSE;
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
    HANDLE file = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < sharingAttempts; ++attempt) {
        file =
            ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                          nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE || !sharingError(::GetLastError()))
            break;
        ::Sleep(sharingPauseMs);
    }
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = ::GetLastError();
        result.status = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? ReadStatus::Missing
                                                                                       : ReadStatus::Failed;
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
    const std::size_t separator = lastSeparator(path);
    const std::wstring folder =
        separator == std::wstring::npos ? std::wstring(L".") : path.substr(0, separator);
    const std::wstring name = separator == std::wstring::npos ? path : path.substr(separator + 1);
    if (name.empty())
        return ReplaceStatus::Failed;

    removeLeftovers(folder, name);

    static std::atomic<unsigned> sequence{0};
    const std::wstring temporary = folder + L"\\" + name + L"." + std::to_wstring(::GetCurrentProcessId()) +
                                   L"-" + std::to_wstring(sequence.fetch_add(1)) + L".tmp";
    HANDLE file = ::CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return ::GetLastError() == ERROR_PATH_NOT_FOUND ? ReplaceStatus::FolderMissing
                                                        : ReplaceStatus::Failed;
    const bool written = writeAll(file, content) && ::FlushFileBuffers(file) != FALSE;
    ::CloseHandle(file);

    bool moved = false;
    for (int attempt = 0; written && !moved && attempt < sharingAttempts; ++attempt) {
        // An existing file is replaced in place, keeping its access rights and attributes, so that
        // rights granted to every account on it survive the rewrite.
        const bool exists = ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
        moved = exists ? ::ReplaceFileW(path.c_str(), temporary.c_str(), nullptr,
                                        REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr) != FALSE
                       : ::MoveFileExW(temporary.c_str(), path.c_str(), MOVEFILE_WRITE_THROUGH) != FALSE;
        if (!moved && !sharingError(::GetLastError()))
            break;
        if (!moved)
            ::Sleep(sharingPauseMs);
    }
    if (!moved) {
        ::DeleteFileW(temporary.c_str());
        return ReplaceStatus::Failed;
    }
    return ReplaceStatus::Done;
}

const char* textLineEnd()
{
    return "\r\n";
}

} // namespace pelmux::platform
