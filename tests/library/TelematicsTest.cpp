// Telematics: the shared object, the modules fitted as the expansion identity says, the I2C port
// expander's register sequences against the simulated expander and modems, and the power-at-startup
// preferences in the settings file.
#include "VendorFixture.h"

#include "comms/Telematics_Imp.h"
#include "frame/SettingsFile.h"

#include <pelmux/Pelmux.h>

#include <atomic>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <thread>

namespace pelmux::test {
namespace PELMUX_FILE_SCOPE {

using Varnholt::ResultCode;
using Varnholt::Telematics;
using Operation = std::function<ResultCode(Telematics&)>;

constexpr std::int32_t untouched = 77;
constexpr std::uint16_t readOrdinal = platform::vendorOrdinal::boardI2cReadRegister;
constexpr std::uint16_t writeOrdinal = platform::vendorOrdinal::boardI2cWriteRegister;

// The expansion identity with some module lines changed ("" leaves the line out).
std::string expansionText(const std::map<std::string, std::string>& modules)
{
    std::string text = "PCB_SERIAL:41000777\r\nPCB_ART:A2-2001-01\r\nDATE:2023-05-12\r\nPCB_REV:B\r\n";
    for (const char* field : {"WLAN", "GPS", "GSM", "BLUETOOTH"}) {
        const auto changed = modules.find(field);
        const std::string value = changed == modules.end() ? "1" : changed->second;
        if (!value.empty())
            text += std::string(field) + ":" + value + "\r\n";
    }
    return text;
}

// One reference to the shared object, given back at the end of the scope.
class TelematicsRef {
public:
    TelematicsRef() : object_(GetTelematics()) {}
    ~TelematicsRef() { object_->release(); }
    TelematicsRef(const TelematicsRef&) = delete;
    TelematicsRef& operator=(const TelematicsRef&) = delete;
    Telematics* operator->() const { return object_; }
    Telematics& operator*() const { return *object_; }

private:
    Telematics* object_;
};

class TelematicsTest : public SimTest {
protected:
    void SetUp() override
    {
        SimTest::SetUp();
        forgetModuleAvailability();
    }
    void TearDown() override
    {
        EXPECT_EQ(telematicsInstance().refCount(), 0);
        platform::setTimeScale(0.0);
        SimTest::TearDown();
    }

    sim::Json expander() { return unit().snapshot()["expander"]; }
    sim::Json modules() { return expander()["modules"]; }
    int port() { return expander()["port"].get<int>(); }
    int config() { return expander()["config"].get<int>(); }
    sim::Json expanderLog() { return expander()["log"]; }
    void clearExpanderLog()
    {
        unit().update([](sim::Json& s) { s["expander"]["log"] = sim::Json::array(); });
    }
    // A configured expander with this latch and the modem's power state.
    void configured(int latch, bool modemOn = false)
    {
        unit().update([&](sim::Json& s) {
            s["expander"]["config"] = 0x0C;
            s["expander"]["port"] = latch;
            s["expander"]["modules"]["gprs"]["on"] = modemOn;
        });
    }
    // The values written to the port register, oldest first.
    std::vector<int> portWrites()
    {
        std::vector<int> values;
        for (const auto& entry : expanderLog())
            if (entry["op"] == "write" && entry["register"] == 9)
                values.push_back(entry["value"].get<int>());
        return values;
    }
    void writeSettings(const std::string& text) const
    {
        root().writeFile("C/ProgramData/Varnholt/Pelmux.ini", text);
    }
    SettingsEntries settings() const
    {
        std::stringstream text;
        text << std::ifstream(root().path() + "/C/ProgramData/Varnholt/Pelmux.ini", std::ios::binary).rdbuf();
        SettingsEntries entries;
        readSettingsText(text.str(), entries);
        return entries;
    }
};

// ------------------------------------------------------------------ modules fitted

struct ModuleCase {
    const char* field;
    ResultCode absent;
    std::vector<Operation> operations;
};

std::int32_t scratch = 0;

const ModuleCase moduleCases[] = {
    {"GSM",
     Varnholt::ERR_GSM_GPRS_NOT_AVAILABLE,
     {[](Telematics& t) { return t.getGPRSPowerStatus(&scratch); },
      [](Telematics& t) { return t.getGPRSPowerAtStartup(&scratch); },
      [](Telematics& t) { return t.setGPRSPowerStatus(1); },
      [](Telematics& t) { return t.setGPRSPowerStatus(0); },
      [](Telematics& t) { return t.setGPRSPowerAtStartup(1); },
      [](Telematics& t) { return t.getGPRSPowerStatus(nullptr); }}},
    {"WLAN",
     Varnholt::ERR_WLAN_NOT_AVAILABLE,
     {[](Telematics& t) { return t.getWLANPowerStatus(&scratch); },
      [](Telematics& t) { return t.getWLANPowerAtStartup(&scratch); },
      [](Telematics& t) { return t.setWLANPowerStatus(1); },
      [](Telematics& t) { return t.setWLANPowerStatus(0); },
      [](Telematics& t) { return t.setWLANPowerAtStartup(1); },
      [](Telematics& t) { return t.getWLANPowerStatus(nullptr); }}},
    {"BLUETOOTH",
     Varnholt::ERR_BLUETOOTH_NOT_AVAILABLE,
     {[](Telematics& t) { return t.getBTPowerStatus(&scratch); },
      [](Telematics& t) { return t.getBTPowerAtStartup(&scratch); },
      [](Telematics& t) { return t.setBTPowerStatus(1); },
      [](Telematics& t) { return t.setBTPowerStatus(0); },
      [](Telematics& t) { return t.setBTPowerAtStartup(1); }}},
    {"GPS",
     Varnholt::ERR_GPS_NOT_AVAILABLE,
     {[](Telematics& t) { return t.getGPSPowerStatus(&scratch); },
      [](Telematics& t) { return t.getGPSInputStatus(&scratch); },
      [](Telematics& t) { return t.getGPSPowerAtStartup(&scratch); },
      [](Telematics& t) { return t.setGPSPowerStatus(1); },
      [](Telematics& t) { return t.setGPSPowerStatus(0); },
      [](Telematics& t) { return t.setGPSPowerAtStartup(1); }}},
};

TEST_F(TelematicsTest, OperationsOfAMissingModuleAnswerItsErrorAndTouchNeitherExpanderNorSettings)
{
    for (const auto& module : moduleCases) {
        // No line, a value other than 1, and an unreadable expansion EEPROM.
        for (const std::string value : {"", "2", "0", "unreadable"}) {
            SCOPED_TRACE(std::string(module.field) + " = '" + value + "'");
            forgetModuleAvailability();
            if (value == "unreadable")
                unit().update([](sim::Json& s) { s["eeproms"].erase("expansion"); });
            else
                setEeprom(unit(), "expansion", expansionText({{module.field, value}}));
            TelematicsRef telematics;
            clearExpanderLog();
            for (std::size_t i = 0; i < module.operations.size(); ++i) {
                scratch = untouched;
                EXPECT_EQ(module.operations[i](*telematics), module.absent) << "operation " << i;
                EXPECT_EQ(scratch, untouched);
            }
            EXPECT_TRUE(expanderLog().empty()) << expanderLog().dump();
            EXPECT_TRUE(settings().empty());
        }
    }
}

TEST_F(TelematicsTest, AnyModuleMakesTelematicsAvailableAskingBluetoothFirst)
{
    struct Case {
        std::map<std::string, std::string> modules;
        std::int32_t available;
        std::size_t aboutObjects; // each reads the expansion EEPROM and ends one library use
    };
    const Case cases[] = {
        {{}, 1, 1},
        {{{"BLUETOOTH", "0"}}, 1, 2},
        {{{"BLUETOOTH", ""}, {"GPS", "0"}, {"WLAN", "2"}}, 1, 4},
        {{{"BLUETOOTH", ""}, {"GPS", ""}, {"WLAN", ""}, {"GSM", "3"}}, 0, 4},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(expansionText(c.modules));
        forgetModuleAvailability();
        setEeprom(unit(), "expansion", expansionText(c.modules));
        TelematicsRef telematics;
        const std::size_t exits = vendorCalls(unit(), platform::vendorOrdinal::boardLibExit);
        std::int32_t available = untouched;
        EXPECT_EQ(telematics->getTelematicsAvailable(&available), Varnholt::ERR_SUCCESS);
        EXPECT_EQ(available, c.available);
        EXPECT_EQ(vendorCalls(unit(), platform::vendorOrdinal::boardLibExit), exits + c.aboutObjects);
    }
}

TEST_F(TelematicsTest, ModuleAnswersAreKeptForTheProcessAcrossObjects)
{
    {
        TelematicsRef telematics;
        std::int32_t status = untouched;
        EXPECT_EQ(telematics->getWLANPowerStatus(&status), Varnholt::ERR_SUCCESS);
    }
    setEeprom(unit(), "expansion", expansionText({{"WLAN", "0"}}));
    TelematicsRef telematics;
    const std::size_t exits = vendorCalls(unit(), platform::vendorOrdinal::boardLibExit);
    std::int32_t status = untouched;
    EXPECT_EQ(telematics->getWLANPowerStatus(&status), Varnholt::ERR_SUCCESS);
    EXPECT_EQ(vendorCalls(unit(), platform::vendorOrdinal::boardLibExit), exits);
}

// ------------------------------------------------------------------ shared object

TEST_F(TelematicsTest, SecondGetSharesTheObjectAndOnlyTheLastReleaseFreesIt)
{
    Telematics* first = GetTelematics();
    Telematics* second = GetTelematics();
    EXPECT_EQ(first, second);
    EXPECT_EQ(telematicsInstance().refCount(), 2);
    std::int32_t status = untouched;
    EXPECT_EQ(first->getWLANPowerStatus(&status), Varnholt::ERR_SUCCESS);
    const std::size_t exits = vendorCalls(unit(), platform::vendorOrdinal::boardLibExit);

    first->release();
    EXPECT_EQ(telematicsInstance().refCount(), 1);
    EXPECT_EQ(vendorCalls(unit(), platform::vendorOrdinal::boardLibExit), exits);
    EXPECT_EQ(second->getWLANPowerStatus(&status), Varnholt::ERR_SUCCESS);

    second->release();
    EXPECT_EQ(vendorCalls(unit(), platform::vendorOrdinal::boardLibExit), exits + 1);
    // No board handle outlives the object, nor any single operation.
    EXPECT_EQ(openBoardHandles(unit()), 0u);

    // A new object checks the expander again at creation.
    clearExpanderLog();
    TelematicsRef again;
    ASSERT_FALSE(expanderLog().empty());
    EXPECT_EQ(expanderLog()[0], (sim::Json{{"op", "read"}, {"register", 0}, {"value", 0x0C}}));
}

// ------------------------------------------------------------------ expander set-up

TEST_F(TelematicsTest, CreationConfiguresAnUnconfiguredExpanderOnly)
{
    struct Case {
        int config;
        int latch;
        bool configures;
    };
    const Case cases[] = {
        {0xFF, 0x00, true}, {0x00, 0x12, true}, {0x0D, 0x00, true}, {0x0C, 0x92, false}, {0x8C, 0x12, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.config);
        unit().update([&](sim::Json& s) {
            s["expander"]["config"] = c.config;
            s["expander"]["port"] = c.latch;
            s["expander"]["log"] = sim::Json::array();
        });
        TelematicsRef telematics;
        const sim::Json log = expanderLog();
        ASSERT_FALSE(log.empty());
        EXPECT_EQ(log[0], (sim::Json{{"op", "read"}, {"register", 0}, {"value", c.config}}));
        if (!c.configures) {
            EXPECT_EQ(log.size(), 1u) << log.dump();
            EXPECT_EQ(config(), c.config);
            EXPECT_EQ(port(), c.latch);
            continue;
        }
        ASSERT_GE(log.size(), 3u);
        EXPECT_EQ(log[1], (sim::Json{{"op", "write"}, {"register", 0}, {"value", 0x8C}}));
        EXPECT_EQ(log[2], (sim::Json{{"op", "write"}, {"register", 9}, {"value", 0x00}}));
        // The supply line is driven afterwards, everything switched off; GPS went through one cycle.
        EXPECT_EQ(config(), 0x0C);
        EXPECT_EQ(port() & ~0x0C, 0);
        const std::vector<int> writes = portWrites();
        EXPECT_NE(std::find_if(writes.begin(), writes.end(), [](int v) { return (v & ~0x0C) == 0xA0; }),
                  writes.end());
        EXPECT_FALSE(modules()["gps"]["on"].get<bool>());
    }
}

// ------------------------------------------------------------------ port bits

TEST_F(TelematicsTest, StatusGettersReadTheirPortLine)
{
    struct Case {
        const char* name;
        std::function<ResultCode(Telematics&, std::int32_t*)> get;
        int latch;
        bool modemOn;
        int gpsInput;
        std::int32_t expected;
    };
    const Case cases[] = {
        {"wlan on", [](Telematics& t, std::int32_t* s) { return t.getWLANPowerStatus(s); }, 0x82, false, 0,
         1},
        {"wlan off", [](Telematics& t, std::int32_t* s) { return t.getWLANPowerStatus(s); }, 0xBD, false, 1,
         0},
        {"bt on", [](Telematics& t, std::int32_t* s) { return t.getBTPowerStatus(s); }, 0x90, false, 0, 1},
        {"bt off", [](Telematics& t, std::int32_t* s) { return t.getBTPowerStatus(s); }, 0xAF, false, 0, 0},
        {"gps on", [](Telematics& t, std::int32_t* s) { return t.getGPSPowerStatus(s); }, 0xA0, false, 0, 1},
        {"gps off", [](Telematics& t, std::int32_t* s) { return t.getGPSPowerStatus(s); }, 0x9F, false, 0, 0},
        // Bits 2 and 3 are inputs: what the latch holds there does not count.
        {"gps input", [](Telematics& t, std::int32_t* s) { return t.getGPSInputStatus(s); }, 0x00, false, 1,
         1},
        {"gps input low", [](Telematics& t, std::int32_t* s) { return t.getGPSInputStatus(s); }, 0x08, false,
         0, 0},
        {"modem on", [](Telematics& t, std::int32_t* s) { return t.getGPRSPowerStatus(s); }, 0x80, true, 0,
         1},
        {"modem off", [](Telematics& t, std::int32_t* s) { return t.getGPRSPowerStatus(s); }, 0x84, false, 0,
         0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        configured(c.latch, c.modemOn);
        unit().update([&](sim::Json& s) { s["expander"]["gpsInput"] = c.gpsInput; });
        TelematicsRef telematics;
        std::int32_t status = untouched;
        EXPECT_EQ(c.get(*telematics, &status), Varnholt::ERR_SUCCESS);
        EXPECT_EQ(status, c.expected);
        // The modem's state line is enabled only while it is read.
        EXPECT_EQ(port() & 0x40, 0);
        EXPECT_EQ(c.get(*telematics, nullptr), Varnholt::ERR_INVALID_PARAMETER_NULL);
    }
}

TEST_F(TelematicsTest, SwitchingOffTheLastPoweredModuleCutsTheSharedSupply)
{
    struct Case {
        const char* name;
        int latch;
        bool modemOn;
        std::function<ResultCode(Telematics&)> change;
        int expectedLatch; // without the input bits
    };
    const Case cases[] = {
        {"wlan on", 0x00, false, [](Telematics& t) { return t.setWLANPowerStatus(1); }, 0x82},
        {"bt on, 2 is off", 0x82, false, [](Telematics& t) { return t.setBTPowerStatus(2); }, 0x82},
        {"bt on", 0x82, false, [](Telematics& t) { return t.setBTPowerStatus(1); }, 0x92},
        {"last wlan off", 0x82, false, [](Telematics& t) { return t.setWLANPowerStatus(0); }, 0x00},
        {"wlan of two off", 0x92, false, [](Telematics& t) { return t.setWLANPowerStatus(0); }, 0x90},
        {"bt of two off", 0x92, false, [](Telematics& t) { return t.setBTPowerStatus(0); }, 0x82},
        {"gps off, bt on", 0xB0, false, [](Telematics& t) { return t.setGPSPowerStatus(0); }, 0x90},
        {"last gps off", 0xA0, false, [](Telematics& t) { return t.setGPSPowerStatus(0); }, 0x00},
        {"gps off, modem on", 0xA0, true, [](Telematics& t) { return t.setGPSPowerStatus(0); }, 0x80},
        {"bt off twice", 0x00, false, [](Telematics& t) { return t.setBTPowerStatus(0); }, 0x00},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        configured(c.latch, c.modemOn);
        TelematicsRef telematics;
        EXPECT_EQ(c.change(*telematics), Varnholt::ERR_SUCCESS);
        EXPECT_EQ(port() & ~0x0C, c.expectedLatch);
        const bool supply = (c.expectedLatch & 0x80) != 0;
        EXPECT_EQ(modules()["wlan"]["on"].get<bool>(), supply && (c.expectedLatch & 0x02) != 0);
        EXPECT_EQ(modules()["bluetooth"]["on"].get<bool>(), supply && (c.expectedLatch & 0x10) != 0);
        EXPECT_EQ(modules()["gps"]["on"].get<bool>(), supply && (c.expectedLatch & 0x20) != 0);
    }
}

TEST_F(TelematicsTest, ModemIsSwitchedByOnePressOfItsKeyOnlyWhenItsStateDiffers)
{
    struct Case {
        const char* name;
        int latch;
        bool modemOn;
        std::int32_t request;
        int presses;
        double minimumHeldMs; // at a time scale of 1/100
        bool modemAfter;
        int supplyAfter;
    };
    const Case cases[] = {
        {"on", 0x00, false, 1, 1, 11.0, true, 0x80},
        {"already on", 0x80, true, 1, 0, 0.0, true, 0x80},
        {"already off", 0x00, false, 0, 0, 0.0, false, 0x00},
        {"already off, 5 is off", 0x02, false, 5, 0, 0.0, false, 0x00},
        {"off beside wlan", 0x82, true, 0, 1, 21.0, false, 0x80},
        // The last module: its supply goes first, then the key is still pressed.
        {"off alone", 0x80, true, 0, 1, 21.0, false, 0x00},
    };
    platform::setTimeScale(0.01);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        configured(c.latch, c.modemOn);
        unit().update([](sim::Json& s) { s["expander"]["modules"]["gprs"]["presses"] = 0; });
        TelematicsRef telematics;
        clearExpanderLog();
        EXPECT_EQ(telematics->setGPRSPowerStatus(c.request), Varnholt::ERR_SUCCESS);
        const sim::Json modem = modules()["gprs"];
        EXPECT_EQ(modem["presses"].get<int>(), c.presses);
        EXPECT_EQ(modem["on"].get<bool>(), c.modemAfter);
        EXPECT_EQ(port() & 0x80, c.supplyAfter);
        EXPECT_EQ(port() & 0x41, 0); // key released, state line disabled

        // The key's line changes three times: cleared, set, cleared after the hold.
        int changes = 0;
        int keyWrites = 0;
        int key = c.latch & 0x01;
        for (const int value : portWrites()) {
            if ((value & 0x01) != key)
                ++changes;
            key = value & 0x01;
            keyWrites += (value & 0x01);
        }
        EXPECT_EQ(keyWrites, c.presses);
        if (c.presses == 0)
            continue;
        EXPECT_GE(modem["lastPressMs"].get<double>(), c.minimumHeldMs);
        EXPECT_EQ(changes, 2);
        // Cleared first (a write leaving it 0), then set, then cleared.
        const std::vector<int> writes = portWrites();
        const auto set = std::find_if(writes.begin(), writes.end(), [](int v) { return (v & 1) != 0; });
        ASSERT_NE(set, writes.begin());
        EXPECT_EQ(*(set - 1) & 1, 0);
        EXPECT_EQ(writes.back() & 1, 0);
    }
}

// ------------------------------------------------------------------ power at start-up

TEST_F(TelematicsTest, PowerAtStartupReadsOneOnlyForTheTextOne)
{
    struct Key {
        const char* key;
        std::function<ResultCode(Telematics&, std::int32_t*)> get;
        std::function<ResultCode(Telematics&, std::int32_t)> set;
    };
    const Key keys[] = {
        {"GPRSPowerAtStartup", [](Telematics& t, std::int32_t* s) { return t.getGPRSPowerAtStartup(s); },
         [](Telematics& t, std::int32_t on) { return t.setGPRSPowerAtStartup(on); }},
        {"WLANPowerAtStartup", [](Telematics& t, std::int32_t* s) { return t.getWLANPowerAtStartup(s); },
         [](Telematics& t, std::int32_t on) { return t.setWLANPowerAtStartup(on); }},
        {"BTPowerAtStartup", [](Telematics& t, std::int32_t* s) { return t.getBTPowerAtStartup(s); },
         [](Telematics& t, std::int32_t on) { return t.setBTPowerAtStartup(on); }},
        {"GPSPowerAtStartup", [](Telematics& t, std::int32_t* s) { return t.getGPSPowerAtStartup(s); },
         [](Telematics& t, std::int32_t on) { return t.setGPSPowerAtStartup(on); }},
    };
    const std::pair<const char*, std::int32_t> readings[] = {
        {"1", 1}, {"2", 0}, {"0", 0}, {"", 0}, {"yes", 0}, {"01", 1}, {"-1", 0},
    };
    const std::pair<std::int32_t, const char*> writings[] = {{1, "1"}, {0, "0"}, {2, "0"}, {-1, "0"}};
    TelematicsRef telematics;
    clearExpanderLog();
    for (const auto& key : keys) {
        SCOPED_TRACE(key.key);
        for (const auto& [text, expected] : readings) {
            writeSettings(std::string("Other=1\n") + key.key + "=" + text + "\n");
            std::int32_t status = untouched;
            EXPECT_EQ(key.get(*telematics, &status), Varnholt::ERR_SUCCESS) << text;
            EXPECT_EQ(status, expected) << text;
        }
        writeSettings("Other=1\n");
        std::int32_t status = untouched;
        EXPECT_EQ(key.get(*telematics, &status), Varnholt::ERR_SUCCESS);
        EXPECT_EQ(status, 0);
        EXPECT_EQ(key.get(*telematics, nullptr), Varnholt::ERR_INVALID_PARAMETER_NULL);
        for (const auto& [on, text] : writings) {
            EXPECT_EQ(key.set(*telematics, on), Varnholt::ERR_SUCCESS);
            EXPECT_EQ(settings().at(key.key), text) << on;
            EXPECT_EQ(settings().at("Other"), "1");
        }
    }
    EXPECT_TRUE(expanderLog().empty());
}

// ------------------------------------------------------------------ failures

TEST_F(TelematicsTest, ExpanderFailuresAnswerTheirCodeAndPrintTheirLine)
{
    const std::string readLine = "WindowsWrapper: I2CRead error...\n";
    const std::string writeLine = "WindowsWrapper: I2CWrite error...\n";
    struct Case {
        const char* name;
        int config;
        std::uint16_t ordinal;
        int failingCall; // counted from 1 after creation
        std::function<ResultCode(Telematics&, std::int32_t*)> run;
        ResultCode expected;
        std::string printed;
    };
    const auto wlanStatus = [](Telematics& t, std::int32_t* s) { return t.getWLANPowerStatus(s); };
    const auto gprsStatus = [](Telematics& t, std::int32_t* s) { return t.getGPRSPowerStatus(s); };
    const auto wlanOn = [](Telematics& t, std::int32_t*) { return t.setWLANPowerStatus(1); };
    const auto gprsOn = [](Telematics& t, std::int32_t*) { return t.setGPRSPowerStatus(1); };
    const Case cases[] = {
        {"configuration unreadable", 0x0C, readOrdinal, 1, wlanStatus, Varnholt::ERR_I2C_EXPANDER_INIT,
         readLine},
        {"port unreadable", 0x0C, readOrdinal, 2, wlanStatus, Varnholt::ERR_I2C_EXPANDER_READ, readLine},
        {"configuration refused", 0xFF, writeOrdinal, 1, wlanStatus, Varnholt::ERR_I2C_EXPANDER_INIT,
         writeLine},
        {"port set-up refused", 0xFF, writeOrdinal, 2, wlanStatus, Varnholt::ERR_I2C_EXPANDER_INIT,
         writeLine},
        // The supply step's failure is only printed; the module's own bit decides.
        {"supply refused", 0x0C, writeOrdinal, 1, wlanOn, Varnholt::ERR_SUCCESS, writeLine},
        {"power bit refused", 0x0C, writeOrdinal, 2, wlanOn, Varnholt::ERR_I2C_EXPANDER_WRITE, writeLine},
        {"power bit unreadable", 0x0C, readOrdinal, 3, wlanOn, Varnholt::ERR_I2C_EXPANDER_WRITE, readLine},
        {"state line refused", 0x0C, writeOrdinal, 1, gprsStatus, Varnholt::ERR_SUCCESS, writeLine},
        {"state unreadable", 0x0C, readOrdinal, 3, gprsStatus, Varnholt::ERR_I2C_EXPANDER_READ, readLine},
        {"modem state unreadable", 0x0C, readOrdinal, 3, gprsOn, Varnholt::ERR_I2C_EXPANDER_READ, readLine},
        // Writes of the switch-on: state line on, off; supply; key cleared (the fourth), set, cleared.
        {"key refused", 0x0C, writeOrdinal, 4, gprsOn, Varnholt::ERR_I2C_EXPANDER_WRITE, writeLine},
        {"key release refused", 0x0C, writeOrdinal, 6, gprsOn, Varnholt::ERR_I2C_EXPANDER_WRITE, writeLine},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        configured(0x00);
        {
            TelematicsRef telematics;
            unit().update([&](sim::Json& s) { s["expander"]["config"] = c.config; });
            const auto tap = tapVendor(unit(), c.ordinal, c.failingCall);
            std::int32_t status = untouched;
            testing::internal::CaptureStdout();
            EXPECT_EQ(c.run(*telematics, &status), c.expected);
            EXPECT_EQ(testing::internal::GetCapturedStdout(), c.printed);
            if (c.expected != Varnholt::ERR_SUCCESS) {
                EXPECT_EQ(status, untouched);
            }
        }
        // A fresh unit, with its own handlers, for the next case.
        startUnit(sim::defaultProfile());
    }
}

TEST_F(TelematicsTest, BoardLibraryThatCannotOpenABoardFailsTheExpanderSilently)
{
    TelematicsRef telematics;
    std::int32_t status = untouched;
    // The modules are known before the board library fails.
    ASSERT_EQ(telematics->getBTPowerStatus(&status), Varnholt::ERR_SUCCESS);
    ASSERT_EQ(telematics->getGPRSPowerStatus(&status), Varnholt::ERR_SUCCESS);
    status = untouched;
    unit().failVendor(platform::vendorOrdinal::boardOpen);
    clearExpanderLog();
    testing::internal::CaptureStdout();
    EXPECT_EQ(telematics->getBTPowerStatus(&status), Varnholt::ERR_I2C_EXPANDER_INIT);
    EXPECT_EQ(telematics->setGPRSPowerStatus(1), Varnholt::ERR_I2C_EXPANDER_INIT);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(status, untouched);
    EXPECT_TRUE(expanderLog().empty());
}

// ------------------------------------------------------------------ threads

TEST_F(TelematicsTest, ConcurrentSwitchesNeitherFailNorLoseAnotherModulesBit)
{
    configured(0x00);
    TelematicsRef telematics;
    constexpr int rounds = 40;
    std::atomic<int> failures{0};
    const auto switching = [&](ResultCode (Telematics::*set)(std::int32_t)) {
        return std::thread([&, set] {
            for (int i = 0; i <= rounds; ++i)
                if (((*telematics).*set)(i % 2 == 0 ? 1 : 0) != Varnholt::ERR_SUCCESS)
                    ++failures;
        });
    };
    std::thread wlan = switching(&Telematics::setWLANPowerStatus);
    std::thread bt = switching(&Telematics::setBTPowerStatus);
    wlan.join();
    bt.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(port() & ~0x0C, 0x92);
    EXPECT_EQ(openBoardHandles(unit()), 0u);
}

} // namespace PELMUX_FILE_SCOPE
} // namespace pelmux::test
