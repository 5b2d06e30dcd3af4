// Reading a 1 MB Intel HEX file: the library's reader against objcopy and srec_cat turning the same
// file into a binary image, the best of several runs each (goal: at least 3 times faster than both).
#include "FirmwareImages.h"
#include "firmware/HexImage.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

constexpr int runs = 5;

template <class Run> double bestSeconds(Run run)
{
    double best = 1e9;
    for (int i = 0; i < runs; ++i) {
        const auto start = std::chrono::steady_clock::now();
        if (!run())
            return -1;
        best =
            std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    return best;
}

bool tool(const std::string& command)
{
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

} // namespace

int main()
{
    const auto folder = std::filesystem::temp_directory_path() / "pelmux-hex-bench";
    std::filesystem::create_directories(folder);
    const std::string hex = (folder / "image.hex").string();
    const std::string bin = (folder / "image.bin").string();
    // About 1 MB of text: 2.8 characters of text per image byte.
    const auto image = pelmux::test::imageBytes(360 * 1024, 7);
    std::ofstream(hex, std::ios::binary) << pelmux::test::hexText(image);
    const auto textBytes = std::filesystem::file_size(hex);

    const double ours = bestSeconds([&] {
        pelmux::HexImage read;
        return pelmux::readHexImage(hex.c_str(), read, [](Varnholt::ResultCode, std::uint8_t) {}) ==
                   Varnholt::ERR_SUCCESS &&
               read.data.size() == image.size();
    });
    const double objcopy = bestSeconds([&] { return tool("objcopy -I ihex -O binary " + hex + " " + bin); });
    const double srecCat =
        bestSeconds([&] { return tool("srec_cat " + hex + " -Intel -o " + bin + " -Binary"); });
    std::filesystem::remove_all(folder);

    std::printf("HEX read of %.2f MB of text (best of %d)\n", textBytes / 1e6, runs);
    std::printf("  pelmux readHexImage  %8.2f ms\n", ours * 1e3);
    const auto other = [&](const char* name, double seconds) {
        if (seconds < 0)
            std::printf("  %-20s  not available\n", name);
        else
            std::printf("  %-20s  %8.2f ms   (ours is %.1f times faster; goal 3)\n", name, seconds * 1e3,
                        seconds / ours);
    };
    other("objcopy", objcopy);
    other("srec_cat", srecCat);
    return ours < 0 ? 1 : 0;
}
