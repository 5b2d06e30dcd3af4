// The touch controller's settings: its mode, one 16-bit value and twelve numbered parameters, kept
// by the front micro-controller and guarded by its firmware version.
#pragma once

#include "frame/DriverChannel.h"

#include <pelmux/TouchScreen.h>

namespace pelmux {

class TouchScreen_Imp final : public Varnholt::TouchScreen {
public:
    // Opens the driver, then asks the unit identity whether a display and a touch screen are fitted.
    TouchScreen_Imp();

    ResultCode getTouchMode(std::int32_t* mode) override;
    ResultCode getTouchValue(std::uint16_t* value) override;
    ResultCode setTouchMode(unsigned char mode) override;
    ResultCode setTouchValue(std::uint16_t value) override;
    ResultCode setTouchParameter(std::int32_t index, std::uint16_t value) override;
    ResultCode getTouchParameter(std::int32_t index, std::uint16_t* value) override;
    void release() override { delete this; }

private:
    ~TouchScreen_Imp() = default;
    // Open, feature and firmware tests of the mode and value operations, in that order.
    ResultCode settingsReady() const;
    // Feature and firmware tests of a parameter, then its index.
    ResultCode parameterReady(std::int32_t index) const;

    DriverLink link_;
    bool touchPresent_ = true;
};

// Driver requests of the mode and the value.
inline constexpr std::uint32_t touchModeReadRequest = 0x222554;
inline constexpr std::uint32_t touchModeWriteRequest = 0x222558;
inline constexpr std::uint32_t touchValueReadRequest = 0x2225A0;
inline constexpr std::uint32_t touchValueWriteRequest = 0x222594;

} // namespace pelmux
