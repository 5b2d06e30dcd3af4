/// \file
/// Settings of the touch controller kept by the front micro-controller: mode, a value and twelve parameters.
#pragma once

#include <pelmux/ResultCode.h>

#include <cstdint>

namespace Varnholt {

/// The touch controller: its mode, value and parameters.
///
/// Every operation is one request to the board driver on the caller's thread; none blocks beyond it
/// and none starts a thread. A unit whose identity names no display, or a touch field other than 1,
/// answers ERR_NOT_SUPPORTED (2). A front firmware too old for the operation answers
/// ERR_NEWER_FRONT_UC_REQUIRED (27); so does a unit whose front firmware version cannot be read.
/// A failed request answers ERR_IOCTRL_OPERATION_FAILED (7), a wrong byte count ERR_BUFFER_SIZE_ERROR
/// (6); outputs are written only on success.
///
/// Parameter indices run from 0 to 11, each with its accepted values:
///   0, 10, 11: any 16-bit value;  1, 2: 0..4095;  3, 4, 5, 6: 0..16383 (the controller keeps four
///   times the value);  7, 9: 0..32767;  8: any value, sent as 1 when non-zero and 0 when zero.
struct TouchScreen {
    /// The controller's touch mode, 0 to 3. Checks in order: driver open (else 1), touch screen
    /// fitted (2), front firmware 0.5 or later (27), a null `mode` (9); a mode byte above 3 from the
    /// controller gives ERR_INVALID_DATA_RANGE (8).
    virtual ResultCode getTouchMode(std::int32_t* mode) = 0; // 0
    /// The controller's 16-bit touch value. Checks as getTouchMode.
    virtual ResultCode getTouchValue(std::uint16_t* value) = 0; // 1
    /// Sets the touch mode; only the two low bits of `mode` are sent (6 sends 2), nothing is refused.
    /// Checks: driver open (1), touch screen fitted (2), front firmware 0.5 or later (27).
    virtual ResultCode setTouchMode(unsigned char mode) = 0; // 2
    /// Sets the 16-bit touch value. Checks as setTouchMode.
    virtual ResultCode setTouchValue(std::uint16_t value) = 0; // 3
    /// Sets parameter `index` (0..11) to `value`. Checks in order: touch screen fitted (2); front
    /// firmware 0.5 or later for index 0, 1.0 or later for every other index (27); index above 11
    /// (8); value outside the index's range (8); driver open (1). A refused value sends nothing.
    virtual ResultCode setTouchParameter(std::int32_t index, std::uint16_t value) = 0; // 4
    /// Reads parameter `index` (0..11), in the units setTouchParameter takes. Checks as
    /// setTouchParameter without the value test, then a null `value` (9).
    virtual ResultCode getTouchParameter(std::int32_t index, std::uint16_t* value) = 0; // 5
    /// Closes the driver handle and frees the object; the pointer is not to be used afterwards.
    virtual void release() = 0; // 6
};

} // namespace Varnholt
