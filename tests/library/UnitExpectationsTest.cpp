// The tables shared with the Windows program (tests/shared/UnitExpectations.h and Slots.h), run
// against the in-process unit through the library's factories, each operation called by slot; and
// the slot table held against the public headers.
#include "shared/UnitExpectations.h"
#include "SimFixture.h"

#include <pelmux/Pelmux.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>

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

TEST_F(UnitExpectationsTest, NullPointersAreRefusedWithoutWritingAnything)
{
    InProcessUnit env{unit()};
    shared::runNullSweep(env);
}

// One operation as a public header declares it.
struct Declared {
    std::string interface;
    int slot;
    std::string name;
    std::string kinds; // per parameter: p a pointer or reference, d double, f float, n otherwise
};

char parameterKind(std::string parameter)
{
    if (parameter.find_first_of("*&") != std::string::npos)
        return 'p';
    parameter = std::regex_replace(parameter, std::regex("^\\s+"), "");
    if (parameter.rfind("double", 0) == 0)
        return 'd';
    if (parameter.rfind("float", 0) == 0)
        return 'f';
    return 'n';
}

// Every `virtual ... name(...) = 0; // slot` of the public headers, under the struct it belongs to.
std::vector<Declared> declaredOperations()
{
    const std::regex structure("struct (\\w+) \\{");
    const std::regex operation("virtual [^(;]* (\\w+)\\(([^)]*)\\) = 0; // (\\d+)");
    std::vector<Declared> declared;
    for (const auto& entry : std::filesystem::directory_iterator(PELMUX_SOURCE_DIR "/include/pelmux")) {
        std::ifstream file(entry.path());
        std::stringstream text;
        text << file.rdbuf();
        const std::string header = std::regex_replace(text.str(), std::regex("\\s*\\n\\s*"), " ");
        std::string interface;
        for (std::size_t at = 0;;) {
            std::smatch op;
            if (!std::regex_search(header.begin() + static_cast<std::ptrdiff_t>(at), header.end(), op,
                                   operation))
                break;
            const std::size_t start = at + static_cast<std::size_t>(op.position(0));
            for (auto it = std::sregex_iterator(
                     header.begin(), header.begin() + static_cast<std::ptrdiff_t>(start), structure);
                 it != std::sregex_iterator(); ++it)
                interface = (*it)[1];
            std::string kinds;
            std::stringstream parameters(op[2]);
            for (std::string parameter; std::getline(parameters, parameter, ',');)
                if (parameter.find_first_not_of(' ') != std::string::npos)
                    kinds += parameterKind(parameter);
            declared.push_back({interface, std::stoi(op[3]), op[1], kinds});
            at = start + static_cast<std::size_t>(op.length(0));
        }
    }
    return declared;
}

// A new operation in a public header without its row, a row whose slot, name or arguments the
// header does not have, or two rows for one slot all fail here: the sweeps over the table then
// reach every slot.
TEST(SlotTable, HoldsEveryOperationOfThePublicHeaders)
{
    const auto declared = declaredOperations();
    ASSERT_GT(declared.size(), 200u);
    std::set<std::pair<std::string, int>> rows;
    for (const auto& op : shared::operations())
        EXPECT_TRUE(rows.insert({op.factory, op.slot}).second)
            << op.factory << " slot " << op.slot << " twice";
    for (const auto& d : declared) {
        const std::string factory = "Get" + d.interface;
        const auto row =
            std::find_if(shared::operations().begin(), shared::operations().end(),
                         [&](const auto& op) { return factory == op.factory && op.slot == d.slot; });
        if (row == shared::operations().end()) {
            ADD_FAILURE() << d.interface << "::" << d.name << " (slot " << d.slot << ") has no row";
            continue;
        }
        std::string kinds = row->args;
        for (char& k : kinds)
            k = shared::isPointerKind(k) ? 'p' : k;
        EXPECT_EQ(row->name, d.name) << factory << " slot " << d.slot;
        EXPECT_EQ(kinds, d.kinds) << factory << " slot " << d.slot << " (" << d.name << ")";
        rows.erase({factory, d.slot});
    }
    for (const auto& [factory, slot] : rows)
        ADD_FAILURE() << factory << " slot " << slot << " is in the table but in no header";
}

} // namespace PELMUX_FILE_SCOPE
} // namespace pelmux::test
