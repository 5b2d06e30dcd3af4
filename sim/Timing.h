// How long the simulated unit takes to answer (the profile's "timing"). By default it answers at
// once. At real speed it takes the time the real unit takes where that time is physics or a stated
// figure: each I2C transfer of the vendor library its bus time at the bus clock, each call of the
// vendor library a figure for the library itself, each driver request a figure for the driver. The
// serial line keeps its own baud-rate timing ("serial.timeScale"); nothing else waits.
#pragma once

#include "JsonText.h"

#include <chrono>
#include <cstddef>
#include <string>

namespace pelmux::sim {

struct Timing {
    bool real = false;           // "mode": "real"; "instant" (the default) answers at once
    double i2cClockHz = 100000;  // the I2C bus clock
    double vendorCallUs = 100;   // one vendor-library call beyond its bus time, in microseconds
    double driverRequestUs = 50; // one driver request (a DeviceIoControl), in microseconds
};

// The "timing" of a unit state; every value it leaves out keeps its default. Throws
// std::invalid_argument naming the key for a value that is not one of its kind (a mode other than
// "real" or "instant", a clock that is not a positive number, a figure below 0).
Timing timingOf(const Json& state);

// The bus time of an I2C transfer of `bytes` bytes (address and offset bytes included) with
// `conditions` start, repeated-start and stop conditions on a bus clocked at `clockHz`: 9 bit
// times per byte (8 bits and the acknowledge), one bit time per condition.
std::chrono::nanoseconds busTime(double clockHz, std::size_t bytes, int conditions);

// What a person is told of the unit's pace, e.g. "real speed: I2C at 100 kHz, 100 us per vendor
// call, 50 us per driver request", or "instant: every request is answered at once".
std::string describeTiming(const Timing& timing);

} // namespace pelmux::sim
