// What an application's start costs on a unit at real speed: each factory built and released, and
// a start that takes every interface but Telematics once and calls one operation on each. Each time
// is set beside its floor: the bus time of the identity bytes its results need, the text of each
// EEPROM it asks and the byte that ends it, read in one transfer at the unit's I2C clock.
#include <pelmux/Pelmux.h>

#include "Server.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
namespace sim = pelmux::sim;

// Which identity texts a row's results need.
enum Needs { NoText = 0, UnitText = 1, ExpansionText = 2, BothTexts = 3 };

struct Row {
    const char* name;
    Needs needs;
    std::function<bool()> run; // true when everything it asked answered ERR_SUCCESS
    bool once = false;         // what it measures is kept by the process: only the first run counts
};

template <class Interface> bool released(Interface* object)
{
    if (object == nullptr)
        return false;
    object->release();
    return true;
}

// One operation on an object, then its release.
template <class Interface, class Operation> bool usedOnce(Interface* object, Operation operation)
{
    if (object == nullptr)
        return false;
    const bool ok = operation(*object) == Varnholt::ERR_SUCCESS;
    object->release();
    return ok;
}

// Every factory but Telematics once, one operation on each, then every release.
bool applicationStart()
{
    using namespace Varnholt;
    char text[64];
    unsigned char byte = 0;
    int number = 0;
    std::int32_t word = 0;
    std::uint16_t value = 0;
    double volts = 0;
    bool ok = true;
    int operation = 0;
    const auto check = [&](ResultCode result) {
        ++operation;
        if (result != ERR_SUCCESS)
            std::printf("application start: operation %d answered %d\n", operation, static_cast<int>(result));
        ok = ok && result == ERR_SUCCESS;
    };

    About* about = GetAbout();
    Adc* adc = GetAdc();
    AuxVersion* versions = GetAuxVersion();
    Backlight* backlight = GetBacklight();
    Battery* battery = GetBattery();
    Buzzer* buzzer = GetBuzzer();
    PelmuxPrivate* maintenance = GetPelmuxPrivate();
    CanSetting* can = GetCanSetting();
    Config* config = GetConfig();
    Diagnostic* diagnostic = GetDiagnostic();
    DigIO* inputs = GetDigIO();
    FirmwareUpgrade* upgrade = GetFirmwareUpgrade();
    FrontLED* led = GetFrontLED();
    Lightsensor* light = GetLightsensor();
    Power* power = GetPower();
    PowerMgr* powerManager = GetPowerMgr();
    TouchScreen* touch = GetTouchScreen();
    TouchScreenCalib* calibration = GetTouchScreenCalib();
    Video* video = GetVideo();

    check(about->getPcbSerial(text, sizeof text - 1));
    check(adc->getVoltage(VOLTAGE_24V, &volts));
    check(versions->getFpgaVersion(&byte, &byte, &byte, &byte));
    check(backlight->getIntensity(&byte));
    check(battery->getChargeLevel(&byte));
    check(buzzer->getVolume(value));
    check(maintenance->getIdentityField(0, "UNIT_SERIAL", text, sizeof text - 1));
    check(can->getBaudRate(1, &value));
    check(config->getSelector1(&number));
    check(diagnostic->getWord1(&value));
    check(inputs->getDigitalInputs(&byte));
    UpgradeStatus status{};
    check(upgrade->getUpgradeStatus(status, false));
    check(led->getControlFlag(word));
    check(light->getOperatingRange(&word));
    check(power->getDisplayPowerStatus(&number));
    check(powerManager->getConfiguration(&number));
    check(touch->getTouchMode(&word));
    check(calibration->getCalibrationMode(&word));
    check(video->init(1));

    for (auto release : std::initializer_list<std::function<void()>>{
             [&] { about->release(); }, [&] { adc->release(); }, [&] { versions->release(); },
             [&] { backlight->release(); }, [&] { battery->release(); }, [&] { buzzer->release(); },
             [&] { maintenance->release(); }, [&] { can->release(); }, [&] { config->release(); },
             [&] { diagnostic->release(); }, [&] { inputs->release(); }, [&] { upgrade->release(); },
             [&] { led->release(); }, [&] { light->release(); }, [&] { power->release(); },
             [&] { powerManager->release(); }, [&] { touch->release(); }, [&] { calibration->release(); },
             [&] { video->release(); }})
        release();
    return ok;
}

// The length of an EEPROM's text as the unit holds it: up to its first 0x00 or 0xFF.
std::size_t textLength(const sim::Json& state, const char* eeprom)
{
    const std::string text = state["eeproms"][eeprom].get<std::string>();
    return std::min(text.find_first_of(std::string("\0\xFF", 2)), text.size());
}

// The bus time of reading `bytes` bytes of one EEPROM in one transfer: the address byte and the two
// offset bytes written, a repeated start, the address byte and the bytes read.
double floorMs(const sim::Timing& timing, std::size_t bytes)
{
    if (bytes == 0)
        return 0;
    return std::chrono::duration<double, std::milli>(sim::busTime(timing.i2cClockHz, 1 + 2 + 1 + bytes, 3))
        .count();
}

// The median of `runs` runs of a row, in milliseconds; `ok` is false when any run failed.
double medianMs(const Row& row, int runs, bool& ok)
{
    std::vector<double> times;
    ok = true;
    for (int i = 0; i < runs; ++i) {
        const auto start = Clock::now();
        ok = row.run() && ok;
        times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    char pattern[] = "/tmp/pelmux-bench-XXXXXX";
    const std::string root = ::mkdtemp(pattern);
    ::setenv("PELMUX_ROOT", root.c_str(), 1);
    sim::Json profile = sim::defaultProfile();
    profile["timing"]["mode"] = "real";
    const sim::Timing timing = sim::timingOf(profile);
    int exitCode = 0;
    {
        sim::SimulatedUnit unit(root, profile);
        const std::size_t unitBytes = textLength(profile, "unit") + 1;
        const std::size_t expansionBytes = textLength(profile, "expansion") + 1;
        const auto floorOf = [&](Needs needs) {
            return floorMs(timing, needs & UnitText ? unitBytes : 0) +
                   floorMs(timing, needs & ExpansionText ? expansionBytes : 0);
        };
        std::printf("Default unit at %s; median of %d runs. Floor: the bus time of the identity bytes the "
                    "results need (unit text %zu bytes, expansion text %zu, each with its end).\n\n",
                    sim::describeTiming(timing).c_str(), runs, unitBytes - 1, expansionBytes - 1);

        using namespace Varnholt;
        const std::vector<Row> rows = {
            {"GetAbout", BothTexts, [] { return released(GetAbout()); }},
            {"GetAdc", NoText, [] { return released(GetAdc()); }},
            {"GetAuxVersion", NoText, [] { return released(GetAuxVersion()); }},
            {"GetBacklight", UnitText, [] { return released(GetBacklight()); }},
            {"GetBattery", UnitText, [] { return released(GetBattery()); }},
            {"GetBuzzer", UnitText, [] { return released(GetBuzzer()); }},
            {"GetPelmuxPrivate", BothTexts, [] { return released(GetPelmuxPrivate()); }},
            {"GetCanSetting", UnitText, [] { return released(GetCanSetting()); }},
            {"GetConfig", UnitText, [] { return released(GetConfig()); }},
            {"GetDiagnostic", NoText, [] { return released(GetDiagnostic()); }},
            {"GetDigIO", UnitText, [] { return released(GetDigIO()); }},
            {"GetFirmwareUpgrade", NoText, [] { return released(GetFirmwareUpgrade()); }},
            {"GetFrontLED", NoText, [] { return released(GetFrontLED()); }},
            {"GetLightsensor", UnitText, [] { return released(GetLightsensor()); }},
            {"GetPower", UnitText, [] { return released(GetPower()); }},
            {"GetPowerMgr", NoText, [] { return released(GetPowerMgr()); }},
            {"GetTouchScreen", UnitText, [] { return released(GetTouchScreen()); }},
            {"GetTouchScreenCalib", NoText, [] { return released(GetTouchScreenCalib()); }},
            {"GetVideo", UnitText, [] { return released(GetVideo()); }},
            {"application start", BothTexts, applicationStart},
            // Not part of the start: the expander's start-up waits are the unit's own, and the modules'
            // fields are read on first need.
            {"GetTelematics + getTelematicsAvailable (once)", ExpansionText,
             [] {
                 std::int32_t available = 0;
                 return usedOnce(GetTelematics(),
                                 [&](Telematics& t) { return t.getTelematicsAvailable(&available); });
             },
             true},
        };
        std::printf("| %-46s | %10s | %10s |\n", "what", "time (ms)", "floor (ms)");
        std::printf("|%s|%s|%s|\n", std::string(48, '-').c_str(), std::string(12, '-').c_str(),
                    std::string(12, '-').c_str());
        // The first request of a process connects to the unit; it is not part of any row.
        released(GetAuxVersion());
        for (const Row& row : rows) {
            bool ok = true;
            const double ms = medianMs(row, row.once ? 1 : runs, ok);
            std::printf("| %-46s | %10.1f | %10.1f |%s\n", row.name, ms, floorOf(row.needs),
                        ok ? "" : " FAILED");
            std::fflush(stdout);
            if (!ok)
                exitCode = 1;
        }

        // A unit text of 4000 bytes: an About still reads all of it, at the bus's pace.
        const std::string line = "PCB_SERIAL:40123456\n";
        std::string longText = profile["eeproms"]["unit"].get<std::string>();
        while (longText.size() + line.size() <= 4000)
            longText += "PAD:" + std::string(line.size() - 5, '-') + "\n";
        longText += std::string(4000 - longText.size(), '-');
        unit.unit().update([&](sim::Json& s) { s["eeproms"]["unit"] = longText; });
        const Row about{"GetAbout, 4000-byte unit text", BothTexts, [] {
                            char serial[32];
                            return usedOnce(GetAbout(), [&](About& a) {
                                return a.getPcbSerial(serial, sizeof serial - 1);
                            });
                        }};
        bool ok = true;
        const double ms = medianMs(about, runs, ok);
        std::printf("| %-46s | %10.1f | %10.1f |%s\n", about.name, ms,
                    floorMs(timing, longText.size() + 1) + floorMs(timing, expansionBytes),
                    ok ? "" : " FAILED");
        if (!ok)
            exitCode = 1;
    }
    std::filesystem::remove_all(root);
    return exitCode;
}
