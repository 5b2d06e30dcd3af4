// The vendor-library seam and the routines on it: openBoard, readTemperatureSensor, the identity
// EEPROM transfers, and the simulated board library behind them.
#include "VendorFixture.h"

#include "frame/VendorCalls.h"
#include "platform/Vendor.h"

#include <chrono>
#include <cstring>

namespace pelmux::test {
namespace PELMUX_FILE_SCOPE {

namespace ord = platform::vendorOrdinal;

class VendorCallsTest : public SimTest {};

TEST_F(VendorCallsTest, OpenBoardFollowsTheVendorSequenceAndLeavesTheLastBoard)
{
    unit().update([](sim::Json& s) { s["boardLibrary"]["boards"] = 3; });
    clearVendorLog(unit());
    BoardHandle slot = 0;
    ASSERT_TRUE(openBoard(slot));
    EXPECT_NE(slot, 0u);
    // init, count, open "CPU" and close it, then boards 0, 1, 2, each superseding the one before.
    const std::vector<int> expected{ord::boardLibInit, ord::boardCount, ord::boardOpen,
                                    ord::boardClose,   ord::boardOpen,  ord::boardOpen,
                                    ord::boardClose,   ord::boardOpen,  ord::boardClose};
    EXPECT_EQ(vendorLog(unit()), expected);
    EXPECT_EQ(openBoardHandles(unit()), 1u);
    closeBoard(slot);
    EXPECT_EQ(slot, 0u);
    EXPECT_EQ(openBoardHandles(unit()), 0u);
}

TEST_F(VendorCallsTest, OpenBoardInstallsTheLibraryWhenItIsNotReady)
{
    unit().update([](sim::Json& s) { s["boardLibrary"]["installed"] = false; });
    clearVendorLog(unit());
    BoardHandle slot = 0;
    ASSERT_TRUE(openBoard(slot));
    const std::vector<int> expected{ord::boardLibInit, ord::boardLibSetup, ord::boardLibInit, ord::boardCount,
                                    ord::boardOpen,    ord::boardClose,    ord::boardOpen};
    EXPECT_EQ(vendorLog(unit()), expected);
    closeBoard(slot);
}

TEST_F(VendorCallsTest, OpenBoardIgnoresTheSecondInitButFailsWhenSetupFails)
{
    unit().update([](sim::Json& s) { s["boardLibrary"]["installed"] = false; });
    unit().failVendor(ord::boardLibSetup, 1);
    BoardHandle slot = 0;
    EXPECT_FALSE(openBoard(slot));
    EXPECT_EQ(slot, 0u);
    EXPECT_EQ(vendorCalls(unit(), ord::boardCount), 0u);

    // Setup succeeds; the init after it fails and is ignored.
    unit().update([](sim::Json& s) { s["boardLibrary"]["installed"] = false; });
    auto init = tapVendor(unit(), ord::boardLibInit, 2);
    EXPECT_TRUE(openBoard(slot));
    EXPECT_EQ(init->calls, 2);
    closeBoard(slot);
}

TEST_F(VendorCallsTest, AFailedCpuOpenIsIgnoredButAFailedBoardOpenFails)
{
    unit().failVendor(ord::boardOpen, 1);
    BoardHandle slot = 0;
    EXPECT_TRUE(openBoard(slot));
    closeBoard(slot);

    unit().update([](sim::Json& s) { s["boardLibrary"]["boards"] = 2; });
    auto open = tapVendor(unit(), ord::boardOpen, 3); // CPU, board 0, then board 1 fails
    EXPECT_FALSE(openBoard(slot));
    EXPECT_EQ(open->calls, 3);
    // Board 0's handle stays in the slot, and is the only one open.
    EXPECT_NE(slot, 0u);
    EXPECT_EQ(openBoardHandles(unit()), 1u);
    closeBoard(slot);
    EXPECT_EQ(openBoardHandles(unit()), 0u);
}

TEST_F(VendorCallsTest, RepeatedOpensIntoOneSlotDoNotCollectHandles)
{
    unit().update([](sim::Json& s) { s["boardLibrary"]["boards"] = 2; });
    BoardHandle slot = 0;
    for (int i = 0; i < 50; ++i)
        ASSERT_TRUE(openBoard(slot));
    EXPECT_EQ(openBoardHandles(unit()), 1u);
    closeBoard(slot);
    EXPECT_EQ(openBoardHandles(unit()), 0u);
}

TEST_F(VendorCallsTest, ZeroBoardsIsSuccessWithoutAHandle)
{
    unit().update([](sim::Json& s) { s["boardLibrary"]["boards"] = 0; });
    BoardHandle slot = 0;
    EXPECT_TRUE(openBoard(slot));
    EXPECT_EQ(slot, 0u);
}

// A slot that held a board keeps nothing when the next open finds no board: the old handle is
// closed, and the reads that follow fail instead of reaching the board opened before.
TEST_F(VendorCallsTest, AnOpenThatFindsNoBoardEmptiesTheSlot)
{
    BoardHandle slot = 0;
    ASSERT_TRUE(openBoard(slot));
    ASSERT_NE(slot, 0u);
    unit().update([](sim::Json& s) { s["boardLibrary"]["boards"] = 0; });
    EXPECT_TRUE(openBoard(slot));
    EXPECT_EQ(slot, 0u);
    EXPECT_EQ(openBoardHandles(unit()), 0u);
    std::uint8_t image[idEepromSize];
    EXPECT_FALSE(readIdEeprom(slot, unitEepromAddress, image));
}

// Whether the vendor library hands out a new value per open or one value per board, a handle
// stays usable while any holder of its value lives, and the last holder closes it.
TEST_F(VendorCallsTest, AHandleValueStaysOpenWhileAnyHolderLives)
{
    for (const bool perBoard : {false, true}) {
        unit().update([perBoard](sim::Json& s) {
            s["boardLibrary"]["handlePerBoard"] = perBoard;
            s["boardLibrary"]["boards"] = 2;
        });
        BoardHandle first = 0;
        BoardHandle second = 0;
        ASSERT_TRUE(openBoard(first));
        ASSERT_TRUE(openBoard(second)); // opens and closes "CPU" and board 0 again on the way
        EXPECT_EQ(first == second, perBoard);
        closeBoard(first);
        std::uint8_t image[idEepromSize];
        EXPECT_TRUE(readIdEeprom(second, unitEepromAddress, image)) << "per board: " << perBoard;
        closeBoard(second);
        EXPECT_EQ(openBoardHandles(unit()), 0u) << "per board: " << perBoard;
    }
}

TEST_F(VendorCallsTest, TemperatureReadingCarriesValueStatusAndType)
{
    unit().update([](sim::Json& s) {
        s["temperatures"] = {{{"value", 25999}, {"status", 2}, {"type", 7}},
                             {{"value", -5500}, {"status", 1}, {"type", 9}}};
    });
    BoardHandle slot = 0;
    ASSERT_TRUE(openBoard(slot));
    TemperatureReading reading;
    ASSERT_TRUE(readTemperatureSensor(slot, 0, reading));
    EXPECT_EQ(reading.thousandths, 25999);
    EXPECT_EQ(reading.status, 2u);
    EXPECT_EQ(reading.type, 7u);
    ASSERT_TRUE(readTemperatureSensor(slot, 1, reading));
    EXPECT_EQ(reading.thousandths, -5500);
    EXPECT_EQ(reading.type, 9u);
    closeBoard(slot);
}

TEST_F(VendorCallsTest, TemperatureReadingFailsUnlessEveryCallAnswersExactlyOne)
{
    BoardHandle slot = 0;
    ASSERT_TRUE(openBoard(slot));
    const TemperatureReading untouched{1234, 5, 6};

    // An index not below the count asks nothing further.
    TemperatureReading reading = untouched;
    EXPECT_FALSE(readTemperatureSensor(slot, 3, reading));
    EXPECT_EQ(vendorCalls(unit(), ord::boardTempCurrent), 0u);
    EXPECT_EQ(reading.thousandths, untouched.thousandths);

    unit().update([](sim::Json& s) { s["temperatures"][0]["currentResult"] = 2; });
    EXPECT_FALSE(readTemperatureSensor(slot, 0, reading));
    unit().update([](sim::Json& s) {
        s["temperatures"][0]["currentResult"] = 1;
        s["temperatures"][0]["infoResult"] = 2;
    });
    EXPECT_FALSE(readTemperatureSensor(slot, 0, reading));
    EXPECT_EQ(reading.thousandths, untouched.thousandths);
    EXPECT_EQ(reading.status, untouched.status);

    // A handle the library never gave out has no sensors.
    EXPECT_FALSE(readTemperatureSensor(slot + 1000, 0, reading));
    closeBoard(slot);
}

TEST_F(VendorCallsTest, TemperatureInfoIsAskedByHandleIndexAndRecordSize)
{
    auto info = tapVendor(unit(), ord::boardTempInfo);
    BoardHandle slot = 0;
    ASSERT_TRUE(openBoard(slot));
    TemperatureReading reading;
    ASSERT_TRUE(readTemperatureSensor(slot, 2, reading));
    ASSERT_EQ(info->arguments.size(), 1u);
    // handle, index and the record's size word 44, as u32 each
    const sim::Bytes& args = info->arguments[0];
    ASSERT_EQ(args.size(), 12u);
    EXPECT_EQ(args[4], 2);
    EXPECT_EQ(args[8], 44);
    closeBoard(slot);
}

// Fills the unit EEPROM with a pattern that tells every offset apart.
std::string patternHex()
{
    std::string hex;
    char digits[3];
    for (int i = 0; i < 4096; ++i) {
        std::snprintf(digits, sizeof digits, "%02X", (i * 7 + i / 256) & 0xFF);
        hex += digits;
    }
    return hex;
}

std::uint8_t patternByte(int i)
{
    return static_cast<std::uint8_t>((i * 7 + i / 256) & 0xFF);
}

TEST_F(VendorCallsTest, ReadIdEepromReadsThirtyTwoPiecesWithBigEndianOffsets)
{
    unit().update([](sim::Json& s) { s["eeproms"]["unit"] = {{"hex", patternHex()}}; });
    auto reads = tapVendor(unit(), ord::boardI2cWriteRead);
    BoardHandle slot = 0;
    ASSERT_TRUE(openBoard(slot));
    std::uint8_t image[idEepromSize];
    ASSERT_TRUE(readIdEeprom(slot, unitEepromAddress, image));
    for (int i = 0; i < 4096; ++i)
        ASSERT_EQ(image[i], patternByte(i)) << "offset " << i;
    ASSERT_EQ(reads->calls, 32);
    // handle u32, bus u32, address u8, write buffer (u32 length + 2 offset bytes), read length u32
    for (int piece = 0; piece < 32; ++piece) {
        const sim::Bytes& a = reads->arguments[piece];
        ASSERT_EQ(a.size(), 4u + 4u + 1u + 4u + 2u + 4u);
        EXPECT_EQ(a[4], 0) << "bus type";
        EXPECT_EQ(a[8], 0xAE);
        EXPECT_EQ(a[9], 2);
        EXPECT_EQ(a[13], (piece * 128) >> 8) << piece;
        EXPECT_EQ(a[14], (piece * 128) & 0xFF) << piece;
        EXPECT_EQ(a[15], 128);
    }
    closeBoard(slot);
}

TEST_F(VendorCallsTest, ReadIdEepromStopsAtTheFirstFailure)
{
    auto reads = tapVendor(unit(), ord::boardI2cWriteRead, 5);
    BoardHandle slot = 0;
    ASSERT_TRUE(openBoard(slot));
    std::uint8_t image[idEepromSize];
    EXPECT_FALSE(readIdEeprom(slot, unitEepromAddress, image));
    EXPECT_EQ(reads->calls, 5);
    closeBoard(slot);
}

TEST_F(VendorCallsTest, AnAbsentEepromDoesNotAnswer)
{
    unit().update([](sim::Json& s) { s["eeproms"].erase("expansion"); });
    BoardHandle slot = 0;
    ASSERT_TRUE(openBoard(slot));
    std::uint8_t image[idEepromSize];
    EXPECT_FALSE(readIdEeprom(slot, expansionEepromAddress, image));
    EXPECT_TRUE(readIdEeprom(slot, unitEepromAddress, image));
    closeBoard(slot);
}

TEST_F(VendorCallsTest, WriteIdEepromWritesPagesOfThirtyTwoToTheEvenAddress)
{
    auto writes = tapVendor(unit(), ord::boardI2cWrite);
    BoardHandle slot = 0;
    ASSERT_TRUE(openBoard(slot));
    std::uint8_t image[idEepromSize];
    for (int i = 0; i < 4096; ++i)
        image[i] = patternByte(i);
    // Address byte 0xAF: the write goes to 0xAE.
    ASSERT_TRUE(writeIdEeprom(slot, 0xAF, image));
    ASSERT_EQ(writes->calls, 128);
    for (int page = 0; page < 128; ++page) {
        const sim::Bytes& a = writes->arguments[page];
        // handle, bus, address, u32 length 34, then offset (2, big-endian) and 32 data bytes
        ASSERT_EQ(a.size(), 4u + 4u + 1u + 4u + 34u);
        EXPECT_EQ(a[8], 0xAE);
        EXPECT_EQ(a[9], 34);
        EXPECT_EQ(a[13], (page * 32) >> 8);
        EXPECT_EQ(a[14], (page * 32) & 0xFF);
        EXPECT_EQ(a[15], patternByte(page * 32));
    }
    EXPECT_EQ(eepromContent(unit(), "unit"), sim::Json({{"hex", patternHex()}}));

    std::uint8_t back[idEepromSize];
    ASSERT_TRUE(readIdEeprom(slot, unitEepromAddress, back));
    EXPECT_EQ(std::memcmp(image, back, sizeof back), 0);
    closeBoard(slot);
}

TEST_F(VendorCallsTest, WriteIdEepromStopsAtTheFirstFailure)
{
    auto writes = tapVendor(unit(), ord::boardI2cWrite, 3);
    BoardHandle slot = 0;
    ASSERT_TRUE(openBoard(slot));
    std::uint8_t image[idEepromSize];
    std::memset(image, 'A', sizeof image);
    EXPECT_FALSE(writeIdEeprom(slot, unitEepromAddress, image));
    EXPECT_EQ(writes->calls, 3);
    closeBoard(slot);
}

TEST_F(VendorCallsTest, WriteIdEepromPausesBeforeEveryPage)
{
    platform::setTimeScale(0.01); // 128 pauses of 10 ms take at least 12.8 ms
    BoardHandle slot = 0;
    ASSERT_TRUE(openBoard(slot));
    std::uint8_t image[idEepromSize];
    std::memset(image, 'B', sizeof image);
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(writeIdEeprom(slot, unitEepromAddress, image));
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_GE(elapsed, std::chrono::microseconds(12800));
    platform::setTimeScale(0.0);
    closeBoard(slot);
}

TEST_F(VendorCallsTest, TheUnitsPageWriteWrapsInsideItsPage)
{
    setEeprom(unit(), "unit", "");
    BoardHandle slot = 0;
    ASSERT_TRUE(openBoard(slot));
    // 40 bytes from offset 0x50 (page 0x40..0x5F): the last 24 wrap to 0x40.., overwriting nothing
    // outside the page.
    std::uint8_t frame[2 + 40];
    frame[0] = 0x00;
    frame[1] = 0x50;
    for (int i = 0; i < 40; ++i)
        frame[2 + i] = static_cast<std::uint8_t>(i + 1);
    ASSERT_NE(platform::boardI2cWrite(slot, 0, 0xAE, frame, sizeof frame), 0u);
    std::uint8_t image[idEepromSize];
    ASSERT_TRUE(readIdEeprom(slot, unitEepromAddress, image));
    for (int a = 0; a < 4096; ++a) {
        std::uint8_t expected = 0xFF;
        if (a >= 0x40 && a < 0x60) {
            // byte k goes to 0x40 + ((0x10 + k) % 32); the last write to each place wins
            int last = -1;
            for (int k = 0; k < 40; ++k)
                if (0x40 + ((0x10 + k) % 32) == a)
                    last = k;
            expected = static_cast<std::uint8_t>(last + 1);
        }
        ASSERT_EQ(image[a], expected) << "offset " << a;
    }
    closeBoard(slot);
}

TEST_F(VendorCallsTest, EveryCallFailsWhenNoUnitAnswers)
{
    stopUnit();
    BoardHandle slot = 0;
    EXPECT_FALSE(openBoard(slot));
    EXPECT_EQ(platform::boardLibInit(), 0u);
    EXPECT_EQ(platform::boardCount(nullptr, 0), 0u);
    BoardHandle handle = 77;
    EXPECT_EQ(platform::boardOpen(nullptr, 0, 0, &handle), 0u);
    EXPECT_EQ(handle, 77u);
    std::uint8_t value = 9;
    EXPECT_EQ(platform::boardI2cReadRegister(1, 0, 0x41, 0, &value), 0u);
    EXPECT_EQ(value, 9);
    std::int32_t reading = 5;
    std::uint32_t status = 6;
    EXPECT_EQ(platform::boardTempCurrent(1, 0, &reading, &status), 0u);
    EXPECT_EQ(reading, 5);
    EXPECT_EQ(platform::boardTempCount(1), 0u);
}

TEST_F(VendorCallsTest, TheSessionFollowsTheUnitThroughARestart)
{
    BoardHandle slot = 0;
    ASSERT_TRUE(openBoard(slot));
    closeBoard(slot);
    stopUnit();
    startUnit(sim::defaultProfile());
    // The first call after the restart already reaches the new unit.
    EXPECT_NE(platform::boardLibInit(), 0u);
    ASSERT_TRUE(openBoard(slot));
    closeBoard(slot);
}

TEST_F(VendorCallsTest, UnknownHandlesAndBusesFindNoDevice)
{
    BoardHandle slot = 0;
    ASSERT_TRUE(openBoard(slot));
    const std::uint8_t where[2] = {0, 0};
    std::uint8_t piece[4] = {1, 2, 3, 4};
    EXPECT_EQ(platform::boardI2cWriteRead(slot + 1, 0, 0xAE, where, 2, piece, 4), 0u);
    EXPECT_EQ(platform::boardI2cWriteRead(slot, 1, 0xAE, where, 2, piece, 4), 0u);
    EXPECT_EQ(platform::boardI2cWriteRead(slot, 0, 0xA0, where, 2, piece, 4), 0u);
    EXPECT_EQ(piece[0], 1);
    EXPECT_NE(platform::boardI2cWriteRead(slot, 0, 0xAE, where, 2, piece, 4), 0u);
    EXPECT_EQ(piece[0], 'P');
    const BoardHandle closed = slot;
    closeBoard(slot);
    EXPECT_EQ(platform::boardI2cWriteRead(closed, 0, 0xAE, where, 2, piece, 4), 0u);
}

} // namespace PELMUX_FILE_SCOPE
} // namespace pelmux::test
