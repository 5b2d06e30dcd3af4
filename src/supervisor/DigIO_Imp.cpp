#include "supervisor/DigIO_Imp.h"

#include "identity/FeatureProbe.h"

namespace pelmux {

DigIO_Imp::DigIO_Imp() : digitalInputsPresent_(probeFeature(Feature::DigitalIo))
{
    link_.open();
}

ResultCode DigIO_Imp::getDigitalInputs(unsigned char* inputs)
{
    if (!link_.isOpen())
        return Varnholt::ERR_OPEN_FAILED;
    if (!digitalInputsPresent_)
        return Varnholt::ERR_NOT_SUPPORTED;
    // Nothing to write the inputs to: refused before the request.
    if (inputs == nullptr)
        return Varnholt::ERR_INVALID_PARAMETER_NULL;
    std::uint8_t bits = 0;
    const ResultCode result = issue(link_, digitalInputsRequest, nullptr, 0, &bits, 1, Count::Output);
    if (result != Varnholt::ERR_SUCCESS)
        return result;
    // Only the four inputs: the upper bits are always cleared.
    *inputs = bits & 0x0F;
    return Varnholt::ERR_SUCCESS;
}

} // namespace pelmux
