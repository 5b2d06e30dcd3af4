/// \file
/// The unit's buzzer: tone, on and off, and timed buzzes.
#pragma once

#include <pelmux/ResultCode.h>

#include <cstdint>

namespace Varnholt {

/// The buzzer: its tone and timed buzzes.
///
/// A new object per GetBuzzer call; give it back with release. Whether the unit has a buzzer is
/// decided when the object is made, from the display entry of the unit identity: without one every
/// operation but release answers ERR_NOT_SUPPORTED (2) before anything else. Driver results:
/// ERR_OPEN_FAILED (1) without the board driver, ERR_IOCTRL_OPERATION_FAILED (7) when a request
/// fails, ERR_BUFFER_SIZE_ERROR (6) when a read returns another byte count than its record (the
/// returned count of writes is not judged). Outputs are written only on success; a null output (an
/// address of 0 where a reference is declared) answers ERR_INVALID_PARAMETER_NULL (9), after the
/// buzzer test and before the driver is asked. The settings and on/off operations may be called at
/// any time, also during a timed buzz.
struct Buzzer {
    /// The frequency of the tone, in hertz.
    virtual ResultCode getFrequency(std::uint16_t& frequency) = 0; // 0
    /// The volume of the tone, 0 to 51.
    virtual ResultCode getVolume(std::uint16_t& volume) = 0; // 1
    /// Whether the buzzer sounds now.
    virtual ResultCode isSounding(bool& on) = 0; // 2
    /// Sets the frequency, 700 to 10000 Hz (outside: ERR_INVALID_PARAMETER_NULL (9), checked before
    /// the driver; nothing written); the volume is kept.
    virtual ResultCode setFrequency(std::uint16_t frequency) = 0; // 3
    /// Sets the volume, 0 to 51 (above: 9, checked before the driver); the frequency is kept.
    virtual ResultCode setVolume(std::uint16_t volume) = 0; // 4
    /// Switches the buzzer on or off. A stored tone the buzzer cannot sound is first brought into
    /// range and written back (frequency held at 700 to 10000 Hz, volume at 51).
    virtual ResultCode setSounding(bool on) = 0; // 5
    /// Sounds the buzzer for `durationMs` milliseconds. Only one timed buzz runs at a time in the
    /// session: ERR_FUNCTION_IN_PROGRESS (11) while another one runs, in this process or another.
    /// Blocking: switches on, waits, switches off and answers the switching on's result (when it
    /// fails nothing waits). Not blocking: answers ERR_SUCCESS at once and buzzes on a thread of the
    /// object's own, whose results nobody sees; ERR_CREATING_THREAD (10) when that thread cannot be
    /// started.
    virtual ResultCode buzz(std::uint32_t durationMs, bool blocking) = 0; // 6
    /// Waits for the end of a timed buzz of this object that still runs (blocks up to its
    /// duration), then closes the driver and frees the object. The pointer must not be used
    /// afterwards.
    virtual void release() = 0; // 7
};

} // namespace Varnholt
