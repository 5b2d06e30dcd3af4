// Settings load-modify-write cycles per second: 1 and 4 processes incrementing one key, on the disk
// (/tmp, every cycle flushed) and in memory (/dev/shm: the lock, the read and the rename alone).
#include "frame/SettingsFile.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

namespace {

using namespace pelmux;

void incrementCycles(int cycles)
{
    for (int i = 0; i < cycles; ++i) {
        SettingsFile file;
        file.loadSettings(settingsPath());
        std::int32_t value = 0;
        textToInt(file.getValue("Counter"), value);
        std::string text;
        intToText(value + 1, text);
        file.setValue("Counter", text);
    }
}

class BenchRoot {
public:
    explicit BenchRoot(bool memory)
    {
        std::string pattern = memory && std::filesystem::is_directory("/dev/shm")
                                  ? "/dev/shm/pelmux-bench-XXXXXX"
                                  : "/tmp/pelmux-bench-XXXXXX";
        path_ = ::mkdtemp(pattern.data());
        ::setenv("PELMUX_ROOT", path_.c_str(), 1);
    }
    ~BenchRoot()
    {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }

private:
    std::string path_;
};

// Arguments: processes, 1 for memory, cycles per process and iteration.
void SettingsCycles(benchmark::State& state)
{
    const auto processes = static_cast<int>(state.range(0));
    const BenchRoot root(state.range(1) != 0);
    const auto cycles = static_cast<int>(state.range(2));
    double seconds = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        std::vector<pid_t> children;
        for (int p = 0; p < processes; ++p) {
            const pid_t pid = ::fork();
            if (pid == 0) {
                incrementCycles(cycles);
                ::_exit(0);
            }
            children.push_back(pid);
        }
        for (const pid_t pid : children)
            ::waitpid(pid, nullptr, 0);
        const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
        state.SetIterationTime(elapsed.count());
        seconds += elapsed.count();
    }
    state.SetLabel(state.range(1) != 0 ? "memory" : "disk");
    state.counters["cycles/s"] = static_cast<double>(processes) * cycles * state.iterations() / seconds;
}
BENCHMARK(SettingsCycles)
    ->ArgNames({"processes", "memory", "cycles"})
    ->Args({1, 0, 50})
    ->Args({4, 0, 50})
    ->Args({1, 1, 500})
    ->Args({4, 1, 500})
    ->Iterations(3)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// Reading a settings file of 100 keys.
void SettingsParse(benchmark::State& state)
{
    std::string text;
    for (int k = 0; k < 100; ++k)
        text += "Key" + std::to_string(k) + " = value number " + std::to_string(k) + "\r\n";
    for (auto _ : state) {
        SettingsEntries entries;
        readSettingsText(text, entries);
        benchmark::DoNotOptimize(entries);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}
BENCHMARK(SettingsParse);

} // namespace
