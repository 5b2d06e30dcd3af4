// The Intel HEX reader judged by tools written elsewhere: for generated files with gaps, extended
// linear and extended segment address records, the image equals what objcopy and srec_cat make of
// the same file. Both binaries are made to start at the lowest address present; the reader's image
// starts at the beginning of that address's window, so the comparison skips to the address.
#include "SimFixture.h"

#include "firmware/HexImage.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace pelmux::test {
namespace PELMUX_FILE_SCOPE {

using Bytes = std::vector<std::uint8_t>;

std::string record(unsigned type, unsigned offset, const Bytes& data)
{
    char text[16];
    unsigned sum = static_cast<unsigned>(data.size()) + (offset >> 8) + (offset & 0xFF) + type;
    std::snprintf(text, sizeof text, "%02X%04X%02X", static_cast<unsigned>(data.size()), offset, type);
    std::string line = std::string(":") + text;
    for (std::uint8_t b : data) {
        std::snprintf(text, sizeof text, "%02X", b);
        line += text;
        sum += b;
    }
    std::snprintf(text, sizeof text, "%02X\n", (0x100 - (sum & 0xFF)) & 0xFF);
    return line + text;
}

// A file of ascending data records from `start`: random lengths and random gaps, a new window
// record whenever the address crosses into another 64 KB (linear) or whenever the segment must move
// for the offset to stay below 64 KB (segmented).
struct Generated {
    std::string text;
    std::uint32_t lowest = 0;
};
Generated generate(std::uint32_t start, std::size_t records, bool segmented, std::mt19937& random)
{
    Generated out;
    out.lowest = start;
    std::uint32_t address = start;
    std::uint64_t base = ~std::uint64_t{0};
    for (std::size_t i = 0; i < records; ++i) {
        const std::size_t length = 1 + random() % 32;
        if (segmented) {
            if (base == ~std::uint64_t{0} || address - base + length > 0x10000) {
                const std::uint32_t segment = address >> 4;
                base = std::uint64_t{segment} << 4;
                out.text += record(
                    2, 0, {static_cast<std::uint8_t>(segment >> 8), static_cast<std::uint8_t>(segment)});
            }
        } else if (base != address >> 16) {
            base = address >> 16;
            out.text += record(4, 0, {static_cast<std::uint8_t>(base >> 8), static_cast<std::uint8_t>(base)});
        }
        Bytes data(length);
        for (auto& b : data)
            b = static_cast<std::uint8_t>(random());
        const std::uint32_t offset =
            segmented ? address - static_cast<std::uint32_t>(base) : address & 0xFFFF;
        // A linear record stays within its window, as the tools split them.
        if (!segmented && offset + length > 0x10000)
            data.resize(0x10000 - offset);
        out.text += record(0, offset, data);
        address += static_cast<std::uint32_t>(data.size());
        // Small gaps often, a gap past the next window now and then (the image stays below 1 MB).
        if (random() % 4 == 0)
            address += random() % 200;
        if (random() % 64 == 0 && address - start < 0x80000)
            address += 0x11000;
    }
    out.text += ":00000001FF\n";
    return out;
}

Bytes readBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool haveTool(const char* name)
{
    return std::system((std::string("command -v ") + name + " >/dev/null 2>&1").c_str()) == 0;
}

TEST(HexToolCheck, ImagesEqualObjcopyAndSrecCat)
{
    const bool objcopy = haveTool("objcopy");
    const bool srecCat = haveTool("srec_cat");
    if (!objcopy && !srecCat)
        GTEST_SKIP() << "neither objcopy nor srec_cat is installed (`make deps` installs them)";
    TempRoot root;
    std::mt19937 random(20240517);
    struct Case {
        const char* what;
        std::uint32_t start;
        std::size_t records;
        bool segmented;
    };
    const Case cases[] = {
        {"flash at 0x08000000 across windows", 0x08000000, 2500, false},
        {"start inside a window", 0x08003410, 1500, false},
        {"window 0 without a window record", 0x00000120, 800, false},
        {"segments", 0x00010000, 1200, true},
        {"segment inside window 0", 0x00008010, 600, true},
    };
    for (const Case& c : cases) {
        for (int round = 0; round < 3; ++round) {
            const Generated file = generate(c.start, c.records, c.segmented, random);
            const std::string hex = root.path() + "/image.hex";
            std::ofstream(hex, std::ios::binary) << file.text;
            HexImage image;
            ASSERT_EQ(readHexImage(hex.c_str(), image, [](ResultCode, std::uint8_t) {}),
                      Varnholt::ERR_SUCCESS)
                << c.what;
            // data[0] stands for the start of the first window that holds data.
            const std::uint32_t skip = file.lowest & 0xFFFF;
            ASSERT_LE(skip, image.data.size()) << c.what;
            const Bytes ours(image.data.begin() + skip, image.data.end());
            if (objcopy) {
                const std::string out = root.path() + "/objcopy.bin";
                ASSERT_EQ(std::system(("objcopy -I ihex -O binary " + hex + " " + out).c_str()), 0) << c.what;
                EXPECT_EQ(ours, readBytes(out)) << c.what << ", objcopy, round " << round;
            }
            if (srecCat) {
                // srec_cat's binary holds the bytes at their addresses: moved down to start at 0.
                const std::string out = root.path() + "/srec.bin";
                const std::string command = "srec_cat " + hex + " -Intel -offset -" +
                                            std::to_string(file.lowest) + " -o " + out + " -Binary";
                ASSERT_EQ(std::system(command.c_str()), 0) << c.what;
                EXPECT_EQ(ours, readBytes(out)) << c.what << ", srec_cat, round " << round;
            }
        }
    }
}

} // namespace PELMUX_FILE_SCOPE
} // namespace pelmux::test
