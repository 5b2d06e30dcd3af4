#include "firmware/HexImage.h"

#include <algorithm>
#include <array>

namespace pelmux {

namespace {

using Varnholt::ERR_CHECKSUM_INCORRECT;
using Varnholt::ERR_INVALID_DATA_RANGE;
using Varnholt::ERR_SUCCESS;

// One byte from two hexadecimal digits, or -1 when either is not one.
int parsePair(const char* text)
{
    const unsigned high = hexDigits[static_cast<unsigned char>(text[0])];
    const unsigned low = hexDigits[static_cast<unsigned char>(text[1])];
    if (((high | low) & 0xF0) != 0)
        return -1;
    return static_cast<int>((high << 4) | low);
}

constexpr std::uint32_t recordData = 0;
constexpr std::uint32_t recordEndOfFile = 1;
constexpr std::uint32_t recordSegmentAddress = 2;
constexpr std::uint32_t recordLinearAddress = 4;
constexpr std::uint64_t windowBytes = 0x10000;
// ":" is followed by the length (2 digits), the offset (4) and the type (2).
constexpr std::size_t recordHeaderLength = 8;

// The Intel HEX reader. Data bytes land at their address relative to the start of the image's
// first window; records must come in ascending, non-overlapping order within the image. The text
// ends where the file ended or a read of it failed: either way a record cut short there is judged
// as far as it goes.
class HexReader {
public:
    HexReader(HexImage& image, const ReadProgress& post) : image_(image), post_(post) {}

    ResultCode read(const ImageText& file)
    {
        text_ = file.text;
        image_.data.reserve(std::min<std::uint32_t>(file.progressSize / 2, maxHexImageBytes));
        for (;;) {
            if (next_ == text_.size())
                return fail(ERR_INVALID_DATA_RANGE, 100);
            const char c = text_[next_++];
            if (c == '\r' || c == '\n')
                continue;
            if (c != ':')
                return fail(ERR_INVALID_DATA_RANGE, 0);
            const ResultCode result = readRecord();
            if (result != ERR_SUCCESS || ended_)
                return result;
            // Every character read so far counts, line ends included.
            post_(ERR_SUCCESS, readPercent(static_cast<std::uint32_t>(next_), file.progressSize));
        }
    }

private:
    // Up to `count` characters from where reading stands, fewer at the end of the text.
    std::string_view take(std::size_t count)
    {
        const std::string_view taken = text_.substr(next_, count);
        next_ += taken.size();
        return taken;
    }

    ResultCode readRecord()
    {
        const std::string_view header = take(recordHeaderLength);
        if (header.size() < recordHeaderLength)
            return fail(ERR_INVALID_DATA_RANGE, 100);
        std::uint32_t length = 0;
        std::uint32_t offset = 0;
        std::uint32_t type = 0;
        if (!parseHex(header.data(), 2, length) || !parseHex(header.data() + 2, 4, offset) ||
            !parseHex(header.data() + 6, 2, type))
            return fail(ERR_INVALID_DATA_RANGE, 0);
        std::uint32_t sum = length + (offset >> 8) + (offset & 0xFF) + type;

        // The data pairs and the checksum pair, taken at once; a record cut short by the end of
        // the text is judged pair by pair as far as it goes.
        const std::size_t dataChars = 2 * std::size_t{length};
        const std::string_view pairs = take(dataChars + 2);
        std::array<std::uint8_t, 255> bytes{};
        for (std::uint32_t i = 0; i < length; ++i) {
            if (2 * std::size_t{i} + 2 > pairs.size())
                return fail(ERR_INVALID_DATA_RANGE, 100);
            const int value = parsePair(pairs.data() + 2 * i);
            if (value < 0)
                return fail(ERR_INVALID_DATA_RANGE, 0);
            bytes[i] = static_cast<std::uint8_t>(value);
            sum += static_cast<std::uint32_t>(value);
        }
        const int checksum = pairs.size() == dataChars + 2 ? parsePair(pairs.data() + dataChars) : -1;
        if (checksum < 0)
            return fail(ERR_CHECKSUM_INCORRECT, 0);
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
    // is the first non-zero one named; a later window below it is refused. The image grows only
    // when data comes: a window named without data after it adds nothing.
    ResultCode enterWindow(std::uint64_t start, bool segmented)
    {
        const std::uint64_t window = start / windowBytes;
        if (image_.base == 0)
            image_.base = static_cast<std::uint32_t>(window);
        else if (window < image_.base)
            return fail(ERR_INVALID_DATA_RANGE, 0);
        const std::uint64_t origin = originWindow();
        if (window < origin || (window - origin) * windowBytes > maxHexImageBytes)
            return fail(ERR_INVALID_DATA_RANGE, 0);
        segmentStart_ = start;
        segmented_ = segmented;
        return ERR_SUCCESS;
    }

    // A data record: the bytes go to their place; the gap before them is filled with 0x00. A record
    // without data bytes adds nothing, not even the gap before its offset.
    ResultCode place(std::uint32_t offset, const std::uint8_t* bytes, std::uint32_t length)
    {
        if (length == 0)
            return ERR_SUCCESS;
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
    std::string_view text_;
    std::size_t next_ = 0; // characters read
    std::uint64_t segmentStart_ = 0;
    bool segmented_ = false;
    std::uint32_t origin_ = 0;
    bool originFixed_ = false;
    bool ended_ = false;
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

ResultCode readHexImage(std::span<const std::uint8_t> bytes, HexImage& image, const ReadProgress& post)
{
    return readIntoEmpty(image, post, [&] { return HexReader(image, post).read(ImageText::of(bytes)); });
}

ResultCode readHexImage(const char* fileName, HexImage& image, const ReadProgress& post)
{
    return readIntoEmpty(image, post, [&] {
        return readImageFile(fileName, true, post,
                             [&](const ImageText& text) { return HexReader(image, post).read(text); });
    });
}

} // namespace pelmux
