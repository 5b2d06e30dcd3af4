#include "supervisor/Power_Imp.h"

#include "identity/FeatureProbe.h"
#include "identity/VersionGates.h"

namespace pelmux {

namespace {

using Varnholt::ERR_SUCCESS;

// The byte of the power command; its meaning is the supervisor's.
constexpr std::uint8_t powerCommandByte = 0;

} // namespace

Power_Imp::Power_Imp()
{
    probeFeatures({{Feature::Can, &canPresent_},
                   {Feature::Video, &videoPresent_},
                   {Feature::Display, &displayPresent_}});
}

ResultCode Power_Imp::admit(const bool* feature)
{
    // A later call tries again.
    if (!link_.reopenIfClosed())
        return Varnholt::ERR_OPEN_FAILED;
    if (feature != nullptr && !*feature)
        return Varnholt::ERR_NOT_SUPPORTED;
    return ERR_SUCCESS;
}

ResultCode Power_Imp::readByte(const bool* feature, const void* output, std::uint32_t code,
                               std::uint8_t& byte)
{
    if (const ResultCode result = admit(feature); result != ERR_SUCCESS)
        return result;
    // Nothing to store the answer in: refused before the request.
    if (output == nullptr)
        return Varnholt::ERR_INVALID_PARAMETER_NULL;
    return issue(link_, code, nullptr, 0, &byte, 1, Count::Output);
}

ResultCode Power_Imp::readOnOff(const bool* feature, std::uint32_t code, int* status)
{
    std::lock_guard lock(mutex_);
    std::uint8_t byte = 0;
    if (const ResultCode result = readByte(feature, status, code, byte); result != ERR_SUCCESS)
        return result;
    *status = byte != 0 ? 1 : 0;
    return ERR_SUCCESS;
}

ResultCode Power_Imp::writeOnOff(const bool* feature, std::uint32_t code, int value)
{
    std::lock_guard lock(mutex_);
    if (const ResultCode result = admit(feature); result != ERR_SUCCESS)
        return result;
    // Only 1 switches on; 2, -1 and every other value switch off.
    const std::uint8_t byte = value == 1 ? 1 : 0;
    return issue(link_, code, &byte, 1, nullptr, 0, Count::Input);
}

ResultCode Power_Imp::getDisplayPowerStatus(int* status)
{
    return readOnOff(&displayPresent_, displayPowerRead, status);
}

ResultCode Power_Imp::getCanPowerStatus(int* status)
{
    return readOnOff(&canPresent_, canPowerRead, status);
}

ResultCode Power_Imp::getAuxPowerStatus(int* status)
{
    return readOnOff(nullptr, auxPowerRead, status);
}

ResultCode Power_Imp::setDisplayPowerStatus(int value)
{
    return writeOnOff(&displayPresent_, displayPowerWrite, value);
}

ResultCode Power_Imp::setCanPowerStatus(int value)
{
    return writeOnOff(&canPresent_, canPowerWrite, value);
}

ResultCode Power_Imp::setAuxPowerStatus(int value)
{
    return writeOnOff(nullptr, auxPowerWrite, value);
}

ResultCode Power_Imp::getVideoPowerStatus(unsigned char* mask)
{
    std::lock_guard lock(mutex_);
    std::uint8_t byte = 0;
    if (const ResultCode result = readByte(&videoPresent_, mask, videoPowerRead, byte); result != ERR_SUCCESS)
        return result;
    // The mask as the supervisor sends it.
    *mask = byte;
    return ERR_SUCCESS;
}

ResultCode Power_Imp::setVideoPowerStatus(unsigned char value)
{
    std::lock_guard lock(mutex_);
    if (const ResultCode result = admit(&videoPresent_); result != ERR_SUCCESS)
        return result;
    if (value > highestVideoPowerMask)
        return Varnholt::ERR_INVALID_DATA_RANGE;
    return issue(link_, videoPowerWrite, &value, 1, nullptr, 0, Count::Input);
}

ResultCode Power_Imp::getPowerStateCode(int* code)
{
    std::lock_guard lock(mutex_);
    if (!link_.reopenIfClosed())
        return Varnholt::ERR_OPEN_FAILED;
    if (!isSupervisorVersionAtLeast(0, 9, 0))
        return Varnholt::ERR_NEWER_SS_REQUIRED;
    if (code == nullptr)
        return Varnholt::ERR_INVALID_PARAMETER_NULL;
    std::uint8_t byte = 0;
    if (const ResultCode result = issue(link_, powerStateRead, nullptr, 0, &byte, 1, Count::Output);
        result != ERR_SUCCESS)
        return result;
    if (byte > highestPowerState)
        return Varnholt::ERR_INVALID_DATA_RANGE;
    *code = byte;
    return ERR_SUCCESS;
}

ResultCode Power_Imp::sendPowerCommand()
{
    std::lock_guard lock(mutex_);
    if (const ResultCode result = admit(nullptr); result != ERR_SUCCESS)
        return result;
    // Only the success of the request counts; its returned count is not judged.
    return issue(link_, powerCommandWrite, &powerCommandByte, 1, nullptr, 0, Count::Unchecked);
}

} // namespace pelmux
