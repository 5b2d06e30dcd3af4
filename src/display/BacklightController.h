// The automatic backlight controller: a worker thread that reads its settings from the settings
// file, runs a light-sensor averaging calculation and maps the average illuminance to a backlight
// level, level = k * ln(lux) - 10, driving it through the board driver. When it finds a level that
// someone else set, it fits k anew so that the curve passes through that level, stores k and keeps
// the level: it learns the user's preference. Applications steer it only through the settings file
// and the named semaphore "Global\PELMUX_BACKLIGHT_NEW_SETTINGS_TO_READ".
#pragma once

#include "frame/DriverChannel.h"
#include "platform/Semaphore.h"
#include "platform/Thread.h"
#include "platform/Time.h"

#include <pelmux/ResultCode.h>

#include <atomic>
#include <cstdint>

namespace pelmux {

// The named semaphore that tells the controller to read its settings again.
inline constexpr const char* newBacklightSettingsName = "Global\\PELMUX_BACKLIGHT_NEW_SETTINGS_TO_READ";

// Settings keys of the controller.
inline constexpr const char* ablStatusKey = "ABL_status";
inline constexpr const char* ablSoftTransitionsKey = "ABL_bSoftTransitions";
inline constexpr const char* ablKKey = "ABL_k";
inline constexpr const char* ablAverageWndSizeKey = "ABL_averageWndSize";
inline constexpr const char* ablRejectWndSizeKey = "ABL_rejectWndSize";
inline constexpr const char* ablRejectDeltaKey = "ABL_rejectDeltaInLux";
inline constexpr const char* ablModeKey = "ABL_mode";

// Backlight level requests of the board driver (one byte, returned count 1).
inline constexpr std::uint32_t backlightGetLevelRequest = 0x222418;
inline constexpr std::uint32_t backlightSetLevelRequest = 0x22241C;

class Lightsensor_Imp;

class BacklightController {
public:
    // Opens its own driver handle, the unnamed start lock and the named settings semaphore
    // (traces "Sema create ok\n" or "Sema create error\n"). Starts no thread.
    BacklightController();
    // Stops and joins a running controller thread first, then releases the light sensor and closes
    // the handles (traces "Destructor\n").
    ~BacklightController();
    BacklightController(const BacklightController&) = delete;
    BacklightController& operator=(const BacklightController&) = delete;

    // Starts the controller thread once per object. Blocks about 800 ms before the thread starts.
    // ERR_INITIALISATION_FAILED (13) when it was started before; ERR_MEMORY_ALLOCATION_FAILED (32)
    // when its light sensor cannot be made; ERR_CREATING_THREAD (10) when the thread cannot be
    // created (a later call may try again); else ERR_SUCCESS.
    ResultCode startThread();

    // Asks a running controller thread to end at its next wait and waits for it; nothing when no
    // thread runs. A stopped controller cannot be started again.
    void stop();

    // Loads the settings, repairing missing or unparsable keys in the file; answers whether every
    // value the controller uses is sound.
    bool readSettings();
    // Runs the control loop while the controller stays enabled; false when averaging could not start.
    // The level stays as it is until the average has its first sample; an averaging calculation
    // that ends on a failed sensor request is started again after a 1000 ms pause; a failed read
    // or write of the backlight level is tried again after the same pause.
    bool executeABL();
    // Stores k in the settings file as "ABL_k", as the shortest text that reads back as k itself.
    void updateK(double k);

private:
    // The settings in use; written only by the controller's own thread once it runs.
    struct Settings {
        bool softTransitions = true;
        std::uint8_t maxLevel = 255;
        double k = 50.0;
        bool enabled = false;
        std::int32_t rejectWndSize = 5;
        std::int32_t averageWndSize = 5;
        std::int32_t rejectDeltaInLux = 50;
        std::int32_t mode = 2;
    };

    static void threadMain(void* controller);
    void run();
    // Starts the averaging calculation with the filter of `settings`, asking again every second
    // while another one runs in the session.
    ResultCode startLightAveraging(const Settings& settings);
    // Starts the averaging again after the retry pause, when it has ended (a failed sensor request)
    // or not begun: with the filter it was first started with.
    void restartLightAveraging(const Settings& started);
    // Waits for the settings semaphore; false when a stop was asked for instead.
    bool waitForNewSettings();
    // Sleeps, returning at once when a stop is asked for.
    void pause(std::int32_t milliseconds);
    // The curve k * ln(x) - 10, clamped to 0 .. maxLevel - 1.
    double curve(double x) const;

    Lightsensor_Imp* lightSensor_ = nullptr;
    DriverLink link_;
    Settings s_;
    platform::SemaphoreHandle startLock_ = nullptr;
    platform::SemaphoreHandle newSettingsSemaphore_ = nullptr;
    platform::ThreadHandle thread_ = nullptr;
    std::atomic<bool> stopRequested_{false};
    platform::Alarm stopAlarm_; // ends a pause when a stop is asked for
};

} // namespace pelmux
