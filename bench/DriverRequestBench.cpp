// Driver requests per second over the board socket: the cost every operation pays once.
#include <pelmux/Pelmux.h>

#include "Server.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>

namespace {

struct BenchUnit {
    BenchUnit()
    {
        char pattern[] = "/tmp/pelmux-bench-XXXXXX";
        root = ::mkdtemp(pattern);
        ::setenv("PELMUX_ROOT", root.c_str(), 1);
        unit = std::make_unique<pelmux::sim::SimulatedUnit>(root, pelmux::sim::defaultProfile());
    }
    ~BenchUnit()
    {
        unit.reset();
        std::filesystem::remove_all(root);
    }
    std::string root;
    std::unique_ptr<pelmux::sim::SimulatedUnit> unit;
};

void VersionRead(benchmark::State& state)
{
    BenchUnit bench;
    Varnholt::AuxVersion* versions = GetAuxVersion();
    unsigned char v[4];
    for (auto _ : state)
        benchmark::DoNotOptimize(versions->getFpgaVersion(&v[0], &v[1], &v[2], &v[3]));
    versions->release();
    state.counters["requests/s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(VersionRead);

// Open, one request, close: what every firmware gate costs.
void OpenReadClose(benchmark::State& state)
{
    BenchUnit bench;
    unsigned char v[4];
    for (auto _ : state) {
        Varnholt::AuxVersion* versions = GetAuxVersion();
        benchmark::DoNotOptimize(versions->getSupervisorVersion(&v[0], &v[1], &v[2], &v[3]));
        versions->release();
    }
    state.counters["gates/s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(OpenReadClose);

} // namespace
