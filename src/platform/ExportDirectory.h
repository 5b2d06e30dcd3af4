// The export directory of a PE image as it lies mapped in memory (offsets are RVAs), read from
// bytes alone: the Windows layer checks each ordinal of the vendor library against it before
// calling, and the same code runs on Linux for its tests. Every offset a header gives is checked
// against the bytes given; nothing outside them is ever read, whatever they hold.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

namespace pelmux::platform {

// SizeOfImage from the optional header (32- or 64-bit), or nullopt when the headers are not whole
// and valid within the bytes given.
std::optional<std::uint32_t> imageSize(const std::uint8_t* image, std::size_t size);

// The RVA of the function an ordinal exports, or nullopt when the image has no such function: the
// ordinal lies below the directory's Base or beyond its NumberOfFunctions, its entry is 0 (a gap
// in the ordinals), or the address lies outside the image. `size` is the mapped image's size.
std::optional<std::uint32_t> exportedFunction(const std::uint8_t* image, std::size_t size,
                                              std::uint16_t ordinal);

} // namespace pelmux::platform
