// Micro-controller images for upgrade tests: the bytes, and the Intel HEX text a build would make
// of them (data from 0x08000000 unless told otherwise, 16 bytes per record).
#pragma once

#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

namespace pelmux::test {

inline std::vector<std::uint8_t> imageBytes(std::size_t size, std::uint32_t seed)
{
    std::mt19937 random(seed);
    std::vector<std::uint8_t> image(size);
    for (auto& b : image)
        b = static_cast<std::uint8_t>(random());
    return image;
}

inline std::string hexRecord(std::uint8_t type, std::uint16_t address, const std::uint8_t* data,
                             std::size_t count)
{
    char text[16];
    std::uint8_t sum = static_cast<std::uint8_t>(count + (address >> 8) + (address & 0xFF) + type);
    std::snprintf(text, sizeof text, ":%02X%04X%02X", static_cast<unsigned>(count), address, type);
    std::string line = text;
    for (std::size_t i = 0; i < count; ++i) {
        std::snprintf(text, sizeof text, "%02X", data[i]);
        line += text;
        sum = static_cast<std::uint8_t>(sum + data[i]);
    }
    std::snprintf(text, sizeof text, "%02X\r\n", static_cast<std::uint8_t>(-sum) & 0xFF);
    return line + text;
}

// The Intel HEX text of `image` at `start` (0x08000000 unless given), with an extended linear
// address record wherever the upper 16 address bits change from 0 or from the last one named.
inline std::string hexText(const std::vector<std::uint8_t>& image, std::uint32_t start = 0x08000000u)
{
    std::string text;
    std::uint32_t window = 0;
    for (std::size_t at = 0; at < image.size(); at += 16) {
        const std::uint32_t address = start + static_cast<std::uint32_t>(at);
        if (address >> 16 != window) {
            window = address >> 16;
            const std::uint8_t upper[2] = {static_cast<std::uint8_t>(address >> 24),
                                           static_cast<std::uint8_t>(address >> 16)};
            text += hexRecord(0x04, 0, upper, 2);
        }
        const std::size_t count = std::min<std::size_t>(16, image.size() - at);
        text += hexRecord(0x00, static_cast<std::uint16_t>(address), image.data() + at, count);
    }
    return text + ":00000001FF\r\n";
}

} // namespace pelmux::test
