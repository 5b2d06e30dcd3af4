// The values of the unit a person may change by name, as a real unit's sensors and inputs would
// change: the light, the temperatures, the supply rails, the digital inputs, the battery, the GPS
// status input and the diagnostic words. `pelmux sim set` and the front panel page both change them
// with the unit command {"cmd": "adjust", "name": NAME, "value": VALUE}, so that each change
// reaches the unit by one path, checked by one table.
#pragma once

#include "Unit.h"

#include <string>

namespace pelmux::sim {

// Where a checked value goes in the unit's state, and the value as the state keeps it.
struct Adjustment {
    std::string pointer; // a JSON pointer into the state
    Json value;
    bool targetMustExist = false; // the parent must already be there (a sensor of the profile)
};

// Checks `value` against the entry for `name` and answers where it goes. Throws
// std::invalid_argument with a readable message ("lux takes a number from 0 to 1000000 (...)", or
// "unknown name ..." with the names) when the name is unknown or the value is not one it takes.
// Numbers: lux 0 to 1000000; range 0 or 1; charge 0 to 100 (whole); battery true or false;
// gps 0 or 1; inputs 0 to 255; temperatureN (N a sensor index) -273 to 1000 degrees Celsius, kept
// in thousandths; rail.NAME (a supply rail name such as 24V, or a channel number) 0 to 100 volts;
// word1 to word6 0 to 65535.
Adjustment adjustment(const std::string& name, const Json& value);

// The names `adjustment` knows, for messages ("lux, range, ...").
std::string adjustableNames();

// Installs the unit command "adjust": answers {"ok": true, "name", "value"} with the value as the
// state now holds it, or refuses without changing anything.
void installAdjust(Unit& unit);

} // namespace pelmux::sim
