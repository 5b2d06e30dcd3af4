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
    Flasher_STM32() = default;
    ~Flasher_STM32() { controlHandle().close(); }

    // Prepares the target, reads the image, talks to the bootloader (program: mass erase, write,
    // verify; otherwise verify only), undoes the preparation, posts the final status, closes the
    // control handle and gives the job lock back. Blocks for the whole job.
    ResultCode run(bool program) override;

    // 0 = system supervisor, 1 = front micro-controller; another value fails the preparing step
    // with ERR_INVALID_PARAMETER_NULL (9).
    std::uint32_t target = targetSupervisor;

private:
    ResultCode prepare();
    void undoPreparation();
    ResultCode readImage();
    ResultCode exchange(bool program);
    // The first attempt synchronises; up to 5 retries follow, each without synchronisation first
    // and, failing that, with it again. Null when every attempt failed.
    std::unique_ptr<BootloaderLink> connect(platform::SerialPort& port);
    // Whether the image belongs at this device's flash start and fits in its flash.
    bool imageFits(const Stm32Device& device) const;
    std::uint32_t nextBlock(const Stm32Device& device, std::uint32_t address, std::uint32_t done) const;
    // `lastGood` is the percent of the last block that succeeded in this exchange.
    ResultCode writeImage(BootloaderLink& link, std::uint8_t& lastGood);
    ResultCode verifyImage(BootloaderLink& link, std::uint8_t& lastGood);

    HexImage image_;
    bool frontModeSet_ = false;
    bool linkSelected_ = false;
};

} // namespace pelmux
