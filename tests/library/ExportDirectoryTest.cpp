// The export-directory reader against synthetic PE images: which ordinals count as exported, and
// that no header, however damaged or cut short, leads a read outside the bytes given (each image is
// an exact-size copy, so that the address sanitizer sees any such read).
#include "platform/ExportDirectory.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <random>
#include <vector>

namespace pelmux::test {
namespace PELMUX_FILE_SCOPE {

using platform::exportedFunction;
using platform::imageSize;
using Bytes = std::vector<std::uint8_t>;

constexpr std::uint32_t lfanew = 0x80;
constexpr std::uint32_t optionalHeader = lfanew + 24;

struct Layout {
    std::uint32_t size = 0x1000;
    std::uint16_t magic = 0x10B; // PE32; 0x20B is PE32+
    std::uint32_t exportRva = 0x200;
    std::uint32_t functionsRva = 0x300;
    std::uint32_t base = 3;
    // Ordinals 3..6: a function, a gap, an address past the image, a function.
    std::vector<std::uint32_t> functions = {0x400, 0, 0x2000, 0x500};
};

void put16(Bytes& bytes, std::uint64_t offset, std::uint16_t value)
{
    for (int i = 0; i < 2; ++i)
        bytes.at(offset + i) = static_cast<std::uint8_t>(value >> (8 * i));
}

void put32(Bytes& bytes, std::uint64_t offset, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        bytes.at(offset + i) = static_cast<std::uint8_t>(value >> (8 * i));
}

Bytes makeImage(const Layout& layout = {})
{
    Bytes bytes(layout.size, 0);
    const bool plus = layout.magic == 0x20B;
    put16(bytes, 0, 0x5A4D);
    put32(bytes, 0x3C, lfanew);
    put32(bytes, lfanew, 0x00004550);
    put16(bytes, lfanew + 4 + 16, plus ? 240 : 224); // SizeOfOptionalHeader
    put16(bytes, optionalHeader, layout.magic);
    put32(bytes, optionalHeader + 56, layout.size);       // SizeOfImage
    put32(bytes, optionalHeader + (plus ? 108 : 92), 16); // NumberOfRvaAndSizes
    put32(bytes, optionalHeader + (plus ? 112 : 96), layout.exportRva);
    put32(bytes, optionalHeader + (plus ? 116 : 100), 40);
    put32(bytes, layout.exportRva + 16, layout.base);
    put32(bytes, layout.exportRva + 20, static_cast<std::uint32_t>(layout.functions.size()));
    put32(bytes, layout.exportRva + 28, layout.functionsRva);
    for (std::size_t i = 0; i < layout.functions.size(); ++i)
        put32(bytes, layout.functionsRva + 4 * i, layout.functions[i]);
    return bytes;
}

std::optional<std::uint32_t> lookUp(const Bytes& bytes, std::uint16_t ordinal)
{
    const Bytes exact(bytes); // no spare capacity behind the last byte
    return exportedFunction(exact.data(), exact.size(), ordinal);
}

struct OrdinalCase {
    const char* what;
    std::uint16_t magic;
    std::uint16_t ordinal;
    std::optional<std::uint32_t> rva;
};

TEST(ExportDirectoryTest, OrdinalsCountOnlyWhenTheTableGivesAFunctionInsideTheImage)
{
    const OrdinalCase cases[] = {
        {"present", 0x10B, 3, 0x400},
        {"present, last of the table", 0x10B, 6, 0x500},
        {"gap: entry 0", 0x10B, 4, std::nullopt},
        {"address outside the image", 0x10B, 5, std::nullopt},
        {"beyond NumberOfFunctions", 0x10B, 7, std::nullopt},
        {"far beyond", 0x10B, 0xFFFF, std::nullopt},
        {"below Base", 0x10B, 2, std::nullopt},
        {"ordinal 0", 0x10B, 0, std::nullopt},
        {"PE32+: present", 0x20B, 3, 0x400},
        {"PE32+: gap", 0x20B, 4, std::nullopt},
    };
    for (const OrdinalCase& c : cases) {
        Layout layout;
        layout.magic = c.magic;
        EXPECT_EQ(lookUp(makeImage(layout), c.ordinal), c.rva) << c.what;
    }
}

struct DamageCase {
    const char* what;
    std::function<void(Bytes&)> damage;
};

TEST(ExportDirectoryTest, DamagedHeadersGiveNoFunction)
{
    const DamageCase cases[] = {
        {"no MZ", [](Bytes& b) { b[0] = 'X'; }},
        {"no PE signature", [](Bytes& b) { b[lfanew + 2] = 1; }},
        {"e_lfanew past the end", [](Bytes& b) { put32(b, 0x3C, 0xFFFFFFFE); }},
        {"e_lfanew in the last bytes", [](Bytes& b) { put32(b, 0x3C, 0xFFE); }},
        {"unknown optional header magic", [](Bytes& b) { put16(b, optionalHeader, 0x107); }},
        {"optional header longer than the image", [](Bytes& b) { put16(b, lfanew + 4 + 16, 0xFFFF); }},
        {"optional header too short for the directories", [](Bytes& b) { put16(b, lfanew + 4 + 16, 96); }},
        {"no data directories", [](Bytes& b) { put32(b, optionalHeader + 92, 0); }},
        {"no export directory", [](Bytes& b) { put32(b, optionalHeader + 96, 0); }},
        {"export directory cut by the end", [](Bytes& b) { put32(b, optionalHeader + 96, 0x1000 - 20); }},
        {"export directory far past the end", [](Bytes& b) { put32(b, optionalHeader + 96, 0xFFFFFFF0); }},
        {"function table past the end", [](Bytes& b) { put32(b, 0x200 + 28, 0xFFFFFFFC); }},
        {"function table cut by the end", [](Bytes& b) { put32(b, 0x200 + 28, 0x1000 - 2); }},
        {"Base above the ordinal", [](Bytes& b) { put32(b, 0x200 + 16, 0xFFFFFFFF); }},
        {"no functions", [](Bytes& b) { put32(b, 0x200 + 20, 0); }},
    };
    for (const DamageCase& c : cases) {
        Bytes image = makeImage();
        c.damage(image);
        EXPECT_EQ(lookUp(image, 3), std::nullopt) << c.what;
    }
    // A table that claims more functions than the image holds: entries inside still count, those
    // past the end do not.
    Bytes image = makeImage();
    put32(image, 0x200 + 20, 0xFFFFFFFF);
    EXPECT_EQ(lookUp(image, 3), 0x400u);
    EXPECT_EQ(lookUp(image, 0xFFFF), std::nullopt);
}

TEST(ExportDirectoryTest, ImageSizeComesFromTheOptionalHeader)
{
    for (const std::uint16_t magic : {0x10B, 0x20B}) {
        Layout layout;
        layout.magic = magic;
        const Bytes image = makeImage(layout);
        EXPECT_EQ(imageSize(image.data(), image.size()), 0x1000u) << magic;
        // The headers alone are enough, as the first page of a mapped image.
        const Bytes headers(image.begin(), image.begin() + 0x200);
        EXPECT_EQ(imageSize(headers.data(), headers.size()), 0x1000u) << magic;
    }
    const Bytes image = makeImage();
    const Bytes cut(image.begin(), image.begin() + optionalHeader + 56);
    EXPECT_EQ(imageSize(cut.data(), cut.size()), std::nullopt);
    EXPECT_EQ(imageSize(nullptr, 0), std::nullopt);
}

TEST(ExportDirectoryTest, EveryShorterCopyIsReadWithinItsBytes)
{
    const Bytes image = makeImage();
    for (std::size_t size = 0; size <= image.size(); ++size) {
        const Bytes cut(image.begin(), image.begin() + static_cast<std::ptrdiff_t>(size));
        // Present once the table entry and the function's address both lie within the bytes.
        const std::optional<std::uint32_t> expected =
            size > 0x400 ? std::optional<std::uint32_t>(0x400) : std::nullopt;
        ASSERT_EQ(exportedFunction(cut.data(), cut.size(), 3), expected) << size;
    }
}

TEST(ExportDirectoryTest, GarbageNeverGivesAnAddressOutsideTheBytes)
{
    std::mt19937 random(20261207);
    for (int round = 0; round < 2000; ++round) {
        Bytes bytes(random() % 1024);
        for (auto& byte : bytes)
            byte = static_cast<std::uint8_t>(random());
        // Valid signatures at valid places often enough to reach the deeper reads.
        if (bytes.size() >= 0x100 && round % 2 == 0) {
            put16(bytes, 0, 0x5A4D);
            put32(bytes, 0x3C, 0x40);
            put32(bytes, 0x40, 0x00004550);
            put16(bytes, 0x58, round % 4 == 0 ? 0x10B : 0x20B);
        }
        const auto rva = exportedFunction(bytes.data(), bytes.size(), static_cast<std::uint16_t>(random()));
        if (rva) {
            EXPECT_NE(*rva, 0u);
            EXPECT_LT(*rva, bytes.size());
        }
    }
}

} // namespace PELMUX_FILE_SCOPE
} // namespace pelmux::test
