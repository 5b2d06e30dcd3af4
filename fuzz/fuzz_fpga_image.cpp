// The FPGA line reader: any bytes as an image's text, never a crash, a hang or a read past them; a
// text read whole gives 16 bytes per data line, a refused one an empty image.
#include "firmware/FpgaImage.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::vector<std::uint8_t> image;
    const pelmux::ResultCode result =
        pelmux::readFpgaImage(std::span(data, size), image, [](pelmux::ResultCode, std::uint8_t percent) {
            if (percent > 100)
                std::abort();
        });
    if (image.size() % 16 != 0 || image.size() > size)
        std::abort();
    if (result != Varnholt::ERR_SUCCESS && !image.empty())
        std::abort();
    return 0;
}
