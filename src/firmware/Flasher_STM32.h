// Re-programs or verifies the system supervisor (target 0) or the front micro-controller (target 1)
// through the STM32 system-memory bootloader on the serial port "COM1".
#pragma once

#include "firmware/HexImage.h"
#include "firmware/IFlasher.h"

#include <cstdint>

namespace pelmux {

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
    ResultCode exchange(bool program);

    HexImage image_;
    bool frontModeSet_ = false;
    bool linkSelected_ = false;
};

} // namespace pelmux
