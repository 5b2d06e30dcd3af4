// The export-directory reader: any bytes as a mapped image, any ordinal, never a read past them.
#include "platform/ExportDirectory.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 2)
        return 0;
    // The first two bytes choose the ordinal; the rest is the image, copied to its exact size so
    // that the address sanitizer sees any read past the end.
    const auto ordinal = static_cast<std::uint16_t>(data[0] | data[1] << 8);
    const std::vector<std::uint8_t> image(data + 2, data + size);
    const auto rva = pelmux::platform::exportedFunction(image.data(), image.size(), ordinal);
    if (rva && (*rva == 0 || *rva >= image.size()))
        std::abort();
    const auto declared = pelmux::platform::imageSize(image.data(), image.size());
    (void)declared;
    return 0;
}
