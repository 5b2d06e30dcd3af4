// The settings file's swap under what a real machine does to it: another process holding the file
// open, replacements that fail half way, and temporary files that writers left behind. ReplaceFileW's
// documented partial outcomes (1175, 1176, 1177) do not happen under wine: a stand-in, which this
// program's import table leads the library's call to, reproduces each of them on the real files.
#include "Checks.h"
#include "frame/Semaphores.h"
#include "frame/SettingsFile.h"

#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

namespace {

using checks::check;

const wchar_t* const holdingEvent = L"pelmux-windows-checks-holding";
// Ends a holder before its time is up.
const wchar_t* const letGoEvent = L"pelmux-windows-checks-let-go";

std::wstring wide(const std::string& text)
{
    return std::wstring(text.begin(), text.end());
}

std::wstring settingsFile()
{
    return wide(pelmux::settingsPath());
}

std::wstring settingsFolder()
{
    const std::wstring path = settingsFile();
    return path.substr(0, path.find_last_of(L'\\'));
}

// The file's bytes, or "<missing>".
std::string fileText(const std::wstring& path)
{
    HANDLE file =
        ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                      nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return "<missing>";
    char buffer[4096];
    DWORD read = 0;
    ::ReadFile(file, buffer, sizeof buffer, &read, nullptr);
    ::CloseHandle(file);
    return std::string(buffer, read);
}

void writeFile(const std::wstring& path, const std::string& text)
{
    HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    ::WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    ::CloseHandle(file);
}

// Every name in the settings folder other than the settings file itself.
std::vector<std::wstring> strayFiles()
{
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found;
    HANDLE search = ::FindFirstFileW((settingsFolder() + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return names;
    do {
        const std::wstring name = found.cFileName;
        if (name != L"." && name != L".." && name != L"Pelmux.ini")
            names.push_back(name);
    } while (::FindNextFileW(search, &found));
    ::FindClose(search);
    return names;
}

std::string describe(const std::vector<std::wstring>& names)
{
    std::string text;
    for (const std::wstring& name : names) {
        text += ' ';
        text.append(name.begin(), name.end());
    }
    return text;
}

void removeStrayFiles()
{
    for (const std::wstring& name : strayFiles())
        ::DeleteFileW((settingsFolder() + L"\\" + name).c_str());
}

// One settings cycle that sets `key`; answers what setValue answered.
bool setSetting(const std::string& key, const std::string& value)
{
    pelmux::SettingsFile settings;
    settings.loadSettings(pelmux::settingsPath());
    return settings.setValue(key, value);
}

std::string getSetting(const std::string& key)
{
    pelmux::SettingsFile settings;
    settings.loadSettings(pelmux::settingsPath());
    return settings.getValue(key);
}

// Starts this program with `arguments`; unless `holds` is false, waits until it tells that it holds
// what it was started to hold.
HANDLE startHelper(const std::wstring& arguments, bool holds = true)
{
    HANDLE holding = ::CreateEventW(nullptr, TRUE, FALSE, holdingEvent);
    std::wstring command = L"\"" + checks::ownPath() + L"\" " + arguments;
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    const bool started = ::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                          nullptr, &startup, &process) != FALSE;
    check(started && (!holds || ::WaitForSingleObject(holding, 10000) == WAIT_OBJECT_0),
          "the helper process started: " + std::string(arguments.begin(), arguments.end()));
    ::CloseHandle(holding);
    if (started)
        ::CloseHandle(process.hThread);
    return started ? process.hProcess : nullptr;
}

// Starts this program as "hold <ms>" and waits until it holds the settings file (when there is one).
HANDLE startHolder(unsigned milliseconds)
{
    return startHelper(L"hold " + std::to_wstring(milliseconds));
}

void tellHolding()
{
    HANDLE holding = ::OpenEventW(EVENT_MODIFY_STATE, FALSE, holdingEvent);
    if (holding != nullptr) {
        ::SetEvent(holding);
        ::CloseHandle(holding);
    }
}

void waitFor(HANDLE process)
{
    if (process == nullptr)
        return;
    DWORD code = 1;
    check(::WaitForSingleObject(process, 20000) == WAIT_OBJECT_0 && ::GetExitCodeProcess(process, &code) &&
              code == 0,
          "the helper process ends well");
    ::CloseHandle(process);
}

// Tells the holder to end now and waits for it.
void letGo(HANDLE process)
{
    HANDLE event = ::OpenEventW(EVENT_MODIFY_STATE, FALSE, letGoEvent);
    if (event != nullptr)
        ::SetEvent(event);
    waitFor(process);
    if (event != nullptr) {
        ::ResetEvent(event); // the next holder holds for its time again
        ::CloseHandle(event);
    }
}

// Another process holds the file open without FILE_SHARE_DELETE, as a scanner or an editor can.
void rewriteWhileHeld()
{
    struct Case {
        unsigned holdMs;
        bool written; // the holder lets go within the library's wait, or not
    };
    for (const Case c : {Case{250, true}, Case{3500, false}}) {
        const std::string label = "held " + std::to_string(c.holdMs) + " ms: ";
        writeFile(settingsFile(), "A=1\r\n");
        HANDLE holder = startHolder(c.holdMs);
        check(setSetting("B", "2") == c.written,
              label + "the rewrite answers " + (c.written ? "true" : "false"));
        const std::string text = fileText(settingsFile());
        check(text == (c.written ? "A=1\r\nB = 2\r\n" : "A=1\r\n"), label + "the file is whole: " + text);
        check(strayFiles().empty(), label + "no temporary file remains:" + describe(strayFiles()));
        waitFor(holder);
        check(c.written || setSetting("B", "3"), label + "a rewrite after the holder let go succeeds");
    }
}

// ---- ReplaceFileW's partial outcomes, reproduced on the real files

using ReplaceFileFn = BOOL(WINAPI*)(LPCWSTR, LPCWSTR, LPCWSTR, DWORD, LPVOID, LPVOID);
ReplaceFileFn realReplaceFile = nullptr;

struct StandIn {
    DWORD error = 0;              // what the next failing calls report
    int failures = 0;             // how many calls fail before the real one runs
    bool holdReplacement = false; // the new file stays open without FILE_SHARE_DELETE afterwards
    HANDLE heldReplacement = INVALID_HANDLE_VALUE;
} standIn;

std::wstring asideName(const std::wstring& replaced)
{
    return replaced + L".aside";
}

BOOL WINAPI standInReplaceFile(LPCWSTR replaced, LPCWSTR replacement, LPCWSTR backup, DWORD flags,
                               LPVOID exclude, LPVOID reserved)
{
    if (standIn.failures == 0)
        return realReplaceFile(replaced, replacement, backup, flags, exclude, reserved);
    --standIn.failures;
    if (standIn.error == ERROR_UNABLE_TO_MOVE_REPLACEMENT)
        ::DeleteFileW(replaced); // the old file is gone, the new one keeps its name
    if (standIn.error == ERROR_UNABLE_TO_MOVE_REPLACEMENT_2)
        ::MoveFileExW(replaced, asideName(replaced).c_str(), MOVEFILE_REPLACE_EXISTING); // under another name
    if (standIn.holdReplacement)
        standIn.heldReplacement =
            ::CreateFileW(replacement, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ::SetLastError(standIn.error);
    return FALSE;
}

void partialReplacements()
{
    realReplaceFile = reinterpret_cast<ReplaceFileFn>(
        checks::patchImport(nullptr, "ReplaceFileW", reinterpret_cast<void*>(&standInReplaceFile)));
    check(realReplaceFile != nullptr, "ReplaceFileW found in the import table");
    if (realReplaceFile == nullptr)
        return;
    struct Case {
        const char* what;
        DWORD error;
        int failures;
    };
    const Case cases[] = {
        {"1175 (old file not removable) three times, then success", ERROR_UNABLE_TO_REMOVE_REPLACED, 3},
        {"1176 (old file removed, new one not moved)", ERROR_UNABLE_TO_MOVE_REPLACEMENT, 1},
        {"1177 (old file under another name, new one not moved)", ERROR_UNABLE_TO_MOVE_REPLACEMENT_2, 1},
    };
    for (const Case& c : cases) {
        const std::string label = std::string(c.what) + ": ";
        writeFile(settingsFile(), "A=1\r\n");
        standIn = StandIn{c.error, c.failures, false, INVALID_HANDLE_VALUE};
        check(setSetting("B", "2"), label + "the rewrite succeeds");
        check(standIn.failures == 0, label + "the stand-in was called");
        const std::string text = fileText(settingsFile());
        check(text == "A=1\r\nB = 2\r\n", label + "the file holds the new content: " + text);
        ::DeleteFileW(asideName(settingsFile()).c_str());
        check(strayFiles().empty(), label + "no temporary file remains:" + describe(strayFiles()));
    }

    // 1176, and the new file stays held beyond the library's wait: it is the only copy left. It
    // stays, and the next cycle puts it in place before reading.
    writeFile(settingsFile(), "A=1\r\n");
    standIn = StandIn{ERROR_UNABLE_TO_MOVE_REPLACEMENT, 1, true, INVALID_HANDLE_VALUE};
    check(!setSetting("B", "2"), "1176 with the new file held: the rewrite fails");
    ::CloseHandle(standIn.heldReplacement);
    check(fileText(settingsFile()) == "<missing>", "1176 with the new file held: the old file is gone");
    check(strayFiles().size() == 1, "1176 with the new file held: the temporary file is kept");
    check(getSetting("A") == "1" && getSetting("B") == "2", "the next cycle reads the kept content");
    check(fileText(settingsFile()) == "A=1\r\nB = 2\r\n", "the kept content took the file's place");
    check(strayFiles().empty(), "nothing left beside it:" + describe(strayFiles()));
    checks::patchImport(nullptr, "ReplaceFileW", reinterpret_cast<void*>(realReplaceFile));
}

// ---- temporary files of writers

// "Pelmux.ini.<writer>.tmp" beside the settings file.
std::wstring temporaryName(const std::wstring& writer)
{
    return settingsFile() + L"." + writer + L".tmp";
}

// The start time a temporary name gives for a process: its creation time.
std::wstring startOf(HANDLE process)
{
    FILETIME created, exited, kernel, user;
    ::GetProcessTimes(process, &created, &exited, &kernel, &user);
    return std::to_wstring((static_cast<unsigned long long>(created.dwHighDateTime) << 32) |
                           created.dwLowDateTime);
}

void leftovers()
{
    const std::wstring self =
        L"pelmux-" + std::to_wstring(::GetCurrentProcessId()) + L"-" + startOf(::GetCurrentProcess());
    const std::wstring reused = L"pelmux-" + std::to_wstring(::GetCurrentProcessId()) + L"-1";
    const std::wstring gone = L"pelmux-4000000000-1"; // no process has this id
    struct Case {
        const char* what;
        std::wstring writer;
        bool kept;
    };
    const Case cases[] = {
        {"a running writer's file", self + L"-900-5", true},
        {"a reused id: its process started at another time", reused + L"-901-5", false},
        {"a dead writer's file", gone + L"-902-5", false},
        {"an earlier version's name", L"4000000000-903-5", true},
        {"a name without the library's mark", L"7", true},
    };
    writeFile(settingsFile(), "A=1\r\n");
    for (const Case& c : cases)
        writeFile(temporaryName(c.writer), "X=1\r\n");
    check(setSetting("B", "2"), "rewrite beside temporary files");
    for (const Case& c : cases)
        check((::GetFileAttributesW(temporaryName(c.writer).c_str()) != INVALID_FILE_ATTRIBUTES) == c.kept,
              std::string(c.what) + (c.kept ? " stays" : " is removed"));
    removeStrayFiles();

    // A missing file and one temporary file: the content of the newest whole one counts, whoever
    // wrote it, and no leftover stops the store. A dead writer's (or this process's) whole file
    // takes the file's place; a living writer's is read where it lies; a short one, one of another
    // shape or one with a second name is no content, and goes with the next rewrite when it is the
    // library's own.
    struct Missing {
        const char* what;
        std::wstring writer;
        std::string content;
        bool linked;
        bool moved;        // the first cycle puts it in the file's place
        bool holdsContent; // its content is the settings' content
        bool stays;        // it is still there after a rewrite
    };
    ::DeleteFileW(settingsFile().c_str());
    HANDLE other = startHolder(60000); // a writer in another process that still runs
    const std::wstring otherWriter =
        L"pelmux-" + std::to_wstring(::GetProcessId(other)) + L"-" + startOf(other);
    const std::string kept = "A=7\r\nB = 8\r\n";
    const Missing missing[] = {
        {"whole, of a dead writer", gone + L"-910-12", kept, false, true, true, false},
        {"whole, of this process", self + L"-913-12", kept, false, true, true, false},
        {"shorter than its name says", gone + L"-911-40", kept, false, false, false, false},
        {"5 bytes of a first write cut short", gone + L"-914-40", "A=7\r\n", false, false, false, false},
        {"named the earlier way", L"4000000000-915-12", kept, false, false, false, true},
        {"whole, of a dead writer, with a second name", gone + L"-917-12", kept, true, false, false, true},
        {"whole, of a living writer of another process", otherWriter + L"-912-12", kept, false, false, true,
         true},
        {"short, of a living writer of another process", otherWriter + L"-916-40", kept, false, false, false,
         true},
    };
    for (const Missing& m : missing) {
        ::DeleteFileW(settingsFile().c_str());
        // A second name of another file, as an account that may only make files could make it.
        const std::wstring target = m.linked ? settingsFolder() + L"\\target" : temporaryName(m.writer);
        writeFile(target, m.content);
        check(!m.linked || ::CreateHardLinkW(temporaryName(m.writer).c_str(), target.c_str(), nullptr),
              "a second name made");
        const std::string label = std::string("a missing file and a leftover ") + m.what + ": ";
        check(getSetting("A") == (m.holdsContent ? "7" : ""), label + "read as the content or not");
        check((fileText(settingsFile()) == m.content) == m.moved,
              label + (m.moved ? "moved in" : "not moved in"));
        check(setSetting("C", "3"), label + "a rewrite succeeds");
        const std::string expected = m.holdsContent ? "A=7\r\nB=8\r\nC = 3\r\n" : "C = 3\r\n";
        const std::string text = fileText(settingsFile());
        check(text == expected, label + "the rewrite keeps what the content held: " + text);
        check((::GetFileAttributesW(temporaryName(m.writer).c_str()) != INVALID_FILE_ATTRIBUTES) == m.stays,
              label + (m.stays ? "stays beside" : "is gone"));
        removeStrayFiles();
    }
    letGo(other);
}

// ---- what is read

using GetFileSizeExFn = BOOL(WINAPI*)(HANDLE, PLARGE_INTEGER);
GetFileSizeExFn realGetFileSizeEx = nullptr;

// The file seems 3 bytes longer than it is when its size is asked: as a file another program cut
// shorter between the look at its size and the read.
BOOL WINAPI shrinkingGetFileSizeEx(HANDLE file, PLARGE_INTEGER size)
{
    const BOOL answered = realGetFileSizeEx(file, size);
    if (answered)
        size->QuadPart += 3;
    return answered;
}

// A read that ends before the size the file had is no whole content: the cycle's rewrite, which
// would cut the file to what was read, is refused.
void shortRead()
{
    writeFile(settingsFile(), "A=1\r\nB=2\r\n");
    realGetFileSizeEx = reinterpret_cast<GetFileSizeExFn>(
        checks::patchImport(nullptr, "GetFileSizeEx", reinterpret_cast<void*>(&shrinkingGetFileSizeEx)));
    check(realGetFileSizeEx != nullptr, "GetFileSizeEx found in the import table");
    if (realGetFileSizeEx == nullptr)
        return;
    check(!setSetting("C", "3"), "a rewrite after a short read is refused");
    checks::patchImport(nullptr, "GetFileSizeEx", reinterpret_cast<void*>(realGetFileSizeEx));
    check(fileText(settingsFile()) == "A=1\r\nB=2\r\n",
          "the file after a short read: " + fileText(settingsFile()));
}

// ---- holders killed inside the library's locks

// The named locks other programs of the unit share, as the library takes them: a settings cycle
// waits (here at most 5 s) for the machine-wide lock, then its session's; the others are tried
// without waiting (a buzz, an averaging calculation or the sensor's range setting, a firmware job).
// The helper takes them on a thread that then ends, as a firmware job's caller does.
struct KilledHolder {
    const char* name;
    DWORD timeoutMs;
};
const KilledHolder killedHolders[] = {
    {"PELMUX_BUZZING_IN_PROGRESS", 0},
    {"PELMUX_LIGHT_SENSOR_AVERAGE_LOCKED", 0},
    {"PELMUX_FIRMWARE_UPGRADE_IN_PROGRESS", 0},
    {pelmux::settingsSessionsLockName, 5000}, // a settings cycle holds both
    {pelmux::settingsLockName, 5000},
};

void endProcess(HANDLE process)
{
    ::TerminateProcess(process, 9);
    ::WaitForSingleObject(process, INFINITE);
    ::CloseHandle(process);
}

// A helper takes a lock and is killed while it holds it, while this process keeps the name open
// (as every program with a library object does): the next caller takes the lock.
void killedHoldersLetGo()
{
    for (std::size_t row = 0; row < std::size(killedHolders); ++row) {
        const std::string label = std::string("killed holding ") + killedHolders[row].name + ": ";
        pelmux::platform::SemaphoreHandle handle = nullptr;
        pelmux::createSemaphore(killedHolders[row].name, handle);
        HANDLE holder = startHelper(L"lock " + std::to_wstring(row));
        check(!pelmux::platform::takeSemaphore(handle, 0), label + "held by the helper");
        endProcess(holder);
        check(pelmux::platform::takeSemaphore(handle, killedHolders[row].timeoutMs),
              label + "taken by the next caller");
        pelmux::platform::giveSemaphore(handle);
        pelmux::platform::closeSemaphore(handle);
    }
}

// What the counting helpers share with this process.
struct Counting {
    volatile LONG committed; // steps whose rewrite succeeded and was reported
    volatile LONG pauseAt;   // where the next helper stops inside its cycle to be killed: a Pause, or 0
    volatile LONG inside;    // the id of the helper that stopped
};
enum Pause : LONG { beforeReading = 1, afterRewriting = 2 };
const wchar_t* const countingName = L"pelmux-windows-checks-counting";
const wchar_t* const stopCountingEvent = L"pelmux-windows-checks-stop-counting";
const wchar_t* const pausedEvent = L"pelmux-windows-checks-paused";

// Three helpers count "Counter" up, one settings cycle a step, while helpers are killed inside
// their cycle (before they read, or after their rewrite and before they report it) and replaced.
// No step is lost or made twice: the file counts the steps reported, plus one per helper killed
// after its rewrite.
void countingWhileKilled()
{
    HANDLE mapping = ::CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(Counting),
                                          countingName);
    auto* counting = static_cast<Counting*>(::MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, sizeof(Counting)));
    HANDLE stop = ::CreateEventW(nullptr, TRUE, FALSE, stopCountingEvent);
    HANDLE paused = ::CreateEventW(nullptr, FALSE, FALSE, pausedEvent);
    ::DeleteFileW(settingsFile().c_str());
    pelmux::platform::SemaphoreHandle names[2] = {}; // kept open here
    pelmux::createSemaphore(pelmux::settingsLockName, names[0]);
    pelmux::createSemaphore(pelmux::settingsSessionsLockName, names[1]);
    std::vector<HANDLE> helpers = {startHelper(L"count", false), startHelper(L"count", false),
                                   startHelper(L"count", false)};
    int killedAfterRewrite = 0;
    for (int kill = 0; kill < 4; ++kill) {
        const Pause point = kill % 2 == 0 ? beforeReading : afterRewriting;
        counting->pauseAt = point;
        const bool stopped = ::WaitForSingleObject(paused, 10000) == WAIT_OBJECT_0;
        check(stopped, "counting: a helper stops inside its cycle");
        if (!stopped)
            break;
        for (HANDLE& helper : helpers) {
            if (::GetProcessId(helper) == static_cast<DWORD>(counting->inside)) {
                endProcess(helper);
                killedAfterRewrite += point == afterRewriting ? 1 : 0;
                helper = startHelper(L"count", false);
            }
        }
    }
    ::SetEvent(stop);
    for (HANDLE helper : helpers) {
        check(::WaitForSingleObject(helper, 10000) == WAIT_OBJECT_0, "counting: a helper ends when asked");
        endProcess(helper);
    }
    for (auto name : names)
        pelmux::platform::closeSemaphore(name);
    const long expected = counting->committed + killedAfterRewrite;
    const std::string counter = getSetting("Counter");
    check(counting->committed > 0 && std::strtol(counter.c_str(), nullptr, 10) == expected,
          "counting: " + std::to_string(expected) + " steps made, the file counts " + counter);
    ::UnmapViewOfFile(counting);
    ::CloseHandle(mapping);
    ::CloseHandle(stop);
    ::CloseHandle(paused);
    removeStrayFiles();
    ::DeleteFileW(settingsFile().c_str());
}

DWORD WINAPI takeOnce(void* semaphore)
{
    return pelmux::platform::takeSemaphore(semaphore, 0) ? 0 : 1;
}

} // namespace

int checks::holdLock(unsigned row)
{
    const KilledHolder& c = killedHolders[row % std::size(killedHolders)];
    pelmux::platform::SemaphoreHandle handle = nullptr;
    if (c.timeoutMs == 0 && pelmux::createSemaphore(c.name, handle))
        ::WaitForSingleObject(::CreateThread(nullptr, 0, takeOnce, handle, 0, nullptr), INFINITE);
    if (c.timeoutMs != 0)
        new pelmux::SettingsFile; // inside a settings cycle until killed
    tellHolding();
    ::Sleep(INFINITE); // until killed
    return 0;
}

int checks::countUnderSettingsLock()
{
    HANDLE mapping = ::OpenFileMappingW(FILE_MAP_WRITE, FALSE, countingName);
    auto* counting = static_cast<Counting*>(::MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, sizeof(Counting)));
    HANDLE stop = ::OpenEventW(SYNCHRONIZE, FALSE, stopCountingEvent);
    HANDLE paused = ::OpenEventW(EVENT_MODIFY_STATE, FALSE, pausedEvent);
    // The first helper to reach the point asked for tells it and waits there to be killed.
    const auto pauseAt = [&](Pause point) {
        if (::InterlockedCompareExchange(&counting->pauseAt, 0, point) == point) {
            counting->inside = static_cast<LONG>(::GetCurrentProcessId());
            ::SetEvent(paused);
            ::WaitForSingleObject(stop, INFINITE);
        }
    };
    while (counting != nullptr && ::WaitForSingleObject(stop, 0) == WAIT_TIMEOUT) {
        pelmux::settingsCycle([&](pelmux::SettingsFile& file) {
            pauseAt(beforeReading);
            std::int32_t count = 0;
            pelmux::textToInt(file.getValue("Counter"), count);
            const bool written = file.setValue("Counter", std::to_string(count + 1));
            pauseAt(afterRewriting);
            if (written)
                ::InterlockedIncrement(&counting->committed);
            return Varnholt::ERR_SUCCESS;
        });
    }
    return 0;
}

int checks::holdSettingsFile(unsigned milliseconds)
{
    // Holds the file when there is one.
    HANDLE file = ::CreateFileW(settingsFile().c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, 0, nullptr);
    tellHolding();
    HANDLE letGo = ::OpenEventW(SYNCHRONIZE, FALSE, letGoEvent);
    if (letGo != nullptr) {
        ::WaitForSingleObject(letGo, milliseconds);
        ::CloseHandle(letGo);
    } else {
        ::Sleep(milliseconds);
    }
    if (file != INVALID_HANDLE_VALUE)
        ::CloseHandle(file);
    return 0;
}

void checks::settingsSwapChecks()
{
    // Manual reset, not set: holders wait for it up to their time.
    HANDLE letGoSignal = ::CreateEventW(nullptr, TRUE, FALSE, letGoEvent);
    removeStrayFiles();
    rewriteWhileHeld();
    partialReplacements();
    leftovers();
    shortRead();
    ::DeleteFileW(settingsFile().c_str());
    ::CloseHandle(letGoSignal);
    // Last: a lock that stays taken would hang every later check.
    countingWhileKilled();
    killedHoldersLetGo();
}
