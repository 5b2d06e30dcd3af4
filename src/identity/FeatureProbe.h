// Feature probes: whether the unit has a hardware feature, as its identity EEPROMs say.
#pragma once

#include <pelmux/ResultCode.h>

#include <initializer_list>
#include <utility>

namespace pelmux {

enum class Feature {
    // Fields of the unit EEPROM.
    Can,       // "CAN": number of CAN channels
    Video,     // "VIDEO": number of video inputs
    DigitalIo, // "DIGIO": number of digital inputs
    Display,   // "DISPLAY": a resolution such as 800x480
    Touch,     // "TOUCH": exactly 1
    // Fields of the expansion EEPROM: the radio modules, each fitted when exactly 1.
    Wlan,      // "WLAN"
    Gps,       // "GPS"
    Gsm,       // "GSM"
    Bluetooth, // "BLUETOOTH"
};

// What reading a feature's field answered: the About operation's result, and whether the value it
// read is non-zero (a count above 0, a flag that is set, a display found).
struct FieldReading {
    Varnholt::ResultCode result = Varnholt::ERR_MEMORY_ALLOCATION_FAILED;
    bool nonZero = false;
};

// Reads the fields through one temporary About object that loads only the EEPROMs holding them
// (the unit's for CAN, VIDEO, DIGIO, DISPLAY and TOUCH, the expansion board's for the radio modules)
// and releases it; each reading is stored in order. An object that cannot be built answers
// ERR_MEMORY_ALLOCATION_FAILED for every field.
void readFeatureFields(std::initializer_list<std::pair<Feature, FieldReading*>> wanted);
FieldReading readFeatureField(Feature feature);

// The feature probe of the constructors: a read that fails (any result but success) counts as
// present, and so does a temporary object that could not be built; otherwise the feature is present
// when the value read is non-zero.
bool probeFeature(Feature feature);

// The same for several features through one temporary About object (one reading of the identity),
// in the order given: stores each feature's answer in its flag.
void probeFeatures(std::initializer_list<std::pair<Feature, bool*>> wanted);

} // namespace pelmux
