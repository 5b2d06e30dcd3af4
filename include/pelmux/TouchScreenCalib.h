/// \file
/// Calibration of the touch controller, run by the front micro-controller.
#pragma once

#include <pelmux/ResultCode.h>

#include <cstdint>

namespace Varnholt {

/// Touch calibration: the kind running, its points and the six calibration values.
///
/// Every operation is one or two requests to the board driver on the caller's thread; none waits
/// for the user and none starts a thread. There is no feature test and no firmware gate. The driver
/// not open gives ERR_OPEN_FAILED (1), a failed request ERR_IOCTRL_OPERATION_FAILED (7), a wrong
/// byte count ERR_BUFFER_SIZE_ERROR (6) where it is judged; outputs are written only on success.
///
/// Calibration kinds run from 1 to 4 (0: none running); their points are numbered up to 5 (kinds 1
/// and 2), 9 (kind 3) and 13 (kind 4). Calibration value indices run from 0 to 5.
///
/// A calibration run: setCalibrationMode(kind); then for each point: show it to the user,
/// setCalibrationPoint(point), poll checkCalibrationPoint(&done, point) until done is 1.
struct TouchScreenCalib {
    /// Starts a calibration of `kind` (1..4). A kind outside 1..4 gives ERR_INVALID_DATA_RANGE (8)
    /// before the open test. The controller's byte count is not judged.
    virtual ResultCode setCalibrationMode(std::int32_t kind) = 0; // 0
    /// The kind running, 1..4, or 0 when the controller runs none (any byte that names no kind).
    /// A null `kind` gives ERR_INVALID_PARAMETER_NULL (9) after the open test.
    virtual ResultCode getCalibrationMode(std::int32_t* kind) = 0; // 1
    /// Tells the controller that the user is to touch `point`. Reads the running kind first (its
    /// errors come back as they are); none running gives ERR_FUNCTION_NOT_RUNNING (21); a point above
    /// the kind's highest gives ERR_INVALID_DATA_RANGE (8), sending nothing.
    virtual ResultCode setCalibrationPoint(unsigned char point) = 0; // 2
    /// Asks whether the controller has taken `point`: `done` becomes 1 when it has, else 0. A null
    /// `done` gives ERR_INVALID_PARAMETER_NULL (9) after the open test.
    virtual ResultCode checkCalibrationPoint(unsigned char* done, unsigned char point) = 0; // 3
    /// Reads calibration value `index` (0..5, else ERR_INVALID_DATA_RANGE (8) before the open
    /// test). A null `value` gives ERR_INVALID_PARAMETER_NULL (9) after the open test.
    virtual ResultCode getCalibrationValue(std::int32_t index, std::uint16_t* value) = 0; // 4
    /// Writes calibration value `index` (0..5, else 8 before the open test). The controller's byte
    /// count is not judged.
    virtual ResultCode setCalibrationValue(std::int32_t index, std::uint16_t value) = 0; // 5
    /// Closes the driver handle and frees the object; the pointer is not to be used afterwards.
    virtual void release() = 0; // 6
};

} // namespace Varnholt
