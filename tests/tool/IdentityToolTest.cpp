// The command-line tool's identity and diagnostics commands, and EEPROM contents that survive a
// restart of `pelmux sim`.
#include "ToolRun.h"
#include "VendorFixture.h"

#include "SavedState.h"
#include "Server.h"
#include "identity/IdentityRecord.h"

#include <pelmux/Pelmux.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>

extern char** environ;

namespace pelmux::test {
namespace PELMUX_FILE_SCOPE {

class IdentityToolTest : public SimTest {};

TEST_F(IdentityToolTest, IdentityPrintsEveryFieldOfBothEeproms)
{
    const auto [code, output] = runTool("--json identity");
    ASSERT_EQ(code, 0) << output;
    const sim::Json json = sim::Json::parse(output);
    EXPECT_EQ(json["unit"].size(), 15u);
    EXPECT_EQ(json["expansion"].size(), 8u);
    EXPECT_EQ(json["unit"]["pcbSerial"]["value"], "40123456");
    EXPECT_EQ(json["unit"]["display"]["value"], true);
    EXPECT_EQ(json["unit"]["can"]["value"], 2);
    EXPECT_EQ(json["expansion"]["bluetooth"]["value"], true);

    setEeprom(unit(), "unit", lines({"PCB_SERIAL:1", "NOTHING:ELSE"}));
    const auto [failed, partial] = runTool("--json identity");
    EXPECT_EQ(failed, 1);
    const sim::Json missing = sim::Json::parse(partial);
    EXPECT_EQ(missing["unit"]["unitSerial"]["result"], 18);
    EXPECT_EQ(missing["unit"]["pcbSerial"]["value"], "1");
}

TEST_F(IdentityToolTest, DiagPrintsWordsRecordPairAndEveryTemperature)
{
    const auto [code, output] = runTool("--json diag");
    ASSERT_EQ(code, 0) << output;
    const sim::Json json = sim::Json::parse(output);
    EXPECT_EQ(json["words"]["word1"]["value"], 15);
    EXPECT_EQ(json["startupReason"]["text"], "Power on start-up");
    EXPECT_EQ(json["hwErrorStatus"]["text"], "No Error");
    EXPECT_EQ(json["record"]["hex"].get<std::string>().size(), 28u * 3 - 1);
    EXPECT_EQ(json["wordPair"]["first"], 2);
    EXPECT_EQ(json["wordPair"]["second"], 1);
    ASSERT_EQ(json["temperatures"].size(), 3u);
    EXPECT_EQ(json["temperatures"][2]["celsius"], -5);
    // The tool touches no board handle it does not give back.
    EXPECT_EQ(openBoardHandles(unit()), 0u);

    const auto [plain, text] = runTool("diag");
    EXPECT_EQ(plain, 0);
    EXPECT_NE(text.find("Power on start-up"), std::string::npos) << text;
}

TEST_F(IdentityToolTest, DiagTextGivesTheMessageOfACode)
{
    EXPECT_EQ(runTool("diag text hw 53").second, "SuspToRAM  Unexpected EEPROM Value\n");
    EXPECT_EQ(runTool("diag text hw 132").second, "Unknown error code\n");
    EXPECT_EQ(runTool("diag text startup 0x1000F").second, "Power on start-up\n");
    const auto [code, json] = runTool("--json diag text startup 170");
    EXPECT_EQ(code, 0);
    EXPECT_EQ(sim::Json::parse(json)["text"], "External Control Signal");
    EXPECT_NE(runTool("diag text hw twelve").first, 0);
    EXPECT_NE(runTool("diag text other 1").first, 0);
}

TEST_F(IdentityToolTest, WithoutAUnitTheCommandsFail)
{
    stopUnit();
    EXPECT_EQ(runTool("identity").first, 1);
    EXPECT_EQ(runTool("diag").first, 1);
}

// ------------------------------------------------------------------ a `pelmux sim` daemon

class SimDaemon {
public:
    explicit SimDaemon(const std::string& root)
    {
        const std::string tool = PELMUX_TOOL;
        std::vector<std::string> args{tool, "sim", "--root", root};
        std::vector<char*> argv;
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        ::posix_spawn(&pid_, tool.c_str(), &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        // Serving once it answers a unit command (the socket file appears before that).
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!sim::sendUnitCommand(root + "/board.sock", R"({"cmd":"get","path":"/backlight"})")
                    .value("ok", false) &&
               std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ~SimDaemon() { stop(); }
    void stop()
    {
        if (pid_ <= 0)
            return;
        ::kill(pid_, SIGTERM);
        int status = 0;
        ::waitpid(pid_, &status, 0);
        pid_ = 0;
    }

private:
    pid_t pid_ = 0;
};

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(IdentityPersistence, ARewrittenEepromSurvivesARestartOfPelmuxSim)
{
    platform::setTimeScale(0.0);
    TempRoot root;
    {
        SimDaemon daemon(root.path());
        IdentityRecord record(2);
        ASSERT_TRUE(record.loadIdentity());
        ASSERT_TRUE(record.replaceValue("PCB_REV", "Z9"));
    }
    const std::string saved = readFile(sim::savedStatePath(root.path()));
    EXPECT_NE(saved.find("PCB_REV:Z9"), std::string::npos) << saved;
    {
        SimDaemon daemon(root.path());
        Varnholt::About* about = GetAbout();
        char revision[16] = {};
        EXPECT_EQ(about->getExpansionPcbRevision(revision, 15), Varnholt::ERR_SUCCESS);
        EXPECT_STREQ(revision, "Z9");
        // The other EEPROM and the other lines are as the profile has them.
        char serial[16] = {};
        EXPECT_EQ(about->getExpansionPcbSerial(serial, 15), Varnholt::ERR_SUCCESS);
        EXPECT_STREQ(serial, "41000777");
        EXPECT_EQ(about->getPcbSerial(serial, 15), Varnholt::ERR_SUCCESS);
        EXPECT_STREQ(serial, "40123456");
        about->release();
    }
}

TEST(IdentityPersistence, SavedStateIsLaidOverTheProfile)
{
    TempRoot root;
    const std::string path = sim::savedStatePath(root.path());
    EXPECT_EQ(sim::withSavedState(sim::defaultProfile(), path), sim::defaultProfile());

    sim::Unit unit(sim::defaultProfile());
    sim::saveStateTo(unit, path);
    unit.persist({{"eeproms", {{"unit", "A:1"}}}});
    unit.persist({{"eeproms", {{"expansion", {{"hex", "41"}}}}}});
    const sim::Json merged = sim::withSavedState(sim::defaultProfile(), path);
    EXPECT_EQ(merged["eeproms"]["unit"], "A:1");
    EXPECT_EQ(merged["eeproms"]["expansion"]["hex"], "41");
    EXPECT_EQ(merged["versions"], sim::defaultProfile()["versions"]);

    root.writeFile("sim-state.json", "[1, 2]");
    EXPECT_THROW(sim::withSavedState(sim::defaultProfile(), path), std::runtime_error);
}

TEST(IdentityPersistence, EepromBytesThatAreNotTextAreKeptInHex)
{
    platform::setTimeScale(0.0);
    TempRoot root;
    sim::SimulatedUnit simulated(root.path(), sim::defaultProfile());
    sim::saveStateTo(simulated.unit(), sim::savedStatePath(root.path()));
    BoardHandle slot = 0;
    ASSERT_TRUE(openBoard(slot));
    std::uint8_t image[idEepromSize];
    for (std::size_t i = 0; i < sizeof image; ++i)
        image[i] = static_cast<std::uint8_t>(i * 13);
    ASSERT_TRUE(writeIdEeprom(slot, unitEepromAddress, image));
    closeBoard(slot);
    const sim::Json saved = sim::Json::parse(readFile(sim::savedStatePath(root.path())));
    ASSERT_TRUE(saved["eeproms"]["unit"].contains("hex"));
    // Laid over a profile, the bytes read back unchanged.
    simulated.stop();
    sim::SimulatedUnit again(root.path() + "/again",
                             sim::withSavedState(sim::defaultProfile(), sim::savedStatePath(root.path())));
    ::setenv("PELMUX_ROOT", (root.path() + "/again").c_str(), 1);
    ASSERT_TRUE(openBoard(slot));
    std::uint8_t back[idEepromSize];
    ASSERT_TRUE(readIdEeprom(slot, unitEepromAddress, back));
    closeBoard(slot);
    EXPECT_EQ(std::memcmp(image, back, sizeof back), 0);
}

} // namespace PELMUX_FILE_SCOPE
} // namespace pelmux::test
