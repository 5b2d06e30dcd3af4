// About: the unit identity's questions, answered from both EEPROMs of the simulated unit.
#include "VendorFixture.h"

#include "identity/About_Imp.h"

#include <pelmux/Pelmux.h>

#include <cstring>

namespace pelmux::test {
namespace PELMUX_FILE_SCOPE {

using Varnholt::About;
using Varnholt::ResultCode;
using TextRead = ResultCode (About::*)(char*, int);
using CountRead = ResultCode (About::*)(unsigned char*);
using FlagRead = ResultCode (About::*)(bool*);

class AboutTest : public SimTest {
protected:
    // A fresh About over the given unit (and optionally expansion) texts.
    About* aboutWith(const std::string& unitText, const std::string* expansionText = nullptr)
    {
        setEeprom(unit(), "unit", unitText);
        if (expansionText != nullptr)
            setEeprom(unit(), "expansion", *expansionText);
        About* about = GetAbout();
        EXPECT_NE(about, nullptr);
        return about;
    }
};

// Reads a text with a buffer that shows any byte written past `length` + 1.
struct TextOut {
    char buffer[300];
    TextOut() { std::memset(buffer, '#', sizeof buffer); }
    ResultCode read(About* about, TextRead op, int length) { return (about->*op)(buffer, length); }
    std::string text() const { return buffer; }
    bool untouched() const { return buffer[0] == '#' && buffer[1] == '#'; }
};

const std::string documentedExample =
    lines({"PCB_SERIAL:12345", "UNIT_SERIAL:A-7 x", "DATA:2", "DISPLAY:800x480"});

TEST_F(AboutTest, TheDocumentedExampleTextGivesBothSerials)
{
    About* about = aboutWith(documentedExample);
    TextOut serial;
    TextOut unitSerial;
    EXPECT_EQ(serial.read(about, &About::getPcbSerial, 100), Varnholt::ERR_SUCCESS);
    EXPECT_EQ(serial.text(), "12345");
    EXPECT_EQ(unitSerial.read(about, &About::getUnitSerial, 100), Varnholt::ERR_SUCCESS);
    EXPECT_EQ(unitSerial.text(), "A-7");
    about->release();
}

TEST_F(AboutTest, TheLengthCountsTheTextWithoutItsNul)
{
    About* about = aboutWith(documentedExample);
    TextOut fits;
    EXPECT_EQ(fits.read(about, &About::getPcbSerial, 5), Varnholt::ERR_SUCCESS);
    EXPECT_EQ(std::string(fits.buffer, 6), std::string("12345\0", 6));
    EXPECT_EQ(fits.buffer[6], '#');
    TextOut tooShort;
    EXPECT_EQ(tooShort.read(about, &About::getPcbSerial, 4), Varnholt::ERR_BUFFER_SIZE_ERROR);
    EXPECT_TRUE(tooShort.untouched());
    TextOut negative;
    EXPECT_EQ(negative.read(about, &About::getPcbSerial, -1), Varnholt::ERR_BUFFER_SIZE_ERROR);
    EXPECT_TRUE(negative.untouched());
    about->release();
}

TEST_F(AboutTest, NullBuffersAreRefusedAfterTheOtherChecks)
{
    About* about = aboutWith(documentedExample);
    EXPECT_EQ(about->getPcbSerial(nullptr, 10), Varnholt::ERR_INVALID_PARAMETER_NULL);
    // The length test comes first.
    EXPECT_EQ(about->getPcbSerial(nullptr, 4), Varnholt::ERR_BUFFER_SIZE_ERROR);
    // A missing key comes before both.
    EXPECT_EQ(about->getProductArticle(nullptr, 4), Varnholt::ERR_JIDA_EEPROM_ACCESS);
    EXPECT_EQ(about->getUnitSerial(nullptr, 10), Varnholt::ERR_INVALID_PARAMETER_NULL);
    EXPECT_EQ(about->getExpansionPcbSerial(nullptr, 100), Varnholt::ERR_INVALID_PARAMETER_NULL);
    EXPECT_EQ(about->getEthernetCount(nullptr), Varnholt::ERR_JIDA_EEPROM_ACCESS);
    // DATA 2 selects RS232, which the text lacks.
    EXPECT_EQ(about->getSerialCount(nullptr), Varnholt::ERR_JIDA_EEPROM_ACCESS);
    EXPECT_EQ(about->hasDisplay(nullptr), Varnholt::ERR_INVALID_PARAMETER_NULL);
    EXPECT_EQ(about->hasWlan(nullptr), Varnholt::ERR_INVALID_PARAMETER_NULL);
    about->release();

    about = aboutWith(lines({"PCB_SERIAL:1", "DATA:0", "ETH:2", "TOUCH:1"}));
    EXPECT_EQ(about->getEthernetCount(nullptr), Varnholt::ERR_INVALID_PARAMETER_NULL);
    EXPECT_EQ(about->getSerialCount(nullptr), Varnholt::ERR_INVALID_PARAMETER_NULL);
    EXPECT_EQ(about->hasTouchScreen(nullptr), Varnholt::ERR_INVALID_PARAMETER_NULL);
    about->release();
}

TEST_F(AboutTest, DisplayIsPresentWhenItsValueHoldsALowerCaseX)
{
    struct Case {
        const char* line;
        ResultCode result;
        bool present;
    };
    const Case cases[] = {
        {"DISPLAY:800x480", Varnholt::ERR_SUCCESS, true},
        {"DISPLAY:0", Varnholt::ERR_SUCCESS, false},
        {"DISPLAY:800X480", Varnholt::ERR_SUCCESS, false},
        {"DISPLAY:x", Varnholt::ERR_SUCCESS, true},
        {"NODISPLAY:800x480", Varnholt::ERR_JIDA_EEPROM_ACCESS, false},
    };
    for (const auto& c : cases) {
        About* about = aboutWith(lines({"PCB_SERIAL:12345", c.line}));
        bool present = !c.present;
        EXPECT_EQ(about->hasDisplay(&present), c.result) << c.line;
        if (c.result == Varnholt::ERR_SUCCESS)
            EXPECT_EQ(present, c.present) << c.line;
        else
            EXPECT_EQ(present, !c.present) << "untouched: " << c.line;
        about->release();
    }
}

TEST_F(AboutTest, DataSelectsTheSerialCountKey)
{
    struct Case {
        std::string text;
        ResultCode result;
        unsigned char count;
    };
    const Case cases[] = {
        {lines({"PCB_SERIAL:1", "DATA:1", "SERIAL:2", "RS232:3"}), Varnholt::ERR_SUCCESS, 2},
        {lines({"PCB_SERIAL:1", "DATA:2", "SERIAL:2", "RS232:3"}), Varnholt::ERR_SUCCESS, 3},
        {lines({"PCB_SERIAL:1", "DATA:7", "RS232:4", "XXXXX:0"}), Varnholt::ERR_SUCCESS, 4},
        {lines({"PCB_SERIAL:1", "DATA:0", "SERIAL:2", "RS232:3"}), Varnholt::ERR_SUCCESS, 0},
        {lines({"PCB_SERIAL:1", "DATA:-3", "SERIAL:2"}), Varnholt::ERR_SUCCESS, 253},
        {lines({"PCB_SERIAL:1", "DATA:1", "RS232:3", "XXXXX:0"}), Varnholt::ERR_JIDA_EEPROM_ACCESS, 99},
        {lines({"PCB_SERIAL:1", "SERIAL:2", "RS232:3"}), Varnholt::ERR_JIDA_EEPROM_ACCESS, 99},
    };
    for (const auto& c : cases) {
        About* about = aboutWith(c.text);
        unsigned char count = 99;
        EXPECT_EQ(about->getSerialCount(&count), c.result) << c.text;
        EXPECT_EQ(count, c.count) << c.text;
        about->release();
    }
}

TEST_F(AboutTest, DataSelectsThePcbRevisionKey)
{
    struct Case {
        std::string text;
        ResultCode result;
        const char* revision;
    };
    const Case cases[] = {
        {lines({"PCB_SERIAL:1", "DATA:1", "HWVERSION:H1", "PCB_REV:R2"}), Varnholt::ERR_SUCCESS, "H1"},
        {lines({"PCB_SERIAL:1", "DATA:2", "HWVERSION:H1", "PCB_REV:R2"}), Varnholt::ERR_SUCCESS, "R2"},
        {lines({"PCB_SERIAL:1", "DATA:9", "HWVERSION:H1", "PCB_REV:R2"}), Varnholt::ERR_SUCCESS, "R2"},
        {lines({"PCB_SERIAL:1", "DATA:0", "HWVERSION:H1", "PCB_REV:R2"}), Varnholt::ERR_JIDA_EEPROM_ACCESS,
         ""},
        {lines({"PCB_SERIAL:1", "HWVERSION:H1", "PCB_REV:R2"}), Varnholt::ERR_JIDA_EEPROM_ACCESS, ""},
        {lines({"PCB_SERIAL:1", "DATA:1", "PCB_REV:R2", "XXXXXX:0"}), Varnholt::ERR_JIDA_EEPROM_ACCESS, ""},
    };
    for (const auto& c : cases) {
        About* about = aboutWith(c.text);
        TextOut out;
        EXPECT_EQ(out.read(about, &About::getPcbRevision, 100), c.result) << c.text;
        if (c.result == Varnholt::ERR_SUCCESS)
            EXPECT_EQ(out.text(), c.revision);
        else
            EXPECT_TRUE(out.untouched());
        about->release();
    }
}

TEST_F(AboutTest, CountsAreTheLowEightBitsAndFlagsAreExactlyOne)
{
    const std::string expansion = lines({"PCB_SERIAL:9", "WLAN:1", "GPS:2", "GSM:01", "BLUETOOTH:-1"});
    About* about = aboutWith(lines({"PCB_SERIAL:1", "ETH:300", "CAN:2abc", "VIDEO:abc", "USBHOST:+7",
                                    "DIGIO:99999999999", "TOUCH:1"}),
                             &expansion);
    unsigned char count = 0;
    EXPECT_EQ(about->getEthernetCount(&count), Varnholt::ERR_SUCCESS);
    EXPECT_EQ(count, 44);
    EXPECT_EQ(about->getCanCount(&count), Varnholt::ERR_SUCCESS);
    EXPECT_EQ(count, 2);
    EXPECT_EQ(about->getVideoCount(&count), Varnholt::ERR_SUCCESS);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(about->getUsbHostCount(&count), Varnholt::ERR_SUCCESS);
    EXPECT_EQ(count, 7);
    // Beyond 32 bits the number is clamped, as atoi does: 2147483647 has the low byte 0xFF.
    EXPECT_EQ(about->getDigitalIoCount(&count), Varnholt::ERR_SUCCESS);
    EXPECT_EQ(count, 0xFF);

    bool flag = false;
    EXPECT_EQ(about->hasWlan(&flag), Varnholt::ERR_SUCCESS);
    EXPECT_TRUE(flag);
    EXPECT_EQ(about->hasGps(&flag), Varnholt::ERR_SUCCESS);
    EXPECT_FALSE(flag);
    EXPECT_EQ(about->hasGsm(&flag), Varnholt::ERR_SUCCESS);
    EXPECT_TRUE(flag);
    EXPECT_EQ(about->hasBluetooth(&flag), Varnholt::ERR_SUCCESS);
    EXPECT_FALSE(flag);
    EXPECT_EQ(about->hasTouchScreen(&flag), Varnholt::ERR_SUCCESS);
    EXPECT_TRUE(flag);
    about->release();
}

TEST(IdentityNumber, ReadsLikeAtoi)
{
    EXPECT_EQ(identityNumber("42"), 42);
    EXPECT_EQ(identityNumber("\t 42"), 42);
    EXPECT_EQ(identityNumber("-42x"), -42);
    EXPECT_EQ(identityNumber("+"), 0);
    EXPECT_EQ(identityNumber(""), 0);
    EXPECT_EQ(identityNumber("2147483647"), 2147483647);
    EXPECT_EQ(identityNumber("2147483648"), 2147483647);
    EXPECT_EQ(identityNumber("-2147483648"), -2147483647 - 1);
    EXPECT_EQ(identityNumber("-99999999999999999999999"), -2147483647 - 1);
}

TEST_F(AboutTest, AnInvalidRecordAnswersEepromAccessEverywhere)
{
    // 19 bytes: too short to be an identity text.
    About* about = aboutWith("PCB_SERIAL:12345678");
    TextOut out;
    EXPECT_EQ(out.read(about, &About::getPcbSerial, 100), Varnholt::ERR_JIDA_EEPROM_ACCESS);
    EXPECT_TRUE(out.untouched());
    unsigned char count = 7;
    EXPECT_EQ(about->getCanCount(&count), Varnholt::ERR_JIDA_EEPROM_ACCESS);
    EXPECT_EQ(count, 7);
    bool flag = true;
    EXPECT_EQ(about->hasDisplay(&flag), Varnholt::ERR_JIDA_EEPROM_ACCESS);
    EXPECT_EQ(about->getSerialCount(&count), Varnholt::ERR_JIDA_EEPROM_ACCESS);
    EXPECT_EQ(about->getPcbRevision(out.buffer, 100), Varnholt::ERR_JIDA_EEPROM_ACCESS);
    // The expansion EEPROM is still read on its own.
    EXPECT_EQ(out.read(about, &About::getExpansionPcbSerial, 100), Varnholt::ERR_SUCCESS);
    EXPECT_EQ(out.text(), "41000777");
    about->release();
}

TEST_F(AboutTest, BadEepromContentsAlwaysGiveAResultCode)
{
    const std::string cases[] = {
        std::string(4096, 'x'),                                               // no end of text
        std::string(4076, 'y'),                                               // one line, no line feed
        "PCB_SERIAL 12345 UNIT_SERIAL 5 no colons anywhere",                  // keys without ':'
        "PCB_SERIAL:" + std::string(300, '7') + "\nCAN:2\n",                  // a 300-character value
        std::string("PCB_SERIAL:\x01\x02\x7F\x80\xFE", 16) + "\n\n\n\n:::\n", // odd bytes
        std::string("\0PCB_SERIAL:1234567890123456", 27),                     // starts with its end
        "\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n",
        ":::::::::::::::::::::::::::::::",
    };
    const TextRead texts[] = {&About::getPcbSerial,     &About::getUnitSerial,
                              &About::getPcbArticle,    &About::getManufacturingDate,
                              &About::getPcbRevision,   &About::getProductRevision,
                              &About::getProductArticle};
    const CountRead counts[] = {&About::getEthernetCount, &About::getCanCount,    &About::getVideoCount,
                                &About::getUsbHostCount,  &About::getSerialCount, &About::getDigitalIoCount};
    const FlagRead flags[] = {&About::hasDisplay, &About::hasTouchScreen};
    for (const auto& text : cases) {
        About* about = aboutWith(text, &text);
        for (const auto op : texts) {
            TextOut out;
            const ResultCode r = out.read(about, op, 299);
            EXPECT_TRUE(r == Varnholt::ERR_SUCCESS || r == Varnholt::ERR_JIDA_EEPROM_ACCESS);
            if (r == Varnholt::ERR_SUCCESS) {
                EXPECT_LE(out.text().size(), 254u);
            }
        }
        for (const auto op : counts) {
            unsigned char n = 0;
            const ResultCode r = (about->*op)(&n);
            EXPECT_TRUE(r == Varnholt::ERR_SUCCESS || r == Varnholt::ERR_JIDA_EEPROM_ACCESS);
        }
        for (const auto op : flags) {
            bool f = false;
            const ResultCode r = (about->*op)(&f);
            EXPECT_TRUE(r == Varnholt::ERR_SUCCESS || r == Varnholt::ERR_JIDA_EEPROM_ACCESS);
        }
        about->release();
    }
    About* about = aboutWith("PCB_SERIAL:" + std::string(300, '7') + "\nCAN:2\n");
    TextOut out;
    EXPECT_EQ(out.read(about, &About::getPcbSerial, 299), Varnholt::ERR_SUCCESS);
    EXPECT_EQ(out.text(), std::string(254, '7'));
    EXPECT_EQ(out.read(about, &About::getPcbSerial, 253), Varnholt::ERR_BUFFER_SIZE_ERROR);
    about->release();
}

TEST_F(AboutTest, WithoutAUnitEveryQuestionAnswersEepromAccess)
{
    stopUnit();
    About* about = GetAbout();
    ASSERT_NE(about, nullptr);
    TextOut out;
    EXPECT_EQ(out.read(about, &About::getPcbSerial, 100), Varnholt::ERR_JIDA_EEPROM_ACCESS);
    EXPECT_EQ(out.read(about, &About::getExpansionDate, 100), Varnholt::ERR_JIDA_EEPROM_ACCESS);
    bool flag = false;
    EXPECT_EQ(about->hasGps(&flag), Varnholt::ERR_JIDA_EEPROM_ACCESS);
    about->release();
}

TEST_F(AboutTest, ConstructionLoadsUnitThenExpansionAndReleaseEndsBoth)
{
    auto reads = tapVendor(unit(), platform::vendorOrdinal::boardI2cWriteRead);
    const std::size_t exits = vendorCalls(unit(), platform::vendorOrdinal::boardLibExit);
    About* about = GetAbout();
    // Each record reads its pieces up to the one that holds its text's end: the default unit text
    // ends in the second piece, the expansion text in the first.
    ASSERT_EQ(reads->arguments.size(), 3u);
    EXPECT_EQ(reads->arguments[0][8], 0xAE);
    EXPECT_EQ(reads->arguments[1][8], 0xAE);
    EXPECT_EQ(reads->arguments[1][14], 128) << "the second piece's offset";
    EXPECT_EQ(reads->arguments[2][8], 0xA4);
    EXPECT_EQ(openBoardHandles(unit()), 2u);
    about->release();
    EXPECT_EQ(vendorCalls(unit(), platform::vendorOrdinal::boardLibExit), exits + 2);
    EXPECT_EQ(openBoardHandles(unit()), 0u);
}

TEST_F(AboutTest, TheDefaultUnitIsFullyFitted)
{
    About* about = GetAbout();
    unsigned char count = 0;
    bool flag = false;
    EXPECT_EQ(about->getCanCount(&count), Varnholt::ERR_SUCCESS);
    EXPECT_EQ(count, 2);
    EXPECT_EQ(about->getVideoCount(&count), Varnholt::ERR_SUCCESS);
    EXPECT_EQ(count, 2);
    EXPECT_EQ(about->getDigitalIoCount(&count), Varnholt::ERR_SUCCESS);
    EXPECT_EQ(count, 4);
    EXPECT_EQ(about->hasDisplay(&flag), Varnholt::ERR_SUCCESS);
    EXPECT_TRUE(flag);
    for (const FlagRead op :
         {&About::hasTouchScreen, &About::hasWlan, &About::hasGps, &About::hasGsm, &About::hasBluetooth}) {
        flag = false;
        EXPECT_EQ((about->*op)(&flag), Varnholt::ERR_SUCCESS);
        EXPECT_TRUE(flag);
    }
    about->release();
}

// Every operation reached through the vtable by slot number, as a caller of the DLL does.
TEST_F(AboutTest, SlotsFollowTheBinaryInterface)
{
    const std::string unitText =
        lines({"PCB_SERIAL:s0", "UNIT_SERIAL:s1", "PCB_ART:s2", "DATE:s3", "DATA:2", "PCB_REV:s4",
               "PROD_REV:s5", "PROD_ART:s6", "ETH:7", "CAN:8", "VIDEO:9", "USBHOST:10", "RS232:11",
               "DIGIO:21", "DISPLAY:1x1", "TOUCH:1"});
    const std::string expansionText = lines({"PCB_SERIAL:s12", "PCB_ART:s13", "DATE:s14", "PCB_REV:s15",
                                             "WLAN:1", "GPS:1", "GSM:1", "BLUETOOTH:1"});
    About* about = aboutWith(unitText, &expansionText);
    void** vtable = *reinterpret_cast<void***>(about);
    using Text = ResultCode (*)(void*, char*, int);
    using Count = ResultCode (*)(void*, unsigned char*);
    using Flag = ResultCode (*)(void*, bool*);
    for (int slot : {0, 1, 2, 3, 4, 5, 6, 12, 13, 14, 15}) {
        char buffer[16] = {};
        EXPECT_EQ(reinterpret_cast<Text>(vtable[slot])(about, buffer, 15), Varnholt::ERR_SUCCESS) << slot;
        EXPECT_EQ(std::string(buffer), "s" + std::to_string(slot)) << slot;
    }
    for (int slot : {7, 8, 9, 10, 11, 21}) {
        unsigned char count = 0;
        EXPECT_EQ(reinterpret_cast<Count>(vtable[slot])(about, &count), Varnholt::ERR_SUCCESS) << slot;
        EXPECT_EQ(count, slot) << slot;
    }
    for (int slot : {16, 17, 18, 19, 22, 23}) {
        bool flag = false;
        EXPECT_EQ(reinterpret_cast<Flag>(vtable[slot])(about, &flag), Varnholt::ERR_SUCCESS) << slot;
        EXPECT_TRUE(flag) << slot;
    }
    // Each flag slot reads its own key: clearing one key fails only its slot.
    const std::size_t exits = vendorCalls(unit(), platform::vendorOrdinal::boardLibExit);
    reinterpret_cast<void (*)(void*)>(vtable[20])(about);
    EXPECT_EQ(vendorCalls(unit(), platform::vendorOrdinal::boardLibExit), exits + 2);

    const char* keys[] = {"WLAN", "GPS", "GSM", "BLUETOOTH"};
    for (int i = 0; i < 4; ++i) {
        std::string text = expansionText;
        text.replace(text.find(keys[i]), 1, "_");
        About* partial = aboutWith(unitText, &text);
        void** table = *reinterpret_cast<void***>(partial);
        for (int j = 0; j < 4; ++j) {
            bool flag = false;
            EXPECT_EQ(reinterpret_cast<Flag>(table[16 + j])(partial, &flag),
                      i == j ? Varnholt::ERR_JIDA_EEPROM_ACCESS : Varnholt::ERR_SUCCESS)
                << keys[i] << " slot " << 16 + j;
        }
        reinterpret_cast<void (*)(void*)>(table[20])(partial);
    }
    for (const char* key : {"DISPLAY", "TOUCH"}) {
        std::string text = unitText;
        text.replace(text.find(key), 1, "_");
        About* partial = aboutWith(text, &expansionText);
        void** table = *reinterpret_cast<void***>(partial);
        bool flag = false;
        EXPECT_EQ(reinterpret_cast<Flag>(table[22])(partial, &flag),
                  std::string(key) == "DISPLAY" ? Varnholt::ERR_JIDA_EEPROM_ACCESS : Varnholt::ERR_SUCCESS);
        EXPECT_EQ(reinterpret_cast<Flag>(table[23])(partial, &flag),
                  std::string(key) == "TOUCH" ? Varnholt::ERR_JIDA_EEPROM_ACCESS : Varnholt::ERR_SUCCESS);
        reinterpret_cast<void (*)(void*)>(table[20])(partial);
    }
}

} // namespace PELMUX_FILE_SCOPE
} // namespace pelmux::test
