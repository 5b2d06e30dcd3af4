#include "supervisor/Adc_Imp.h"

#include "frame/LittleEndian.h"

#include <cstdint>

namespace pelmux {

namespace {

// The answer: echoed channel (u32), raw reading (u16), two bytes the supervisor leaves unused.
constexpr std::uint32_t answerSize = 8;

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
    std::uint8_t input[4];
    putDword(input, requested);
    std::uint8_t answer[answerSize] = {};
    const ResultCode result =
        issue(link_, voltageRequest, input, sizeof input, answer, answerSize, Count::Output);
    if (result != Varnholt::ERR_SUCCESS)
        return result;
    if (dwordAt(answer) != requested)
        return Varnholt::ERR_DATATYPE_MISMATCH;
    const unsigned raw = wordAt(answer + 4);
    // 33.0 / 40960.0 is 3.3 V over 4096 steps; multiplied first, divided last.
    *voltage = dividerFactor(requested) * 33.0 * raw / 40960.0;
    return Varnholt::ERR_SUCCESS;
}

} // namespace pelmux
