#pragma once

#include "frame/DriverChannel.h"
#include "frame/SharedInstance.h"

#include <pelmux/FrontLED.h>

#include <array>
#include <cstdint>

namespace pelmux {

// Driver requests of the front LED.
inline constexpr std::uint32_t ledReadTimingRequest = 0x222530;  // 4 bytes: the timing record
inline constexpr std::uint32_t ledWriteTimingRequest = 0x222534; // 4 bytes in
inline constexpr std::uint32_t ledReadColorRequest = 0x222538;   // 3 bytes: red, green, blue
inline constexpr std::uint32_t ledWriteColorRequest = 0x22253C;  // 3 bytes in
inline constexpr std::uint32_t ledReadFlagRequest = 0x222540;    // 1 byte: the control flag
inline constexpr std::uint32_t ledWriteFlagRequest = 0x222544;   // 1 byte in: 1 or 0

// The LED controller's timing record, in the driver's byte order: on time and off time per blink
// in units of 10 ms (on time 0: the LED is dark), then two timing bytes of the controller that the
// library passes through.
using LedTiming = std::array<std::uint8_t, 4>;
inline constexpr std::size_t onTimeByte = 0;
inline constexpr std::size_t offTimeByte = 1;
inline constexpr std::size_t timing2Byte = 2;
inline constexpr std::size_t timing3Byte = 3;

// Colour channels run from 0 to 15.
struct LedColor {
    std::uint8_t red = 0;
    std::uint8_t green = 0;
    std::uint8_t blue = 0;
    friend bool operator==(const LedColor&, const LedColor&) = default;
};
inline constexpr std::uint8_t maxColorChannel = 15;

// The standard colours by index: red, green, blue, cyan, purple, orange.
inline constexpr std::array<LedColor, 6> standardColors{{
    {15, 0, 0},
    {0, 15, 0},
    {0, 0, 15},
    {0, 15, 15},
    {12, 0, 4},
    {15, 5, 0},
}};
// getStandardColor's answer for a colour that is none of them.
inline constexpr std::int32_t noStandardColor = 6;

// The index of the first standard colour equal to `color`, or noStandardColor.
std::int32_t standardColorIndex(const LedColor& color);

// On and off time of one blink, in units of 10 ms.
struct LedBlink {
    std::uint8_t onTime = 0;
    std::uint8_t offTime = 0;
    friend bool operator==(const LedBlink&, const LedBlink&) = default;
};

// Frequency and duty cycle to blink times: ERR_INVALID_PARAMETER_NULL (9) for a frequency outside
// 0.2 to 50.0 Hz (or not a number) or a duty cycle above 100 %. The period is 100 / frequency in
// 10 ms units; the on time is period x duty / 100 and the off time period - on time, each truncated
// toward zero. A time longer than a byte holds (below about 0.4 Hz) is held at 255, the longest the
// controller can show, rather than wrapped round to a short one.
ResultCode blinkOfSignal(double frequency, unsigned char dutyCycle, LedBlink& blink);

// Blink times to frequency and duty cycle: 100 / (on + off) Hz and 100 x on / (on + off) %,
// truncated. ERR_INVALID_DATA_RANGE (8), writing nothing, when both times are 0: such a light has
// no period.
ResultCode signalOfBlink(const LedBlink& blink, double& frequency, unsigned char& dutyCycle);

// The process's single FrontLED object: colour and blink timing of the LED on the unit's front.
// All state lives in the LED controller behind the board driver; the object converts and checks
// only. The compound operations (getSignal, getStandardColor, setStandardColor, setOff) go through
// the object's own operations; setSignal makes the on-time and off-time setters' two
// read-modify-writes in one turn of the timing lock. A read-modify-write of the timing record is two
// requests: those of the process's threads take turns on one lock, so that setters of different
// timing bytes keep each other's changes (setters in other processes can still undo them). The lock
// needs no memory, so the setters work on exhausted memory too. A null output reference answers
// ERR_INVALID_PARAMETER_NULL (9) before any request.
class FrontLED_Imp final : public Varnholt::FrontLED {
public:
    // Opens the driver; a failed open is answered by the operations (ERR_OPEN_FAILED).
    FrontLED_Imp();
    // Freed by the shared instance when the last reference goes: closes the driver.
    ~FrontLED_Imp() = default;
    FrontLED_Imp(const FrontLED_Imp&) = delete;
    FrontLED_Imp& operator=(const FrontLED_Imp&) = delete;

    ResultCode getSignal(double& frequency, unsigned char& dutyCycle) override;
    ResultCode getOnTime(unsigned char& onTime) override;
    ResultCode getOffTime(unsigned char& offTime) override;
    ResultCode getTiming2(unsigned char& timing2) override;
    ResultCode getTiming3(unsigned char& timing3) override;
    ResultCode getStandardColor(std::int32_t& index) override;
    ResultCode getColor(unsigned char& red, unsigned char& green, unsigned char& blue) override;
    ResultCode getControlFlag(std::int32_t& flag) override;
    ResultCode setSignal(double frequency, unsigned char dutyCycle) override;
    ResultCode setOnTime(unsigned char onTime) override;
    ResultCode setOffTime(unsigned char offTime) override;
    ResultCode setTiming2(unsigned char timing2) override;
    ResultCode setTiming3(unsigned char timing3) override;
    ResultCode setStandardColor(std::int32_t index) override;
    ResultCode setColor(unsigned char red, unsigned char green, unsigned char blue) override;
    ResultCode setOff() override;
    ResultCode setControlFlag(std::int32_t value) override;
    void release() override;

private:
    // One byte of the timing record; ERR_INVALID_PARAMETER_NULL for a null `value`.
    ResultCode getTimingByte(std::size_t at, unsigned char* value);
    // Reads the timing record, replaces one byte, writes it back, holding the process's timing
    // lock throughout; a failed read writes nothing.
    ResultCode setTimingByte(std::size_t at, unsigned char value);
    // The same with the timing lock already held by the caller.
    ResultCode replaceTimingByte(std::size_t at, unsigned char value);
    // A write whose returned count the driver leaves unjudged: the open test, then the request.
    ResultCode write(std::uint32_t code, const void* input, std::uint32_t size);

    DriverLink link_;
};

// The shared instance behind GetFrontLED.
SharedInstance<FrontLED_Imp>& frontLedInstance();

} // namespace pelmux
