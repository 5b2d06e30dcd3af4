// The settings file reader and the text-to-number conversions: any bytes, never a crash, a hang or
// a read past them; and what a rewrite writes reads back as the same settings.
#include "frame/SettingsFile.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

// Entries the file format cannot carry as written, whatever the writer does: a key that begins with
// ';' reads back as a comment, and a carriage return at the end of a value goes with the line end.
bool carriedAsWritten(const pelmux::SettingsEntries& entries)
{
    for (const auto& [key, value] : entries)
        if ((!key.empty() && key.front() == ';') || (!value.empty() && value.back() == '\r'))
            return false;
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);

    std::int32_t number = 0;
    double real = 0;
    pelmux::textToInt(text, number);
    pelmux::textToDouble(text, real);

    pelmux::SettingsEntries entries;
    pelmux::readSettingsText(text, entries);
    if (!carriedAsWritten(entries))
        return 0;
    for (const char* lineEnd : {"\n", "\r\n"}) {
        const std::string rewritten = pelmux::settingsText(entries, "FuzzKey", "1", lineEnd);
        pelmux::SettingsEntries again;
        pelmux::readSettingsText(rewritten, again);
        pelmux::SettingsEntries expected = entries;
        expected["FuzzKey"] = "1";
        if (again != expected)
            std::abort();
    }
    return 0;
}
