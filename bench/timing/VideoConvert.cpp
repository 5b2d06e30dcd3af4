// convertToBitmap of a 720 x 575 interlaced frame against memcpy of the same bytes on this
// machine: the best of many runs of each, as bytes per second, and their ratio (goal: at least 0.5).
#include <pelmux/Pelmux.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

namespace {

constexpr std::uint32_t width = 720;
constexpr std::uint32_t linesA = 288;
constexpr std::uint32_t linesB = 287;
constexpr int runs = 200;

std::vector<unsigned char> frame()
{
    std::vector<unsigned char> raw(256 + std::size_t{width} * 4 * (linesA + linesB));
    const std::uint32_t header[] = {0, width, linesB, linesA};
    std::memcpy(raw.data(), header, sizeof header);
    for (std::size_t i = 256; i < raw.size(); ++i)
        raw[i] = static_cast<unsigned char>(i * 7);
    return raw;
}

template <class Run> double bestSeconds(Run run)
{
    double best = 1e9;
    for (int i = 0; i < runs; ++i) {
        const auto start = std::chrono::steady_clock::now();
        run();
        best =
            std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    return best;
}

} // namespace

int main()
{
    // No unit is needed for a conversion; a private root keeps the feature probe from finding one.
    char pattern[] = "/tmp/pelmux-bench-XXXXXX";
    const char* root = ::mkdtemp(pattern);
    if (root == nullptr)
        return 1;
    ::setenv("PELMUX_ROOT", root, 1);

    const auto raw = frame();
    const auto bytes = static_cast<double>(raw.size());
    Varnholt::Video* video = GetVideo();
    unsigned char check = 0;
    const double convert = bestSeconds([&] {
        unsigned char* bitmap = nullptr;
        std::uint32_t size = 0;
        if (video->convertToBitmap(&bitmap, &size, raw.data(), static_cast<std::uint32_t>(raw.size()), 0,
                                   0) == Varnholt::ERR_SUCCESS) {
            check ^= bitmap[size / 2];
            video->freeSnapshot(bitmap);
        }
    });
    video->release();
    std::vector<unsigned char> target(raw.size());
    const double copy = bestSeconds([&] {
        std::memcpy(target.data(), raw.data(), raw.size());
        check ^= target[target.size() / 2];
    });
    std::error_code ignored;
    std::filesystem::remove_all(root, ignored);

    const double ratio = copy / convert;
    std::printf("convertToBitmap of a %ux%u interlaced frame (%.0f raw bytes): %.0f MB/s\n", width,
                linesA + linesB, bytes, bytes / convert / 1e6);
    std::printf("memcpy of the same bytes: %.0f MB/s\n", bytes / copy / 1e6);
    std::printf("ratio %.2f (goal at least 0.5)%s\n", ratio, check == 0xFF ? " " : "");
    return 0;
}
