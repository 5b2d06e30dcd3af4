/// \file
/// Display backlight level and the settings of the automatic backlight controller.
#pragma once

#include <pelmux/ResultCode.h>

#include <cstdint>

namespace Varnholt {

/// The display backlight.
///
/// One object per process (GetBacklight counts references; release gives one back). Every operation
/// but release answers ERR_NOT_SUPPORTED (2) first when the unit identity names no display. Every
/// operation runs on the caller's thread, starts no thread and may be called from any thread; the
/// settings operations wait for the settings file's lock (held by another program for one
/// load-modify-write cycle at most).
///
/// Driver requests answer ERR_OPEN_FAILED (1) without the board driver, ERR_IOCTRL_OPERATION_FAILED (7)
/// when the request fails and ERR_BUFFER_SIZE_ERROR (6) when the driver reports another byte count
/// than one; outputs are then left as they were. A null output pointer gives
/// ERR_INVALID_PARAMETER_NULL (9) before anything is read.
///
/// The controller runs in whichever process started it; it reads the settings below from the
/// settings file when it is told that they changed. The writes tell it (except the LED dimming
/// preference, which goes to the unit's service) and answer ERR_SUCCESS whether or not the file
/// could be written. A setting missing from the file, or not a number, reads as
/// ERR_DATATYPE_MISMATCH (4).
struct Backlight {
    /// The backlight level the driver reports, 0 (darkest) to 255 (brightest).
    virtual ResultCode getIntensity(unsigned char* level) = 0; // 0
    /// Sets the backlight level, 0 to 255, passed to the driver unchanged.
    virtual ResultCode setIntensity(unsigned char level) = 0; // 1
    /// The driver's backlight status byte, passed on unchanged (its meaning is the driver's).
    virtual ResultCode getStatus(unsigned char* status) = 0; // 2
    /// Switches the automatic backlight controller on ("ABL_status" 1).
    virtual ResultCode enableAutomaticBacklight() = 0; // 3
    /// Switches the automatic backlight controller off ("ABL_status" 0).
    virtual ResultCode disableAutomaticBacklight() = 0; // 4
    /// Whether the controller is switched on ("ABL_status" non-zero). A missing or unparsable value
    /// stores false and answers ERR_DATATYPE_MISMATCH.
    virtual ResultCode getAutomaticBacklightStatus(bool* enabled) = 0; // 5
    /// Soft transitions: the controller moves the level one step every 50 ms instead of at once.
    virtual ResultCode setSoftTransitions(bool softTransitions) = 0; // 6
    /// Soft transitions and k, the factor of level = k * ln(lux) - 10 that the controller learns.
    /// The flag is parsed and stored first; when k then fails to parse, the flag stays stored.
    virtual ResultCode getAutomaticBacklightParameters(bool* softTransitions, double* k) = 0; // 7
    /// Sets the light filter of the controller. It holds how many readings are averaged, how many
    /// newest readings must lie within rejectDeltaInLux of each other before one is accepted, and
    /// the light sensor's range mode (RangeMode in Lightsensor.h). No range is judged here; the
    /// light sensor judges the values when the controller starts averaging with them.
    virtual ResultCode setAutomaticBacklightFilter(std::int32_t averageWndSize, std::int32_t rejectWndSize,
                                                   std::int32_t rejectDeltaInLux, std::int32_t mode) = 0; // 8
    /// The light filter. Parsed in the order mode, averageWndSize, rejectWndSize, rejectDeltaInLux, each
    /// stored as soon as it parses; the first that fails answers ERR_DATATYPE_MISMATCH.
    virtual ResultCode getAutomaticBacklightFilter(std::int32_t* averageWndSize, std::int32_t* rejectWndSize,
                                                   std::int32_t* rejectDeltaInLux,
                                                   std::int32_t* mode) = 0; // 9
    /// Whether the LEDs dim with the backlight: on when no preference is stored, otherwise on only
    /// for the value 1. Always ERR_SUCCESS once past the tests above.
    virtual ResultCode getLedDimming(bool* enabled) = 0; // 10
    /// 1 switches LED dimming on, any other value off. The preference is stored, then the unit's
    /// service is told (it waits for its answer): ERR_OPEN_FAILED (1) when the service cannot be
    /// opened, ERR_EXECUTE_COMMAND_FAILED (17) when it refuses; the preference stays stored either way.
    virtual ResultCode setLedDimming(std::int32_t value) = 0; // 11
    /// Gives one reference back; the last one frees the object.
    virtual void release() = 0; // 12
};

} // namespace Varnholt
