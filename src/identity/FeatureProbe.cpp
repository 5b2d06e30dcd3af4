#include "identity/FeatureProbe.h"

#include "frame/Factories.h"
#include "identity/About_Imp.h"

namespace pelmux {

namespace {

// Reads the feature's field; answers the result code and whether the value read is non-zero.
Varnholt::ResultCode readField(Varnholt::About& about, Feature feature, bool& nonZero)
{
    unsigned char count = 0;
    bool flag = false;
    Varnholt::ResultCode result = Varnholt::ERR_SUCCESS;
    switch (feature) {
    case Feature::Can:
        result = about.getCanCount(&count);
        nonZero = count != 0;
        break;
    case Feature::Video:
        result = about.getVideoCount(&count);
        nonZero = count != 0;
        break;
    case Feature::DigitalIo:
        result = about.getDigitalIoCount(&count);
        nonZero = count != 0;
        break;
    case Feature::Display:
        result = about.hasDisplay(&flag);
        nonZero = flag;
        break;
    case Feature::Touch:
        result = about.hasTouchScreen(&flag);
        nonZero = flag;
        break;
    }
    return result;
}

} // namespace

bool probeFeature(Feature feature)
{
    bool present = true;
    probeFeatures({{feature, &present}});
    return present;
}

void probeFeatures(std::initializer_list<std::pair<Feature, bool*>> wanted)
{
    // Built as GetAbout builds it; no object (memory exhausted) counts as present.
    Varnholt::About* about = makeNoThrow<About_Imp>();
    for (const auto& [feature, present] : wanted) {
        bool nonZero = false;
        const Varnholt::ResultCode result =
            about == nullptr ? Varnholt::ERR_MEMORY_ALLOCATION_FAILED : readField(*about, feature, nonZero);
        *present = result != Varnholt::ERR_SUCCESS || nonZero;
    }
    if (about != nullptr)
        about->release();
}

} // namespace pelmux
