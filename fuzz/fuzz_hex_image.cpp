// The Intel HEX reader: any bytes as an image's text, never a crash, a hang or a read past them; a
// text read whole gives an image no larger than the largest flash, a refused one an empty image,
// and no progress above 100 %. Records without data bytes add none: an image with bytes comes from
// a text that holds a data record with some.
#include "firmware/HexImage.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string_view>

namespace {

// Whether `text` holds a record that begins ":", a length other than "00", any offset and type
// "00" (a data record with data bytes, unless its digits are not hexadecimal).
bool holdsDataRecord(std::string_view text)
{
    for (std::size_t at = text.find(':'); at != std::string_view::npos; at = text.find(':', at + 1)) {
        const std::string_view record = text.substr(at + 1, 8);
        if (record.size() == 8 && record.substr(0, 2) != "00" && record.substr(6, 2) == "00")
            return true;
    }
    return false;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    pelmux::HexImage image;
    const pelmux::ResultCode result =
        pelmux::readHexImage(std::span(data, size), image, [](pelmux::ResultCode, std::uint8_t percent) {
            if (percent > 100)
                std::abort();
        });
    if (image.size != image.data.size() || image.size > pelmux::maxHexImageBytes)
        std::abort();
    if (result != Varnholt::ERR_SUCCESS && !image.data.empty())
        std::abort();
    if (!image.data.empty() && !holdsDataRecord(std::string_view(reinterpret_cast<const char*>(data), size)))
        std::abort();
    return 0;
}
