#include "frame/SettingsFile.h"

#include "frame/Semaphores.h"
#include "platform/Files.h"
#include "platform/Mutex.h"

#include <charconv>
#include <cmath>
#include <locale>
#include <mutex>
#include <optional>
#include <sstream>

namespace pelmux {

namespace {

constexpr const wchar_t* settingsFolderName = L"\\Varnholt";
constexpr const wchar_t* settingsFileName = L"\\Varnholt\\Pelmux.ini";

std::string_view trimSpaces(std::string_view text)
{
    const auto first = text.find_first_not_of(' ');
    if (first == std::string_view::npos)
        return {};
    const auto last = text.find_last_not_of(' ');
    return text.substr(first, last - first + 1);
}

void readLine(std::string_view line, SettingsEntries& entries)
{
    if (line.empty() || line.front() == ';' || line == "[" || line == "/")
        return;
    const auto equals = line.find('=');
    if (equals == std::string_view::npos) {
        entries[std::string()] = std::string();
        return;
    }
    entries[std::string(trimSpaces(line.substr(0, equals)))] =
        std::string(trimSpaces(line.substr(equals + 1)));
}

// Whether the file gives the key, and the value, back exactly as written.
bool storableKey(const std::string& key)
{
    return key.find_first_of("=\r\n") == std::string::npos && (key.empty() || key.front() != ';');
}

bool storable(const std::string& key, const std::string& value)
{
    return storableKey(key) && value.find_first_of("\r\n") == std::string::npos;
}

// The application-data folder and our folder in it, made when missing; the file path in it.
std::optional<std::wstring> settingsFileInFolder()
{
    const auto folder = platform::commonAppDataFolder();
    if (!folder)
        return std::nullopt;
    platform::createDirectory(*folder + settingsFolderName); // an existing folder is fine
    return *folder + settingsFileName;
}

template <class Number> ResultCode parseNumber(const std::string& text, Number& value)
{
    return unlessMemoryExhausted([&] {
        std::istringstream in(text);
        in.imbue(std::locale::classic());
        Number parsed{};
        in >> parsed;
        if (in.fail())
            return Varnholt::ERR_DATATYPE_MISMATCH;
        value = parsed;
        return Varnholt::ERR_SUCCESS;
    });
}

template <class Number> ResultCode formatNumber(Number value, std::string& text)
{
    return unlessMemoryExhausted([&] {
        // The file is shared by every program on the unit: the classic locale whatever the caller set.
        std::ostringstream out;
        out.imbue(std::locale::classic());
        out << value;
        if (out.fail())
            return Varnholt::ERR_DATATYPE_MISMATCH;
        text = out.str();
        return Varnholt::ERR_SUCCESS;
    });
}

} // namespace

namespace {

// The path resolved once in this process, in both forms: the wide one is what the file calls use,
// so that a locale the application sets later cannot lead them to another file.
struct ResolvedPath {
    platform::Mutex mutex;
    std::string narrow; // empty until resolved
    std::wstring wide;
};

ResolvedPath& resolvedPath()
{
    static ResolvedPath path;
    return path;
}

// The wide path behind a narrow one: the resolved settings path as it was resolved, any other
// path in the current locale.
std::optional<std::wstring> widePathOf(const std::string& path)
{
    ResolvedPath& resolved = resolvedPath();
    {
        std::lock_guard lock(resolved.mutex);
        if (!resolved.narrow.empty() && path == resolved.narrow)
            return resolved.wide;
    }
    return platform::widePath(path);
}

} // namespace

std::string settingsPath()
{
    ResolvedPath& resolved = resolvedPath();
    std::lock_guard lock(resolved.mutex);
    if (!resolved.narrow.empty())
        return resolved.narrow;
    const auto file = settingsFileInFolder();
    if (!file)
        return fallbackSettingsPath; // not remembered: the next call asks again
    const auto narrow = platform::narrowPath(*file);
    if (!narrow || narrow->empty())
        return fallbackSettingsPath;
    resolved.narrow = *narrow;
    resolved.wide = *file;
    return resolved.narrow;
}

ResultCode intToText(std::int32_t value, std::string& text)
{
    return formatNumber(value, text);
}

ResultCode doubleToText(double value, std::string& text)
{
    if (!std::isfinite(value))
        return Varnholt::ERR_DATATYPE_MISMATCH;
    // The shortest text that reads back as this very value: six significant digits would hand the
    // next reader another number (a k fitted to the user's level would then miss that level).
    char digits[32];
    const auto [end, error] = std::to_chars(digits, digits + sizeof digits, value);
    if (error != std::errc{})
        return Varnholt::ERR_DATATYPE_MISMATCH;
    text.assign(digits, end);
    return Varnholt::ERR_SUCCESS;
}

ResultCode textToInt(const std::string& text, std::int32_t& value)
{
    return parseNumber(text, value);
}

ResultCode textToDouble(const std::string& text, double& value)
{
    return parseNumber(text, value);
}

void readSettingsText(std::string_view text, SettingsEntries& entries)
{
    while (!text.empty()) {
        const auto end = text.find('\n');
        std::string_view line = text.substr(0, end);
        if (end != std::string_view::npos && !line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        readLine(line, entries);
        if (end == std::string_view::npos)
            break;
        text.remove_prefix(end + 1);
    }
}

std::string settingsText(const SettingsEntries& entries, const std::string& key, const std::string& value,
                         std::string_view lineEnd)
{
    std::string out;
    bool matched = false;
    for (const auto& [entryKey, entryValue] : entries) {
        const bool isKey = entryKey == key;
        matched = matched || isKey;
        out.append(entryKey).append("=").append(isKey ? value : entryValue).append(lineEnd);
    }
    if (!matched)
        out.append(key).append(" = ").append(value).append(lineEnd);
    return out;
}

SettingsFile::SettingsFile()
{
    // Always the machine-wide lock first, then the session's: no two cycles wait for each other
    // the other way round. Programs that take the session's lock alone still exclude the cycles of
    // their own session.
    if (!platform::unprefixedNamesSpanSessions() &&
        createSemaphore(settingsSessionsLockName, sessionsLock_)) {
        sessionsLocked_ = platform::takeSemaphore(sessionsLock_, platform::waitForever);
        refused_ = !sessionsLocked_;
    }
    if (!refused_ && createSemaphore(settingsLockName, lock_)) {
        locked_ = platform::takeSemaphore(lock_, platform::waitForever);
        refused_ = !locked_;
    }
}

SettingsFile::~SettingsFile()
{
    // Only a lock this object took is given back: another's must stay taken.
    if (locked_)
        platform::giveSemaphore(lock_);
    platform::closeSemaphore(lock_);
    if (sessionsLocked_)
        platform::giveSemaphore(sessionsLock_);
    platform::closeSemaphore(sessionsLock_);
}

void SettingsFile::loadSettings(const std::string& path)
{
    path_ = path;
    widePath_ = widePathOf(path).value_or(std::wstring());
    const platform::FileContent file = platform::readWholeFile(widePath_, maxSettingsFileBytes);
    // A file that is there but cannot be read whole must not be replaced by what little we know.
    rewritable_ = file.status != platform::ReadStatus::Failed;
    if (file.status == platform::ReadStatus::Ok)
        readSettingsText(file.bytes, entries_);
}

std::string SettingsFile::getValue(const std::string& key)
{
    // A key the file could not give back as written is not added: the next rewrite would turn it
    // into other lines (a line break) or another key (an '=').
    if (storableKey(std::string(trimSpaces(key))))
        return entries_[key];
    const auto found = entries_.find(key);
    return found != entries_.end() ? found->second : std::string();
}

bool SettingsFile::setValue(const std::string& key, const std::string& value)
{
    const std::string k(trimSpaces(key));
    const std::string v(trimSpaces(value));
    if (!storable(k, v))
        return false;
    const std::string content = settingsText(entries_, k, v, platform::textLineEnd());
    // A file this store would refuse to read back would silence every later read and write.
    if (content.size() > maxSettingsFileBytes)
        return false;
    entries_[k] = v;
    // Without the lock that was to be had, another cycle may be rewriting the file.
    if (widePath_.empty() || !rewritable_ || refused_)
        return false;
    platform::ReplaceStatus status = platform::replaceFile(widePath_, content);
    // Our own folder vanished since the path was resolved: make it again, as the resolution did.
    if (status == platform::ReplaceStatus::FolderMissing && path_ == settingsPath() && settingsFileInFolder())
        status = platform::replaceFile(widePath_, content);
    return status == platform::ReplaceStatus::Done;
}

ResultCode readSetting(const char* key, std::string& text)
{
    std::array<std::string, 1> texts;
    const ResultCode read = readSettings<1>({key}, texts);
    if (read == Varnholt::ERR_SUCCESS)
        text = std::move(texts[0]);
    return read;
}

ResultCode readSettingNumber(const char* key, std::int32_t& value)
{
    std::string text;
    if (const ResultCode read = readSetting(key, text); read != Varnholt::ERR_SUCCESS)
        return read;
    std::int32_t number = 0;
    const ResultCode parsed = textToInt(text, number);
    if (parsed == Varnholt::ERR_MEMORY_ALLOCATION_FAILED)
        return parsed;
    value = parsed == Varnholt::ERR_SUCCESS ? number : 0;
    return Varnholt::ERR_SUCCESS;
}

ResultCode writeSettings(std::initializer_list<Setting> settings, bool* stored)
{
    bool all = true;
    const ResultCode written = settingsCycle([&](SettingsFile& file) {
        for (const auto& [key, value] : settings)
            all = file.setValue(key, std::string(value)) && all;
        return Varnholt::ERR_SUCCESS;
    });
    if (written == Varnholt::ERR_SUCCESS && stored != nullptr)
        *stored = all;
    return written;
}

ResultCode writeSetting(const char* key, std::string_view value, bool* stored)
{
    return writeSettings({{key, value}}, stored);
}

ResultCode writeSettingNumber(const char* key, double value)
{
    return settingsCycle([&](SettingsFile& file) {
        std::string text;
        const ResultCode formatted = doubleToText(value, text);
        if (formatted == Varnholt::ERR_SUCCESS)
            file.setValue(key, text);
        return formatted;
    });
}

} // namespace pelmux
