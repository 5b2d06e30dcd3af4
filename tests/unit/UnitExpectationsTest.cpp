// The expectation table shared with the Windows program (tests/shared/UnitExpectations.h), run
// against the in-process unit through the library's factories, each operation called by slot.
#include "shared/UnitExpectations.h"
#include "SimFixture.h"

#include <pelmux/Pelmux.h>

#include <map>

namespace pelmux::test {
namespace PELMUX_FILE_SCOPE {

class UnitExpectationsTest : public SimTest {};

// The environment of the shared runner: commands go to the unit as `pelmux simctl` sends them.
struct InProcessUnit {
    sim::Unit& unit;

    std::string command(const std::string& json) { return unit.command(sim::Json::parse(json)).dump(); }

    void* make(const char* factory)
    {
        using Factory = void* (*)();
        static const std::map<std::string, Factory> factories = {
            {"GetAbout", []() -> void* { return GetAbout(); }},
            {"GetAdc", []() -> void* { return GetAdc(); }},
            {"GetAuxVersion", []() -> void* { return GetAuxVersion(); }},
            {"GetBacklight", []() -> void* { return GetBacklight(); }},
            {"GetBattery", []() -> void* { return GetBattery(); }},
            {"GetBuzzer", []() -> void* { return GetBuzzer(); }},
            {"GetCanSetting", []() -> void* { return GetCanSetting(); }},
            {"GetConfig", []() -> void* { return GetConfig(); }},
            {"GetDiagnostic", []() -> void* { return GetDiagnostic(); }},
            {"GetDigIO", []() -> void* { return GetDigIO(); }},
            {"GetFirmwareUpgrade", []() -> void* { return GetFirmwareUpgrade(); }},
            {"GetFrontLED", []() -> void* { return GetFrontLED(); }},
            {"GetLightsensor", []() -> void* { return GetLightsensor(); }},
            {"GetPelmuxPrivate", []() -> void* { return GetPelmuxPrivate(); }},
            {"GetPower", []() -> void* { return GetPower(); }},
            {"GetPowerMgr", []() -> void* { return GetPowerMgr(); }},
            {"GetTelematics", []() -> void* { return GetTelematics(); }},
            {"GetTouchScreen", []() -> void* { return GetTouchScreen(); }},
            {"GetTouchScreenCalib", []() -> void* { return GetTouchScreenCalib(); }},
            {"GetVideo", []() -> void* { return GetVideo(); }},
        };
        const auto it = factories.find(factory);
        return it != factories.end() ? it->second() : nullptr;
    }

    void check(bool ok, const std::string& what) { EXPECT_TRUE(ok) << what; }
};

TEST_F(UnitExpectationsTest, EveryInterfaceAnswersAsTheTableSays)
{
    InProcessUnit env{unit()};
    shared::runUnitCases(env);
}

} // namespace PELMUX_FILE_SCOPE
} // namespace pelmux::test
