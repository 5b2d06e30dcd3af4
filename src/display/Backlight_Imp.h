#pragma once

#include "frame/DriverChannel.h"
#include "frame/SharedInstance.h"
#include "platform/Semaphore.h"

#include <pelmux/Backlight.h>

namespace pelmux {

// The process's single Backlight object: the backlight level through the board driver, and the
// settings of the automatic backlight controller, which runs wherever it was started and learns of
// new settings through the settings file and the named semaphore "new settings to read".
//
// Every operation but release answers ERR_NOT_SUPPORTED (2) first when the unit has no display.
// The object changes nothing of its own after construction, so every thread of the process may use
// it at once: the driver handle takes one request at a time, and each settings operation is one
// cycle of its own under the settings file's lock.
class Backlight_Imp final : public Varnholt::Backlight {
public:
    // Opens the driver, asks the unit identity whether a display is fitted, then creates or opens
    // the semaphore that tells the controller to read its settings again (left null when it cannot
    // be made; the notifications are then skipped). Failures are not reported here.
    Backlight_Imp();
    // Freed by the shared instance when the last reference goes: closes the driver and the semaphore.
    ~Backlight_Imp();
    Backlight_Imp(const Backlight_Imp&) = delete;
    Backlight_Imp& operator=(const Backlight_Imp&) = delete;

    ResultCode getIntensity(unsigned char* level) override;
    ResultCode setIntensity(unsigned char level) override;
    ResultCode getStatus(unsigned char* status) override;
    ResultCode enableAutomaticBacklight() override;
    ResultCode disableAutomaticBacklight() override;
    ResultCode getAutomaticBacklightStatus(bool* enabled) override;
    ResultCode setSoftTransitions(bool softTransitions) override;
    ResultCode getAutomaticBacklightParameters(bool* softTransitions, double* k) override;
    ResultCode setAutomaticBacklightFilter(std::int32_t averageWndSize, std::int32_t rejectWndSize,
                                           std::int32_t rejectDeltaInLux, std::int32_t mode) override;
    ResultCode getAutomaticBacklightFilter(std::int32_t* averageWndSize, std::int32_t* rejectWndSize,
                                           std::int32_t* rejectDeltaInLux, std::int32_t* mode) override;
    ResultCode getLedDimming(bool* enabled) override;
    ResultCode setLedDimming(std::int32_t value) override;
    void release() override;

private:
    // One byte from the driver: the display test, the open test, the null test, the request.
    ResultCode readByte(std::uint32_t code, unsigned char* value);
    // Tells the controller to read its settings again (nothing when the semaphore is missing).
    void notifyController();

    DriverLink link_;
    platform::SemaphoreHandle newSettingsSemaphore_ = nullptr;
    bool displayPresent_ = true;
};

// The shared instance behind GetBacklight.
SharedInstance<Backlight_Imp>& backlightInstance();

// The status request of the backlight (one byte; its meaning is the driver's).
inline constexpr std::uint32_t backlightStatusRequest = 0x222420;

// The LED dimming preference in the settings file ("1" on, "0" off); the unit's service applies it
// when it receives serviceLedDimming.
inline constexpr const char* ledDimmingKey = "UseLEDDimming";

} // namespace pelmux
