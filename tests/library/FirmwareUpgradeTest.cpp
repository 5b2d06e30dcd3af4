#include "FirmwareImages.h"
#include "SimFixture.h"

#include "firmware/FirmwareUpgrade_Imp.h"
#include "platform/Semaphore.h"

#include <pelmux/Pelmux.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace pelmux::test {
namespace PELMUX_FILE_SCOPE {

using Varnholt::FirmwareUpgrade;
using Varnholt::UpgradeStatus;

constexpr std::uint32_t fpgaWriteCode = 0x222500;

// An FPGA line file of `lines` data lines and the bytes it carries, as hexadecimal text.
struct FpgaImage {
    std::string file;
    std::string contents;
};
FpgaImage fpgaImage(std::size_t lines)
{
    FpgaImage image;
    char digits[4];
    for (std::size_t line = 0; line < lines; ++line) {
        std::string text = ":10000000";
        unsigned sum = 16;
        for (std::size_t i = 0; i < 16; ++i) {
            const auto b = static_cast<std::uint8_t>(line * 16 + i * 5);
            std::snprintf(digits, sizeof digits, "%02X", b);
            text += digits;
            std::snprintf(digits, sizeof digits, "%02x", b);
            image.contents += digits;
            sum += b;
        }
        std::snprintf(digits, sizeof digits, "%02X", (0x100 - (sum & 0xFF)) & 0xFF);
        image.file += text + digits + "\n";
    }
    return image;
}

bool ended(const UpgradeStatus& s)
{
    return s.currentAction == Varnholt::UPGRADE_COMPLETE || s.currentAction == Varnholt::UPGRADE_FAILED;
}

class FirmwareUpgradeTest : public SimTest {
protected:
    std::string file(const std::string& name, const std::string& content)
    {
        root().writeFile(name, content);
        return root().path() + "/" + name;
    }
    // Waits for the job's end through the status, as an application does.
    UpgradeStatus waitForEnd(FirmwareUpgrade* upgrade)
    {
        UpgradeStatus status{};
        do
            EXPECT_EQ(upgrade->getUpgradeStatus(status, true), Varnholt::ERR_SUCCESS);
        while (!ended(status));
        return status;
    }
    bool jobLockFree()
    {
        platform::SemaphoreHandle lock = platform::createSemaphore(upgradeInProgressName);
        const bool free = platform::takeSemaphore(lock, 0);
        if (free)
            platform::giveSemaphore(lock);
        platform::closeSemaphore(lock);
        return free;
    }
    std::string fpgaContents()
    {
        return unit().snapshot()["firmware"]["fpga"]["contents"].get<std::string>();
    }
};

using Start = Varnholt::ResultCode (FirmwareUpgrade::*)(const char*, bool);
struct Operation {
    const char* name;
    Start start;
};
const Operation operations[] = {
    {"startFpgaUpgrade", &FirmwareUpgrade::startFpgaUpgrade},
    {"startFpgaVerification", &FirmwareUpgrade::startFpgaVerification},
    {"startSSUpgrade", &FirmwareUpgrade::startSSUpgrade},
    {"startSSVerification", &FirmwareUpgrade::startSSVerification},
    {"startFrontUpgrade", &FirmwareUpgrade::startFrontUpgrade},
    {"startFrontVerification", &FirmwareUpgrade::startFrontVerification},
};

TEST_F(FirmwareUpgradeTest, ImageFilesAreCheckedBySizeAndTheOtherTargetsMarker)
{
    struct Case {
        std::uint32_t target;
        std::size_t size;
        std::string marker;
        ResultCode result;
    };
    const Case cases[] = {
        {targetSupervisor, 94999, "", Varnholt::ERR_DATATYPE_MISMATCH},
        {targetSupervisor, 95000, "", Varnholt::ERR_SUCCESS},
        {targetSupervisor, 1000000, "", Varnholt::ERR_SUCCESS},
        {targetSupervisor, 1000001, "", Varnholt::ERR_DATATYPE_MISMATCH},
        {targetSupervisor, 95000, "Front_uc", Varnholt::ERR_DATATYPE_MISMATCH},
        {targetSupervisor, 95000, "SystemSupervisor", Varnholt::ERR_SUCCESS},
        {targetSupervisor, 95000, "Front_u", Varnholt::ERR_SUCCESS},
        {targetFront, 49999, "", Varnholt::ERR_DATATYPE_MISMATCH},
        {targetFront, 50000, "", Varnholt::ERR_SUCCESS},
        {targetFront, 110000, "", Varnholt::ERR_SUCCESS},
        {targetFront, 110001, "", Varnholt::ERR_DATATYPE_MISMATCH},
        {targetFront, 60000, "SystemSupervisor", Varnholt::ERR_DATATYPE_MISMATCH},
        {targetFront, 60000, "Front_uc", Varnholt::ERR_SUCCESS},
        {2, 60000, "", Varnholt::ERR_DATATYPE_MISMATCH},
    };
    for (const Case& c : cases) {
        std::string content(c.size, 'A');
        // The marker at the very end: the search runs over every byte.
        content.replace(c.size - c.marker.size(), c.marker.size(), c.marker);
        const std::string name = file("image.hex", content);
        EXPECT_EQ(checkImageFile(name.c_str(), c.target), c.result)
            << "target " << c.target << ", " << c.size << " bytes, marker '" << c.marker << "'";
    }
    EXPECT_EQ(checkImageFile((root().path() + "/none.hex").c_str(), targetSupervisor),
              Varnholt::ERR_OPEN_FAILED);
}

TEST_F(FirmwareUpgradeTest, FpgaStartsRefuseAMicroControllersImageBeforeTheJob)
{
    // A micro-controller's records read as FPGA data lines: the FPGA would take the image.
    const std::string records = hexText(imageBytes(256, 1));
    const FpgaImage fpga = fpgaImage(4);
    struct Case {
        const char* what;
        std::string content;
        ResultCode result; // of the blocking start
        std::size_t jobs;  // readiness requests: the job ran
    };
    const Case cases[] = {
        {"supervisor image", records + "SystemSupervisor 1.4\n", Varnholt::ERR_DATATYPE_MISMATCH, 0},
        {"supervisor image without a marker, in the flash window", records, Varnholt::ERR_DATATYPE_MISMATCH,
         0},
        {"front image", "Front_uc\n" + records, Varnholt::ERR_DATATYPE_MISMATCH, 0},
        {"FPGA image", fpga.file, Varnholt::ERR_SUCCESS, 1},
    };
    FirmwareUpgrade* upgrade = GetFirmwareUpgrade();
    for (const Case& c : cases) {
        const std::string name = file("fpga.txt", c.content);
        for (Start start : {&FirmwareUpgrade::startFpgaUpgrade, &FirmwareUpgrade::startFpgaVerification}) {
            const std::size_t before = unit().requestCount(0x2224FC);
            EXPECT_EQ((upgrade->*start)(name.c_str(), true), c.result) << c.what;
            EXPECT_EQ(unit().requestCount(0x2224FC) - before, c.jobs) << c.what;
            EXPECT_TRUE(jobLockFree()) << c.what;
        }
    }
    // A file that cannot be read is the job's to report, as before.
    EXPECT_EQ(upgrade->startFpgaUpgrade((root().path() + "/none.txt").c_str(), true),
              Varnholt::ERR_OPEN_FAILED);
    UpgradeStatus status{};
    upgrade->getUpgradeStatus(status, false);
    EXPECT_EQ(status.currentAction, Varnholt::UPGRADE_FAILED);
    upgrade->release();
}

TEST_F(FirmwareUpgradeTest, StartOperationsCheckTheJobLockFirstAndGiveItBackOnRefusal)
{
    const std::string small = file("small.hex", std::string(94999, 'A'));
    const std::string bigFront = file("front.hex", std::string(110001, 'A'));
    const std::string missing = root().path() + "/none.hex";
    const std::string longName(300, 'n');
    FirmwareUpgrade* upgrade = GetFirmwareUpgrade();
    ASSERT_NE(upgrade, nullptr);

    struct Refusal {
        const char* what;
        Start start;
        const char* name;
        ResultCode result;
    };
    const Refusal refusals[] = {
        {"supervisor image of 94999 bytes", &FirmwareUpgrade::startSSUpgrade, small.c_str(),
         Varnholt::ERR_DATATYPE_MISMATCH},
        {"front image of 110001 bytes", &FirmwareUpgrade::startFrontVerification, bigFront.c_str(),
         Varnholt::ERR_DATATYPE_MISMATCH},
        {"missing supervisor image", &FirmwareUpgrade::startSSVerification, missing.c_str(),
         Varnholt::ERR_OPEN_FAILED},
        {"null name", &FirmwareUpgrade::startFpgaUpgrade, nullptr, Varnholt::ERR_INVALID_PARAMETER_NULL},
        {"null name, micro-controller", &FirmwareUpgrade::startFrontUpgrade, nullptr,
         Varnholt::ERR_INVALID_PARAMETER_NULL},
        {"name of 300 characters", &FirmwareUpgrade::startFpgaVerification, longName.c_str(),
         Varnholt::ERR_INVALID_DATA_RANGE},
    };
    for (const Refusal& r : refusals) {
        EXPECT_EQ((upgrade->*r.start)(r.name, true), r.result) << r.what;
        EXPECT_TRUE(jobLockFree()) << r.what;
    }
    EXPECT_EQ(unit().requestCount(0x222508), 0u) << "no job ran";

    // With the lock held elsewhere every start answers 11 before looking at its file.
    platform::SemaphoreHandle other = platform::createSemaphore(upgradeInProgressName);
    ASSERT_TRUE(platform::takeSemaphore(other, 0));
    for (const Operation& op : operations) {
        EXPECT_EQ((upgrade->*op.start)(small.c_str(), true), Varnholt::ERR_FUNCTION_IN_PROGRESS) << op.name;
        EXPECT_EQ((upgrade->*op.start)(nullptr, false), Varnholt::ERR_FUNCTION_IN_PROGRESS) << op.name;
    }
    platform::giveSemaphore(other);
    platform::closeSemaphore(other);
    upgrade->release();
}

TEST_F(FirmwareUpgradeTest, BlockingJobsReturnTheirResultWithTheFinalStatusPosted)
{
    const FpgaImage image = fpgaImage(40);
    const std::string name = file("fpga.txt", image.file);
    FirmwareUpgrade* upgrade = GetFirmwareUpgrade();
    UpgradeStatus status{};

    // The first call after construction returns at once with the zero record.
    EXPECT_EQ(upgrade->getUpgradeStatus(status, true), Varnholt::ERR_SUCCESS);
    EXPECT_EQ(status.currentAction, Varnholt::UPGRADE_PREPARING);

    EXPECT_EQ(upgrade->startFpgaUpgrade(name.c_str(), true), Varnholt::ERR_SUCCESS);
    EXPECT_EQ(fpgaContents(), image.contents);
    ASSERT_EQ(upgrade->getUpgradeStatus(status, false), Varnholt::ERR_SUCCESS);
    EXPECT_EQ(status.currentAction, Varnholt::UPGRADE_COMPLETE);
    EXPECT_EQ(status.percent, 0);
    EXPECT_EQ(status.errorCode, Varnholt::ERR_SUCCESS);
    // Nothing new: the same record, without waiting.
    UpgradeStatus again{Varnholt::UPGRADE_FAILED, 77, Varnholt::ERR_VERIFY_FAILED};
    EXPECT_EQ(upgrade->getUpgradeStatus(again, false), Varnholt::ERR_SUCCESS);
    EXPECT_EQ(again.currentAction, Varnholt::UPGRADE_COMPLETE);
    EXPECT_EQ(again.percent, 0);

    unit().update([](sim::Json& s) { s["firmware"]["fpga"]["ready"] = 1; });
    EXPECT_EQ(upgrade->startFpgaVerification(name.c_str(), true), Varnholt::ERR_INITIALISATION_FAILED);
    ASSERT_EQ(upgrade->getUpgradeStatus(status, false), Varnholt::ERR_SUCCESS);
    EXPECT_EQ(status.currentAction, Varnholt::UPGRADE_FAILED);
    EXPECT_EQ(status.percent, 0);
    EXPECT_EQ(status.errorCode, Varnholt::ERR_INITIALISATION_FAILED);
    EXPECT_TRUE(jobLockFree());
    upgrade->release();
}

TEST_F(FirmwareUpgradeTest, ThreadedJobsRunOneAtATime)
{
    platform::setTimeScale(0.01);
    const FpgaImage image = fpgaImage(64);
    const std::string name = file("fpga.txt", image.file);
    // One byte per request keeps the job busy for a while.
    unit().update([](sim::Json& s) { s["firmware"]["fpga"]["acceptLimit"] = 1; });
    FirmwareUpgrade* upgrade = GetFirmwareUpgrade();
    FirmwareUpgrade* second = GetFirmwareUpgrade();
    ASSERT_EQ(upgrade->startFpgaUpgrade(name.c_str(), false), Varnholt::ERR_SUCCESS);
    EXPECT_EQ(second->startFpgaVerification(name.c_str(), false), Varnholt::ERR_FUNCTION_IN_PROGRESS);
    EXPECT_EQ(upgrade->startFpgaVerification(name.c_str(), true), Varnholt::ERR_FUNCTION_IN_PROGRESS);
    const UpgradeStatus end = waitForEnd(upgrade);
    EXPECT_EQ(end.currentAction, Varnholt::UPGRADE_COMPLETE);
    EXPECT_EQ(end.errorCode, Varnholt::ERR_SUCCESS);
    EXPECT_EQ(unit().requestCount(fpgaWriteCode), 64u * 16u);
    EXPECT_EQ(fpgaContents(), image.contents);

    // The next job may start on either object once the lock is back.
    unit().update([](sim::Json& s) { s["firmware"]["fpga"]["acceptLimit"] = 528; });
    while (second->startFpgaVerification(name.c_str(), false) == Varnholt::ERR_FUNCTION_IN_PROGRESS) {
    }
    EXPECT_EQ(waitForEnd(second).currentAction, Varnholt::UPGRADE_COMPLETE);
    second->release();
    while (upgrade->startFpgaVerification(name.c_str(), false) == Varnholt::ERR_FUNCTION_IN_PROGRESS) {
    }
    EXPECT_EQ(waitForEnd(upgrade).currentAction, Varnholt::UPGRADE_COMPLETE);
    upgrade->release();
}

TEST_F(FirmwareUpgradeTest, ReleaseWaitsForARunningJob)
{
    platform::setTimeScale(0.01);
    const FpgaImage image = fpgaImage(32);
    const std::string name = file("fpga.txt", image.file);
    unit().update([](sim::Json& s) { s["firmware"]["fpga"]["acceptLimit"] = 1; });
    FirmwareUpgrade* upgrade = GetFirmwareUpgrade();
    ASSERT_EQ(upgrade->startFpgaUpgrade(name.c_str(), false), Varnholt::ERR_SUCCESS);
    upgrade->release();
    // The job ran to its end and gave the lock back.
    EXPECT_EQ(fpgaContents(), image.contents);
    EXPECT_TRUE(jobLockFree());
    EXPECT_EQ(unit().snapshot()["firmware"]["upgradeModeLog"], sim::Json::array({0x0F, 0xC3}));
}

TEST_F(FirmwareUpgradeTest, NotifyServiceSendsControl129)
{
    FirmwareUpgrade* upgrade = GetFirmwareUpgrade();
    struct Case {
        const char* what;
        std::function<void(sim::Json&)> service;
        ResultCode result;
    };
    const Case cases[] = {
        {"taken", [](sim::Json&) {}, Varnholt::ERR_SUCCESS},
        {"refused", [](sim::Json& s) { s["service"]["refuse"] = true; },
         Varnholt::ERR_EXECUTE_COMMAND_FAILED},
        {"not installed", [](sim::Json& s) { s["service"]["installed"] = false; }, Varnholt::ERR_OPEN_FAILED},
    };
    for (const Case& c : cases) {
        unit().update(c.service);
        EXPECT_EQ(upgrade->notifyService(), c.result) << c.what;
    }
    const sim::Json controls = unit().snapshot()["service"]["controls"];
    ASSERT_TRUE(controls.is_array());
    ASSERT_FALSE(controls.empty());
    EXPECT_EQ(controls.front(), 129);
    upgrade->release();
}

} // namespace PELMUX_FILE_SCOPE
} // namespace pelmux::test
