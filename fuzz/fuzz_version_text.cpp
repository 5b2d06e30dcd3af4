// The operating-system image's version text: any bytes, never a read past them.
#include "identity/VersionText.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // An exact-size copy, so that the address sanitizer sees any read past the end.
    std::vector<char> bytes(data, data + size);
    const char* begin = bytes.data();
    const auto found = pelmux::findVersionAfterV(begin, begin + bytes.size());
    const auto parsed = pelmux::parseVersionText(begin, begin + bytes.size());
    if (parsed && bytes.empty())
        std::abort();
    (void)found;
    return 0;
}
