/// \file
/// The multi-colour LED on the unit's front: colour and blink timing.
#pragma once

#include <pelmux/ResultCode.h>

#include <cstdint>

namespace Varnholt {

/// The front LED: its colour and blinking.
///
/// One object per process (GetFrontLED hands out the same object and counts references; each
/// reference is given back with release). All state lives in the LED controller behind the board
/// driver. Colour channels run from 0 to 15. Standard colours are indices 0 to 5 (red, green, blue,
/// cyan, purple, orange); getStandardColor gives 6 for a colour that matches none. Times are in units
/// of 10 ms.
///
/// Every operation runs on the caller's thread, blocks only for its driver requests and writes its
/// outputs only on success. Driver results: ERR_OPEN_FAILED (1) without the board driver,
/// ERR_IOCTRL_OPERATION_FAILED (7) when a request fails, ERR_BUFFER_SIZE_ERROR (6) when a read
/// returns another byte count than its record (the returned count of writes is not judged).
/// Out-of-range arguments answer ERR_INVALID_PARAMETER_NULL (9) and write nothing; so does a null
/// output (an address of 0 where a reference is declared), before any driver request. The set
/// operations of the timing bytes read the whole timing record and write it back: the threads of
/// one process take turns at this, so that setters of different timing bytes keep each other's
/// changes, but setters in other processes can still undo them.
struct FrontLED {
    /// The blink as frequency (hertz, 100 / (on + off time)) and duty cycle (percent of the period
    /// lit, truncated), from two reads of the timing record. ERR_INVALID_DATA_RANGE (8) when on and
    /// off time are both 0 (no period).
    virtual ResultCode getSignal(double& frequency, unsigned char& dutyCycle) = 0; // 0
    /// The time the LED is lit per blink (0: the LED is dark).
    virtual ResultCode getOnTime(unsigned char& onTime) = 0; // 1
    /// The time the LED is dark per blink.
    virtual ResultCode getOffTime(unsigned char& offTime) = 0; // 2
    /// The LED controller's third timing byte, as it holds it.
    virtual ResultCode getTiming2(unsigned char& timing2) = 0; // 3
    /// The LED controller's fourth timing byte, as it holds it.
    virtual ResultCode getTiming3(unsigned char& timing3) = 0; // 4
    /// The index of the standard colour the LED shows, or 6 when it shows another colour.
    virtual ResultCode getStandardColor(std::int32_t& index) = 0; // 5
    /// The colour, each channel 0 to 15.
    virtual ResultCode getColor(unsigned char& red, unsigned char& green, unsigned char& blue) = 0; // 6
    /// The controller's control flag: 1 when set, else 0.
    virtual ResultCode getControlFlag(std::int32_t& flag) = 0; // 7
    /// Blinks at `frequency` hertz (0.2 to 50.0) with `dutyCycle` percent lit (0 to 100). On time
    /// period x duty / 100 and off time period - on time of the period 100 / frequency, truncated and
    /// held at 255 each (below about 0.4 Hz the controller cannot show the whole period). Writes the
    /// on time, then the off time (two timing read-modify-writes; a failed first one ends it); the
    /// process's other threads change no timing byte between them.
    virtual ResultCode setSignal(double frequency, unsigned char dutyCycle) = 0; // 8
    /// Sets the time the LED is lit per blink. Each timing setter writes one byte of the timing
    /// record and keeps the other three (read, then write; a failed read writes nothing).
    virtual ResultCode setOnTime(unsigned char onTime) = 0; // 9
    /// Sets the time the LED is dark per blink (the other timing bytes are kept).
    virtual ResultCode setOffTime(unsigned char offTime) = 0; // 10
    /// Sets the controller's third timing byte (the others are kept).
    virtual ResultCode setTiming2(unsigned char timing2) = 0; // 11
    /// Sets the controller's fourth timing byte (the others are kept).
    virtual ResultCode setTiming3(unsigned char timing3) = 0; // 12
    /// Shows standard colour `index` (0 to 5; any other index: 9, checked before the driver).
    virtual ResultCode setStandardColor(std::int32_t index) = 0; // 13
    /// Shows a colour; a channel above 15 answers 9, checked before the driver.
    virtual ResultCode setColor(unsigned char red, unsigned char green, unsigned char blue) = 0; // 14
    /// Darkens the LED: on time 0 (the colour and off time are kept).
    virtual ResultCode setOff() = 0; // 15
    /// Sets the controller's control flag when `value` is exactly 1 and clears it otherwise.
    virtual ResultCode setControlFlag(std::int32_t value) = 0; // 16
    /// Gives one reference back; the last one closes the driver and frees the object, and the next
    /// GetFrontLED makes a new one. The pointer must not be used afterwards.
    virtual void release() = 0; // 17
};

} // namespace Varnholt
