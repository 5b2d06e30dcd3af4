// The identity text of one EEPROM (the unit's or the expansion board's): lines of a key, a colon and a
// value, at most 4096 bytes, read from the EEPROM, searched by key and rewritten value by value.
// Every search stays inside the 4096 bytes, whatever the EEPROM holds.
#pragma once

#include "frame/VendorCalls.h"

#include <pelmux/ResultCode.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace pelmux {

// Where a load reads an identity EEPROM from, one 128-byte piece at a time: the vendor library, or
// anything else that holds such an image.
class EepromPieces {
public:
    // Reads the 128 bytes at `offset` (a multiple of 128) into `piece`; false when that failed.
    virtual bool read(std::uint32_t offset, std::span<std::uint8_t, idEepromReadPiece> piece) = 0;

protected:
    ~EepromPieces() = default;
};

class IdentityRecord {
public:
    static constexpr std::size_t size = idEepromSize;
    // findValue's buffer: at most 254 characters and the NUL.
    static constexpr std::size_t valueCapacity = 255;
    // The plausible text lengths; anything else leaves the record invalid.
    static constexpr std::uint32_t minLength = 20;
    static constexpr std::uint32_t maxLength = 4076;
    // Pause after an EEPROM write and after the reload that follows it, in milliseconds.
    static constexpr std::uint32_t settleMs = 200;

    using Image = std::uint8_t[size];

    // deviceNumber 1 is the unit EEPROM (address byte 0xAE); any other value the expansion EEPROM (0xA4).
    explicit IdentityRecord(std::uint32_t deviceNumber);
    // A record that was ever loaded closes its board handle and ends its use of the vendor library
    // (boardLibExit) once.
    ~IdentityRecord();
    IdentityRecord(const IdentityRecord&) = delete;
    IdentityRecord& operator=(const IdentityRecord&) = delete;

    // Opens the boards into the record's handle and loads the record from the EEPROM (loadFrom).
    // Answers whether the record is valid afterwards.
    bool loadIdentity();

    // Loads the record from `pieces`: reads the 128-byte pieces in order up to the one that holds
    // the end of the text (its first 0x00 or 0xFF; all 32 when there is none), never one after it,
    // and adopts them with 0xFF after them (adoptImage). A piece that fails leaves the record
    // invalid; a piece after the text's end is not read, so it cannot. Answers whether the record is
    // valid afterwards.
    bool loadFrom(EepromPieces& pieces);

    // Steps 4 and 5 of a load on a given 4096-byte image: the text ends at the first 0x00 or 0xFF
    // (a 0x00 there becomes 0xFF); the record is valid when the text is 20 to 4076 bytes long.
    void adoptImage(const Image& image);

    // Copies the value of `key` (at most 254 characters) with its NUL into `value`, which holds
    // valueCapacity characters. False when the record is invalid, the key or its ':' is missing, or
    // the value is empty; `value` is then untouched.
    bool findValue(const char* key, char* value) const;
    // The same, as a view into the text.
    std::optional<std::string_view> findValue(std::string_view key) const;

    // Fills `image` with the text whose value of `key` is replaced by `newValue`, every other byte of
    // the text kept, and 0xFF after the text. False (image unspecified) when the record is invalid,
    // the key or its ':' is missing, or the new text would not load back as a valid record: shorter
    // than 20 or longer than 4076 bytes, or with a byte 0x00 or 0xFF in the new value (either would
    // end the text there and lose every line after it).
    bool buildReplacement(std::string_view key, std::string_view newValue, Image& image) const;

    // Writes the replacement image to the EEPROM, waits 200 ms and, when the write succeeded, reloads
    // the record and waits another 200 ms. Answers whether the write succeeded. A replacement that
    // cannot be built fails before anything is written.
    bool replaceValue(const char* key, const char* newValue);

    bool valid() const { return valid_; }
    std::uint32_t length() const { return length_; }
    std::uint32_t deviceNumber() const { return deviceNumber_; }
    std::uint8_t addressByte() const;
    const std::uint8_t* text() const { return text_; }

private:
    // Empty and invalid, as before any load.
    void clear();
    // Where `key` matches: the start of the text or just after a line feed; nullopt when nowhere.
    std::optional<std::size_t> findKey(std::string_view key) const;
    // The position of the first ':' at or after `from`, inside the text.
    std::optional<std::size_t> findColon(std::size_t from) const;
    // The end of the value that starts at `from`: the first space, carriage return or line feed.
    std::size_t valueEnd(std::size_t from) const;

    Image text_;
    std::uint32_t length_ = size;
    std::uint32_t deviceNumber_;
    BoardHandle jidaHandle_ = 0;
    bool valid_ = false;
    bool usedVendor_ = false;
};

// What the owners of identity records (About, the maintenance interface) share.

// A record allocated without throwing and loaded from its EEPROM; null when memory is exhausted.
// Owners treat a null record as an invalid one and free it with delete, which ends its vendor use.
IdentityRecord* loadedIdentityRecord(std::uint32_t deviceNumber);

// The value of `key` in a record that exists and is valid; nullopt otherwise or when not found.
std::optional<std::string_view> lookUpIdentity(const IdentityRecord* record, const char* key);

// A text result of an identity field: ERR_JIDA_EEPROM_ACCESS (18) when no value was found;
// ERR_BUFFER_SIZE_ERROR (6) when the value is longer than `length` characters (a negative length
// too); ERR_INVALID_PARAMETER_NULL (9) for a null buffer, tested after the length; else the value
// and its NUL are copied (length + 1 bytes at most) and ERR_SUCCESS.
Varnholt::ResultCode copyIdentityText(std::optional<std::string_view> value, char* buffer, int length);

} // namespace pelmux
