// The Intel HEX reader: any bytes as an image file, never a crash, a hang or a read past them; a
// file read whole gives an image no larger than the largest flash, a refused one an empty image,
// and no progress above 100 %.
#include "firmware/HexImage.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const std::string path = "/tmp/pelmux-fuzz-hex-" + std::to_string(::getpid());
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr)
        return 0;
    std::fwrite(data, 1, size, file);
    std::fclose(file);

    pelmux::HexImage image;
    const pelmux::ResultCode result =
        pelmux::readHexImage(path.c_str(), image, [](pelmux::ResultCode, std::uint8_t percent) {
            if (percent > 100)
                std::abort();
        });
    if (image.size != image.data.size() || image.size > pelmux::maxHexImageBytes || image.cursor != 0)
        std::abort();
    if (result != Varnholt::ERR_SUCCESS && !image.data.empty())
        std::abort();
    return 0;
}
