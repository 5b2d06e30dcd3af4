#include "SimFixture.h"

#include "frame/Semaphores.h"
#include "frame/SettingsFile.h"
#include "platform/Semaphore.h"
#include "platform/Time.h"

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>
#include <tuple>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

namespace pelmux::test {
namespace PELMUX_FILE_SCOPE {

using platform::closeSemaphore;
using platform::giveSemaphore;
using platform::SemaphoreHandle;
using platform::takeSemaphore;

bool tryTake(SemaphoreHandle s)
{
    return takeSemaphore(s, 0);
}

class SemaphoreTest : public ::testing::Test {
protected:
    void SetUp() override { platform::setTimeScale(0.0); }
    SemaphoreHandle make(const char* name)
    {
        SemaphoreHandle handle = platform::createSemaphore(name);
        EXPECT_NE(handle, nullptr) << (name ? name : "(unnamed)");
        return handle;
    }
    TempRoot root_;
};

// Initial count 1, maximum 1: one take, and one give back, succeed.
TEST_F(SemaphoreTest, CountsFromOneToZeroAndBack)
{
    for (const char* name : {static_cast<const char*>(nullptr), "PELMUX_TEST_COUNT"}) {
        const std::string what = name ? name : "unnamed";
        SemaphoreHandle s = make(name);
        EXPECT_FALSE(giveSemaphore(s)) << what << ": above the maximum";
        EXPECT_TRUE(tryTake(s)) << what;
        EXPECT_FALSE(tryTake(s)) << what;
        EXPECT_TRUE(giveSemaphore(s)) << what;
        EXPECT_FALSE(giveSemaphore(s)) << what;
        EXPECT_TRUE(tryTake(s)) << what;
        closeSemaphore(s);
    }
}

TEST_F(SemaphoreTest, OneNameIsOneObject)
{
    SemaphoreHandle a = make("PELMUX_TEST_SHARED");
    SemaphoreHandle b = make("PELMUX_TEST_SHARED");
    SemaphoreHandle local = make("Local\\PELMUX_TEST_SHARED");
    SemaphoreHandle global = make("Global\\PELMUX_TEST_SHARED");
    SemaphoreHandle other = make("pelmux_test_shared"); // names are case-sensitive
    SemaphoreHandle unnamed1 = make(nullptr);
    SemaphoreHandle unnamed2 = make(nullptr);
    EXPECT_TRUE(tryTake(a));
    EXPECT_FALSE(tryTake(b));
    EXPECT_FALSE(tryTake(local)) << "the session namespace is the unprefixed one";
    EXPECT_TRUE(tryTake(global));
    EXPECT_TRUE(tryTake(other));
    EXPECT_TRUE(tryTake(unnamed1));
    EXPECT_TRUE(tryTake(unnamed2));
    EXPECT_TRUE(giveSemaphore(b)); // any handle gives back
    EXPECT_TRUE(tryTake(local));
    for (SemaphoreHandle s : {a, b, local, global, other, unnamed1, unnamed2})
        closeSemaphore(s);
}

// The object lives while a handle is open; the next one made after the last close starts at 1.
TEST_F(SemaphoreTest, LastCloseEndsTheObject)
{
    SemaphoreHandle first = make("PELMUX_TEST_LIFE");
    ASSERT_TRUE(tryTake(first));
    SemaphoreHandle second = make("PELMUX_TEST_LIFE");
    closeSemaphore(first);
    EXPECT_FALSE(tryTake(second)) << "still taken while a handle is open";
    closeSemaphore(second);
    SemaphoreHandle third = make("PELMUX_TEST_LIFE");
    EXPECT_TRUE(tryTake(third)) << "a new object after the last close";
    closeSemaphore(third);
}

TEST_F(SemaphoreTest, AWaitWithoutLimitEndsWhenAnotherThreadGivesBack)
{
    for (const char* name : {static_cast<const char*>(nullptr), "PELMUX_TEST_WAIT"}) {
        SemaphoreHandle holder = make(name);
        SemaphoreHandle waiter = name ? make(name) : holder;
        ASSERT_TRUE(tryTake(holder));
        std::atomic<bool> taken{false};
        std::thread thread([&] { taken = takeSemaphore(waiter, platform::waitForever); });
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        EXPECT_FALSE(taken.load());
        EXPECT_TRUE(giveSemaphore(holder));
        thread.join();
        EXPECT_TRUE(taken.load());
        EXPECT_FALSE(tryTake(holder));
        if (waiter != holder)
            closeSemaphore(waiter);
        closeSemaphore(holder);
    }
}

TEST_F(SemaphoreTest, ATimedWaitEndsUntaken)
{
    platform::setTimeScale(1.0);
    for (const char* name : {static_cast<const char*>(nullptr), "PELMUX_TEST_TIMED"}) {
        SemaphoreHandle s = make(name);
        ASSERT_TRUE(tryTake(s));
        EXPECT_FALSE(takeSemaphore(s, 5));
        closeSemaphore(s);
    }
    platform::setTimeScale(0.0);
}

TEST_F(SemaphoreTest, NamesTheKernelRefusesAndNullHandles)
{
    for (const std::string& name : {std::string("Global\\"), std::string("a\\b"), std::string(261, 'n')})
        EXPECT_EQ(platform::createSemaphore(name.c_str()), nullptr) << name;
    EXPECT_FALSE(takeSemaphore(nullptr, 0));
    EXPECT_FALSE(giveSemaphore(nullptr));
    closeSemaphore(nullptr);

    // Long names that share their start stay apart.
    const std::string longA = std::string(250, 'x') + "A";
    const std::string longB = std::string(250, 'x') + "B";
    SemaphoreHandle a = make(longA.c_str());
    SemaphoreHandle b = make(longB.c_str());
    EXPECT_TRUE(tryTake(a));
    EXPECT_TRUE(tryTake(b));
    closeSemaphore(a);
    closeSemaphore(b);
}

// Each PELMUX_ROOT is a machine of its own.
TEST_F(SemaphoreTest, NamesAreScopedToTheRoot)
{
    SemaphoreHandle here = make("PELMUX_TEST_SCOPE");
    ASSERT_TRUE(tryTake(here));
    TempRoot elsewhere; // sets PELMUX_ROOT
    SemaphoreHandle there = make("PELMUX_TEST_SCOPE");
    EXPECT_TRUE(tryTake(there));
    closeSemaphore(there);
    closeSemaphore(here);
    ::setenv("PELMUX_ROOT", root_.path().c_str(), 1);
}

TEST_F(SemaphoreTest, CreateSemaphoreLeavesTheHandleAloneOnFailure)
{
    int marker = 0;
    SemaphoreHandle handle = &marker;
    EXPECT_FALSE(createSemaphore("bad\\name", handle));
    EXPECT_EQ(handle, &marker);
    EXPECT_TRUE(createSemaphore(settingsLockName, handle));
    EXPECT_NE(handle, &marker);
    EXPECT_TRUE(tryTake(handle));
    closeSemaphore(handle);
}

// A settings lock that is there but cannot be taken (no taker token can be made) stops the cycle:
// it answers ERR_FUNCTION_IN_PROGRESS instead of going on without the lock.
TEST_F(SemaphoreTest, ASettingsCycleWhoseLockCannotBeTakenAnswersInProgress)
{
    root_.writeFile("semaphores/takers", "a file where the tokens' folder belongs");
    std::string value;
    EXPECT_EQ(writeSetting("Key", "1"), Varnholt::ERR_FUNCTION_IN_PROGRESS);
    EXPECT_EQ(readSetting("Key", value), Varnholt::ERR_FUNCTION_IN_PROGRESS);
}

// What a take makes of the count record another process left: a count whose taker has ended is
// taken over (its token file removed), one whose taker lives is not, and nothing but a token file is
// ever touched.
TEST_F(SemaphoreTest, ATakeJudgesTheTakerTheCountFileNames)
{
    namespace fs = std::filesystem;
    const fs::path folder = fs::path(root_.path()) / "semaphores";
    const fs::path token = folder / "takers" / "4242-00000000deadbeef";
    enum class Token { None, Unlocked, Locked };
    const std::tuple<const char*, std::string, Token> cases[] = {
        {"given back", "1", Token::None},
        {"taken by an older build, which names no taker", "0", Token::None},
        {"an empty record", "", Token::None},
        {"a taker whose token was swept", "04242-00000000deadbeef", Token::None},
        {"a taker that ended", "04242-00000000deadbeef", Token::Unlocked},
        {"a taker that lives", "04242-00000000deadbeef", Token::Locked},
        {"a taker that lives, padded record", "04242-00000000deadbeef" + std::string(20, '\0'),
         Token::Locked},
        {"a name that is no token", "0../../victim", Token::None},
    };
    root_.writeFile("victim", "stays");
    for (const auto& [what, record, kind] : cases) {
        SemaphoreHandle s = make("PELMUX_TEST_TAKER");
        fs::create_directories(token.parent_path());
        const int fd = kind == Token::None ? -1 : ::open(token.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        // A lock on a descriptor of its own stands for a live process.
        if (kind == Token::Locked) {
            EXPECT_EQ(::flock(fd, LOCK_EX), 0);
        }
        std::ofstream(folder / "PELMUX_TEST_TAKER.count", std::ios::binary | std::ios::trunc) << record;
        EXPECT_EQ(tryTake(s), kind != Token::Locked) << what;
        EXPECT_FALSE(tryTake(s)) << what << ": taken by this process now, or still by the live one";
        EXPECT_EQ(fs::exists(token), kind == Token::Locked) << what;
        EXPECT_TRUE(fs::exists(fs::path(root_.path()) / "victim")) << what;
        if (fd >= 0)
            ::close(fd);
        fs::remove(token);
        closeSemaphore(s);
    }
}

// A child made by fork() takes under a token of its own: it does not inherit its parent's counts,
// and a count it took and never gave comes back to the parent when it ends.
TEST_F(SemaphoreTest, AForkedChildIsATakerOfItsOwn)
{
    SemaphoreHandle s = make("PELMUX_TEST_FORK");
    ASSERT_TRUE(tryTake(s)); // this process has a token from here on
    const pid_t child = ::fork();
    if (child == 0) {
        const bool tookParents = tryTake(s);
        const bool gave = giveSemaphore(s);
        const bool tookGiven = tryTake(s);
        ::_exit(!tookParents && gave && tookGiven ? 0 : 1); // ends holding the count
    }
    ASSERT_GT(child, 0);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the child took its parent's count, or could not take a given one";
    EXPECT_TRUE(tryTake(s)) << "the count of the ended child is not back";
    closeSemaphore(s);
}

} // namespace PELMUX_FILE_SCOPE
} // namespace pelmux::test
