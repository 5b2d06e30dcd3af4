// IdentityRecord: reading the identity text, searching it by key, rewriting one value.
#include "VendorFixture.h"

#include "identity/IdentityRecord.h"
#include "shared/IdentityLoads.h"

#include <cstring>
#include <random>
#include <vector>

namespace pelmux::test {
namespace PELMUX_FILE_SCOPE {

using Image = std::uint8_t[IdentityRecord::size];

// A record filled from `bytes` (0xFF after them), as a load of an EEPROM holding them would.
std::unique_ptr<IdentityRecord> recordOf(const std::string& bytes, std::uint32_t device = 1)
{
    Image image;
    std::memset(image, 0xFF, sizeof image);
    std::memcpy(image, bytes.data(), std::min(bytes.size(), sizeof image));
    auto record = std::make_unique<IdentityRecord>(device);
    record->adoptImage(image);
    return record;
}

std::string value(const IdentityRecord& record, const char* key)
{
    char buffer[IdentityRecord::valueCapacity + 1];
    std::memset(buffer, '#', sizeof buffer);
    if (!record.findValue(key, buffer))
        return "<none>";
    EXPECT_EQ(buffer[IdentityRecord::valueCapacity], '#') << "wrote past the 255-character buffer";
    return buffer;
}

std::string textOf(const Image& image)
{
    const auto* end = std::find(image, image + sizeof(Image), 0xFF);
    return std::string(reinterpret_cast<const char*>(image), end - image);
}

const std::string unitText =
    lines({"PCB_SERIAL:12345", "UNIT_SERIAL:A-7 x", "DATA:2", "PCB_REV:C", "DISPLAY:800x480\r", "TOUCH:1"});

// ------------------------------------------------------------------ loading

TEST(IdentityRecord, TheTextEndsAtTheFirstZeroOrFF)
{
    auto record = recordOf(unitText + std::string(1, '\0') + "GHOST:1\n");
    EXPECT_TRUE(record->valid());
    EXPECT_EQ(record->length(), unitText.size());
    // The 0x00 that ended the text is now 0xFF; what follows it is not part of the text.
    EXPECT_EQ(record->text()[unitText.size()], 0xFF);
    EXPECT_EQ(value(*record, "GHOST"), "<none>");

    auto ff = recordOf(unitText + "\xFF" + "GHOST:1\n");
    EXPECT_EQ(ff->length(), unitText.size());
    EXPECT_EQ(value(*ff, "GHOST"), "<none>");
}

TEST(IdentityRecord, OnlyPlausibleLengthsAreValid)
{
    EXPECT_FALSE(recordOf(std::string(19, 'a'))->valid());
    EXPECT_TRUE(recordOf(std::string(20, 'a'))->valid());
    EXPECT_TRUE(recordOf(std::string(4076, 'a'))->valid());
    EXPECT_FALSE(recordOf(std::string(4077, 'a'))->valid());
    EXPECT_FALSE(recordOf("")->valid());
    // 4096 bytes of 'x': no end of text at all.
    auto full = recordOf(std::string(4096, 'x'));
    EXPECT_FALSE(full->valid());
    EXPECT_EQ(full->length(), 4096u);
    EXPECT_EQ(value(*full, "x"), "<none>");
}

// A load reads the pieces up to the one that holds the text's end and answers as a load of the whole
// EEPROM would, for texts that end at every piece boundary and at the limits of their length, with
// a failure in every piece; a failure after the text's end no longer makes the record invalid.
TEST(IdentityRecord, ALoadUpToTheTextsEndAnswersAsAWholeLoad)
{
    std::mt19937 random(30);
    std::vector<std::size_t> lengths = {0, 1, 19, 20, 4076, 4077, 4095, 4096};
    for (std::size_t boundary = 128; boundary < IdentityRecord::size; boundary += 128)
        lengths.insert(lengths.end(), {boundary - 1, boundary, boundary + 1});
    for (int i = 0; i < 20; ++i)
        lengths.push_back(random() % (IdentityRecord::size + 1));
    for (const std::size_t length : lengths) {
        // Text bytes of any value but the two that end it, then 0x00 or 0xFF, then anything.
        Image image;
        for (std::size_t at = 0; at < sizeof image; ++at)
            image[at] = static_cast<std::uint8_t>(at < length ? 1 + random() % 254 : random() % 256);
        if (length < sizeof image)
            image[length] = length % 2 == 0 ? 0x00 : 0xFF;
        for (int failing = -1; failing < shared::identityPieces; ++failing)
            ASSERT_EQ(shared::leanLoadDifference(image, failing), "")
                << length << " bytes, piece " << failing;
    }
}

TEST(IdentityRecord, AnInvalidRecordFindsNothing)
{
    auto record = recordOf("PCB_SERIAL:1"); // 12 bytes
    EXPECT_FALSE(record->valid());
    EXPECT_EQ(value(*record, "PCB_SERIAL"), "<none>");
}

// ------------------------------------------------------------------ searching

TEST(IdentityRecord, KeysMatchAtTheStartOfTheTextOrOfALine)
{
    auto record = recordOf(unitText);
    EXPECT_EQ(value(*record, "PCB_SERIAL"), "12345");
    EXPECT_EQ(value(*record, "UNIT_SERIAL"), "A-7");
    EXPECT_EQ(value(*record, "DISPLAY"), "800x480");
    EXPECT_EQ(value(*record, "TOUCH"), "1");
    // "SERIAL" stands inside a line only: no match.
    EXPECT_EQ(value(*record, "SERIAL"), "<none>");
    // A key matches a longer key that begins with it.
    EXPECT_EQ(value(*record, "PCB"), "12345");
    EXPECT_EQ(value(*record, "UNIT"), "A-7");
    EXPECT_EQ(value(*record, "NOPE"), "<none>");
}

TEST(IdentityRecord, TheValueEndsAtBlankCarriageReturnLineFeedOrTheText)
{
    auto record = recordOf("A:one two\nB:three\r\nC:four\rD:x\nLAST:end");
    EXPECT_EQ(value(*record, "A"), "one");
    EXPECT_EQ(value(*record, "B"), "three");
    EXPECT_EQ(value(*record, "C"), "four");
    EXPECT_EQ(value(*record, "LAST"), "end");
    // "D" follows a carriage return, not a line feed.
    EXPECT_EQ(value(*record, "D"), "<none>");
}

TEST(IdentityRecord, EmptyValuesAndMissingColonsAreNotFound)
{
    auto record = recordOf("EMPTY:\nBLANK: 5\nPADDING_TO_TWENTY_BYTES\nNOCOLON");
    EXPECT_EQ(value(*record, "EMPTY"), "<none>");
    EXPECT_EQ(value(*record, "BLANK"), "<none>");
    EXPECT_EQ(value(*record, "NOCOLON"), "<none>");
}

TEST(IdentityRecord, AKeyWithoutColonTakesTheNextColonOfTheText)
{
    // The search runs to the first ':' after the key, wherever it is.
    auto record = recordOf("SERIALNO 123\nOTHER:value\n");
    EXPECT_EQ(value(*record, "SERIALNO"), "value");
}

TEST(IdentityRecord, LongValuesAreCutTo254Characters)
{
    const std::string long300(300, 'v');
    auto record = recordOf("LONG:" + long300 + "\nNEXT:1\n");
    EXPECT_EQ(value(*record, "LONG"), std::string(254, 'v'));
    EXPECT_EQ(value(*record, "NEXT"), "1");
}

TEST(IdentityRecord, TextsWithoutLineFeedsOrTerminatorStayInside)
{
    // One line of 4076 bytes whose value runs to the end of the text.
    auto record = recordOf("K:" + std::string(4074, 'z'));
    ASSERT_TRUE(record->valid());
    EXPECT_EQ(value(*record, "K"), std::string(254, 'z'));
    // A key that is longer than the text.
    EXPECT_EQ(value(*record, std::string(5000, 'K').c_str()), "<none>");
}

// ------------------------------------------------------------------ rewriting

struct Rewrite {
    const char* key;
    const char* newValue;
    std::string expected;
};

TEST(IdentityRecord, AReplacementKeepsEveryOtherByteOfTheText)
{
    const std::string text = "PCB_SERIAL:12345\nUNIT_SERIAL:A-7 x\r\nMIDDLE:mm\nLAST:zz";
    auto record = recordOf(text);
    const Rewrite cases[] = {
        {"PCB_SERIAL", "987654321", "PCB_SERIAL:987654321\nUNIT_SERIAL:A-7 x\r\nMIDDLE:mm\nLAST:zz"},
        {"PCB_SERIAL", "1", "PCB_SERIAL:1\nUNIT_SERIAL:A-7 x\r\nMIDDLE:mm\nLAST:zz"},
        {"UNIT_SERIAL", "B-8", "PCB_SERIAL:12345\nUNIT_SERIAL:B-8 x\r\nMIDDLE:mm\nLAST:zz"},
        {"UNIT_SERIAL", "", "PCB_SERIAL:12345\nUNIT_SERIAL: x\r\nMIDDLE:mm\nLAST:zz"},
        {"MIDDLE", "a-much-longer-value",
         "PCB_SERIAL:12345\nUNIT_SERIAL:A-7 x\r\nMIDDLE:a-much-longer-value\nLAST:zz"},
        {"LAST", "end", "PCB_SERIAL:12345\nUNIT_SERIAL:A-7 x\r\nMIDDLE:mm\nLAST:end"},
    };
    for (const auto& c : cases) {
        Image image;
        ASSERT_TRUE(record->buildReplacement(c.key, c.newValue, image)) << c.key;
        EXPECT_EQ(textOf(image), c.expected) << c.key << " = " << c.newValue;
        for (std::size_t i = c.expected.size(); i < sizeof image; ++i)
            ASSERT_EQ(image[i], 0xFF) << c.key << " at " << i;
    }
}

TEST(IdentityRecord, AnEmptyOldValueCanBeReplaced)
{
    auto record = recordOf("EMPTY:\nPADDING_TO_TWENTY:1\n");
    Image image;
    ASSERT_TRUE(record->buildReplacement("EMPTY", "now", image));
    EXPECT_EQ(textOf(image), "EMPTY:now\nPADDING_TO_TWENTY:1\n");
}

TEST(IdentityRecord, ReplacementsThatWouldNotLoadBackAreRefused)
{
    const std::string text = "KEY:v\n" + std::string(4060, '-') + "\n"; // 4067 bytes
    auto record = recordOf(text);
    ASSERT_TRUE(record->valid());
    Image image;
    EXPECT_TRUE(record->buildReplacement("KEY", std::string(10, 'w'), image));  // 4076 bytes
    EXPECT_FALSE(record->buildReplacement("KEY", std::string(11, 'w'), image)); // 4077 bytes
    EXPECT_FALSE(record->buildReplacement("KEY", std::string(300, 'w'), image));
    EXPECT_FALSE(record->buildReplacement("KEY",
                                          "a\xFF"
                                          "b",
                                          image));
    EXPECT_FALSE(record->buildReplacement("KEY", std::string("a\0b", 3), image));
    EXPECT_FALSE(record->buildReplacement("MISSING", "x", image));

    auto noColon = recordOf("NOCOLON_IN_THIS_TEXT_AT_ALL\n");
    EXPECT_FALSE(noColon->buildReplacement("NOCOLON", "x", image));
    auto shrinking = recordOf("K:abcdefghijklmnopqrstuvwxyz");
    EXPECT_FALSE(shrinking->buildReplacement("K", "", image)); // 2 bytes: too short to load
    EXPECT_FALSE(recordOf("short:1")->buildReplacement("short", "2", image));
}

// ------------------------------------------------------------------ against the unit

class IdentityRecordUnitTest : public SimTest {};

TEST_F(IdentityRecordUnitTest, LoadsEachEepromFromItsAddress)
{
    IdentityRecord unitRecord(1);
    IdentityRecord expansion(2);
    IdentityRecord other(7);
    EXPECT_EQ(unitRecord.addressByte(), 0xAE);
    EXPECT_EQ(other.addressByte(), 0xA4);
    ASSERT_TRUE(unitRecord.loadIdentity());
    ASSERT_TRUE(expansion.loadIdentity());
    EXPECT_EQ(value(unitRecord, "PCB_SERIAL"), "40123456");
    EXPECT_EQ(value(expansion, "PCB_SERIAL"), "41000777");
}

TEST_F(IdentityRecordUnitTest, AFailedLoadLeavesTheRecordInvalid)
{
    IdentityRecord record(1);
    unit().failVendor(platform::vendorOrdinal::boardI2cWriteRead, 1);
    EXPECT_FALSE(record.loadIdentity());
    EXPECT_FALSE(record.valid());
    EXPECT_EQ(value(record, "PCB_SERIAL"), "<none>");
    // A later load reads again.
    EXPECT_TRUE(record.loadIdentity());

    unit().update([](sim::Json& s) { s["boardLibrary"]["boards"] = 0; });
    // No board: openBoard succeeds without a handle and the EEPROM cannot be reached with none.
    IdentityRecord noBoard(1);
    EXPECT_FALSE(noBoard.loadIdentity());
}

TEST_F(IdentityRecordUnitTest, ARecordEndsItsVendorUseOnceAndClosesItsHandle)
{
    const std::size_t exits = vendorCalls(unit(), platform::vendorOrdinal::boardLibExit);
    {
        IdentityRecord record(1);
        record.loadIdentity();
        record.loadIdentity();
        EXPECT_EQ(openBoardHandles(unit()), 1u);
    }
    EXPECT_EQ(openBoardHandles(unit()), 0u);
    EXPECT_EQ(vendorCalls(unit(), platform::vendorOrdinal::boardLibExit), exits + 1);
    {
        IdentityRecord neverLoaded(1);
    }
    EXPECT_EQ(vendorCalls(unit(), platform::vendorOrdinal::boardLibExit), exits + 1);
}

TEST_F(IdentityRecordUnitTest, ReplaceValueRewritesTheEepromAndReloads)
{
    const std::string before = unitDefaultText();
    IdentityRecord record(1);
    ASSERT_TRUE(record.loadIdentity());
    ASSERT_TRUE(record.replaceValue("UNIT_SERIAL", "PX7-NEW-0001"));
    EXPECT_EQ(value(record, "UNIT_SERIAL"), "PX7-NEW-0001");

    std::string expected = before;
    const std::string old = "UNIT_SERIAL:PX7-000815";
    expected.replace(expected.find(old), old.size(), "UNIT_SERIAL:PX7-NEW-0001");
    EXPECT_EQ(eepromContent(unit(), "unit"), expected);
    // Every other line is byte-identical.
    EXPECT_EQ(expected.substr(0, expected.find("UNIT_SERIAL")), before.substr(0, before.find("UNIT_SERIAL")));
    EXPECT_EQ(expected.substr(expected.find("\nPCB_ART")), before.substr(before.find("\nPCB_ART")));
    // The expansion EEPROM is untouched.
    EXPECT_EQ(eepromContent(unit(), "expansion"), sim::defaultProfile()["eeproms"]["expansion"]);
}

TEST_F(IdentityRecordUnitTest, ARefusedRewriteWritesNothing)
{
    IdentityRecord record(1);
    ASSERT_TRUE(record.loadIdentity());
    const std::size_t writes = vendorCalls(unit(), platform::vendorOrdinal::boardI2cWrite);
    EXPECT_FALSE(record.replaceValue("UNIT_SERIAL", std::string(4000, 'w').c_str()));
    EXPECT_FALSE(record.replaceValue("NO_SUCH_KEY", "1"));
    EXPECT_FALSE(record.replaceValue(nullptr, "1"));
    EXPECT_FALSE(record.replaceValue("UNIT_SERIAL", nullptr));
    EXPECT_EQ(vendorCalls(unit(), platform::vendorOrdinal::boardI2cWrite), writes);
    EXPECT_EQ(eepromContent(unit(), "unit"), sim::defaultProfile()["eeproms"]["unit"]);
}

TEST_F(IdentityRecordUnitTest, AFailedWriteFailsWithoutAReload)
{
    IdentityRecord record(1);
    ASSERT_TRUE(record.loadIdentity());
    auto writes = tapVendor(unit(), platform::vendorOrdinal::boardI2cWrite, 2);
    const std::size_t reads = vendorCalls(unit(), platform::vendorOrdinal::boardI2cWriteRead);
    EXPECT_FALSE(record.replaceValue("PCB_SERIAL", "1"));
    EXPECT_EQ(writes->calls, 2);
    EXPECT_EQ(vendorCalls(unit(), platform::vendorOrdinal::boardI2cWriteRead), reads);
    // The record keeps what it had read.
    EXPECT_EQ(value(record, "PCB_SERIAL"), "40123456");
}

TEST_F(IdentityRecordUnitTest, AnInvalidRecordCannotBeRewritten)
{
    setEeprom(unit(), "unit", "TOO:short");
    IdentityRecord record(1);
    EXPECT_FALSE(record.loadIdentity());
    EXPECT_FALSE(record.replaceValue("TOO", "long-enough-now-really"));
    EXPECT_EQ(eepromContent(unit(), "unit"), "TOO:short");
}

} // namespace PELMUX_FILE_SCOPE
} // namespace pelmux::test
