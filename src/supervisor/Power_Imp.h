// The power outputs the system supervisor switches (display, CAN, the video inputs, an auxiliary
// output), its power-state code and its data-less power command.
#pragma once

#include "frame/DriverChannel.h"
#include "platform/Mutex.h"

#include <pelmux/Power.h>

#include <mutex>

namespace pelmux {

// A Power object of its own per GetPower call. The unit identity says at construction whether CAN,
// video inputs and a display are fitted (one reading for all three). The driver is not opened
// then: every operation opens it while it is closed, so an object made while the driver was absent
// works once the driver is there.
//
// Order of checks in every operation: the open (ERR_OPEN_FAILED), the feature (ERR_NOT_SUPPORTED)
// or, for getPowerStateCode, the supervisor firmware gate (ERR_NEWER_SS_REQUIRED), the argument's
// range (ERR_INVALID_DATA_RANGE), a null output (ERR_INVALID_PARAMETER_NULL), the request
// (ERR_IOCTRL_OPERATION_FAILED, ERR_BUFFER_SIZE_ERROR), the answer's range. Nothing is sent for a
// refused argument, and outputs are written only on success.
class Power_Imp final : public Varnholt::Power {
public:
    Power_Imp();

    ResultCode getDisplayPowerStatus(int* status) override;
    ResultCode getCanPowerStatus(int* status) override;
    ResultCode getVideoPowerStatus(unsigned char* mask) override;
    ResultCode getAuxPowerStatus(int* status) override;
    ResultCode setDisplayPowerStatus(int value) override;
    ResultCode setCanPowerStatus(int value) override;
    ResultCode setVideoPowerStatus(unsigned char value) override;
    ResultCode setAuxPowerStatus(int value) override;
    ResultCode getPowerStateCode(int* code) override;
    ResultCode sendPowerCommand() override;
    // Closes the driver when an operation opened it and frees the object.
    void release() override { delete this; }

private:
    ~Power_Imp() = default;

    // The open (again while closed), then the feature; `feature` null when none is needed.
    ResultCode admit(const bool* feature);
    // One byte from the driver, after admit and the null test.
    ResultCode readByte(const bool* feature, const void* output, std::uint32_t code, std::uint8_t& byte);
    // An on/off read: 1 for a non-zero byte, 0 otherwise.
    ResultCode readOnOff(const bool* feature, std::uint32_t code, int* status);
    // An on/off write: 1 only for a value of 1, any other value is off.
    ResultCode writeOnOff(const bool* feature, std::uint32_t code, int value);

    DriverLink link_;
    bool canPresent_ = true;
    bool videoPresent_ = true;
    bool displayPresent_ = true;
    // The open-again of the link is the object's only change after construction; one operation
    // at a time, so that two threads never open it twice.
    platform::Mutex mutex_;
};

// Driver requests of the power outputs; each carries one byte.
inline constexpr std::uint32_t displayPowerRead = 0x222490;
inline constexpr std::uint32_t displayPowerWrite = 0x222494;
inline constexpr std::uint32_t canPowerRead = 0x222498;
inline constexpr std::uint32_t canPowerWrite = 0x22249C;
inline constexpr std::uint32_t videoPowerRead = 0x2224A0;
inline constexpr std::uint32_t videoPowerWrite = 0x2224A4;
inline constexpr std::uint32_t auxPowerRead = 0x2224A8;
inline constexpr std::uint32_t auxPowerWrite = 0x2224AC;
inline constexpr std::uint32_t powerStateRead = 0x2224B0;
inline constexpr std::uint32_t powerCommandWrite = 0x2224B4;

// The highest power-state code and the highest video power mask (inputs 1 to 4).
inline constexpr int highestPowerState = 6;
inline constexpr unsigned char highestVideoPowerMask = 15;

} // namespace pelmux
