// What both flashers are: one whole job on the job they are handed, the check an image file passes
// before its job starts, and the driver requests that put a target into upgrade mode and bring it
// back.
#pragma once

#include "firmware/FirmwareJob.h"
#include "frame/DriverChannel.h"

#include <cstdint>

namespace pelmux {

// Driver requests that prepare a target and bring it back.
inline constexpr std::uint32_t upgradeModeRequest = 0x222508;      // 1 byte in: one of the codes below
inline constexpr std::uint32_t frontPreparationRequest = 0x22250C; // no data
inline constexpr std::uint32_t bootloaderLinkRequest = 0x222510;   // 1 byte in: a BootloaderLink value

inline constexpr std::uint8_t upgradeModeFpgaOrFront = 0x0F;
inline constexpr std::uint8_t upgradeModeSupervisor = 0x96;
inline constexpr std::uint8_t upgradeModeEnded = 0xC3;

// Which micro-controller the serial line reaches.
inline constexpr std::uint8_t linkNone = 0;
inline constexpr std::uint8_t linkSupervisor = 1;
inline constexpr std::uint8_t linkFront = 2;

class IFlasher {
public:
    // Carries out one whole job on the image file `job.fileName()`: program true writes the image
    // and then verifies it, false only verifies. Posts its progress through `job` and ends it with
    // job.finish() (UPGRADE_COMPLETE or UPGRADE_FAILED, then the job lock given back); returns the
    // job's result code. Blocks for the whole job.
    virtual ResultCode run(FirmwareJob& job, bool program) = 0;

    // The check an image file passes before its job starts, on the starting caller's thread:
    // ERR_SUCCESS or the code the start operation answers.
    virtual ResultCode checkImage(const char* fileName) const = 0;

protected:
    IFlasher() = default;
    ~IFlasher() = default;
    IFlasher(const IFlasher&) = delete;
    IFlasher& operator=(const IFlasher&) = delete;

    // The upgrade-mode request (0x0F, 0x96 or 0xC3), through `controlHandle`, opened on first use.
    // The driver's answer is not judged; the result only tells whether the request went out.
    ResultCode sendUpgradeMode(std::uint8_t code);
    // The front preparation request: ERR_OPEN_FAILED (1) when the driver cannot be opened,
    // ERR_IOCTRL_OPERATION_FAILED (7) when the request fails, else ERR_SUCCESS.
    ResultCode sendFrontPreparation();
    // The bootloader-link request: a value above linkFront gives ERR_INVALID_DATA_RANGE (8) before
    // any request, otherwise as sendFrontPreparation.
    ResultCode sendBootloaderLink(std::uint8_t value);

    DriverLink& controlHandle() { return controlHandle_; }

private:
    DriverLink controlHandle_;
};

} // namespace pelmux
