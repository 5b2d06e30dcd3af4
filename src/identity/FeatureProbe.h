// Feature probes: whether the unit has a hardware feature, as its identity EEPROM says.
#pragma once

#include <initializer_list>
#include <utility>

namespace pelmux {

enum class Feature {
    Can,       // "CAN": number of CAN channels
    Video,     // "VIDEO": number of video inputs
    DigitalIo, // "DIGIO": number of digital inputs
    Display,   // "DISPLAY": a resolution such as 800x480
    Touch,     // "TOUCH": exactly 1
};

// Builds a temporary About object, reads the feature's field and releases the object. A read that
// fails (any result but success) counts as present, and so does a temporary object that could not
// be built; otherwise the feature is present when the value read is non-zero.
bool probeFeature(Feature feature);

// The same for several features through one temporary About object (one reading of the identity),
// in the order given: stores each feature's answer in its flag.
void probeFeatures(std::initializer_list<std::pair<Feature, bool*>> wanted);

} // namespace pelmux
