// The FPGA line reader: any bytes as an image file, never a crash, a hang or a read past them; a
// file read whole gives 16 bytes per data line, a refused one an empty image.
#include "firmware/HexImage.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const std::string path = "/tmp/pelmux-fuzz-fpga-" + std::to_string(::getpid());
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr)
        return 0;
    std::fwrite(data, 1, size, file);
    std::fclose(file);

    std::vector<std::uint8_t> image;
    const pelmux::ResultCode result =
        pelmux::readFpgaImage(path.c_str(), image, [](pelmux::ResultCode, std::uint8_t percent) {
            if (percent > 100)
                std::abort();
        });
    if (image.size() % 16 != 0 || image.size() > size)
        std::abort();
    if (result != Varnholt::ERR_SUCCESS && !image.empty())
        std::abort();
    return 0;
}
