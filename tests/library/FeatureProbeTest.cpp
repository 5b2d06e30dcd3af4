// The feature probe: a temporary About asked for one field; a failed read counts as present.
#include "VendorFixture.h"

#include "identity/FeatureProbe.h"

namespace pelmux::test {
namespace PELMUX_FILE_SCOPE {

class FeatureProbeTest : public SimTest {};

struct ProbeCase {
    const char* line; // the field's line in the unit text, or a stand-in without it
    Feature feature;
    bool present;
};

TEST_F(FeatureProbeTest, EachFeatureFollowsItsField)
{
    const ProbeCase cases[] = {
        {"CAN:2", Feature::Can, true},
        {"CAN:0", Feature::Can, false},
        {"CAN:256", Feature::Can, false}, // the count is the low 8 bits
        {"VIDEO:1", Feature::Video, true},
        {"VIDEO:0", Feature::Video, false},
        {"DIGIO:4", Feature::DigitalIo, true},
        {"DIGIO:none", Feature::DigitalIo, false},
        {"DISPLAY:800x480", Feature::Display, true},
        {"DISPLAY:0", Feature::Display, false},
        {"DISPLAY:800X480", Feature::Display, false},
        {"TOUCH:1", Feature::Touch, true},
        {"TOUCH:2", Feature::Touch, false},
        {"TOUCH:0", Feature::Touch, false},
        // A field that cannot be read counts as present.
        {"NO_FIELD:0", Feature::Can, true},
        {"NO_FIELD:0", Feature::Video, true},
        {"NO_FIELD:0", Feature::DigitalIo, true},
        {"NO_FIELD:0", Feature::Display, true},
        {"NO_FIELD:0", Feature::Touch, true},
        {"CAN:", Feature::Can, true},
    };
    for (const auto& c : cases) {
        setEeprom(unit(), "unit", lines({"PCB_SERIAL:12345", c.line}));
        EXPECT_EQ(probeFeature(c.feature), c.present) << c.line;
    }
}

TEST_F(FeatureProbeTest, AnUnreadableEepromCountsAsPresent)
{
    setEeprom(unit(), "unit",
              lines({"PCB_SERIAL:12345", "CAN:0", "VIDEO:0", "DIGIO:0", "DISPLAY:0", "TOUCH:0"}));
    EXPECT_FALSE(probeFeature(Feature::Can));
    unit().failVendor(platform::vendorOrdinal::boardI2cWriteRead, 1);
    EXPECT_TRUE(probeFeature(Feature::Can));
    setEeprom(unit(), "unit", "TOO:short");
    EXPECT_TRUE(probeFeature(Feature::Video));
    stopUnit();
    EXPECT_TRUE(probeFeature(Feature::Touch));
    EXPECT_TRUE(probeFeature(Feature::Display));
}

// A probe reads the EEPROM that holds its field and no other, up to the piece that holds the end of
// its text, and gives back what it took.
TEST_F(FeatureProbeTest, AProbeReadsOnlyTheTextOfItsFieldsEepromAndGivesEverythingBack)
{
    // 260 bytes: the text ends in the third piece.
    const std::string expansion = lines({"PCB_SERIAL:41000777", "WLAN:1", "GPS:0", std::string(226, '-')});
    ASSERT_EQ(expansion.size(), 260u);
    setEeprom(unit(), "expansion", expansion);
    struct Case {
        Feature feature;
        std::uint8_t address;
        int pieces;
        FieldReading expected;
    };
    const Case cases[] = {
        {Feature::Display, 0xAE, 2, {Varnholt::ERR_SUCCESS, true}}, // the default unit text: 205 bytes
        {Feature::Can, 0xAE, 2, {Varnholt::ERR_SUCCESS, true}},
        {Feature::Wlan, 0xA4, 3, {Varnholt::ERR_SUCCESS, true}},
        {Feature::Gps, 0xA4, 3, {Varnholt::ERR_SUCCESS, false}},
        {Feature::Gsm, 0xA4, 3, {Varnholt::ERR_JIDA_EEPROM_ACCESS, false}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.feature));
        auto reads = tapVendor(unit(), platform::vendorOrdinal::boardI2cWriteRead);
        const std::size_t exits = vendorCalls(unit(), platform::vendorOrdinal::boardLibExit);
        const FieldReading reading = readFeatureField(c.feature);
        EXPECT_EQ(reading.result, c.expected.result);
        EXPECT_EQ(reading.nonZero, c.expected.nonZero);
        ASSERT_EQ(reads->calls, c.pieces);
        for (const auto& arguments : reads->arguments)
            EXPECT_EQ(arguments[8], c.address);
        EXPECT_EQ(openBoardHandles(unit()), 0u);
        EXPECT_EQ(vendorCalls(unit(), platform::vendorOrdinal::boardLibExit), exits + 1);
    }
}

} // namespace PELMUX_FILE_SCOPE
} // namespace pelmux::test
