// Sample 4: settings.
//
// The unit keeps settings in two places:
//  - the settings file Pelmux.ini, shared by every program on the unit: one key and its value
//    per line. The maintenance interface PelmuxPrivate reads and writes any key; the library's
//    own keys (the automatic backlight's "ABL_...", the radio modules' power at start-up, the
//    power manager's) are better changed through their interfaces (Backlight, Telematics,
//    PowerMgr), which also tell whoever uses them.
//  - the system supervisor, which stores thirteen settings of its own (Config).
// This sample writes a key of its own to the settings file and reads it back, then changes the
// supervisor's temperature setting, reads it back and puts the first value back. Exits with 0
// when every step succeeded, 1 otherwise.
#include <pelmux/Pelmux.h>

#include <cstdint>
#include <cstdio>
#include <cstring>

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

// The settings file: a key of the application's own. Every write rewrites the whole file under a
// lock that all processes share, so keys of other programs are kept.
bool fileSteps(Varnholt::PelmuxPrivate* maintenance)
{
    const char* key = "SampleApp_Language";
    if (!succeeded("Writing the setting", maintenance->setSetting(key, "de"))) {
        return false;
    }
    // The buffer's size counts the terminating NUL; a value that does not fit answers
    // ERR_BUFFER_SIZE_ERROR.
    char value[32] = {};
    if (!succeeded("Reading the setting",
                   maintenance->getSetting(key, value, static_cast<std::int32_t>(sizeof value)))) {
        return false;
    }
    std::printf("Settings file: %s = %s\n", key, value);
    if (std::strcmp(value, "de") != 0) {
        std::printf("The settings file did not keep the value\n");
        return false;
    }

    // A key that is missing (or empty) answers ERR_EXECUTE_COMMAND_FAILED: that is how a program
    // learns that nobody has set it yet and takes its default.
    const char* otherKey = "SampleApp_NeverWritten";
    const Varnholt::ResultCode other =
        maintenance->getSetting(otherKey, value, static_cast<std::int32_t>(sizeof value));
    if (other == Varnholt::ERR_EXECUTE_COMMAND_FAILED) {
        std::printf("Settings file: %s is not set, its default applies\n", otherKey);
    } else if (succeeded("Reading the other setting", other)) {
        std::printf("Settings file: %s = %s\n", otherKey, value);
    } else {
        return false;
    }
    return true;
}

// The supervisor's settings: each with a getter and a setter. An older supervisor firmware
// answers ERR_NEWER_SS_REQUIRED; a value out of range ERR_INVALID_DATA_RANGE (nothing is sent).
bool supervisorSteps(Varnholt::Config* config)
{
    short before = 0;
    if (!succeeded("Reading the temperature setting", config->getTemperatureSetting(&before))) {
        return false;
    }
    std::printf("Supervisor: temperature setting %d degrees Celsius\n", before);

    // The setting takes -25 to 5 degrees Celsius.
    const short wanted = before > -20 ? -20 : -15;
    if (!succeeded("Changing the temperature setting", config->setTemperatureSetting(wanted))) {
        return false;
    }
    short now = 0;
    if (!succeeded("Reading the temperature setting", config->getTemperatureSetting(&now))) {
        return false;
    }
    std::printf("Supervisor: temperature setting changed to %d, reads %d\n", wanted, now);
    if (!succeeded("Restoring the temperature setting", config->setTemperatureSetting(before))) {
        return false;
    }
    std::printf("Supervisor: temperature setting back to %d\n", before);
    if (now != wanted) {
        std::printf("The supervisor did not take %d\n", wanted);
        return false;
    }
    return true;
}

} // namespace

int main()
{
    // A new maintenance object per call. On Windows every factory returns null when memory is
    // exhausted.
    Varnholt::PelmuxPrivate* maintenance = GetPelmuxPrivate();
    if (maintenance == nullptr) {
        std::printf("GetPelmuxPrivate: out of memory\n");
        return 1;
    }
    const bool fileOk = fileSteps(maintenance);
    maintenance->release();

    // The configuration object is shared by the whole process: every GetConfig returns the same
    // object and counts one more reference, which release gives back.
    Varnholt::Config* config = GetConfig();
    if (config == nullptr) {
        std::printf("GetConfig: out of memory\n");
        return 1;
    }
    const bool supervisorOk = supervisorSteps(config);
    config->release();

    const bool ok = fileOk && supervisorOk;
    std::printf(ok ? "Done\n" : "Failed\n");
    return ok ? 0 : 1;
}
