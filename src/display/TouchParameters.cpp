#include "display/TouchParameters.h"

namespace pelmux {

ResultCode writeTouchParameter(const DriverLink& link, std::uint8_t code, std::uint8_t second,
                               std::uint16_t value)
{
    std::uint8_t input[4] = {code, second};
    putWord(input + 2, value);
    return issue(link, touchParameterWriteRequest, input, sizeof input, nullptr, 0, Count::Unchecked);
}

ResultCode readTouchParameter(const DriverLink& link, std::uint8_t code, std::uint8_t (&answer)[4])
{
    return issue(link, touchParameterReadRequest, &code, 1, answer, sizeof answer, Count::Output);
}

} // namespace pelmux
