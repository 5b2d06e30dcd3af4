#include "firmware/IFlasher.h"

namespace pelmux {

ResultCode IFlasher::sendUpgradeMode(std::uint8_t code)
{
    controlHandle_.reopenIfClosed();
    return writeRequest(controlHandle_, upgradeModeRequest, &code, sizeof code);
}

ResultCode IFlasher::sendFrontPreparation()
{
    if (!controlHandle_.reopenIfClosed())
        return Varnholt::ERR_OPEN_FAILED;
    return issue(controlHandle_, frontPreparationRequest, nullptr, 0, nullptr, 0, Count::Unchecked);
}

ResultCode IFlasher::sendBootloaderLink(std::uint8_t value)
{
    if (value > linkFront)
        return Varnholt::ERR_INVALID_DATA_RANGE;
    if (!controlHandle_.reopenIfClosed())
        return Varnholt::ERR_OPEN_FAILED;
    return issue(controlHandle_, bootloaderLinkRequest, &value, sizeof value, nullptr, 0, Count::Unchecked);
}

} // namespace pelmux
