#include "SimFixture.h"

#include "identity/VersionGates.h"

#include <array>
#include <functional>

namespace pelmux::test {
namespace PELMUX_FILE_SCOPE {

using Version = std::array<int, 4>;

struct GateCase {
    const char* what;
    const char* component; // the firmware record the gate must read
    Version version;
    std::function<bool()> gate;
    bool expected;
};

class VersionGatesTest : public SimTest {
protected:
    // Puts `version` into `component` and, into the other two records, a version that gives the
    // opposite answer, so that a gate reading the wrong record shows.
    void setVersions(const char* component, const Version& version, bool expected)
    {
        const Version other = expected ? Version{0, 0, 0, 0} : Version{99, 99, 99, 99};
        unit().update([&](sim::Json& s) {
            for (const char* name : {"fpga", "supervisor", "front"})
                s["versions"][name] = std::string(name) == component ? version : other;
        });
    }
};

TEST_F(VersionGatesTest, ComparesThePackedVersionOfItsOwnComponent)
{
    const GateCase cases[] = {
        {"1.0.2.9 below 1.0.3",
         "supervisor",
         {1, 0, 2, 9},
         [] { return isSupervisorVersionAtLeast(1, 0, 3); },
         false},
        {"1.0.3.0 meets 1.0.3",
         "supervisor",
         {1, 0, 3, 0},
         [] { return isSupervisorVersionAtLeast(1, 0, 3); },
         true},
        {"0.9.0.0 meets 0.9.0",
         "supervisor",
         {0, 9, 0, 0},
         [] { return isSupervisorVersionAtLeast(0, 9, 0); },
         true},
        {"0.10.0.0 meets 0.9.0",
         "supervisor",
         {0, 10, 0, 0},
         [] { return isSupervisorVersionAtLeast(0, 9, 0); },
         true},
        {"1.0.0.200 carries to 1.0.2.0",
         "supervisor",
         {1, 0, 0, 200},
         [] { return isSupervisorVersionAtLeast(1, 0, 2); },
         true},
        {"1.0.0.199 below 1.0.2",
         "supervisor",
         {1, 0, 0, 199},
         [] { return isSupervisorVersionAtLeast(1, 0, 2); },
         false},
        {"0.8.255.255 carries past 0.9.0",
         "supervisor",
         {0, 8, 255, 255},
         [] { return isSupervisorVersionAtLeast(0, 9, 0); },
         true},
        {"1.2.99.99 below 1.3.0",
         "supervisor",
         {1, 2, 99, 99},
         [] { return isSupervisorVersionAtLeast(1, 3, 0); },
         false},
        {"255.255.255.255 meets 255.255.255",
         "supervisor",
         {255, 255, 255, 255},
         [] { return isSupervisorVersionAtLeast(255, 255, 255); },
         true},
        {"front 0.5.0.0 meets 0.5", "front", {0, 5, 0, 0}, [] { return isFrontVersionAtLeast(0, 5); }, true},
        {"front 0.5.0.0 below 1.0", "front", {0, 5, 0, 0}, [] { return isFrontVersionAtLeast(1, 0); }, false},
        {"front 0.4.99.99 below 0.5",
         "front",
         {0, 4, 99, 99},
         [] { return isFrontVersionAtLeast(0, 5); },
         false},
        {"front 1.0.0.0 meets 1.0", "front", {1, 0, 0, 0}, [] { return isFrontVersionAtLeast(1, 0); }, true},
        {"fpga 0.4.0.0 meets build 0", "fpga", {0, 4, 0, 0}, [] { return isFpgaVersionAtLeast(0); }, true},
        {"fpga 0.4.0.0 below build 1", "fpga", {0, 4, 0, 0}, [] { return isFpgaVersionAtLeast(1); }, false},
        {"fpga 0.4.0.1 meets build 1", "fpga", {0, 4, 0, 1}, [] { return isFpgaVersionAtLeast(1); }, true},
        {"fpga 0.3.99.99 below build 0",
         "fpga",
         {0, 3, 99, 99},
         [] { return isFpgaVersionAtLeast(0); },
         false},
        {"fpga 1.0.0.0 meets build 1", "fpga", {1, 0, 0, 0}, [] { return isFpgaVersionAtLeast(1); }, true},
    };
    for (const auto& c : cases) {
        setVersions(c.component, c.version, c.expected);
        EXPECT_EQ(c.gate(), c.expected) << c.what;
    }
}

struct Gate {
    const char* name;
    std::uint32_t code;
    std::function<bool()> lowestMinimum; // would pass on any readable version
};

const Gate gates[] = {
    {"fpga", 0x2224F0, [] { return isFpgaVersionAtLeast(0); }},
    {"supervisor", 0x2224F4, [] { return isSupervisorVersionAtLeast(0, 0, 0); }},
    {"front", 0x2224F8, [] { return isFrontVersionAtLeast(0, 0); }},
};

// A version that cannot be read answers false, even against a minimum every version meets.
TEST_F(VersionGatesTest, AFailedReadAnswersFalse)
{
    unit().update([](sim::Json& s) {
        for (const char* name : {"fpga", "supervisor", "front"})
            s["versions"][name] = {9, 9, 9, 9};
    });
    const std::function<void(sim::Unit&, std::uint32_t)> faults[] = {
        [](sim::Unit& u, std::uint32_t code) { u.failRequest(code); },
        [](sim::Unit& u, std::uint32_t code) { u.forceReturned(code, 3); },
        [](sim::Unit& u, std::uint32_t code) {
            u.forceOutput(code, {9, 9, 9, 9, 9});
        },
    };
    for (const auto& gate : gates) {
        EXPECT_TRUE(gate.lowestMinimum()) << gate.name;
        for (std::size_t f = 0; f < std::size(faults); ++f) {
            unit().clearFaults();
            faults[f](unit(), gate.code);
            EXPECT_FALSE(gate.lowestMinimum()) << gate.name << " fault " << f;
        }
    }
    unit().clearFaults();
    stopUnit();
    for (const auto& gate : gates)
        EXPECT_FALSE(gate.lowestMinimum()) << gate.name << " without driver";
}

// Nothing is remembered: every call reads again and sees a changed version.
TEST_F(VersionGatesTest, EveryCallReadsTheVersionAgain)
{
    unit().update([](sim::Json& s) { s["versions"]["supervisor"] = {1, 0, 3, 0}; });
    EXPECT_TRUE(isSupervisorVersionAtLeast(1, 0, 3));
    unit().update([](sim::Json& s) { s["versions"]["supervisor"] = {1, 0, 2, 0}; });
    EXPECT_FALSE(isSupervisorVersionAtLeast(1, 0, 3));
    EXPECT_FALSE(isSupervisorVersionAtLeast(1, 0, 3));
    EXPECT_EQ(unit().requestCount(0x2224F4), 3u);
    EXPECT_EQ(unit().requestCount(0x2224F0), 0u);
    EXPECT_EQ(unit().requestCount(0x2224F8), 0u);
}

} // namespace PELMUX_FILE_SCOPE
} // namespace pelmux::test
