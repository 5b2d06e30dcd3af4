// Re-programs or verifies the FPGA's configuration through the board driver: the image goes to the
// driver in blocks of 528 bytes and is read back in blocks of the same size.
#pragma once

#include "firmware/IFlasher.h"

#include <cstdint>
#include <vector>

namespace pelmux {

// Driver requests of the FPGA configuration memory.
inline constexpr std::uint32_t fpgaReadinessRequest = 0x2224FC; // out: 1 byte, 0 = ready
inline constexpr std::uint32_t fpgaWriteRequest = 0x222500;     // in: block record; out: u32 new position
inline constexpr std::uint32_t fpgaReadRequest = 0x222504;      // in and out: block record

// A block record: u16 length, u16 reserved (0), u32 position, then the data bytes.
inline constexpr std::uint32_t fpgaBlockData = 528;
inline constexpr std::uint32_t fpgaBlockHeader = 8;
inline constexpr std::uint32_t fpgaBlockRecord = fpgaBlockHeader + fpgaBlockData;

class Flasher_FPGA final : public IFlasher {
public:
    Flasher_FPGA() = default;
    ~Flasher_FPGA();

    // Checks the FPGA is ready, reads the image file, enters upgrade mode (0x0F), writes the image
    // (program true) and verifies it, leaves upgrade mode (0xC3), closes the job's driver handle
    // and finishes the job. Blocks for the whole job. Result codes: ERR_OPEN_FAILED (1) without a
    // driver; 7, 6 or ERR_INITIALISATION_FAILED (13) from the readiness request; the image reader's
    // codes; ERR_INVALID_DATA_RANGE (8) for an empty image; 7 for a failed block request or a write
    // position that does not move forward within the block sent; ERR_DEVICE_READ_FAILED (15) for
    // an empty read; ERR_VERIFY_FAILED (14). Each read compares as many bytes as the driver says
    // it read, and the next one starts after them.
    ResultCode run(FirmwareJob& job, bool program) override;

    // checkFpgaImageFile below.
    ResultCode checkImage(const char* fileName) const override;

    // The image of the last job (empty after a failed read).
    const std::vector<std::uint8_t>& image() const { return image_; }

private:
    ResultCode checkReadiness(FirmwareJob& job);
    ResultCode readImage(FirmwareJob& job);
    // Posts (0, 0, action); an empty image fails the step with ERR_INVALID_DATA_RANGE (8).
    ResultCode beginTransfer(FirmwareJob& job, UpgradeAction action);
    ResultCode writeImage(FirmwareJob& job);
    ResultCode verifyImage(FirmwareJob& job);

    std::vector<std::uint8_t> image_;
    std::vector<std::uint8_t> readBack_;
    DriverLink jobHandle_;
};

// The check an FPGA image passes before its job starts: a file that looks like a micro-controller's
// image (imageKindOf: it names the flash window 0x0800 in an extended linear address record or
// carries a marker, "SystemSupervisor" or "Front_uc") gives ERR_DATATYPE_MISMATCH (4); its records
// would read as FPGA data lines. A file that cannot be opened or read passes: the job's reading
// step reports it. Reads the whole file into memory.
ResultCode checkFpgaImageFile(const char* fileName);

} // namespace pelmux
