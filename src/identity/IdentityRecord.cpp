#include "identity/IdentityRecord.h"

#include "platform/Time.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace pelmux {

namespace {

constexpr std::uint8_t endOfText = 0xFF;

bool endsText(std::uint8_t byte)
{
    return byte == 0x00 || byte == 0xFF;
}

bool endsValue(std::uint8_t byte)
{
    return byte == ' ' || byte == '\r' || byte == '\n';
}

// The pieces of an identity EEPROM through the vendor library, on an opened board.
class VendorPieces final : public EepromPieces {
public:
    VendorPieces(BoardHandle handle, std::uint8_t address) : handle_(handle), address_(address) {}
    bool read(std::uint32_t offset, std::span<std::uint8_t, idEepromReadPiece> piece) override
    {
        return readIdEepromPiece(handle_, address_, offset, piece);
    }

private:
    BoardHandle handle_;
    std::uint8_t address_;
};

} // namespace

IdentityRecord::IdentityRecord(std::uint32_t deviceNumber) : deviceNumber_(deviceNumber)
{
    std::memset(text_, endOfText, sizeof text_);
}

IdentityRecord::~IdentityRecord()
{
    if (!usedVendor_)
        return;
    closeBoard(jidaHandle_);
    platform::boardLibExit();
}

std::uint8_t IdentityRecord::addressByte() const
{
    return deviceNumber_ == 1 ? unitEepromAddress : expansionEepromAddress;
}

void IdentityRecord::clear()
{
    valid_ = false;
    length_ = size;
    std::memset(text_, endOfText, sizeof text_);
}

bool IdentityRecord::loadIdentity()
{
    clear();
    usedVendor_ = true;
    if (!openBoard(jidaHandle_))
        return false;
    VendorPieces pieces(jidaHandle_, addressByte());
    return loadFrom(pieces);
}

bool IdentityRecord::loadFrom(EepromPieces& pieces)
{
    clear();
    Image image;
    std::memset(image, endOfText, sizeof image);
    for (std::uint32_t offset = 0; offset < size; offset += idEepromReadPiece) {
        const std::span<std::uint8_t, idEepromReadPiece> piece(image + offset, idEepromReadPiece);
        if (!pieces.read(offset, piece))
            return false;
        // The text ends in this piece: nothing after it is needed.
        if (std::any_of(piece.begin(), piece.end(), endsText))
            break;
    }
    adoptImage(image);
    return valid_;
}

void IdentityRecord::adoptImage(const Image& image)
{
    std::memcpy(text_, image, sizeof text_);
    const auto* end = std::find_if(text_, text_ + size, endsText);
    if (end != text_ + size && *end == 0x00)
        text_[end - text_] = endOfText;
    length_ = static_cast<std::uint32_t>(end - text_);
    valid_ = length_ >= minLength && length_ <= maxLength;
}

std::optional<std::size_t> IdentityRecord::findKey(std::string_view key) const
{
    const std::string_view text(reinterpret_cast<const char*>(text_), length_);
    if (text.starts_with(key))
        return 0;
    for (std::size_t at = text.find('\n'); at != std::string_view::npos; at = text.find('\n', at + 1)) {
        if (text.substr(at + 1).starts_with(key))
            return at + 1;
    }
    return std::nullopt;
}

std::optional<std::size_t> IdentityRecord::findColon(std::size_t from) const
{
    const std::string_view text(reinterpret_cast<const char*>(text_), length_);
    const std::size_t at = text.find(':', from);
    if (at == std::string_view::npos)
        return std::nullopt;
    return at;
}

std::size_t IdentityRecord::valueEnd(std::size_t from) const
{
    std::size_t at = from;
    while (at < length_ && !endsValue(text_[at]))
        ++at;
    return at;
}

std::optional<std::string_view> IdentityRecord::findValue(std::string_view key) const
{
    if (!valid_)
        return std::nullopt;
    const auto match = findKey(key);
    if (!match)
        return std::nullopt;
    const auto colon = findColon(*match);
    if (!colon)
        return std::nullopt;
    const std::size_t start = *colon + 1;
    const std::size_t end = valueEnd(start);
    if (end == start)
        return std::nullopt;
    const std::size_t kept = std::min(end - start, valueCapacity - 1);
    return std::string_view(reinterpret_cast<const char*>(text_) + start, kept);
}

bool IdentityRecord::findValue(const char* key, char* value) const
{
    if (key == nullptr || value == nullptr)
        return false;
    const auto found = findValue(std::string_view(key));
    if (!found)
        return false;
    std::memcpy(value, found->data(), found->size());
    value[found->size()] = '\0';
    return true;
}

bool IdentityRecord::buildReplacement(std::string_view key, std::string_view newValue, Image& image) const
{
    if (!valid_)
        return false;
    const auto match = findKey(key);
    if (!match)
        return false;
    const auto colon = findColon(*match);
    if (!colon)
        return false;
    if (std::any_of(newValue.begin(), newValue.end(),
                    [](char c) { return endsText(static_cast<std::uint8_t>(c)); }))
        return false;

    const std::size_t head = *colon + 1;     // the text up to and including the ':'
    const std::size_t tail = valueEnd(head); // the rest of the old text, from the value's end on
    const std::size_t newLength = head + newValue.size() + (length_ - tail);
    if (newLength < minLength || newLength > maxLength)
        return false;

    std::memset(image, endOfText, sizeof image);
    std::memcpy(image, text_, head);
    std::memcpy(image + head, newValue.data(), newValue.size());
    std::memcpy(image + head + newValue.size(), text_ + tail, length_ - tail);
    return true;
}

bool IdentityRecord::replaceValue(const char* key, const char* newValue)
{
    if (key == nullptr || newValue == nullptr)
        return false;
    Image image;
    if (!buildReplacement(key, newValue, image))
        return false;
    const bool written = writeIdEeprom(jidaHandle_, addressByte(), image);
    platform::sleepMs(settleMs);
    if (written) {
        loadIdentity();
        platform::sleepMs(settleMs);
    }
    return written;
}

IdentityRecord* loadedIdentityRecord(std::uint32_t deviceNumber)
{
    auto* record = new (std::nothrow) IdentityRecord(deviceNumber);
    if (record != nullptr)
        record->loadIdentity();
    return record;
}

std::optional<std::string_view> lookUpIdentity(const IdentityRecord* record, const char* key)
{
    if (record == nullptr || !record->valid() || key == nullptr)
        return std::nullopt;
    return record->findValue(key);
}

Varnholt::ResultCode copyIdentityText(std::optional<std::string_view> value, char* buffer, int length)
{
    if (!value)
        return Varnholt::ERR_JIDA_EEPROM_ACCESS;
    if (length < 0 || value->size() > static_cast<std::size_t>(length))
        return Varnholt::ERR_BUFFER_SIZE_ERROR;
    if (buffer == nullptr)
        return Varnholt::ERR_INVALID_PARAMETER_NULL;
    std::memcpy(buffer, value->data(), value->size());
    buffer[value->size()] = '\0';
    return Varnholt::ERR_SUCCESS;
}

} // namespace pelmux
