// The touch controller's numbered parameters, as the front micro-controller keeps them: one request
// writes a parameter, one reads it. The touch screen settings and the calibration share both.
#pragma once

#include "frame/DriverChannel.h"
#include "frame/LittleEndian.h"

#include <cstdint>

namespace pelmux {

// Driver requests: write 4 bytes (code, a second byte, the 16-bit value), and read (the code in,
// 4 bytes out: the value is the 16-bit word at offset 2).
inline constexpr std::uint32_t touchParameterWriteRequest = 0x2225BC;
inline constexpr std::uint32_t touchParameterReadRequest = 0x2225B8;

// Sends code, `second`, then `value` little-endian on an open link. The controller's count is not
// judged; only a failed request gives ERR_IOCTRL_OPERATION_FAILED.
ResultCode writeTouchParameter(const DriverLink& link, std::uint8_t code, std::uint8_t second,
                               std::uint16_t value);

// Asks for parameter `code` on an open link; the 4 bytes of the answer go to `answer`. A failed
// request gives ERR_IOCTRL_OPERATION_FAILED, a count other than 4 ERR_BUFFER_SIZE_ERROR.
ResultCode readTouchParameter(const DriverLink& link, std::uint8_t code, std::uint8_t (&answer)[4]);

// The 16-bit value of an answer: the word at offset 2.
constexpr std::uint16_t touchParameterValue(const std::uint8_t (&answer)[4])
{
    return wordAt(answer + 2);
}

} // namespace pelmux
