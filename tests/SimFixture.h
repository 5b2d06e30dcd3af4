// A fresh simulated unit under a private PELMUX_ROOT for each test.
#pragma once

#include "Server.h"
#include "platform/Time.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

namespace pelmux::test {

// A private, empty PELMUX_ROOT for the test; removed afterwards.
class TempRoot {
public:
    TempRoot()
    {
        char pattern[] = "/tmp/pelmux-test-XXXXXX";
        path_ = ::mkdtemp(pattern);
        ::setenv("PELMUX_ROOT", path_.c_str(), 1);
    }
    ~TempRoot()
    {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    const std::string& path() const { return path_; }

    // Writes a file under the root ("C/Windows/System32/oeminfo.ini").
    void writeFile(const std::string& relative, const std::string& content) const
    {
        const auto file = std::filesystem::path(path_) / relative;
        std::filesystem::create_directories(file.parent_path());
        std::ofstream(file, std::ios::binary) << content;
    }

private:
    std::string path_;
};

class SimTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        platform::setTimeScale(0.0);
        startUnit(sim::defaultProfile());
    }

    void TearDown() override { stopUnit(); }

    // Restarts the unit with another profile (the root stays). Its serial line runs without line
    // time; a test of the line's timing sets "serial.timeScale" itself.
    void startUnit(sim::Json profile)
    {
        profile["serial"]["timeScale"] = 0.0;
        sim_.reset();
        sim_ = std::make_unique<sim::SimulatedUnit>(root_.path(), std::move(profile));
    }
    void stopUnit() { sim_.reset(); }

    sim::Unit& unit() { return sim_->unit(); }
    sim::SerialLine& serialLine() { return sim_->serialLine(); }
    sim::SimulatedUnit& simulatedUnit() { return *sim_; }
    const TempRoot& root() const { return root_; }

private:
    TempRoot root_;
    std::unique_ptr<sim::SimulatedUnit> sim_;
};

} // namespace pelmux::test
