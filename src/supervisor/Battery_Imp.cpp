#include "supervisor/Battery_Imp.h"

#include "frame/LittleEndian.h"
#include "identity/About_Imp.h"
#include "identity/VersionGates.h"

#include <cstdio>
#include <cstring>

namespace pelmux {

namespace {

// The register pairs of the time record, in the record's order: first * 60 + second.
constexpr std::uint16_t timePairs[9][2] = {{20, 22}, {21, 23}, {26, 27}, {28, 29}, {30, 31},
                                           {32, 33}, {34, 35}, {36, 37}, {38, 39}};

// Registers 15 to 19 hold the identification text, two characters each, the first in the high byte.
constexpr std::uint16_t firstIdentRegister = 15;
constexpr int identRegisters = 5;

} // namespace

unsigned char chargeLevelOf(std::uint16_t reading)
{
    if (reading <= batteryEmptyReading)
        return 0;
    if (reading >= batteryFullReading)
        return 100;
    return static_cast<unsigned char>((reading - batteryEmptyReading) * 100 /
                                      (batteryFullReading - batteryEmptyReading));
}

int register4StateOf(std::uint16_t value)
{
    const unsigned flags = value & 0xFFu;
    if (flags & 0x10u)
        return 4;
    if (flags & 0x08u)
        return 3;
    if (flags & 0x04u)
        return 2;
    return (flags & 0x02u) ? 1 : 0;
}

int register5StateOf(std::uint16_t value)
{
    // The first bit that is set, from 0x40 down, decides; 0x20 and 0x08 both mean state 3.
    const unsigned flags = value & 0xFFu;
    constexpr struct {
        unsigned bit;
        int state;
    } rules[] = {{0x40, 5}, {0x20, 3}, {0x10, 4}, {0x08, 3}, {0x04, 2}, {0x02, 1}};
    for (const auto& rule : rules)
        if (flags & rule.bit)
            return rule.state;
    return 0;
}

Battery_Imp::Battery_Imp()
{
    link_.open();
    identity_.reset(loadedIdentityRecord(1));
    unsigned char present = 0;
    if (getBatteryPresent(&present) == Varnholt::ERR_SUCCESS)
        batteryPresent_ = present != 0;
}

ResultCode Battery_Imp::readBatteryRegister(std::uint16_t number, std::uint16_t* value) const
{
    if (value == nullptr)
        return Varnholt::ERR_IOCTRL_OPERATION_FAILED;
    std::uint8_t input[2];
    putWord(input, number);
    std::uint8_t answer[2] = {};
    const ResultCode result =
        issue(link_, batteryRegisterRequest, input, sizeof input, answer, sizeof answer, Count::Output);
    if (result != Varnholt::ERR_SUCCESS)
        return result;
    *value = wordAt(answer);
    return Varnholt::ERR_SUCCESS;
}

ResultCode Battery_Imp::presence() const
{
    return batteryPresent_ ? Varnholt::ERR_SUCCESS : Varnholt::ERR_NOT_SUPPORTED;
}

ResultCode Battery_Imp::getBatteryPresent(unsigned char* present)
{
    // Supervisors before 1.3.0 cannot reach a battery controller: the battery counts as absent from
    // now on.
    if (!isSupervisorVersionAtLeast(1, 3, 0)) {
        batteryPresent_ = false;
        return Varnholt::ERR_NEWER_SS_REQUIRED;
    }
    const auto fitted = lookUpIdentity(identity_.get(), "BATTERY");
    if (!fitted)
        return Varnholt::ERR_JIDA_EEPROM_ACCESS;
    if (present == nullptr)
        return Varnholt::ERR_INVALID_PARAMETER_NULL;
    *present = identityNumber(*fitted) == 1 ? 1 : 0;
    return Varnholt::ERR_SUCCESS;
}

template <class Out, class Convert>
ResultCode Battery_Imp::readRegisterAs(std::uint16_t number, Out* output, Convert convert) const
{
    if (const ResultCode absent = presence(); absent != Varnholt::ERR_SUCCESS)
        return absent;
    if (output == nullptr)
        return Varnholt::ERR_INVALID_PARAMETER_NULL;
    std::uint16_t value = 0;
    const ResultCode result = readBatteryRegister(number, &value);
    if (result != Varnholt::ERR_SUCCESS)
        return result;
    *output = convert(value);
    return Varnholt::ERR_SUCCESS;
}

ResultCode Battery_Imp::getChargeLevel(unsigned char* percent)
{
    return readRegisterAs(2, percent, chargeLevelOf);
}

ResultCode Battery_Imp::getRegister4State(int* state)
{
    return readRegisterAs(4, state, register4StateOf);
}

ResultCode Battery_Imp::getRegister4Flag(int* flag)
{
    // Set while bit 0 is clear.
    return readRegisterAs(4, flag, [](std::uint16_t value) { return (value & 1u) ? 0 : 1; });
}

ResultCode Battery_Imp::getRegister3Value(short* value)
{
    return readRegisterAs(3, value, [](std::uint16_t raw) { return static_cast<short>(raw); });
}

ResultCode Battery_Imp::getRegister5State(int* state)
{
    return readRegisterAs(5, state, register5StateOf);
}

ResultCode Battery_Imp::getTimeRecord(Varnholt::BatteryTimeRecord* record)
{
    if (const ResultCode absent = presence(); absent != Varnholt::ERR_SUCCESS)
        return absent;
    if (record == nullptr)
        return Varnholt::ERR_INVALID_PARAMETER_NULL;
    // Each value is stored as soon as its pair is read: a failing register leaves the values before
    // it in place.
    for (std::size_t k = 0; k < std::size(timePairs); ++k) {
        std::uint16_t first = 0;
        std::uint16_t second = 0;
        ResultCode result = readBatteryRegister(timePairs[k][0], &first);
        if (result == Varnholt::ERR_SUCCESS)
            result = readBatteryRegister(timePairs[k][1], &second);
        if (result != Varnholt::ERR_SUCCESS)
            return result;
        record->values[k] = std::uint32_t{first} * 60u + second;
    }
    return Varnholt::ERR_SUCCESS;
}

ResultCode Battery_Imp::getTemperatures(short* first, short* second)
{
    if (const ResultCode absent = presence(); absent != Varnholt::ERR_SUCCESS)
        return absent;
    if (first == nullptr || second == nullptr)
        return Varnholt::ERR_INVALID_PARAMETER_NULL;
    std::uint16_t raw24 = 0;
    std::uint16_t raw25 = 0;
    ResultCode result = readBatteryRegister(24, &raw24);
    if (result == Varnholt::ERR_SUCCESS)
        result = readBatteryRegister(25, &raw25);
    if (result != Varnholt::ERR_SUCCESS)
        return result;
    *first = static_cast<short>(raw24 - batteryTemperatureOffset);
    *second = static_cast<short>(raw25 - batteryTemperatureOffset);
    return Varnholt::ERR_SUCCESS;
}

ResultCode Battery_Imp::getVersionText(char* buffer, int bufferSize)
{
    if (const ResultCode absent = presence(); absent != Varnholt::ERR_SUCCESS)
        return absent;
    std::uint16_t word = 0;
    const ResultCode result = readBatteryRegister(6, &word);
    if (result != Varnholt::ERR_SUCCESS)
        return result;
    // Major in the high byte, minor in the low byte: at most "255.255".
    char text[8];
    const int length = std::snprintf(text, sizeof text, "%d.%d", word / 256, word % 256);
    // The text and its NUL must fit; a size of zero or below never does.
    if (bufferSize <= length)
        return Varnholt::ERR_BUFFER_SIZE_ERROR;
    if (buffer == nullptr)
        return Varnholt::ERR_INVALID_PARAMETER_NULL;
    std::memcpy(buffer, text, static_cast<std::size_t>(length) + 1);
    return Varnholt::ERR_SUCCESS;
}

ResultCode Battery_Imp::getRegisters7To10(unsigned short* register7, unsigned short* register8,
                                          unsigned short* register9, unsigned short* register10)
{
    if (const ResultCode absent = presence(); absent != Varnholt::ERR_SUCCESS)
        return absent;
    // Straight into the outputs: a failure leaves the registers read before it in place, and a null
    // output fails its register's read.
    unsigned short* outputs[] = {register7, register8, register9, register10};
    for (std::uint16_t k = 0; k < 4; ++k) {
        const ResultCode result = readBatteryRegister(static_cast<std::uint16_t>(7 + k), outputs[k]);
        if (result != Varnholt::ERR_SUCCESS)
            return result;
    }
    return Varnholt::ERR_SUCCESS;
}

ResultCode Battery_Imp::getIdentText(char* buffer, int bufferSize)
{
    if (const ResultCode absent = presence(); absent != Varnholt::ERR_SUCCESS)
        return absent;
    if (bufferSize < batteryIdentTextSize)
        return Varnholt::ERR_BUFFER_SIZE_ERROR;
    if (buffer == nullptr)
        return Varnholt::ERR_INVALID_PARAMETER_NULL;
    char text[batteryIdentTextSize] = {};
    for (int k = 0; k < identRegisters; ++k) {
        std::uint16_t pair = 0;
        const ResultCode result =
            readBatteryRegister(static_cast<std::uint16_t>(firstIdentRegister + k), &pair);
        if (result != Varnholt::ERR_SUCCESS)
            return result;
        text[2 * k] = static_cast<char>(pair >> 8);
        text[2 * k + 1] = static_cast<char>(pair & 0xFFu);
    }
    // Copied as a text: it ends at the first zero byte (text[10] stays zero).
    std::memcpy(buffer, text, std::strlen(text) + 1);
    return Varnholt::ERR_SUCCESS;
}

} // namespace pelmux
