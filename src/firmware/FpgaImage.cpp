#include "firmware/FpgaImage.h"

#include <algorithm>
#include <array>

namespace pelmux {

namespace {

// One data line's 16 data bytes onto the end of `image`.
ResultCode takeLine(std::string_view line, std::vector<std::uint8_t>& image)
{
    // Characters 1 to 40: 20 bytes (count, 16-bit address, type, 16 data bytes); 41 and 42: the
    // checksum. The first character is not looked at.
    constexpr std::size_t lineBytes = 20;
    constexpr std::size_t firstData = 4;
    if (line.size() < 1 + 2 * lineBytes + 2)
        return Varnholt::ERR_INVALID_DATA_RANGE;
    std::array<std::uint8_t, lineBytes> bytes{};
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i < lineBytes; ++i) {
        std::uint32_t value = 0;
        if (!parseHex(line.data() + 1 + 2 * i, 2, value))
            return Varnholt::ERR_INVALID_DATA_RANGE;
        bytes[i] = static_cast<std::uint8_t>(value);
        sum += value;
    }
    std::uint32_t checksum = 0;
    if (!parseHex(line.data() + 1 + 2 * lineBytes, 2, checksum))
        return Varnholt::ERR_INVALID_DATA_RANGE;
    if (((sum + checksum) & 0xFF) != 0)
        return Varnholt::ERR_CHECKSUM_INCORRECT;
    image.insert(image.end(), bytes.begin() + firstData, bytes.end());
    return Varnholt::ERR_SUCCESS;
}

// The reader itself; a failure is posted and leaves the rest of the text unread.
ResultCode readLines(const ImageText& file, std::vector<std::uint8_t>& image, const ReadProgress& post)
{
    // The text goes in pieces of at most this many characters, as a 255-character line buffer
    // with its terminator takes it: a longer line arrives in several pieces.
    constexpr std::size_t pieceLength = 254;
    // A piece of this many characters or fewer, line end included, holds no data.
    constexpr std::size_t shortLine = 40;
    image.reserve(file.progressSize / 3);
    std::uint32_t consumed = 0;
    std::string_view rest = file.text;
    for (;;) {
        // The next piece: up to its line end, at most pieceLength characters.
        const std::size_t window = std::min(rest.size(), pieceLength);
        const std::size_t lineEnd = rest.substr(0, window).find('\n');
        // A piece the end of the text cut short where a read failed is never taken.
        if (lineEnd == std::string_view::npos && window < pieceLength && file.cutShort) {
            post(Varnholt::ERR_INVALID_DATA_RANGE, 100);
            return Varnholt::ERR_INVALID_DATA_RANGE;
        }
        const std::size_t length = lineEnd == std::string_view::npos ? window : lineEnd + 1;
        if (length == 0)
            break;
        const std::string_view piece = rest.substr(0, length);
        rest.remove_prefix(length);
        // The count leaves out one character: the line end of a whole line.
        consumed += static_cast<std::uint32_t>(length) - 1;
        if (length <= shortLine)
            continue;
        const std::uint8_t percent = readPercent(consumed, file.progressSize);
        post(Varnholt::ERR_SUCCESS, percent);
        const ResultCode result = takeLine(piece, image);
        if (result != Varnholt::ERR_SUCCESS) {
            post(result, percent);
            return result;
        }
    }
    post(Varnholt::ERR_SUCCESS, 100);
    return Varnholt::ERR_SUCCESS;
}

} // namespace

ResultCode readFpgaImage(std::span<const std::uint8_t> bytes, std::vector<std::uint8_t>& image,
                         const ReadProgress& post)
{
    return readIntoEmpty(image, post, [&] { return readLines(ImageText::of(bytes), image, post); });
}

ResultCode readFpgaImage(const char* fileName, std::vector<std::uint8_t>& image, const ReadProgress& post)
{
    return readIntoEmpty(image, post, [&] {
        return readImageFile(fileName, false, post,
                             [&](const ImageText& text) { return readLines(text, image, post); });
    });
}

} // namespace pelmux
