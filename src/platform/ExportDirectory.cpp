#include "platform/ExportDirectory.h"

namespace pelmux::platform {

namespace {

constexpr std::uint16_t dosMagic = 0x5A4D;        // "MZ"
constexpr std::uint32_t peSignature = 0x00004550; // "PE\0\0"
constexpr std::uint16_t pe32Magic = 0x10B;
constexpr std::uint16_t pe32PlusMagic = 0x20B;
constexpr std::size_t lfanewOffset = 0x3C;
constexpr std::size_t fileHeaderSize = 20;
constexpr std::size_t optionalHeaderSizeOffset = 16; // in the file header
constexpr std::size_t sizeOfImageOffset = 56;        // in the optional header, both forms
constexpr std::size_t exportDirectorySize = 40;
constexpr std::size_t baseOffset = 16; // in the export directory
constexpr std::size_t functionCountOffset = 20;
constexpr std::size_t functionsOffset = 28;

// A little-endian Value at `offset`, only when all its bytes lie within the bytes given.
template <class Value>
std::optional<Value> read(const std::uint8_t* bytes, std::size_t size, std::uint64_t offset)
{
    if (offset > size || size - offset < sizeof(Value))
        return std::nullopt;
    Value value = 0;
    for (std::size_t i = 0; i < sizeof(Value); ++i)
        value = static_cast<Value>(value | static_cast<Value>(bytes[offset + i]) << (8 * i));
    return value;
}

struct OptionalHeader {
    std::uint64_t offset = 0;
    std::uint16_t size = 0;
    std::uint16_t magic = 0;
};

std::optional<OptionalHeader> optionalHeader(const std::uint8_t* image, std::size_t size)
{
    if (read<std::uint16_t>(image, size, 0) != dosMagic)
        return std::nullopt;
    const auto lfanew = read<std::uint32_t>(image, size, lfanewOffset);
    if (!lfanew || read<std::uint32_t>(image, size, *lfanew) != peSignature)
        return std::nullopt;
    const std::uint64_t fileHeader = std::uint64_t(*lfanew) + 4;
    const auto optionalSize = read<std::uint16_t>(image, size, fileHeader + optionalHeaderSizeOffset);
    if (!optionalSize)
        return std::nullopt;
    OptionalHeader header;
    header.offset = fileHeader + fileHeaderSize;
    header.size = *optionalSize;
    // The whole optional header must lie within the bytes.
    if (header.offset > size || size - header.offset < header.size)
        return std::nullopt;
    const auto magic = read<std::uint16_t>(image, size, header.offset);
    if (!magic || (*magic != pe32Magic && *magic != pe32PlusMagic))
        return std::nullopt;
    header.magic = *magic;
    return header;
}

// A field of the optional header, only when the header's declared size holds it.
template <class Value>
std::optional<Value> optionalField(const std::uint8_t* image, std::size_t size, const OptionalHeader& header,
                                   std::size_t offset)
{
    if (offset + sizeof(Value) > header.size)
        return std::nullopt;
    return read<Value>(image, size, header.offset + offset);
}

} // namespace

std::optional<std::uint32_t> imageSize(const std::uint8_t* image, std::size_t size)
{
    const auto header = optionalHeader(image, size);
    if (!header)
        return std::nullopt;
    return optionalField<std::uint32_t>(image, size, *header, sizeOfImageOffset);
}

std::optional<std::uint32_t> exportedFunction(const std::uint8_t* image, std::size_t size,
                                              std::uint16_t ordinal)
{
    const auto header = optionalHeader(image, size);
    if (!header)
        return std::nullopt;
    // NumberOfRvaAndSizes and the first data directory entry (exports).
    const std::size_t countOffset = header->magic == pe32Magic ? 92 : 108;
    const auto directoryCount = optionalField<std::uint32_t>(image, size, *header, countOffset);
    const auto exportRva = optionalField<std::uint32_t>(image, size, *header, countOffset + 4);
    if (!directoryCount || *directoryCount < 1 || !exportRva || *exportRva == 0 ||
        std::uint64_t(*exportRva) + exportDirectorySize > size)
        return std::nullopt;
    const auto base = read<std::uint32_t>(image, size, std::uint64_t(*exportRva) + baseOffset);
    const auto count = read<std::uint32_t>(image, size, std::uint64_t(*exportRva) + functionCountOffset);
    const auto functions = read<std::uint32_t>(image, size, std::uint64_t(*exportRva) + functionsOffset);
    if (!base || !count || !functions || ordinal < *base)
        return std::nullopt;
    const std::uint32_t index = ordinal - *base;
    if (index >= *count)
        return std::nullopt;
    const auto rva = read<std::uint32_t>(image, size, std::uint64_t(*functions) + 4 * std::uint64_t(index));
    if (!rva || *rva == 0 || *rva >= size)
        return std::nullopt;
    return rva;
}

} // namespace pelmux::platform
