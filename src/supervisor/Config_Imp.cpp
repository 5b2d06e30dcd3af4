#include "supervisor/Config_Imp.h"

#include "identity/FeatureProbe.h"
#include "identity/VersionGates.h"

namespace pelmux {

namespace {

using Varnholt::ERR_SUCCESS;

constexpr std::uint32_t wordSize = 2;
constexpr std::uint32_t pairSize = 4;

// The lowest and highest temperature words: -25 and 5 degrees Celsius.
constexpr std::uint16_t lowestTemperatureRaw = 31;
constexpr std::uint16_t temperatureRawSpan = 30;
constexpr int temperatureOffset = 56;
constexpr int lowestCelsius = -25;

constexpr double highestVolts = 28.0;

// Word 0 of the second paired record as the library writes it, without reading the record first.
constexpr std::uint16_t ownPairedWord0 = 1;
constexpr std::uint8_t videoMaskHighest = 15;

std::uint16_t wordAt(const std::uint8_t* bytes)
{
    return static_cast<std::uint16_t>(bytes[0] | (bytes[1] << 8));
}

void putWord(std::uint8_t* bytes, std::uint16_t word)
{
    bytes[0] = static_cast<std::uint8_t>(word);
    bytes[1] = static_cast<std::uint8_t>(word >> 8);
}

} // namespace

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

ResultCode Config_Imp::read(ConfigNeed need, const void* output, std::uint32_t code, std::uint8_t* answer,
                            std::uint32_t size) const
{
    if (const ResultCode result = admit(need); result != ERR_SUCCESS)
        return result;
    // Nothing to store the setting in: refused before the request.
    if (output == nullptr)
        return Varnholt::ERR_INVALID_PARAMETER_NULL;
    return issue(link_, code, nullptr, 0, answer, size, Count::Output);
}

ResultCode Config_Imp::readWord(ConfigNeed need, const void* output, std::uint32_t code,
                                std::uint16_t& word) const
{
    std::uint8_t answer[wordSize] = {};
    const ResultCode result = read(need, output, code, answer, sizeof answer);
    if (result == ERR_SUCCESS)
        word = wordAt(answer);
    return result;
}

ResultCode Config_Imp::write(std::uint32_t code, const std::uint8_t* input, std::uint32_t size) const
{
    return issue(link_, code, input, size, nullptr, 0, Count::Input);
}

ResultCode Config_Imp::writeWord(std::uint32_t code, std::uint16_t word) const
{
    std::uint8_t input[wordSize];
    putWord(input, word);
    return write(code, input, sizeof input);
}

ResultCode Config_Imp::writePair(std::uint32_t code, std::uint16_t word0, std::uint16_t word1) const
{
    std::uint8_t input[pairSize];
    putWord(input, word0);
    putWord(input + 2, word1);
    return write(code, input, sizeof input);
}

// ---- selectors

ResultCode Config_Imp::getSelector(std::uint32_t code, int lowest, int* value) const
{
    std::uint16_t word = 0;
    if (const ResultCode result = readWord(ConfigNeed::Supervisor100, value, code, word);
        result != ERR_SUCCESS)
        return result;
    if (word < lowest || word > lowest + 2)
        return Varnholt::ERR_INVALID_DATA_RANGE;
    *value = word;
    return ERR_SUCCESS;
}

ResultCode Config_Imp::setSelector(std::uint32_t code, int lowest, int value) const
{
    if (const ResultCode result = admit(ConfigNeed::Supervisor100); result != ERR_SUCCESS)
        return result;
    if (value < lowest || value > lowest + 2)
        return Varnholt::ERR_INVALID_DATA_RANGE;
    return writeWord(code, static_cast<std::uint16_t>(value));
}

ResultCode Config_Imp::getSelector1(int* value)
{
    return getSelector(configSelector1Read, 1, value);
}

ResultCode Config_Imp::getSelector2(int* value)
{
    return getSelector(configSelector2Read, 0, value);
}

ResultCode Config_Imp::getSelector3(int* value)
{
    return getSelector(configSelector3Read, 0, value);
}

ResultCode Config_Imp::getSelector4(int* value)
{
    return getSelector(configSelector4Read, 0, value);
}

ResultCode Config_Imp::setSelector1(int value)
{
    return setSelector(configSelector1Write, 1, value);
}

ResultCode Config_Imp::setSelector2(int value)
{
    return setSelector(configSelector2Write, 0, value);
}

ResultCode Config_Imp::setSelector3(int value)
{
    return setSelector(configSelector3Write, 0, value);
}

ResultCode Config_Imp::setSelector4(int value)
{
    return setSelector(configSelector4Write, 0, value);
}

// ---- paired records and the 32-bit setting

ResultCode Config_Imp::getPairedWord(std::uint32_t code, unsigned short* value) const
{
    std::uint8_t answer[pairSize] = {};
    if (const ResultCode result = read(ConfigNeed::Nothing, value, code, answer, sizeof answer);
        result != ERR_SUCCESS)
        return result;
    *value = wordAt(answer + 2);
    return ERR_SUCCESS;
}

ResultCode Config_Imp::getPairedWord1(unsigned short* value)
{
    return getPairedWord(configPairedWord1Read, value);
}

ResultCode Config_Imp::getPairedWord2(unsigned short* value)
{
    return getPairedWord(configPairedWord2Read, value);
}

ResultCode Config_Imp::setPairedWord1(unsigned short value)
{
    if (const ResultCode result = admit(ConfigNeed::Nothing); result != ERR_SUCCESS)
        return result;
    // Word 0 goes back as the supervisor holds it: read the record first; without it nothing is written.
    std::uint8_t record[pairSize] = {};
    if (const ResultCode result =
            issue(link_, configPairedWord1Read, nullptr, 0, record, sizeof record, Count::Output);
        result != ERR_SUCCESS)
        return result;
    return writePair(configPairedWord1Write, wordAt(record), value);
}

ResultCode Config_Imp::setPairedWord2(unsigned short value)
{
    if (const ResultCode result = admit(ConfigNeed::Nothing); result != ERR_SUCCESS)
        return result;
    return writePair(configPairedWord2Write, ownPairedWord0, value);
}

ResultCode Config_Imp::getLongSetting(unsigned int* value)
{
    std::uint8_t answer[4] = {};
    if (const ResultCode result = read(ConfigNeed::Nothing, value, configLongRead, answer, sizeof answer);
        result != ERR_SUCCESS)
        return result;
    *value = answer[0] | (answer[1] << 8) | (answer[2] << 16) | (static_cast<std::uint32_t>(answer[3]) << 24);
    return ERR_SUCCESS;
}

ResultCode Config_Imp::setLongSetting(unsigned int value)
{
    if (const ResultCode result = admit(ConfigNeed::Nothing); result != ERR_SUCCESS)
        return result;
    const std::uint8_t input[4] = {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
                                   static_cast<std::uint8_t>(value >> 16),
                                   static_cast<std::uint8_t>(value >> 24)};
    return write(configLongWrite, input, sizeof input);
}

// ---- words: CAN and video power, the plain word, the flag

ResultCode Config_Imp::getCanPowerConfig(int* value)
{
    std::uint16_t word = 0;
    if (const ResultCode result = readWord(ConfigNeed::Can, value, configCanPowerRead, word);
        result != ERR_SUCCESS)
        return result;
    *value = word;
    return ERR_SUCCESS;
}

ResultCode Config_Imp::setCanPowerConfig(unsigned short value)
{
    if (const ResultCode result = admit(ConfigNeed::Can); result != ERR_SUCCESS)
        return result;
    return writeWord(configCanPowerWrite, value);
}

ResultCode Config_Imp::getVideoPowerConfig(unsigned char* value)
{
    std::uint8_t answer[wordSize] = {};
    if (const ResultCode result = read(ConfigNeed::Video, value, configVideoPowerRead, answer, sizeof answer);
        result != ERR_SUCCESS)
        return result;
    // Byte 1 carries nothing.
    *value = answer[0];
    return ERR_SUCCESS;
}

ResultCode Config_Imp::setVideoPowerConfig(unsigned char value)
{
    if (const ResultCode result = admit(ConfigNeed::Video); result != ERR_SUCCESS)
        return result;
    if (value > videoMaskHighest)
        return Varnholt::ERR_INVALID_DATA_RANGE;
    return writeWord(configVideoPowerWrite, value);
}

ResultCode Config_Imp::getWordSetting(int* value)
{
    std::uint16_t word = 0;
    if (const ResultCode result = readWord(ConfigNeed::Nothing, value, configWordRead, word);
        result != ERR_SUCCESS)
        return result;
    *value = word;
    return ERR_SUCCESS;
}

ResultCode Config_Imp::setWordSetting(unsigned short value)
{
    if (const ResultCode result = admit(ConfigNeed::Nothing); result != ERR_SUCCESS)
        return result;
    return writeWord(configWordWrite, value);
}

ResultCode Config_Imp::getFlagSetting(int* value)
{
    std::uint16_t word = 0;
    if (const ResultCode result = readWord(ConfigNeed::Supervisor103, value, configFlagRead, word);
        result != ERR_SUCCESS)
        return result;
    *value = word != 0 ? 1 : 0;
    return ERR_SUCCESS;
}

ResultCode Config_Imp::setFlagSetting(unsigned short value)
{
    if (const ResultCode result = admit(ConfigNeed::Supervisor103); result != ERR_SUCCESS)
        return result;
    // Sent as given: the supervisor reads any non-zero word as on.
    return writeWord(configFlagWrite, value);
}

// ---- volts and degrees Celsius

ResultCode Config_Imp::getVoltageSetting(double* value)
{
    std::uint16_t raw = 0;
    if (const ResultCode result = readWord(ConfigNeed::Nothing, value, configVoltageRead, raw);
        result != ERR_SUCCESS)
        return result;
    const double volts = configVoltsFromRaw(raw);
    *value = volts < configLowestVolts ? configLowestVolts : volts;
    return ERR_SUCCESS;
}

ResultCode Config_Imp::setVoltageSetting(double value)
{
    if (const ResultCode result = admit(ConfigNeed::Nothing); result != ERR_SUCCESS)
        return result;
    const auto raw = configRawFromVolts(value);
    if (!raw)
        return Varnholt::ERR_INVALID_DATA_RANGE;
    return writeWord(configVoltageWrite, *raw);
}

ResultCode Config_Imp::getTemperatureSetting(short* value)
{
    std::uint16_t raw = 0;
    if (const ResultCode result = readWord(ConfigNeed::Supervisor090, value, configTemperatureRead, raw);
        result != ERR_SUCCESS)
        return result;
    const auto celsius = configCelsiusFromRaw(raw);
    if (!celsius)
        return Varnholt::ERR_INVALID_DATA_RANGE;
    *value = *celsius;
    return ERR_SUCCESS;
}

ResultCode Config_Imp::setTemperatureSetting(short value)
{
    if (const ResultCode result = admit(ConfigNeed::Supervisor090); result != ERR_SUCCESS)
        return result;
    const auto raw = configRawFromCelsius(value);
    if (!raw)
        return Varnholt::ERR_INVALID_DATA_RANGE;
    return writeWord(configTemperatureWrite, *raw);
}

} // namespace pelmux
