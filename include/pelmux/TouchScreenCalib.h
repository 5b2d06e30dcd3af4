// Calibration of the touch controller, run by the front micro-controller.
#pragma once

#include <pelmux/ResultCode.h>

#include <cstdint>

namespace Varnholt {

// Calibration kinds run from 1 to 4 (0: none running); calibration value indices from 0 to 5.
struct TouchScreenCalib {
    virtual ResultCode setCalibrationMode(std::int32_t kind) = 0;                           // 0
    virtual ResultCode getCalibrationMode(std::int32_t* kind) = 0;                          // 1
    virtual ResultCode setCalibrationPoint(unsigned char point) = 0;                        // 2
    virtual ResultCode checkCalibrationPoint(unsigned char* done, unsigned char point) = 0; // 3
    virtual ResultCode getCalibrationValue(std::int32_t index, std::uint16_t* value) = 0;   // 4
    virtual ResultCode setCalibrationValue(std::int32_t index, std::uint16_t value) = 0;    // 5
    virtual void release() = 0;                                                             // 6
};

} // namespace Varnholt
