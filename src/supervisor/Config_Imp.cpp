#include "supervisor/Config_Imp.h"

#include "identity/FeatureProbe.h"
#include "identity/VersionGates.h"

namespace pelmux {

namespace {

using Varnholt::ERR_SUCCESS;

constexpr std::uint32_t pairSize = 4;
constexpr std::uint32_t longSize = 4;

// The lowest and highest temperature words: -25 and 5 degrees Celsius.
constexpr std::uint16_t lowestTemperatureRaw = 31;
constexpr std::uint16_t temperatureRawSpan = 30;
constexpr int temperatureOffset = 56;
constexpr int lowestCelsius = -25;

constexpr double highestVolts = 28.0;

// Word 0 of the second paired record as the library writes it, without reading the record first.
constexpr std::uint16_t ownPairedWord0 = 1;
constexpr std::uint8_t videoMaskHighest = 15;

// ---- the conversions between a stored word and the caller's value

// A selector's setting is its word, `lowest` to `lowest` + 2, both ways.
template <int lowest> std::optional<int> selectorFromWord(std::uint16_t word)
{
    if (word < lowest || word > lowest + 2)
        return std::nullopt;
    return word;
}

template <int lowest> std::optional<std::uint16_t> selectorToWord(int value)
{
    if (value < lowest || value > lowest + 2)
        return std::nullopt;
    return static_cast<std::uint16_t>(value);
}

std::optional<int> numberFromWord(std::uint16_t word)
{
    return word;
}

std::optional<std::uint16_t> numberToWord(unsigned short value)
{
    return value;
}

std::optional<unsigned char> videoMaskFromWord(std::uint16_t word)
{
    // Byte 1 carries nothing.
    return static_cast<unsigned char>(word & 0xFFu);
}

std::optional<std::uint16_t> videoMaskToWord(unsigned char value)
{
    if (value > videoMaskHighest)
        return std::nullopt;
    return value;
}

std::optional<int> flagFromWord(std::uint16_t word)
{
    return word != 0 ? 1 : 0;
}

std::optional<double> voltsFromWord(std::uint16_t word)
{
    const double volts = configVoltsFromRaw(word);
    return volts < configLowestVolts ? configLowestVolts : volts;
}

// Selector 1 takes 1 to 3, the others 0 to 2; each needs supervisor 1.0.0.0 or later.
template <int lowest> constexpr ConfigWord<int, int> selectorWord(std::uint32_t read, std::uint32_t write)
{
    return {ConfigNeed::Supervisor100, read, write, selectorFromWord<lowest>, selectorToWord<lowest>};
}

} // namespace

// ---- the settings kept in a word

const ConfigWord<int, int> Config_Imp::selector1 = selectorWord<1>(configSelector1Read, configSelector1Write);
const ConfigWord<int, int> Config_Imp::selector2 = selectorWord<0>(configSelector2Read, configSelector2Write);
const ConfigWord<int, int> Config_Imp::selector3 = selectorWord<0>(configSelector3Read, configSelector3Write);
const ConfigWord<int, int> Config_Imp::selector4 = selectorWord<0>(configSelector4Read, configSelector4Write);
const ConfigWord<int, unsigned short> Config_Imp::canPower{ConfigNeed::Can, configCanPowerRead,
                                                           configCanPowerWrite, numberFromWord, numberToWord};
const ConfigWord<unsigned char, unsigned char> Config_Imp::videoPower{
    ConfigNeed::Video, configVideoPowerRead, configVideoPowerWrite, videoMaskFromWord, videoMaskToWord};
const ConfigWord<int, unsigned short> Config_Imp::plainWord{ConfigNeed::Nothing, configWordRead,
                                                            configWordWrite, numberFromWord, numberToWord};
const ConfigWord<double, double> Config_Imp::voltage{ConfigNeed::Nothing, configVoltageRead,
                                                     configVoltageWrite, voltsFromWord, configRawFromVolts};
const ConfigWord<short, short> Config_Imp::temperature{ConfigNeed::Supervisor090, configTemperatureRead,
                                                       configTemperatureWrite, configCelsiusFromRaw,
                                                       configRawFromCelsius};
// The flag goes to the supervisor as given: it reads any non-zero word as on.
const ConfigWord<int, unsigned short> Config_Imp::flag{ConfigNeed::Supervisor103, configFlagRead,
                                                       configFlagWrite, flagFromWord, numberToWord};

double configVoltsFromRaw(std::uint16_t raw)
{
    return raw * 33.0 * 12.0 / 40960.0;
}

std::optional<std::uint16_t> configRawFromVolts(double volts)
{
    // Written so that a value that is not a number fails too.
    if (!(volts >= configLowestVolts && volts <= highestVolts))
        return std::nullopt;
    return static_cast<std::uint16_t>(volts * 40960.0 / 396.0);
}

std::optional<short> configCelsiusFromRaw(std::uint16_t raw)
{
    if (static_cast<std::uint16_t>(raw - lowestTemperatureRaw) > temperatureRawSpan)
        return std::nullopt;
    return static_cast<short>(raw - temperatureOffset);
}

std::optional<std::uint16_t> configRawFromCelsius(short celsius)
{
    if (static_cast<std::uint16_t>(celsius - lowestCelsius) > temperatureRawSpan)
        return std::nullopt;
    return static_cast<std::uint16_t>(celsius + temperatureOffset);
}

SharedInstance<Config_Imp>& configInstance()
{
    static SharedInstance<Config_Imp> instance;
    return instance;
}

Config_Imp::Config_Imp()
    : canPresent_(probeFeature(Feature::Can)), videoPresent_(probeFeature(Feature::Video))
{
    // The driver after the unit identity.
    link_.open();
}

void Config_Imp::release()
{
    configInstance().release();
}

ResultCode Config_Imp::admit(ConfigNeed need) const
{
    // Opened once at construction; there is no second attempt.
    if (!link_.isOpen())
        return Varnholt::ERR_OPEN_FAILED;
    bool met = true;
    ResultCode otherwise = Varnholt::ERR_NEWER_SS_REQUIRED;
    switch (need) {
    case ConfigNeed::Nothing:
        break;
    case ConfigNeed::Supervisor090:
        met = isSupervisorVersionAtLeast(0, 9, 0);
        break;
    case ConfigNeed::Supervisor100:
        met = isSupervisorVersionAtLeast(1, 0, 0);
        break;
    case ConfigNeed::Supervisor103:
        met = isSupervisorVersionAtLeast(1, 0, 3);
        break;
    case ConfigNeed::Can:
        met = canPresent_;
        otherwise = Varnholt::ERR_NOT_SUPPORTED;
        break;
    case ConfigNeed::Video:
        met = videoPresent_;
        otherwise = Varnholt::ERR_NOT_SUPPORTED;
        break;
    }
    return met ? ERR_SUCCESS : otherwise;
}

// ---- the paired records and the 32-bit setting

ResultCode Config_Imp::getPairedWord(std::uint32_t code, unsigned short* value) const
{
    return get<pairSize>(ConfigNeed::Nothing, code, value,
                         [](const std::uint8_t* answer) { return std::optional(wordAt(answer + 2)); });
}

ResultCode Config_Imp::getPairedWord1(unsigned short* value)
{
    return getPairedWord(configPairedWord1Read, value);
}

ResultCode Config_Imp::getLongSetting(unsigned int* value)
{
    return get<longSize>(ConfigNeed::Nothing, configLongRead, value,
                         [](const std::uint8_t* answer) { return std::optional(dwordAt(answer)); });
}

ResultCode Config_Imp::getPairedWord2(unsigned short* value)
{
    return getPairedWord(configPairedWord2Read, value);
}

ResultCode Config_Imp::setPairedWord1(unsigned short value)
{
    return set<pairSize>(ConfigNeed::Nothing, configPairedWord1Write, [&](std::uint8_t* input) {
        // Word 0 goes back as the supervisor holds it: read the record first; without it nothing
        // is written.
        std::uint8_t record[pairSize] = {};
        if (const ResultCode read =
                issue(link_, configPairedWord1Read, nullptr, 0, record, sizeof record, Count::Output);
            read != ERR_SUCCESS)
            return read;
        putWord(input, wordAt(record));
        putWord(input + 2, value);
        return ERR_SUCCESS;
    });
}

ResultCode Config_Imp::setLongSetting(unsigned int value)
{
    return set<longSize>(ConfigNeed::Nothing, configLongWrite, [&](std::uint8_t* input) {
        putDword(input, value);
        return ERR_SUCCESS;
    });
}

ResultCode Config_Imp::setPairedWord2(unsigned short value)
{
    return set<pairSize>(ConfigNeed::Nothing, configPairedWord2Write, [&](std::uint8_t* input) {
        putWord(input, ownPairedWord0);
        putWord(input + 2, value);
        return ERR_SUCCESS;
    });
}

} // namespace pelmux
