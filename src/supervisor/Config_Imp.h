// The system supervisor's stored settings: thirteen settings, each a getter and a setter, each one
// driver request (setPairedWord1 two). The library checks ranges, maps values and converts volts
// and degrees Celsius; the supervisor keeps the settings, the library keeps no copy.
#pragma once

#include "frame/DriverChannel.h"
#include "frame/LittleEndian.h"
#include "frame/SharedInstance.h"

#include <pelmux/Config.h>

#include <cstdint>
#include <optional>

namespace pelmux {

// What an operation needs besides an open driver: a supervisor firmware version or a fitted
// feature. Tested after the open test and before the argument's range.
enum class ConfigNeed : std::uint8_t {
    Nothing,
    Supervisor090, // supervisor 0.9.0.0 or later (ERR_NEWER_SS_REQUIRED)
    Supervisor100, // supervisor 1.0.0.0 or later
    Supervisor103, // supervisor 1.0.3.0 or later
    Can,           // CAN fitted (ERR_NOT_SUPPORTED)
    Video,         // video inputs fitted
};

// A setting the supervisor keeps in one 16-bit word: what it needs, its two requests and the
// conversions between the word and the caller's value (nothing: outside the setting's range).
template <class Out, class In> struct ConfigWord {
    ConfigNeed need;
    std::uint32_t read;
    std::uint32_t write;
    std::optional<Out> (*fromWord)(std::uint16_t word);
    std::optional<std::uint16_t> (*toWord)(In value);
};

// The process's single Config object. The unit identity says at construction whether CAN and
// video are fitted; the driver is opened once, afterwards, and never again: with the driver absent
// then, every operation answers ERR_OPEN_FAILED for the life of the object. Nothing of the object
// changes after construction, so every thread of the process may use it at once.
//
// Order of checks in every operation: the open test (ERR_OPEN_FAILED), the firmware gate
// (ERR_NEWER_SS_REQUIRED) or feature (ERR_NOT_SUPPORTED), the argument's range
// (ERR_INVALID_DATA_RANGE, nothing sent), a null output (ERR_INVALID_PARAMETER_NULL, nothing
// sent), the request (ERR_IOCTRL_OPERATION_FAILED, ERR_BUFFER_SIZE_ERROR), the answer's range
// (ERR_INVALID_DATA_RANGE). Outputs are written only on success.
class Config_Imp final : public Varnholt::Config {
public:
    Config_Imp();
    // Freed by the shared instance when the last reference goes (closes the driver).
    ~Config_Imp() = default;
    Config_Imp(const Config_Imp&) = delete;
    Config_Imp& operator=(const Config_Imp&) = delete;

    // Each slot and the setting it serves.
    ResultCode getSelector1(int* value) override { return getWord(selector1, value); }
    ResultCode getSelector2(int* value) override { return getWord(selector2, value); }
    ResultCode getSelector3(int* value) override { return getWord(selector3, value); }
    ResultCode getSelector4(int* value) override { return getWord(selector4, value); }
    ResultCode getPairedWord1(unsigned short* value) override;
    ResultCode getLongSetting(unsigned int* value) override;
    ResultCode getPairedWord2(unsigned short* value) override;
    ResultCode getCanPowerConfig(int* value) override { return getWord(canPower, value); }
    ResultCode getVideoPowerConfig(unsigned char* value) override { return getWord(videoPower, value); }
    ResultCode getWordSetting(int* value) override { return getWord(plainWord, value); }
    ResultCode getVoltageSetting(double* value) override { return getWord(voltage, value); }
    ResultCode getTemperatureSetting(short* value) override { return getWord(temperature, value); }
    ResultCode getFlagSetting(int* value) override { return getWord(flag, value); }
    ResultCode setSelector1(int value) override { return setWord(selector1, value); }
    ResultCode setSelector2(int value) override { return setWord(selector2, value); }
    ResultCode setSelector3(int value) override { return setWord(selector3, value); }
    ResultCode setSelector4(int value) override { return setWord(selector4, value); }
    ResultCode setPairedWord1(unsigned short value) override;
    ResultCode setLongSetting(unsigned int value) override;
    ResultCode setPairedWord2(unsigned short value) override;
    ResultCode setCanPowerConfig(unsigned short value) override { return setWord(canPower, value); }
    ResultCode setVideoPowerConfig(unsigned char value) override { return setWord(videoPower, value); }
    ResultCode setWordSetting(unsigned short value) override { return setWord(plainWord, value); }
    ResultCode setVoltageSetting(double value) override { return setWord(voltage, value); }
    ResultCode setTemperatureSetting(short value) override { return setWord(temperature, value); }
    ResultCode setFlagSetting(unsigned short value) override { return setWord(flag, value); }
    void release() override;

private:
    // The open test, then the gate or feature.
    ResultCode admit(ConfigNeed need) const;
    // A getter: admit, the null test of `value`, a read of `size` bytes, then `decode(answer)`;
    // nothing decoded is an answer out of the setting's range.
    template <std::uint32_t size, class Out, class Decode>
    ResultCode get(ConfigNeed need, std::uint32_t code, Out* value, Decode decode) const;
    // A setter: admit, `encode(input)` (any result but ERR_SUCCESS ends it, nothing written), then
    // a write of `size` bytes.
    template <std::uint32_t size, class Encode>
    ResultCode set(ConfigNeed need, std::uint32_t code, Encode encode) const;
    // The same for a setting kept in one word.
    template <class Out, class In> ResultCode getWord(const ConfigWord<Out, In>& setting, Out* value) const
    {
        return get<sizeof(std::uint16_t)>(setting.need, setting.read, value, [&](const std::uint8_t* answer) {
            return setting.fromWord(wordAt(answer));
        });
    }
    template <class Out, class In> ResultCode setWord(const ConfigWord<Out, In>& setting, In value) const
    {
        return set<sizeof(std::uint16_t)>(setting.need, setting.write, [&](std::uint8_t* input) {
            const std::optional<std::uint16_t> word = setting.toWord(value);
            if (!word)
                return Varnholt::ERR_INVALID_DATA_RANGE;
            putWord(input, *word);
            return Varnholt::ERR_SUCCESS;
        });
    }
    // Word 1 of a paired record.
    ResultCode getPairedWord(std::uint32_t code, unsigned short* value) const;

    // The ten settings kept in a word.
    static const ConfigWord<int, int> selector1;
    static const ConfigWord<int, int> selector2;
    static const ConfigWord<int, int> selector3;
    static const ConfigWord<int, int> selector4;
    static const ConfigWord<int, unsigned short> canPower;
    static const ConfigWord<unsigned char, unsigned char> videoPower;
    static const ConfigWord<int, unsigned short> plainWord;
    static const ConfigWord<double, double> voltage;
    static const ConfigWord<short, short> temperature;
    static const ConfigWord<int, unsigned short> flag;

    DriverLink link_;
    bool canPresent_ = true;
    bool videoPresent_ = true;
};

template <std::uint32_t size, class Out, class Decode>
ResultCode Config_Imp::get(ConfigNeed need, std::uint32_t code, Out* value, Decode decode) const
{
    if (const ResultCode result = admit(need); result != Varnholt::ERR_SUCCESS)
        return result;
    // Nothing to store the setting in: refused before the request.
    if (value == nullptr)
        return Varnholt::ERR_INVALID_PARAMETER_NULL;
    std::uint8_t answer[size] = {};
    if (const ResultCode result = issue(link_, code, nullptr, 0, answer, size, Count::Output);
        result != Varnholt::ERR_SUCCESS)
        return result;
    const std::optional<Out> decoded = decode(answer);
    if (!decoded)
        return Varnholt::ERR_INVALID_DATA_RANGE;
    *value = *decoded;
    return Varnholt::ERR_SUCCESS;
}

template <std::uint32_t size, class Encode>
ResultCode Config_Imp::set(ConfigNeed need, std::uint32_t code, Encode encode) const
{
    if (const ResultCode result = admit(need); result != Varnholt::ERR_SUCCESS)
        return result;
    std::uint8_t input[size] = {};
    if (const ResultCode result = encode(input); result != Varnholt::ERR_SUCCESS)
        return result;
    return issue(link_, code, input, size, nullptr, 0, Count::Input);
}

// The shared instance behind GetConfig.
SharedInstance<Config_Imp>& configInstance();

// Driver requests of the stored settings (reads, then writes).
inline constexpr std::uint32_t configSelector1Read = 0x22255C;
inline constexpr std::uint32_t configSelector2Read = 0x222564;
inline constexpr std::uint32_t configSelector3Read = 0x222584;
inline constexpr std::uint32_t configSelector4Read = 0x22258C;
inline constexpr std::uint32_t configPairedWord1Read = 0x2224B8;
inline constexpr std::uint32_t configLongRead = 0x2224C0;
inline constexpr std::uint32_t configPairedWord2Read = 0x2224C8;
inline constexpr std::uint32_t configCanPowerRead = 0x2224D0;
inline constexpr std::uint32_t configVideoPowerRead = 0x2224D8;
inline constexpr std::uint32_t configWordRead = 0x2224E0;
inline constexpr std::uint32_t configVoltageRead = 0x2224E8;
inline constexpr std::uint32_t configTemperatureRead = 0x22254C;
inline constexpr std::uint32_t configFlagRead = 0x2225A4;
inline constexpr std::uint32_t configSelector1Write = 0x222560;
inline constexpr std::uint32_t configSelector2Write = 0x222580;
inline constexpr std::uint32_t configSelector3Write = 0x222588;
inline constexpr std::uint32_t configSelector4Write = 0x222590;
inline constexpr std::uint32_t configPairedWord1Write = 0x2224BC;
inline constexpr std::uint32_t configLongWrite = 0x2224C4;
inline constexpr std::uint32_t configPairedWord2Write = 0x2224CC;
inline constexpr std::uint32_t configCanPowerWrite = 0x2224D4;
inline constexpr std::uint32_t configVideoPowerWrite = 0x2224DC;
inline constexpr std::uint32_t configWordWrite = 0x2224E4;
inline constexpr std::uint32_t configVoltageWrite = 0x2224EC;
inline constexpr std::uint32_t configTemperatureWrite = 0x222550;
inline constexpr std::uint32_t configFlagWrite = 0x2225A8;

// The voltage setting's word: the supervisor's 12-bit reading behind the 24 V divider (factor 12,
// 3.3 V reference). Volts = raw x 33.0 x 12.0 / 40960.0, multiplied first and divided last.
double configVoltsFromRaw(std::uint16_t raw);
// The word for `volts`: volts x 40960.0 / 396.0 truncated toward zero; nothing outside 9.0 to
// 28.0 volts (nor for a value that is not a number).
std::optional<std::uint16_t> configRawFromVolts(double volts);
// The lowest voltage the getter reports: a smaller reading is reported as this.
inline constexpr double configLowestVolts = 9.0;

// The temperature setting's word: degrees Celsius + 56. Only words 31 to 61 (-25 to 5 degrees)
// are settings; anything else is nothing.
std::optional<short> configCelsiusFromRaw(std::uint16_t raw);
std::optional<std::uint16_t> configRawFromCelsius(short celsius);

} // namespace pelmux
