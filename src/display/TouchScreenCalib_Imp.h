// The touch controller's calibration, run by the front micro-controller: the kind running, the
// point the user touches, whether it was taken, and six calibration values.
#pragma once

#include "frame/DriverChannel.h"

#include <pelmux/TouchScreenCalib.h>

namespace pelmux {

class TouchScreenCalib_Imp final : public Varnholt::TouchScreenCalib {
public:
    TouchScreenCalib_Imp() { link_.open(); }

    ResultCode setCalibrationMode(std::int32_t kind) override;
    ResultCode getCalibrationMode(std::int32_t* kind) override;
    ResultCode setCalibrationPoint(unsigned char point) override;
    ResultCode checkCalibrationPoint(unsigned char* done, unsigned char point) override;
    ResultCode getCalibrationValue(std::int32_t index, std::uint16_t* value) override;
    ResultCode setCalibrationValue(std::int32_t index, std::uint16_t value) override;
    void release() override { delete this; }

private:
    ~TouchScreenCalib_Imp() = default;

    DriverLink link_;
};

// Driver requests: start a calibration (the kind's driver byte in), and the running one (1 byte out).
inline constexpr std::uint32_t calibrationModeWriteRequest = 0x2225B0;
inline constexpr std::uint32_t calibrationModeReadRequest = 0x2225B4;

} // namespace pelmux
