// Sample 2: the display backlight and the ambient light sensor.
//
// Reads the backlight level, sets another one, reads it back and puts the first one back
// (Backlight); then takes one reading of the ambient light and names the sensor's operating range
// (Lightsensor). Exits with 0 when every step succeeded, 1 otherwise.
//
// A unit without a display has neither: every operation then answers ERR_NOT_SUPPORTED.
#include <pelmux/Pelmux.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <thread>

namespace {

// Prints what failed and why; answers whether `result` is success.
bool succeeded(const char* what, Varnholt::ResultCode result)
{
    if (result != Varnholt::ERR_SUCCESS) {
        std::printf("%s failed: %s (%d)\n", what, Varnholt::GetErrorStringA(result),
                    static_cast<int>(result));
    }
    return result == Varnholt::ERR_SUCCESS;
}

// The backlight: 0 (darkest) to 255 (brightest).
bool backlightSteps(Varnholt::Backlight* backlight)
{
    unsigned char before = 0;
    if (!succeeded("Reading the backlight level", backlight->getIntensity(&before))) {
        return false;
    }
    std::printf("Backlight level %u\n", before);

    const unsigned char wanted = before >= 128 ? 64 : 192;
    if (!succeeded("Setting the backlight level", backlight->setIntensity(wanted))) {
        return false;
    }
    unsigned char now = 0;
    if (!succeeded("Reading the backlight level", backlight->getIntensity(&now))) {
        return false;
    }
    std::printf("Backlight level set to %u, reads %u\n", wanted, now);

    // An application that leaves the level to the automatic backlight controller switches it on
    // with enableAutomaticBacklight instead (see the Backlight reference).
    if (!succeeded("Restoring the backlight level", backlight->setIntensity(before))) {
        return false;
    }
    std::printf("Backlight level back to %u\n", before);
    if (now != wanted) {
        std::printf("The backlight did not take level %u\n", wanted);
        return false;
    }
    return true;
}

// The light sensor: illuminance in lux.
bool lightSteps(Varnholt::Lightsensor* sensor)
{
    // One measurement. For a moment after the sensor starts, or changes its operating range, it
    // has no valid reading: that answers ERR_INVALID_DATA_RANGE, and a later reading succeeds.
    std::uint16_t lux = 0;
    Varnholt::ResultCode result = sensor->getIlluminance(&lux);
    for (int attempt = 1; result == Varnholt::ERR_INVALID_DATA_RANGE && attempt < 10; ++attempt) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        result = sensor->getIlluminance(&lux);
    }
    if (!succeeded("Reading the light", result)) {
        return false;
    }
    std::int32_t range = Varnholt::RANGE_STANDARD;
    if (!succeeded("Reading the sensor's range", sensor->getOperatingRange(&range))) {
        return false;
    }
    std::printf("Ambient light %u lx (%s range)\n", lux,
                range == Varnholt::RANGE_EXTENDED ? "extended" : "standard");
    // For a steady value, startAverageCalc averages readings on a thread of the object's own and
    // getAverageIlluminance hands out the running average.
    return true;
}

} // namespace

int main()
{
    // The backlight object is shared by the whole process: every GetBacklight returns the same
    // object and counts one more reference, which release gives back. On Windows every factory
    // returns null when memory is exhausted.
    Varnholt::Backlight* backlight = GetBacklight();
    if (backlight == nullptr) {
        std::printf("GetBacklight: out of memory\n");
        return 1;
    }
    const bool backlightOk = backlightSteps(backlight);
    backlight->release();

    // A new light-sensor object per call, with its own driver handle.
    Varnholt::Lightsensor* sensor = GetLightsensor();
    if (sensor == nullptr) {
        std::printf("GetLightsensor: out of memory\n");
        return 1;
    }
    const bool lightOk = lightSteps(sensor);
    sensor->release();

    const bool ok = backlightOk && lightOk;
    std::printf(ok ? "Done\n" : "Failed\n");
    return ok ? 0 : 1;
}
