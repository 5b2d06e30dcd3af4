// Worker processes of the integration tests, each one use of the settings store or a semaphore:
//   increment KEY COUNT   COUNT load-increment-write cycles of KEY
//   rewrite               rewrites the settings file without end ("W0" to "W49" and "Last")
//   keys PREFIX           settings cycles without end, each adding the key PREFIX_0, PREFIX_1, ...
//                         and printing it on a line of its own once the file holds it
//   hold NAME             takes the named semaphore, prints "taken" and waits to be killed
//   keep NAME             the same without taking it, printing "open"
//   try NAME              exit 0 when the named semaphore can be taken without waiting, else 1
#include "frame/Semaphores.h"
#include "frame/SettingsFile.h"
#include "platform/Semaphore.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

namespace {

using namespace pelmux;

int increment(const std::string& key, int count)
{
    for (int i = 0; i < count; ++i) {
        SettingsFile file;
        file.loadSettings(settingsPath());
        std::int32_t value = 0;
        if (textToInt(file.getValue(key), value) != Varnholt::ERR_SUCCESS)
            value = 0;
        std::string text;
        intToText(value + 1, text);
        if (!file.setValue(key, text))
            return 2;
    }
    return 0;
}

int rewrite()
{
    for (std::int32_t i = 0;; ++i) {
        SettingsFile file;
        file.loadSettings(settingsPath());
        std::string text;
        intToText(i, text);
        file.setValue("W" + std::to_string(i % 50), text);
        file.setValue("Last", text);
    }
}

int keys(const std::string& prefix)
{
    for (int i = 0;; ++i) {
        SettingsFile file;
        if (!file.holdsLock())
            return 3;
        file.loadSettings(settingsPath());
        const std::string key = prefix + "_" + std::to_string(i);
        if (!file.setValue(key, "1"))
            return 2;
        // Still inside the cycle: a kill may land before, during or after the report.
        std::printf("%s\n", key.c_str());
        std::fflush(stdout);
    }
}

int hold(const char* name, bool take)
{
    platform::SemaphoreHandle semaphore = nullptr;
    if (!createSemaphore(name, semaphore) || (take && !platform::takeSemaphore(semaphore, 0))) {
        std::puts("busy");
        return 1;
    }
    std::puts(take ? "taken" : "open");
    std::fflush(stdout);
    for (;;)
        std::this_thread::sleep_for(std::chrono::seconds(1));
}

int tryTake(const char* name)
{
    platform::SemaphoreHandle semaphore = nullptr;
    if (!createSemaphore(name, semaphore))
        return 2;
    const bool taken = platform::takeSemaphore(semaphore, 0);
    platform::closeSemaphore(semaphore);
    return taken ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "increment" && argc == 4)
        return increment(argv[2], std::atoi(argv[3]));
    if (command == "rewrite" && argc == 2)
        return rewrite();
    if (command == "keys" && argc == 3)
        return keys(argv[2]);
    if ((command == "hold" || command == "keep") && argc == 3)
        return hold(argv[2], command == "hold");
    if (command == "try" && argc == 3)
        return tryTake(argv[2]);
    std::fputs(
        "usage: pelmux_test_worker increment KEY COUNT | rewrite | keys PREFIX | hold NAME | keep NAME | "
        "try NAME\n",
        stderr);
    return 64;
}
