// The Intel HEX reader: any bytes as an image's text, never a crash, a hang or a read past them; a
// text read whole gives an image no larger than the largest flash, a refused one an empty image,
// and no progress above 100 %.
#include "firmware/HexImage.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

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
    return 0;
}
