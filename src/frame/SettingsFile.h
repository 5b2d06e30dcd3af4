// The settings store: "Pelmux.ini", one flat file of key=value lines in the machine-wide
// application-data folder, shared by every program on the unit; the semaphore that makes one
// load-modify-write cycle exclusive; the text conversions of the values; and the cycles that read
// and write settings.
//
// Every user follows one cycle: construct a SettingsFile (takes the lock), settingsPath(),
// loadSettings() with that path, any getValue/setValue, destroy the object (gives the lock back).
// settingsCycle takes it for a body of the caller's; readSetting(s) and writeSetting(s) are the
// cycles most users need.
#pragma once

#include "frame/ExhaustedMemory.h"
#include "platform/Semaphore.h"

#include <pelmux/ResultCode.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <map>
#include <string>
#include <string_view>
#include <utility>

namespace pelmux {

using Varnholt::ResultCode;

// The lock of the settings file, one per Windows session: the name other programs of the unit use.
inline constexpr const char* settingsLockName = "FILE_PELMUXINI_IS_IN_USE";
// The same name in the namespace every session shares: on Windows a cycle outside session 0 takes
// it first, then its session's lock, so that cycles of programs in different sessions (a service
// and the user's application) never overlap either. In session 0 the session's lock already is this
// object.
inline constexpr const char* settingsSessionsLockName = "Global\\FILE_PELMUXINI_IS_IN_USE";
// The file used when the application-data folder cannot be found.
inline constexpr const char* fallbackSettingsPath = "C:\\Pelmux.ini";
// A settings file larger than this is not read, and therefore never rewritten either; a rewrite
// that would make the file larger is refused.
inline constexpr std::size_t maxSettingsFileBytes = 4 * 1024 * 1024;

// "<common application data>\Varnholt\Pelmux.ini", resolved once per process (the folder is made
// then), or "C:\Pelmux.ini" while the folder cannot be found.
std::string settingsPath();

// The text conversions allocate (string streams): on Windows exhausted memory answers
// ERR_MEMORY_ALLOCATION_FAILED (see frame/ExhaustedMemory.h).

// Decimal text, as an output stream writes it.
ResultCode intToText(std::int32_t value, std::string& text);
// The shortest decimal text that reads back as exactly `value` (50.0 -> "50", 123.4567 ->
// "123.4567", 160 / ln 100 -> "34.74355855226014"; very large or small values in exponent form,
// "1e+21"), in the classic locale. A NaN or an infinity gives ERR_DATATYPE_MISMATCH: no reader
// takes it back.
ResultCode doubleToText(double value, std::string& text);
// Parse as an input stream does: leading white space skipped, the number ends at the first
// character that cannot continue it. No number, or one out of range: ERR_DATATYPE_MISMATCH.
// `value` is written only on success.
ResultCode textToInt(const std::string& text, std::int32_t& value);
ResultCode textToDouble(const std::string& text, double& value);
// Either of the two, by the type of `value`.
inline ResultCode textToNumber(const std::string& text, std::int32_t& value)
{
    return textToInt(text, value);
}
inline ResultCode textToNumber(const std::string& text, double& value)
{
    return textToDouble(text, value);
}

// Keys in byte-wise ascending order.
using SettingsEntries = std::map<std::string, std::string>;

// Adds every line of a settings file's text to `entries`: lines split at line feeds (a carriage
// return before a line feed is dropped); empty lines, lines starting with ';' and the lines "[" and
// "/" are skipped; the rest split at the first '=' into key and value, each without leading and
// trailing spaces (tabs stay); a line without '=' gives the empty key; later lines win.
void readSettingsText(std::string_view text, SettingsEntries& entries);

// The text of a rewrite that sets `key` to `value`: every entry as key=value in key order, the one
// for `key` with the new value; a key not yet present comes last as "key = value".
std::string settingsText(const SettingsEntries& entries, const std::string& key, const std::string& value,
                         std::string_view lineEnd);

class SettingsFile {
public:
    // Creates or opens the locks (the machine-wide one first, where sessions have their own) and
    // waits for each without limit; a holder that ended is taken over (platform/Semaphore.h). A lock
    // that cannot be made is done without; one that is made but whose wait fails is not: see
    // lockRefused.
    SettingsFile();
    // Gives the locks back.
    ~SettingsFile();
    SettingsFile(const SettingsFile&) = delete;
    SettingsFile& operator=(const SettingsFile&) = delete;

    // Remembers the path and adds the file's lines to the entries. A missing file adds nothing; a
    // file that exists but cannot be read whole adds nothing and is never rewritten by this object.
    void loadSettings(const std::string& path);

    // The value of `key`; a key not present is added with an empty value, which the next rewrite
    // writes, unless setValue would refuse the key (then it is only looked up).
    std::string getValue(const std::string& key);

    // Sets `key` (spaces trimmed) to `value` (spaces trimmed) in the entries and rewrites the whole
    // file in one atomic step. Answers whether the file now holds the new content. Refused, changing
    // nothing: a key with '=', a line break or a leading ';', or a value with a line break, which the
    // file could not give back as written; a rewrite larger than maxSettingsFileBytes; any rewrite
    // while lockRefused().
    bool setValue(const std::string& key, const std::string& value);

    const SettingsEntries& entries() const { return entries_; }
    bool holdsLock() const { return locked_; }
    // Whether a lock was made but could not be taken: the cycle must not go on (settingsCycle
    // answers ERR_FUNCTION_IN_PROGRESS).
    bool lockRefused() const { return refused_; }

private:
    platform::SemaphoreHandle sessionsLock_ = nullptr;
    bool sessionsLocked_ = false;
    platform::SemaphoreHandle lock_ = nullptr;
    bool locked_ = false;
    bool refused_ = false;
    SettingsEntries entries_;
    std::string path_;
    std::wstring widePath_; // what the file calls use; empty when path_ names no file
    bool rewritable_ = true;
};

// One load-modify-write cycle, as every user of the store takes it: builds a SettingsFile (takes
// the lock), loads the settings file, runs `body(file)`, which answers a result code, and gives the
// lock back. On Windows exhausted memory anywhere in it answers ERR_MEMORY_ALLOCATION_FAILED; the
// file is then left as it was or holds a whole rewrite. A lock whose wait fails answers
// ERR_FUNCTION_IN_PROGRESS without reading or writing the file.
template <class Body> ResultCode settingsCycle(Body body)
{
    return unlessMemoryExhausted([&] {
        SettingsFile file;
        if (file.lockRefused())
            return Varnholt::ERR_FUNCTION_IN_PROGRESS;
        file.loadSettings(settingsPath());
        return body(file);
    });
}

// The cycles below answer ERR_SUCCESS, ERR_MEMORY_ALLOCATION_FAILED when memory ran out on Windows
// (outputs then untouched, the file as it was or holding a whole rewrite), or
// ERR_FUNCTION_IN_PROGRESS when the lock could not be taken (outputs and file untouched), unless
// they say otherwise. They block while another cycle, in any process, holds the lock.

// One settings cycle that reads the texts of `keys` into `texts`, in order; a key not present
// reads as empty text. Writes nothing.
template <std::size_t N>
ResultCode readSettings(const std::array<const char*, N>& keys, std::array<std::string, N>& texts)
{
    return settingsCycle([&](SettingsFile& file) {
        for (std::size_t i = 0; i < N; ++i)
            texts[i] = file.getValue(keys[i]);
        return Varnholt::ERR_SUCCESS;
    });
}

// readSettings for one key.
ResultCode readSetting(const char* key, std::string& text);

// One settings cycle reading `key` as a number into `value`; a missing or unparsable value reads
// as 0.
ResultCode readSettingNumber(const char* key, std::int32_t& value);

// A key and the text to write to it.
using Setting = std::pair<const char*, std::string_view>;

// One settings cycle that sets each of `settings` in order (SettingsFile::setValue). A file that
// does not take them is not an error: `stored`, when given, tells whether it took every one.
ResultCode writeSettings(std::initializer_list<Setting> settings, bool* stored = nullptr);

// writeSettings for one key.
ResultCode writeSetting(const char* key, std::string_view value, bool* stored = nullptr);

// One settings cycle that writes `value` as doubleToText gives it; a value that gives no text
// (ERR_DATATYPE_MISMATCH) leaves the file as it was.
ResultCode writeSettingNumber(const char* key, double value);

} // namespace pelmux
