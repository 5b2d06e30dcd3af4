#include "firmware/HexImage.h"

#include "platform/Device.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <new>

namespace pelmux {

namespace {

using Varnholt::ERR_CHECKSUM_INCORRECT;
using Varnholt::ERR_INITIALISATION_FAILED;
using Varnholt::ERR_INVALID_DATA_RANGE;
using Varnholt::ERR_OPEN_FAILED;
using Varnholt::ERR_SUCCESS;

// An image file read through a buffer; the readers take it one character at a time.
class ImageFile {
public:
    enum class Got { Text, End, Failed };

    ImageFile(const char* name, bool exclusive) : handle_(platform::openImageFile(name, exclusive))
    {
        std::uint64_t bytes = 0;
        if (isOpen() && platform::fileSize(handle_, &bytes))
            size_ = static_cast<std::uint32_t>(bytes);
    }
    ~ImageFile()
    {
        if (isOpen())
            platform::closeHandle(handle_);
    }
    ImageFile(const ImageFile&) = delete;
    ImageFile& operator=(const ImageFile&) = delete;

    bool isOpen() const { return handle_ != platform::invalidHandle(); }
    // The file's size in bytes as the percentages use it (unsigned 32-bit).
    std::uint32_t size() const { return size_; }

    Got get(char& c)
    {
        if (next_ == filled_) {
            const Got refilled = refill();
            if (refilled != Got::Text)
                return refilled;
        }
        c = buffer_[next_++];
        return Got::Text;
    }

    // Up to `count` characters into `out`, copied a buffer at a time; `got` tells how many
    // arrived. Text when all did, otherwise why not.
    Got get(char* out, std::size_t count, std::size_t& got)
    {
        got = 0;
        while (got < count) {
            if (next_ == filled_) {
                const Got refilled = refill();
                if (refilled != Got::Text)
                    return refilled;
            }
            const std::size_t take = std::min(count - got, filled_ - next_);
            std::memcpy(out + got, buffer_.data() + next_, take);
            next_ += take;
            got += take;
        }
        return Got::Text;
    }

private:
    Got refill()
    {
        std::uint32_t count = 0;
        if (!platform::readHandle(handle_, buffer_.data(), static_cast<std::uint32_t>(buffer_.size()),
                                  &count))
            return Got::Failed;
        if (count == 0)
            return Got::End;
        next_ = 0;
        filled_ = count;
        return Got::Text;
    }

    platform::Handle handle_;
    std::uint32_t size_ = 0;
    std::vector<char> buffer_ = std::vector<char>(64 * 1024);
    std::size_t next_ = 0;
    std::size_t filled_ = 0;
};

// The value of each character as a hexadecimal digit, or 0xFF for any other character.
constexpr std::array<std::uint8_t, 256> hexDigits = [] {
    std::array<std::uint8_t, 256> table{};
    table.fill(0xFF);
    for (int c = 0; c < 10; ++c)
        table['0' + c] = static_cast<std::uint8_t>(c);
    for (int c = 0; c < 6; ++c) {
        table['A' + c] = static_cast<std::uint8_t>(10 + c);
        table['a' + c] = static_cast<std::uint8_t>(10 + c);
    }
    return table;
}();

// `digits` hexadecimal digits and nothing else (no blanks, signs or "0x").
bool parseHex(const char* text, int digits, std::uint32_t& value)
{
    std::uint32_t result = 0;
    for (int i = 0; i < digits; ++i) {
        const std::uint8_t digit = hexDigits[static_cast<unsigned char>(text[i])];
        if (digit == 0xFF)
            return false;
        result = (result << 4) | digit;
    }
    value = result;
    return true;
}

// One byte from two hexadecimal digits, or -1 when either is not one.
int parsePair(const char* text)
{
    const unsigned high = hexDigits[static_cast<unsigned char>(text[0])];
    const unsigned low = hexDigits[static_cast<unsigned char>(text[1])];
    if (((high | low) & 0xF0) != 0)
        return -1;
    return static_cast<int>((high << 4) | low);
}

std::uint8_t percentOf(std::uint32_t consumed, std::uint32_t fileSize)
{
    // Unsigned 32-bit arithmetic, truncated, as the progress has always been computed.
    if (fileSize == 0)
        return 100;
    return static_cast<std::uint8_t>(static_cast<std::uint32_t>(consumed * 100u) / fileSize);
}

constexpr std::uint32_t recordData = 0;
constexpr std::uint32_t recordEndOfFile = 1;
constexpr std::uint32_t recordSegmentAddress = 2;
constexpr std::uint32_t recordLinearAddress = 4;
constexpr std::uint64_t windowBytes = 0x10000;

// The Intel HEX reader. Data bytes land at their address relative to the start of the image's
// first window; records must come in ascending, non-overlapping order within the image.
class HexReader {
public:
    HexReader(HexImage& image, const ReadProgress& post) : image_(image), post_(post) {}

    ResultCode read(const char* fileName)
    {
        ImageFile file(fileName, true);
        if (!file.isOpen())
            return fail(ERR_OPEN_FAILED, 0);
        fileSize_ = file.size();
        image_.data.reserve(std::min<std::uint32_t>(fileSize_ / 2, maxHexImageBytes));
        for (;;) {
            char c = 0;
            if (file.get(c) != ImageFile::Got::Text)
                return fail(ERR_INVALID_DATA_RANGE, 100);
            ++consumed_;
            if (c == '\r' || c == '\n')
                continue;
            if (c != ':')
                return fail(ERR_INVALID_DATA_RANGE, 0);
            const ResultCode result = readRecord(file);
            if (result != ERR_SUCCESS || ended_)
                return result;
            post_(ERR_SUCCESS, percentOf(consumed_, fileSize_));
        }
    }

private:
    ResultCode readRecord(ImageFile& file)
    {
        char header[8];
        std::size_t got = 0;
        if (file.get(header, sizeof header, got) != ImageFile::Got::Text)
            return fail(ERR_INVALID_DATA_RANGE, 100);
        consumed_ += sizeof header;
        std::uint32_t length = 0;
        std::uint32_t offset = 0;
        std::uint32_t type = 0;
        if (!parseHex(header, 2, length) || !parseHex(header + 2, 4, offset) ||
            !parseHex(header + 6, 2, type))
            return fail(ERR_INVALID_DATA_RANGE, 0);
        std::uint32_t sum = length + (offset >> 8) + (offset & 0xFF) + type;

        // The data pairs and the checksum pair, taken at once; a record cut short by the end of
        // the file is judged pair by pair as far as it goes.
        std::array<char, 2 * 255 + 2> text;
        const std::size_t dataChars = 2 * std::size_t{length};
        file.get(text.data(), dataChars + 2, got);
        std::array<std::uint8_t, 255> bytes{};
        for (std::uint32_t i = 0; i < length; ++i) {
            if (2 * std::size_t{i} + 2 > got)
                return fail(ERR_INVALID_DATA_RANGE, 100);
            const int value = parsePair(text.data() + 2 * i);
            if (value < 0)
                return fail(ERR_INVALID_DATA_RANGE, 0);
            bytes[i] = static_cast<std::uint8_t>(value);
            sum += static_cast<std::uint32_t>(value);
        }
        const int checksum = got == dataChars + 2 ? parsePair(text.data() + dataChars) : -1;
        if (checksum < 0)
            return fail(ERR_CHECKSUM_INCORRECT, 0);
        consumed_ += static_cast<std::uint32_t>(dataChars + 2);
        if (((sum + static_cast<std::uint32_t>(checksum)) & 0xFF) != 0)
            return fail(ERR_CHECKSUM_INCORRECT, 0);

        switch (type) {
        case recordData:
            return place(offset, bytes.data(), length);
        case recordEndOfFile:
            ended_ = true;
            image_.origin = static_cast<std::uint32_t>(originWindow());
            post_(ERR_SUCCESS, 0);
            return ERR_SUCCESS;
        case recordLinearAddress: {
            std::uint32_t upper = offset;
            for (std::uint32_t i = 0; i < length; ++i)
                upper = (upper << 8) | bytes[i];
            return enterWindow(static_cast<std::uint64_t>(upper) * windowBytes, false);
        }
        case recordSegmentAddress: {
            std::uint32_t segment = 0;
            for (std::uint32_t i = 0; i < length; ++i)
                segment = (segment << 8) | bytes[i];
            return enterWindow(static_cast<std::uint64_t>(segment) * 16, true);
        }
        default: // start addresses and unknown types: checked, then ignored
            return ERR_SUCCESS;
        }
    }

    // An extended address record: data records now count from `start`. The image's first window
    // is the first non-zero one named; a later window below it is refused.
    ResultCode enterWindow(std::uint64_t start, bool segmented)
    {
        const std::uint64_t window = start / windowBytes;
        if (image_.base == 0)
            image_.base = static_cast<std::uint32_t>(window);
        else if (window < image_.base)
            return fail(ERR_INVALID_DATA_RANGE, 0);
        const std::uint64_t origin = originWindow();
        if (window < origin)
            return fail(ERR_INVALID_DATA_RANGE, 0);
        const std::uint64_t windowStart = (window - origin) * windowBytes;
        if (windowStart > maxHexImageBytes)
            return fail(ERR_INVALID_DATA_RANGE, 0);
        if (windowStart > image_.data.size())
            image_.data.resize(static_cast<std::size_t>(windowStart), 0x00);
        image_.size = static_cast<std::uint32_t>(image_.data.size());
        segmentStart_ = start;
        segmented_ = segmented;
        return ERR_SUCCESS;
    }

    // A data record: the bytes go to their place; the gap before them is filled with 0x00.
    ResultCode place(std::uint32_t offset, const std::uint8_t* bytes, std::uint32_t length)
    {
        if (!originFixed_) {
            origin_ = image_.base;
            originFixed_ = true;
        }
        // Within a segment the offset wraps at 64 KB, which would put the rest below the record.
        if (segmented_ && offset + length > windowBytes)
            return fail(ERR_INVALID_DATA_RANGE, 0);
        const std::uint64_t start = segmentStart_ + offset;
        const std::uint64_t imageStart = static_cast<std::uint64_t>(origin_) * windowBytes;
        if (start < imageStart)
            return fail(ERR_INVALID_DATA_RANGE, 0);
        const std::uint64_t position = start - imageStart;
        if (position < image_.data.size() || position + length > maxHexImageBytes)
            return fail(ERR_INVALID_DATA_RANGE, 0);
        image_.data.resize(static_cast<std::size_t>(position), 0x00);
        image_.data.insert(image_.data.end(), bytes, bytes + length);
        image_.size = static_cast<std::uint32_t>(image_.data.size());
        return ERR_SUCCESS;
    }

    // data[0] stands for offset 0 of this window: the first non-zero window named, or window 0
    // when data came before any.
    std::uint64_t originWindow() const { return originFixed_ ? origin_ : image_.base; }

    ResultCode fail(ResultCode code, std::uint8_t percent)
    {
        post_(code, percent);
        return code;
    }

    HexImage& image_;
    const ReadProgress& post_;
    std::uint32_t fileSize_ = 0;
    std::uint32_t consumed_ = 0;
    std::uint64_t segmentStart_ = 0;
    bool segmented_ = false;
    std::uint32_t origin_ = 0;
    bool originFixed_ = false;
    bool ended_ = false;
};

// The FPGA reader takes the file in pieces of at most this many characters, as a 255-character
// line buffer with its terminator does: a longer line arrives in several pieces.
constexpr std::size_t fpgaPieceLength = 254;
// A piece of this many characters or fewer, line end included, holds no data.
constexpr std::size_t fpgaShortLine = 40;
// Characters 1 to 40: 20 bytes (count, 16-bit address, type, 16 data bytes); 41 and 42: checksum.
constexpr std::size_t fpgaLineBytes = 20;
constexpr std::size_t fpgaFirstData = 4;

class FpgaReader {
public:
    FpgaReader(std::vector<std::uint8_t>& image, const ReadProgress& post) : image_(image), post_(post) {}

    ResultCode read(const char* fileName)
    {
        ImageFile file(fileName, false);
        if (!file.isOpen())
            return fail(ERR_OPEN_FAILED, 0);
        const std::uint32_t fileSize = file.size();
        image_.reserve(fileSize / 3);
        std::uint32_t consumed = 0;
        std::array<char, fpgaPieceLength> piece{};
        for (;;) {
            std::size_t length = 0;
            ImageFile::Got got = ImageFile::Got::Text;
            while (length < piece.size()) {
                got = file.get(piece[length]);
                if (got != ImageFile::Got::Text)
                    break;
                if (piece[length++] == '\n')
                    break;
            }
            if (got == ImageFile::Got::Failed)
                return fail(ERR_INVALID_DATA_RANGE, 100);
            if (length == 0)
                break;
            // The count leaves out one character: the line end of a whole line.
            consumed += static_cast<std::uint32_t>(length) - 1;
            if (length <= fpgaShortLine)
                continue;
            const std::uint8_t percent = percentOf(consumed, fileSize);
            post_(ERR_SUCCESS, percent);
            const ResultCode result = takeLine(piece.data(), length);
            if (result != ERR_SUCCESS)
                return fail(result, percent);
        }
        post_(ERR_SUCCESS, 100);
        return ERR_SUCCESS;
    }

private:
    ResultCode takeLine(const char* line, std::size_t length)
    {
        if (length < 1 + 2 * fpgaLineBytes + 2)
            return ERR_INVALID_DATA_RANGE;
        std::array<std::uint8_t, fpgaLineBytes> bytes{};
        std::uint32_t sum = 0;
        for (std::size_t i = 0; i < fpgaLineBytes; ++i) {
            std::uint32_t value = 0;
            if (!parseHex(line + 1 + 2 * i, 2, value))
                return ERR_INVALID_DATA_RANGE;
            bytes[i] = static_cast<std::uint8_t>(value);
            sum += value;
        }
        std::uint32_t checksum = 0;
        if (!parseHex(line + 1 + 2 * fpgaLineBytes, 2, checksum))
            return ERR_INVALID_DATA_RANGE;
        if (((sum + checksum) & 0xFF) != 0)
            return ERR_CHECKSUM_INCORRECT;
        image_.insert(image_.end(), bytes.begin() + fpgaFirstData, bytes.end());
        return ERR_SUCCESS;
    }

    ResultCode fail(ResultCode code, std::uint8_t percent)
    {
        image_.clear();
        post_(code, percent);
        return code;
    }

    std::vector<std::uint8_t>& image_;
    const ReadProgress& post_;
};

} // namespace

ImageKind imageKindOf(std::string_view text)
{
    // ":02oooo04" then the window and the checksum: 15 characters.
    constexpr std::size_t windowRecordLength = 15;
    ImageKind kind;
    kind.carriesSupervisorMarker = text.find(supervisorMarker) != std::string_view::npos;
    kind.carriesFrontMarker = text.find(frontMarker) != std::string_view::npos;
    for (std::size_t at = text.find(':'); at != std::string_view::npos && !kind.namesFlashWindow;
         at = text.find(':', at + 1)) {
        if (at > 0 && text[at - 1] != '\n' && text[at - 1] != '\r')
            continue; // a record begins a line
        const std::string_view record = text.substr(at, windowRecordLength);
        std::uint32_t length = 0, offset = 0, type = 0, window = 0, checksum = 0;
        if (record.size() < windowRecordLength || !parseHex(record.data() + 1, 2, length) ||
            !parseHex(record.data() + 3, 4, offset) || !parseHex(record.data() + 7, 2, type) ||
            !parseHex(record.data() + 9, 4, window) || !parseHex(record.data() + 13, 2, checksum))
            continue;
        const std::uint32_t sum =
            length + (offset >> 8) + (offset & 0xFF) + type + (window >> 8) + (window & 0xFF) + checksum;
        kind.namesFlashWindow = length == 2 && type == recordLinearAddress && (sum & 0xFF) == 0 &&
                                window == microControllerFlashWindow;
    }
    return kind;
}

ResultCode readHexImage(const char* fileName, HexImage& image, const ReadProgress& post)
{
    image = HexImage{};
    ResultCode result = ERR_INITIALISATION_FAILED;
    try {
        result = HexReader(image, post).read(fileName);
    } catch (const std::bad_alloc&) {
        post(ERR_INITIALISATION_FAILED, 0);
    }
    if (result != ERR_SUCCESS)
        image = HexImage{};
    return result;
}

ResultCode readFpgaImage(const char* fileName, std::vector<std::uint8_t>& image, const ReadProgress& post)
{
    image.clear();
    ResultCode result = ERR_INITIALISATION_FAILED;
    try {
        result = FpgaReader(image, post).read(fileName);
    } catch (const std::bad_alloc&) {
        post(ERR_INITIALISATION_FAILED, 0);
    }
    if (result != ERR_SUCCESS)
        image.clear();
    return result;
}

} // namespace pelmux
