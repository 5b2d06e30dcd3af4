#include "firmware/FpgaImage.h"

#include <algorithm>
#include <array>

namespace pelmux {

namespace {

using Varnholt::ERR_CHECKSUM_INCORRECT;
using Varnholt::ERR_INVALID_DATA_RANGE;
using Varnholt::ERR_SUCCESS;

// The reader takes the text in pieces of at most this many characters, as a 255-character line
// buffer with its terminator does: a longer line arrives in several pieces.
constexpr std::size_t pieceLength = 254;
// A piece of this many characters or fewer, line end included, holds no data.
constexpr std::size_t shortLine = 40;
// Characters 1 to 40: 20 bytes (count, 16-bit address, type, 16 data bytes); 41 and 42: checksum.
constexpr std::size_t lineBytes = 20;
constexpr std::size_t firstData = 4;

class FpgaReader {
public:
    FpgaReader(std::vector<std::uint8_t>& image, const ReadProgress& post) : image_(image), post_(post) {}

    ResultCode read(const ImageText& file)
    {
        image_.reserve(file.progressSize / 3);
        std::uint32_t consumed = 0;
        std::string_view rest = file.text;
        for (;;) {
            // The next piece: up to its line end, at most pieceLength characters.
            const std::size_t window = std::min(rest.size(), pieceLength);
            const std::size_t lineEnd = rest.substr(0, window).find('\n');
            // A piece the end of the text cut short where a read failed is never taken.
            if (lineEnd == std::string_view::npos && window < pieceLength && file.cutShort)
                return fail(ERR_INVALID_DATA_RANGE, 100);
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
            post_(ERR_SUCCESS, percent);
            const ResultCode result = takeLine(piece);
            if (result != ERR_SUCCESS)
                return fail(result, percent);
        }
        post_(ERR_SUCCESS, 100);
        return ERR_SUCCESS;
    }

private:
    ResultCode takeLine(std::string_view line)
    {
        if (line.size() < 1 + 2 * lineBytes + 2)
            return ERR_INVALID_DATA_RANGE;
        std::array<std::uint8_t, lineBytes> bytes{};
        std::uint32_t sum = 0;
        for (std::size_t i = 0; i < lineBytes; ++i) {
            std::uint32_t value = 0;
            if (!parseHex(line.data() + 1 + 2 * i, 2, value))
                return ERR_INVALID_DATA_RANGE;
            bytes[i] = static_cast<std::uint8_t>(value);
            sum += value;
        }
        std::uint32_t checksum = 0;
        if (!parseHex(line.data() + 1 + 2 * lineBytes, 2, checksum))
            return ERR_INVALID_DATA_RANGE;
        if (((sum + checksum) & 0xFF) != 0)
            return ERR_CHECKSUM_INCORRECT;
        image_.insert(image_.end(), bytes.begin() + firstData, bytes.end());
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

ResultCode readFpgaImage(std::span<const std::uint8_t> bytes, std::vector<std::uint8_t>& image,
                         const ReadProgress& post)
{
    return readIntoEmpty(image, post, [&] { return FpgaReader(image, post).read(ImageText::of(bytes)); });
}

ResultCode readFpgaImage(const char* fileName, std::vector<std::uint8_t>& image, const ReadProgress& post)
{
    return readIntoEmpty(image, post, [&] {
        return readImageFile(fileName, false, post,
                             [&](const ImageText& text) { return FpgaReader(image, post).read(text); });
    });
}

} // namespace pelmux
