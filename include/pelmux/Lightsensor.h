/// \file
/// The display's ambient light sensor and its background averaging.
#pragma once

#include <pelmux/ResultCode.h>

#include <cstdint>

namespace Varnholt {

/// How an averaging calculation chooses the sensor's operating range.
enum RangeMode : std::int32_t {
    RANGE_MODE_STANDARD = 0,
    RANGE_MODE_EXTENDED = 1,
    RANGE_MODE_AUTO = 2,
};

/// The sensor's operating range; the extended range reads five times the standard one.
enum OperatingRange : std::int32_t {
    RANGE_STANDARD = 0,
    RANGE_EXTENDED = 1,
};

/// The ambient light sensor. GetLightsensor builds a new object per call with its own driver
/// handle; whether the unit has the sensor (a display in its identity) is learnt when it is built.
/// Illuminance is in lux, 0 to 65535; the extended range reads five times the standard one.
///
/// Every operation but release answers ERR_NOT_SUPPORTED (2) first on a unit without a display,
/// then ERR_INVALID_PARAMETER_NULL (9) for a null output. Driver results: ERR_OPEN_FAILED (1)
/// without the board driver, ERR_IOCTRL_OPERATION_FAILED (7) when a request fails,
/// ERR_BUFFER_SIZE_ERROR (6) for a wrong byte count. Outputs are written only on success, except
/// as noted. Only startAverageCalc starts a thread; the other operations run on the caller's
/// thread and block only for their driver requests.
///
/// One averaging calculation runs at a time in the session: a named semaphore shared by every
/// process of the session is held from startAverageCalc until the calculation's thread ends.
struct Lightsensor {
    /// One measurement: the illuminance and the sensor's two raw channel bytes (bit 7 valid, then
    /// chord and step). ERR_INVALID_DATA_RANGE (8) while either channel has no valid reading
    /// (nothing is stored). The lux value is scaled by the operating range read after the
    /// measurement; when that read fails its code is the result, and the unscaled lux and the raw
    /// bytes are stored all the same.
    ///
    /// A saturated sensor (channel 1 at full scale, raw byte 0xFF) reads the range's largest value
    /// with ERR_SUCCESS: 1565 lx in the standard range, 7825 lx in the extended one, which no
    /// unsaturated reading reaches. The light is then at or beyond what the range measures, so a
    /// reading never falls as the light rises; the extended range (setOperatingRange) or an
    /// averaging calculation in RANGE_MODE_AUTO reads further.
    virtual ResultCode getIlluminanceChannels(std::uint16_t* lux, unsigned char* channel1Raw,
                                              unsigned char* channel2Raw) = 0; // 0
    /// One measurement, as getIlluminanceChannels without the raw bytes. A saturated sensor reads
    /// 1565 lx in the standard range, 7825 lx in the extended one.
    virtual ResultCode getIlluminance(std::uint16_t* lux) = 0; // 1
    /// The running average of this object's averaging calculation. ERR_FUNCTION_NOT_RUNNING (21)
    /// while its thread does not run (not started, not yet started up, stopped, or ended by a
    /// failed request). Waits only for the thread's current sample.
    virtual ResultCode getAverageIlluminance(std::uint16_t* lux) = 0; // 2
    /// Starts an averaging calculation on a thread of the object's own, which measures about every
    /// 800 ms. `averageWndSize` (at least 1) samples are averaged; with `rejectWndSize` above 1, a
    /// sample enters the average only while the newest `rejectWndSize` samples lie within
    /// `rejectDeltaInLux` (at least 1) of each other; the first sample fills the whole average
    /// window. `mode` is a RangeMode: standard, extended, or automatic switching between the two
    /// (another value keeps the current range). Waits for the end of this object's previous
    /// calculation's thread, not for the first sample.
    /// ERR_INVALID_DATA_RANGE (8) for a zero `rejectDeltaInLux` or `averageWndSize`;
    /// ERR_AVERAGE_CALC_STARTED (20) while a calculation runs anywhere in the session (this object
    /// included); ERR_INITIALISATION_FAILED (13) when the windows cannot be allocated; the results
    /// of setting the range (1, 7, 9); ERR_CREATING_THREAD (10) when the thread cannot be started.
    virtual ResultCode startAverageCalc(std::uint32_t averageWndSize, std::uint32_t rejectWndSize,
                                        std::uint32_t rejectDeltaInLux, std::int32_t mode) = 0; // 3
    /// Asks the averaging thread to end and waits about 70 ms; does not wait for the thread's end.
    /// ERR_SUCCESS also when nothing runs.
    virtual ResultCode stopAverageCalc() = 0; // 4
    /// The sensor's operating range, an OperatingRange (0 or 1); ERR_INVALID_DATA_RANGE (8) for
    /// another answer.
    virtual ResultCode getOperatingRange(std::int32_t* range) = 0; // 5
    /// Sets the operating range, an OperatingRange. ERR_AVERAGE_CALC_STARTED (20) while an
    /// averaging calculation runs anywhere in the session (it owns the range); 1 without the
    /// driver; then ERR_INVALID_PARAMETER_NULL (9) for a value other than 0 or 1. The driver's
    /// byte count is not judged.
    virtual ResultCode setOperatingRange(std::int32_t range) = 0; // 6
    /// Frees the object, after stopping its running averaging calculation. Waits for the
    /// calculation's thread to end and closes the driver handles; the pointer must not be used
    /// afterwards.
    virtual void release() = 0; // 7
};

} // namespace Varnholt
