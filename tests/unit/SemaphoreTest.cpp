#include "SimFixture.h"

#include "frame/SettingsFile.h"
#include "platform/Semaphore.h"
#include "platform/Time.h"

#include <atomic>
#include <cstdlib>
#include <thread>

namespace pelmux::test {
namespace {

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

} // namespace
} // namespace pelmux::test
