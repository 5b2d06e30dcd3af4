// Micro-controller image files: the Intel HEX reader, and what an image file's text shows of the
// target it was built for. Plain components: the reader posts its progress through the function it
// is given and knows nothing of jobs or targets.
#pragma once

#include "firmware/ImageFile.h"

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace pelmux {

// A micro-controller image. data[0] stands for offset 0 of the first 64 KB window the file uses;
// bytes no record gives are 0x00, and the image ends with the last data byte of the file. Records
// without data bytes (an empty data record, an address record with no data after it) add nothing:
// a file of only such records gives an image of no bytes.
struct HexImage {
    std::uint32_t size = 0; // bytes in data
    std::vector<std::uint8_t> data;
    std::uint32_t base = 0; // window (upper 16 address bits) of the first non-zero extended address
    // The window data[0] stands for: `base` as the first data record found it (0 when data came
    // before any window). A file linked at the flash alias 0 keeps 0 even when it names window 1
    // further on.
    std::uint32_t origin = 0;
};

// No image grows beyond the largest flash a known micro-controller has.
inline constexpr std::uint32_t maxHexImageBytes = 0x100000;

// Reads the Intel HEX text `bytes` (any bytes) into `image`, replacing what it held; the
// percentages count against their number. The caller has posted (0, 0, UPGRADE_READING_FILE). Result
// codes: ERR_INITIALISATION_FAILED (13) when memory runs out, ERR_INVALID_DATA_RANGE (8) for
// malformed text, an address below the first window, overlapping or descending records or an
// image above maxHexImageBytes, ERR_CHECKSUM_INCORRECT (12). On failure the image is empty.
ResultCode readHexImage(std::span<const std::uint8_t> bytes, HexImage& image, const ReadProgress& post);

// The same on the Intel HEX file `fileName` (8-bit path), opened without sharing and read whole;
// the percentages count against the size the file system reports. A file that cannot be opened
// gives ERR_OPEN_FAILED (1); one whose reading fails part-way is read as far as it got.
ResultCode readHexImage(const char* fileName, HexImage& image, const ReadProgress& post);

// The 64 KB window of the micro-controllers' flash (0x08000000), as their images name it.
inline constexpr std::uint32_t microControllerFlashWindow = 0x0800;

// The texts by which a micro-controller image tells its target.
inline constexpr std::string_view supervisorMarker = "SystemSupervisor";
inline constexpr std::string_view frontMarker = "Front_uc";

// What an image file's text shows of the target it was built for.
struct ImageKind {
    // An extended linear address record (type 4, checksum right) names the flash window.
    bool namesFlashWindow = false;
    bool carriesSupervisorMarker = false;
    bool carriesFrontMarker = false;

    bool carriesMarker() const { return carriesSupervisorMarker || carriesFrontMarker; }
    // A micro-controller image names the flash window or carries a marker; an FPGA image, whose
    // data lines would read as Intel HEX records too, does neither.
    bool looksLikeMicroController() const { return namesFlashWindow || carriesMarker(); }
};

// Looks at an image file's whole text (any bytes) and tells what it shows.
ImageKind imageKindOf(std::string_view text);

} // namespace pelmux
