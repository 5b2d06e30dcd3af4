// The names of the temporary files a replacement writes beside a file (the settings file, a
// caller's snapshot): "<name>.pelmux-<process>-<start>-<sequence>-<size>.tmp". The word "pelmux"
// marks the file as this library's; the writer's process id and start time name the process that
// wrote it, so that the file of a writer that has ended (or whose id a later process now has) is
// known for a leftover; the size tells a whole content from a write cut short. A file beside it of
// any other shape (an application's own "shot.bmp.7.tmp" or "shot.bmp.1999-12-31.tmp") is never
// taken for one, on Windows or on Linux.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace pelmux::platform {

struct TemporaryWriter {
    std::uint64_t process = 0;  // the writer's process id
    std::uint64_t start = 0;    // its start time, in the system's own unit (see processStartTime)
    std::uint64_t sequence = 0; // tells the writer's files apart
    std::uint64_t size = 0;     // the bytes of the content the file receives
};

// "<name>.pelmux-<process>-<start>-<sequence>-<size>.tmp", every number in decimal.
std::string temporaryFileName(std::string_view name, const TemporaryWriter& writer);
std::wstring temporaryFileName(std::wstring_view name, const TemporaryWriter& writer);

// What a file name beside `name` tells when it has exactly the shape temporaryFileName gives (each
// number 1 to 20 decimal digits that fit 64 bits); nullopt for every other name.
std::optional<TemporaryWriter> parseTemporaryFileName(std::string_view name, std::string_view candidate);
std::optional<TemporaryWriter> parseTemporaryFileName(std::wstring_view name, std::wstring_view candidate);

// The start time of this process as temporaryFileName records it: on Windows its creation time
// (GetProcessTimes, 100 ns units since 1601), on Linux its start in clock ticks after boot
// (/proc/self/stat). 0 when the system does not tell it.
std::uint64_t processStartTime();

} // namespace pelmux::platform
