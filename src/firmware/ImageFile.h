// Firmware image files: a file a caller names, read whole, and what both image readers share of
// the text they take (hexadecimal digits, progress, the way a reading ends).
#pragma once

#include "firmware/FirmwareJob.h"
#include "platform/Device.h"
#include "platform/Memory.h"

#include <pelmux/ResultCode.h>

#include <array>
#include <cstdint>
#include <functional>
#include <new>
#include <span>
#include <string>
#include <string_view>

namespace pelmux {

using Varnholt::ResultCode;

// Posts (errorCode, percent) within the reading step.
using ReadProgress = std::function<void(ResultCode errorCode, std::uint8_t percent)>;

// An image file a caller names by its 8-bit path (platform::openImageFile), open while the object
// lives.
class ImageFile {
public:
    // `exclusive` opens it without sharing. Failure shows in isOpen().
    ImageFile(const char* name, bool exclusive);
    ~ImageFile();
    ImageFile(const ImageFile&) = delete;
    ImageFile& operator=(const ImageFile&) = delete;

    bool isOpen() const { return handle_ != platform::invalidHandle(); }
    // The size the file system reports; false when it cannot tell.
    bool size(std::uint64_t& bytes) const;
    // The next `count` bytes into `text`, replacing it; false when a read fails or the file ends
    // first.
    bool read(std::uint64_t count, std::string& text);
    // The rest of the file into `text`, replacing it, read 64 KB at a time; false when a read fails
    // before the end, `text` then holding what came before the failed read. More than memory can
    // hold throws std::bad_alloc, as the allocation itself would.
    bool readToEnd(std::string& text);

private:
    platform::Handle handle_;
};

// The text an image reader takes.
struct ImageText {
    std::string_view text;
    // What the reader's percentages count against: the text's size, or for a file the size the
    // file system reported (0 when it could not tell), both as unsigned 32-bit numbers.
    std::uint32_t progressSize = 0;
    // A read failed after `text`: the file goes on, unread.
    bool cutShort = false;

    // A caller's bytes, whole.
    static ImageText of(std::span<const std::uint8_t> bytes)
    {
        return {std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()),
                static_cast<std::uint32_t>(bytes.size()), false};
    }
};

// The percent of an image text a reader has consumed; 100 for an empty file.
inline std::uint8_t readPercent(std::uint32_t consumed, std::uint32_t progressSize)
{
    return progressSize == 0 ? 100 : percentOf(consumed, progressSize);
}

// The value of each character as a hexadecimal digit, or 0xFF for any other character.
inline constexpr std::array<std::uint8_t, 256> hexDigits = [] {
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
inline bool parseHex(const char* text, int digits, std::uint32_t& value)
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

// Runs a reader `read` that fills `image` from nothing: exhausted memory posts
// (ERR_INITIALISATION_FAILED, 0) and answers 13; on any failure the image is left empty.
template <class Image, class Read> ResultCode readIntoEmpty(Image& image, const ReadProgress& post, Read read)
{
    image = Image{};
    bool exhausted = true;
    ResultCode result = platform::unlessMemoryExhaustedAnywhere(Varnholt::ERR_INITIALISATION_FAILED, [&] {
        const ResultCode done = read();
        exhausted = false;
        return done;
    });
    if (exhausted)
        post(Varnholt::ERR_INITIALISATION_FAILED, 0);
    if (result != Varnholt::ERR_SUCCESS)
        image = Image{};
    return result;
}

// Opens the image file `fileName` and hands its whole text to `read`, the file staying open until
// `read` returns. A file that cannot be opened posts (ERR_OPEN_FAILED, 0) and answers 1.
template <class Read>
ResultCode readImageFile(const char* fileName, bool exclusive, const ReadProgress& post, Read read)
{
    ImageFile file(fileName, exclusive);
    if (!file.isOpen()) {
        post(Varnholt::ERR_OPEN_FAILED, 0);
        return Varnholt::ERR_OPEN_FAILED;
    }
    std::uint64_t size = 0;
    const std::uint32_t progressSize = file.size(size) ? static_cast<std::uint32_t>(size) : 0;
    std::string text;
    const bool whole = file.readToEnd(text);
    return read(ImageText{text, progressSize, !whole});
}

} // namespace pelmux
