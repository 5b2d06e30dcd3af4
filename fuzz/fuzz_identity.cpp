// The identity text of an EEPROM: any 4096 bytes, loaded piece by piece up to the text's end as a
// load of the whole EEPROM would load them, searched by key and rewritten value by value, never
// read or written past the record. The input is split into the image and, after it, a key and a
// new value separated by a 0x00 byte (both may be empty); its size chooses a piece that fails.
#include "identity/IdentityRecord.h"
#include "platform/Time.h"
#include "shared/IdentityLoads.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

namespace {

const char* const knownKeys[] = {"PCB_SERIAL", "UNIT_SERIAL", "PCB_ART",  "DATE",  "DATA",      "PCB_REV",
                                 "HWVERSION",  "PROD_REV",    "PROD_ART", "ETH",   "CAN",       "VIDEO",
                                 "USBHOST",    "RS232",       "SERIAL",   "DIGIO", "DISPLAY",   "TOUCH",
                                 "BATTERY",    "WLAN",        "GPS",      "GSM",   "BLUETOOTH", ""};

void check(bool condition)
{
    if (!condition)
        std::abort();
}

// The text of an image: up to its first 0xFF.
std::string_view textOf(const std::uint8_t* image)
{
    const auto* end = std::find(image, image + pelmux::IdentityRecord::size, 0xFF);
    return std::string_view(reinterpret_cast<const char*>(image), static_cast<std::size_t>(end - image));
}

void searchAll(const pelmux::IdentityRecord& record, std::string_view extraKey)
{
    // An exact-size buffer, so that the address sanitizer sees a write past its end.
    auto value = std::make_unique<char[]>(pelmux::IdentityRecord::valueCapacity);
    for (const char* key : knownKeys) {
        if (record.findValue(key, value.get()))
            check(std::strlen(value.get()) <= 254 && std::strlen(value.get()) > 0);
    }
    const std::string key(extraKey);
    if (record.findValue(key.c_str(), value.get()))
        check(std::strlen(value.get()) <= 254);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // Nothing answers here: a rewrite's EEPROM write fails at once, without waiting.
    ::setenv("PELMUX_ROOT", "/nonexistent/pelmux-fuzz", 1);
    pelmux::platform::setTimeScale(0.0);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    constexpr std::size_t imageSize = pelmux::IdentityRecord::size;
    pelmux::IdentityRecord::Image image;
    std::memset(image, 0xFF, sizeof image);
    const std::size_t imageBytes = std::min(size, imageSize);
    std::memcpy(image, data, imageBytes);
    const std::string_view rest(reinterpret_cast<const char*>(data) + imageBytes, size - imageBytes);
    const std::size_t split = std::min(rest.find('\0'), rest.size());
    const std::string_view key = rest.substr(0, split);
    const std::string_view newValue = split < rest.size() ? rest.substr(split + 1) : std::string_view();

    // Short inputs are identity texts themselves; the key and value then come from known keys.
    const std::string chosenKey = rest.empty() ? knownKeys[size % std::size(knownKeys)] : std::string(key);
    const std::string chosenValue = rest.empty() ? std::string("v") : std::string(newValue);

    // Loaded up to the text's end, with one piece failing (or none).
    check(pelmux::shared::leanLoadDifference(image, static_cast<int>(size % 33) - 1).empty());

    auto record = std::make_unique<pelmux::IdentityRecord>(1 + size % 2);
    record->adoptImage(image);
    check(record->length() <= imageSize);
    check(record->valid() == (record->length() >= 20 && record->length() <= 4076));
    searchAll(*record, chosenKey);

    pelmux::IdentityRecord::Image rewritten;
    if (record->buildReplacement(chosenKey, chosenValue, rewritten)) {
        // The new text loads back as a valid record whose value of the key is the new one (as far
        // as a value goes), and keeps every byte before the value and after the old value.
        auto reloaded = std::make_unique<pelmux::IdentityRecord>(1);
        reloaded->adoptImage(rewritten);
        check(reloaded->valid());
        const std::string_view before = textOf(record->text());
        const std::string_view after = textOf(rewritten);
        check(after.size() + record->length() >= before.size());
        const auto oldValue = record->findValue(chosenKey);
        if (oldValue)
            check(after.size() == before.size() - oldValue->size() + chosenValue.size() ||
                  oldValue->size() == 254);
        searchAll(*reloaded, chosenKey);
    }
    // The whole rewrite: no unit answers, so it fails after building the image, and leaves the record.
    const std::string keyText(chosenKey.c_str());
    const std::string valueText(chosenValue.c_str());
    const std::uint32_t lengthBefore = record->length();
    check(!record->replaceValue(keyText.c_str(), valueText.c_str()));
    check(record->length() == lengthBefore);
    return 0;
}
