#include "identity/FeatureProbe.h"

#include "frame/Factories.h"
#include "identity/About_Imp.h"

namespace pelmux {

namespace {

bool inExpansionEeprom(Feature feature)
{
    switch (feature) {
    case Feature::Wlan:
    case Feature::Gps:
    case Feature::Gsm:
    case Feature::Bluetooth:
        return true;
    default:
        return false;
    }
}

// Reads the feature's field through the About operation that answers it.
FieldReading readField(Varnholt::About& about, Feature feature)
{
    unsigned char count = 0;
    bool flag = false;
    Varnholt::ResultCode result = Varnholt::ERR_SUCCESS;
    bool counted = false;
    switch (feature) {
    case Feature::Can:
        result = about.getCanCount(&count);
        counted = true;
        break;
    case Feature::Video:
        result = about.getVideoCount(&count);
        counted = true;
        break;
    case Feature::DigitalIo:
        result = about.getDigitalIoCount(&count);
        counted = true;
        break;
    case Feature::Display:
        result = about.hasDisplay(&flag);
        break;
    case Feature::Touch:
        result = about.hasTouchScreen(&flag);
        break;
    case Feature::Wlan:
        result = about.hasWlan(&flag);
        break;
    case Feature::Gps:
        result = about.hasGps(&flag);
        break;
    case Feature::Gsm:
        result = about.hasGsm(&flag);
        break;
    case Feature::Bluetooth:
        result = about.hasBluetooth(&flag);
        break;
    }
    return {result, counted ? count != 0 : flag};
}

// Builds the temporary About object as GetAbout builds it, but with only the records that hold the
// wanted fields, hands it to `use` (null when it could not be built) and releases it.
template <class Wanted, class Use> void withProbeObject(const Wanted& wanted, Use use)
{
    IdentityRecords loaded{false, false};
    for (const auto& entry : wanted)
        (inExpansionEeprom(entry.first) ? loaded.expansion : loaded.unit) = true;
    Varnholt::About* about = makeNoThrow<About_Imp>(loaded);
    use(about);
    if (about != nullptr)
        about->release();
}

} // namespace

void readFeatureFields(std::initializer_list<std::pair<Feature, FieldReading*>> wanted)
{
    withProbeObject(wanted, [&](Varnholt::About* about) {
        for (const auto& [feature, reading] : wanted)
            *reading = about == nullptr ? FieldReading{} : readField(*about, feature);
    });
}

FieldReading readFeatureField(Feature feature)
{
    FieldReading reading;
    readFeatureFields({{feature, &reading}});
    return reading;
}

bool probeFeature(Feature feature)
{
    bool present = true;
    probeFeatures({{feature, &present}});
    return present;
}

void probeFeatures(std::initializer_list<std::pair<Feature, bool*>> wanted)
{
    withProbeObject(wanted, [&](Varnholt::About* about) {
        for (const auto& [feature, present] : wanted) {
            const FieldReading reading = about == nullptr ? FieldReading{} : readField(*about, feature);
            *present = reading.result != Varnholt::ERR_SUCCESS || reading.nonZero;
        }
    });
}

} // namespace pelmux
