// Re-programs or verifies the system supervisor (target 0) or the front micro-controller (target 1)
// through the STM32 system-memory bootloader on the serial port "COM1".
#pragma once

#include "firmware/HexImage.h"
#include "firmware/IFlasher.h"

#include <cstdint>
#include <memory>

namespace pelmux {

namespace platform {
class SerialPort;
}
class BootloaderLink;
struct Stm32Device;

inline constexpr std::uint32_t targetSupervisor = 0;
inline constexpr std::uint32_t targetFront = 1;

class Flasher_STM32 final : public IFlasher {
public:
    // The micro-controller every job of this flasher is for: 0 = system supervisor, 1 = front
    // micro-controller; another value fails every job's preparing step with
    // ERR_INVALID_PARAMETER_NULL (9) and every image check with ERR_DATATYPE_MISMATCH (4).
    explicit Flasher_STM32(std::uint32_t target) : target_(target) {}
    ~Flasher_STM32() { controlHandle().close(); }

    // Prepares the target, reads the image, talks to the bootloader (program: mass erase, write,
    // verify; otherwise verify only), undoes the preparation, closes the control handle and
    // finishes the job. An image without data bytes, linked for another place than the flash start
    // or larger than the flash fails with ERR_INVALID_DATA_RANGE (8) before anything is erased or
    // compared. Blocks for the whole job.
    ResultCode run(FirmwareJob& job, bool program) override;

    // checkImageFile below, for this flasher's target.
    ResultCode checkImage(const char* fileName) const override;

private:
    ResultCode prepare(FirmwareJob& job);
    void undoPreparation();
    ResultCode readImage(FirmwareJob& job);
    ResultCode exchange(FirmwareJob& job, bool program);
    // The first attempt synchronises; up to 5 retries follow, each without synchronisation first
    // and, failing that, with it again. Null when every attempt failed.
    std::unique_ptr<BootloaderLink> connect(platform::SerialPort& port);
    // Whether the image has data bytes, belongs at this device's flash start and fits in its flash;
    // an image that does not is refused with ERR_INVALID_DATA_RANGE (8) before the erase or the
    // verification.
    bool imageSuits(const Stm32Device& device) const;
    // `lastGood` is the percent of the last block that succeeded in this exchange.
    ResultCode writeImage(FirmwareJob& job, BootloaderLink& link, std::uint8_t& lastGood);
    ResultCode verifyImage(FirmwareJob& job, BootloaderLink& link, std::uint8_t& lastGood);

    const std::uint32_t target_;
    HexImage image_;
    bool frontModeSet_ = false;
    bool linkSelected_ = false;
};

// The sizes in bytes, both included, of the image file the check below takes for each target.
struct ImageFileSizes {
    std::uint64_t smallest;
    std::uint64_t largest;
};
inline constexpr ImageFileSizes supervisorImageSizes = {95000, 1000000};
inline constexpr ImageFileSizes frontImageSizes = {50000, 110000};

// The check a micro-controller image passes before its job starts: the file opens and reads whole
// (else ERR_OPEN_FAILED (1)); target 0 (system supervisor) takes 95000 to 1000000 bytes without the
// text "Front_uc", target 1 (front) 50000 to 110000 bytes without "SystemSupervisor"; another size,
// the other target's marker or another target gives ERR_DATATYPE_MISMATCH (4). A file of a size
// that fails is not read.
ResultCode checkImageFile(const char* fileName, std::uint32_t target);

} // namespace pelmux
