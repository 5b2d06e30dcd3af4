#include "supervisor/Adc_Imp.h"

#include <cstdint>

namespace pelmux {

namespace {

// The answer: echoed channel (u32), raw reading (u16), two bytes the supervisor leaves unused.
constexpr std::uint32_t answerSize = 8;

std::uint32_t u32At(const std::uint8_t* p)
{
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

} // namespace

double dividerFactor(std::uint32_t channel)
{
    if (channel <= 1)
        return 12.0;
    if (channel <= 3)
        return 5.0;
    if (channel <= 7)
        return 2.0;
    return 1.0;
}

ResultCode Adc_Imp::getVoltage(Varnholt::VoltageChannel channel, double* voltage)
{
    // The null test comes before the open test.
    if (voltage == nullptr)
        return Varnholt::ERR_INVALID_PARAMETER_NULL;
    if (!link_.isOpen())
        return Varnholt::ERR_OPEN_FAILED;
    const auto requested = static_cast<std::uint32_t>(channel);
    const std::uint8_t input[4] = {
        static_cast<std::uint8_t>(requested), static_cast<std::uint8_t>(requested >> 8),
        static_cast<std::uint8_t>(requested >> 16), static_cast<std::uint8_t>(requested >> 24)};
    std::uint8_t answer[answerSize] = {};
    const ResultCode result =
        issue(link_, voltageRequest, input, sizeof input, answer, answerSize, Count::Output);
    if (result != Varnholt::ERR_SUCCESS)
        return result;
    if (u32At(answer) != requested)
        return Varnholt::ERR_DATATYPE_MISMATCH;
    const unsigned raw = answer[4] | (answer[5] << 8);
    // 33.0 / 40960.0 is 3.3 V over 4096 steps; multiplied first, divided last.
    *voltage = dividerFactor(requested) * 33.0 * raw / 40960.0;
    return Varnholt::ERR_SUCCESS;
}

} // namespace pelmux
