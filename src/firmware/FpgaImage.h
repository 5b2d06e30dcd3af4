// FPGA image files: lines of hexadecimal text, each data line carrying 16 bytes of the FPGA's
// configuration. A plain component: the reader posts its progress through the function it is given
// and knows nothing of jobs.
#pragma once

#include "firmware/ImageFile.h"

#include <cstdint>
#include <span>
#include <vector>

namespace pelmux {

// Reads the FPGA line text `bytes` (any bytes) into `image` (the 16 data bytes of every data line,
// in text order), replacing what it held; the percentages count against their number. The caller
// has posted (0, 0, UPGRADE_READING_FILE). Result codes: ERR_INITIALISATION_FAILED (13) when memory
// runs out, ERR_INVALID_DATA_RANGE (8) for a data line that is not hexadecimal or too short for its
// checksum, ERR_CHECKSUM_INCORRECT (12). On failure the image is empty.
ResultCode readFpgaImage(std::span<const std::uint8_t> bytes, std::vector<std::uint8_t>& image,
                         const ReadProgress& post);

// The same on the FPGA line file `fileName` (8-bit path), opened shared and read whole; the
// percentages count against the size the file system reports. A file that cannot be opened gives
// ERR_OPEN_FAILED (1); one whose reading fails part-way gives ERR_INVALID_DATA_RANGE (8) once the
// lines before the failure have been read.
ResultCode readFpgaImage(const char* fileName, std::vector<std::uint8_t>& image, const ReadProgress& post);

} // namespace pelmux
