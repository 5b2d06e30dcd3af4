#include "SimFixture.h"
#include "shared/UnitExpectations.h"

#include <pelmux/Pelmux.h>

#include <array>
#include <filesystem>

#include <sys/stat.h>

namespace pelmux::test {
namespace PELMUX_FILE_SCOPE {

using Varnholt::AuxVersion;
using Varnholt::ResultCode;
using Read = ResultCode (AuxVersion::*)(unsigned char*, unsigned char*, unsigned char*, unsigned char*);

struct Outputs {
    std::array<unsigned char, 4> v{0xEE, 0xEE, 0xEE, 0xEE};
    ResultCode read(AuxVersion* object, Read slot) { return (object->*slot)(&v[0], &v[1], &v[2], &v[3]); }
    bool untouched() const { return v == std::array<unsigned char, 4>{0xEE, 0xEE, 0xEE, 0xEE}; }
};

struct DriverVersion {
    const char* name;
    Read read;
    std::uint32_t code;
    const char* profileKey;
};

const DriverVersion driverVersions[] = {
    {"fpga", &AuxVersion::getFpgaVersion, 0x2224F0, "fpga"},
    {"supervisor", &AuxVersion::getSupervisorVersion, 0x2224F4, "supervisor"},
    {"front", &AuxVersion::getFrontVersion, 0x2224F8, "front"},
    {"extra", &AuxVersion::getExtraVersion, 0x222598, "extra"},
};

class AuxVersionTest : public SimTest {};

TEST_F(AuxVersionTest, DriverVersionsDeliverTheFourBytesInOrder)
{
    unit().update([](sim::Json& s) {
        s["versions"]["fpga"] = {1, 2, 3, 4};
        s["versions"]["supervisor"] = {5, 6, 7, 8};
        s["versions"]["front"] = {9, 10, 11, 12};
        s["versions"]["extra"] = {255, 0, 128, 1};
    });
    const std::array<std::array<unsigned char, 4>, 4> expected{
        {{1, 2, 3, 4}, {5, 6, 7, 8}, {9, 10, 11, 12}, {255, 0, 128, 1}}};
    AuxVersion* versions = GetAuxVersion();
    ASSERT_NE(versions, nullptr);
    for (std::size_t i = 0; i < std::size(driverVersions); ++i) {
        Outputs out;
        EXPECT_EQ(out.read(versions, driverVersions[i].read), Varnholt::ERR_SUCCESS)
            << driverVersions[i].name;
        EXPECT_EQ(out.v, expected[i]) << driverVersions[i].name;
        EXPECT_EQ(unit().requestCount(driverVersions[i].code), 1u) << driverVersions[i].name;
    }
    versions->release();
}

// Each fault reaches one error path; outputs stay untouched on all of them.
TEST_F(AuxVersionTest, DriverFaultsGiveTheirCodesAndLeaveOutputsUntouched)
{
    // The faults are the table the Windows program runs against the DLL too.
    for (const auto& version : driverVersions) {
        for (const auto& c : shared::versionFaults()) {
            unit().clearFaults();
            ASSERT_TRUE(unit().command(sim::Json::parse(c.commandFor(version.code)))["ok"].get<bool>())
                << c.what;
            AuxVersion* versions = GetAuxVersion();
            Outputs out;
            EXPECT_EQ(out.read(versions, version.read), c.expected) << version.name << ": " << c.what;
            EXPECT_TRUE(out.untouched()) << version.name << ": " << c.what;
            versions->release();
        }
    }
}

TEST_F(AuxVersionTest, DriverAbsentGivesOpenFailedButLibraryVersionStillReads)
{
    stopUnit();
    AuxVersion* versions = GetAuxVersion();
    ASSERT_NE(versions, nullptr);
    for (const auto& version : driverVersions) {
        Outputs out;
        EXPECT_EQ(out.read(versions, version.read), Varnholt::ERR_OPEN_FAILED) << version.name;
        EXPECT_TRUE(out.untouched());
    }
    Outputs library;
    EXPECT_EQ(library.read(versions, &AuxVersion::getLibraryVersion), Varnholt::ERR_SUCCESS);
    EXPECT_EQ(library.v, (std::array<unsigned char, 4>{1, 5, 0, 0}));
    versions->release();
}

TEST_F(AuxVersionTest, AnObjectOpenedWithoutDriverStaysClosedWhenTheUnitComesUp)
{
    stopUnit();
    AuxVersion* early = GetAuxVersion();
    startUnit(sim::defaultProfile());
    AuxVersion* late = GetAuxVersion();
    Outputs a;
    Outputs b;
    EXPECT_EQ(a.read(early, &AuxVersion::getFpgaVersion), Varnholt::ERR_OPEN_FAILED);
    EXPECT_EQ(b.read(late, &AuxVersion::getFpgaVersion), Varnholt::ERR_SUCCESS);
    early->release();
    late->release();
}

TEST_F(AuxVersionTest, NullOutputsAreRefusedWithoutARequest)
{
    AuxVersion* versions = GetAuxVersion();
    unsigned char b = 0;
    EXPECT_EQ(versions->getFpgaVersion(nullptr, &b, &b, &b), Varnholt::ERR_INVALID_PARAMETER_NULL);
    EXPECT_EQ(versions->getExtraVersion(&b, &b, &b, nullptr), Varnholt::ERR_INVALID_PARAMETER_NULL);
    EXPECT_EQ(versions->getLibraryVersion(&b, nullptr, &b, &b), Varnholt::ERR_INVALID_PARAMETER_NULL);
    EXPECT_EQ(versions->getOsImageVersion(&b, &b, nullptr, &b), Varnholt::ERR_INVALID_PARAMETER_NULL);
    EXPECT_EQ(unit().requestCount(), 0u);
    versions->release();
}

struct OsImageCase {
    const char* name;
    std::string content;
    ResultCode expected;
    std::array<unsigned char, 4> version;
};

void PrintTo(const OsImageCase& c, std::ostream* os)
{
    *os << c.name;
}

class OsImageVersionTest : public SimTest, public ::testing::WithParamInterface<OsImageCase> {};

TEST_P(OsImageVersionTest, ReadsTheFirstVersionAfterALowerCaseV)
{
    const OsImageCase& c = GetParam();
    std::filesystem::remove(root().path() + "/C/Windows/System32/oeminfo.ini");
    root().writeFile("C/Windows/System32/oeminfo.ini", c.content);
    AuxVersion* versions = GetAuxVersion();
    Outputs out;
    EXPECT_EQ(out.read(versions, &AuxVersion::getOsImageVersion), c.expected);
    if (c.expected == Varnholt::ERR_SUCCESS)
        EXPECT_EQ(out.v, c.version);
    else
        EXPECT_TRUE(out.untouched());
    versions->release();
}

const OsImageCase osImageCases[] = {
    {"plain", "Image v2.1.4.17\r\n", Varnholt::ERR_SUCCESS, {2, 1, 4, 17}},
    {"v_inside_word_skipped", "revision v3.0.1.2", Varnholt::ERR_SUCCESS, {3, 0, 1, 2}},
    {"upper_case_V_ignored", "V9.9.9.9 v1.2.3.4", Varnholt::ERR_SUCCESS, {1, 2, 3, 4}},
    {"three_numbers_stop_the_search", "v1.2.3 then v1.2.3.4", Varnholt::ERR_EXECUTE_COMMAND_FAILED, {}},
    {"number_above_255", "v1.300.0.0", Varnholt::ERR_EXECUTE_COMMAND_FAILED, {}},
    {"negative_part", "v1.-2.0.0", Varnholt::ERR_EXECUTE_COMMAND_FAILED, {}},
    {"huge_number", "v1.99999999999999999999.0.0", Varnholt::ERR_EXECUTE_COMMAND_FAILED, {}},
    {"blanks_before_numbers", "v1. 2.\t3.4", Varnholt::ERR_SUCCESS, {1, 2, 3, 4}},
    {"no_v", "nothing here 1.2.3.4", Varnholt::ERR_EXECUTE_COMMAND_FAILED, {}},
    {"empty", "", Varnholt::ERR_EXECUTE_COMMAND_FAILED, {}},
    {"v_at_the_end", "abc v", Varnholt::ERR_EXECUTE_COMMAND_FAILED, {}},
    {"version_after_byte_512", std::string(512, ' ') + "v1.2.3.4", Varnholt::ERR_EXECUTE_COMMAND_FAILED, {}},
    {"version_ending_at_byte_512", std::string(504, ' ') + "v1.2.3.4", Varnholt::ERR_SUCCESS, {1, 2, 3, 4}},
    {"version_cut_at_byte_512", std::string(504, ' ') + "v1.2.3.45", Varnholt::ERR_SUCCESS, {1, 2, 3, 4}},
    {"version_cut_before_last_number",
     std::string(506, ' ') + "v1.2.3.4",
     Varnholt::ERR_EXECUTE_COMMAND_FAILED,
     {}},
};

INSTANTIATE_TEST_SUITE_P(Files, OsImageVersionTest, ::testing::ValuesIn(osImageCases),
                         [](const auto& param) { return std::string(param.param.name); });

TEST_F(AuxVersionTest, MissingOemInfoGivesOpenFailed)
{
    std::filesystem::remove(root().path() + "/C/Windows/System32/oeminfo.ini");
    AuxVersion* versions = GetAuxVersion();
    Outputs out;
    EXPECT_EQ(out.read(versions, &AuxVersion::getOsImageVersion), Varnholt::ERR_OPEN_FAILED);
    EXPECT_TRUE(out.untouched());
    versions->release();
}

TEST_F(AuxVersionTest, WhatIsNotARegularFileDoesNotOpenAsOemInfo)
{
    // CreateFileW opens no folder; a FIFO must neither open nor block the call.
    const std::string file = root().path() + "/C/Windows/System32/oeminfo.ini";
    for (const bool folder : {true, false}) {
        std::filesystem::remove_all(file);
        if (folder)
            std::filesystem::create_directories(file);
        else
            ASSERT_EQ(::mkfifo(file.c_str(), 0600), 0);
        AuxVersion* versions = GetAuxVersion();
        Outputs out;
        EXPECT_EQ(out.read(versions, &AuxVersion::getOsImageVersion), Varnholt::ERR_OPEN_FAILED)
            << (folder ? "folder" : "fifo");
        versions->release();
    }
}

// Every operation reached through the vtable by slot number, as a caller of the DLL does.
TEST_F(AuxVersionTest, SlotsFollowTheBinaryInterface)
{
    unit().update([](sim::Json& s) {
        s["versions"]["fpga"] = {10, 0, 0, 0};
        s["versions"]["supervisor"] = {11, 0, 0, 0};
        s["versions"]["front"] = {12, 0, 0, 0};
        s["versions"]["extra"] = {15, 0, 0, 0};
    });
    root().writeFile("C/Windows/System32/oeminfo.ini", "");
    std::filesystem::remove(root().path() + "/C/Windows/System32/oeminfo.ini");
    root().writeFile("C/Windows/System32/oeminfo.ini", "v14.0.0.0");

    using Slot = ResultCode (*)(void*, unsigned char*, unsigned char*, unsigned char*, unsigned char*);
    AuxVersion* versions = GetAuxVersion();
    void** vtable = *reinterpret_cast<void***>(versions);
    const unsigned char expectedMajor[] = {10, 11, 12, 1, 14, 15};
    for (int slot = 0; slot < 6; ++slot) {
        unsigned char v[4] = {};
        const ResultCode result = reinterpret_cast<Slot>(vtable[slot])(versions, &v[0], &v[1], &v[2], &v[3]);
        EXPECT_EQ(result, Varnholt::ERR_SUCCESS) << "slot " << slot;
        EXPECT_EQ(v[0], expectedMajor[slot]) << "slot " << slot;
    }
    reinterpret_cast<void (*)(void*)>(vtable[6])(versions);
}

} // namespace PELMUX_FILE_SCOPE
} // namespace pelmux::test
