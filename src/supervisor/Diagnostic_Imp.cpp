#include "supervisor/Diagnostic_Imp.h"

#include "frame/LittleEndian.h"

#include <cstring>

namespace pelmux {

SharedInstance<Diagnostic_Imp>& diagnosticInstance()
{
    static SharedInstance<Diagnostic_Imp> instance;
    return instance;
}

void Diagnostic_Imp::release()
{
    diagnosticInstance().release();
}

ResultCode Diagnostic_Imp::readWord(std::uint32_t code, unsigned short* value)
{
    std::lock_guard lock(mutex_);
    if (!link_.reopenIfClosed())
        return Varnholt::ERR_OPEN_FAILED;
    if (value == nullptr)
        return Varnholt::ERR_INVALID_PARAMETER_NULL;
    std::uint8_t answer[2] = {};
    const ResultCode result = issue(link_, code, nullptr, 0, answer, sizeof answer, Count::Output);
    if (result != Varnholt::ERR_SUCCESS)
        return result;
    *value = wordAt(answer);
    return Varnholt::ERR_SUCCESS;
}

ResultCode Diagnostic_Imp::getWord1(unsigned short* value)
{
    return readWord(diagnosticWord1Request, value);
}

ResultCode Diagnostic_Imp::getWord2(unsigned short* value)
{
    return readWord(diagnosticWord2Request, value);
}

ResultCode Diagnostic_Imp::getWord3(unsigned short* value)
{
    return readWord(diagnosticWord3Request, value);
}

ResultCode Diagnostic_Imp::getWord4(unsigned short* value)
{
    return readWord(diagnosticWord4Request, value);
}

ResultCode Diagnostic_Imp::getWord5(unsigned short* value)
{
    return readWord(diagnosticWord5Request, value);
}

ResultCode Diagnostic_Imp::getWord6(unsigned short* value)
{
    return readWord(diagnosticWord6Request, value);
}

ResultCode Diagnostic_Imp::getRecord(unsigned char* record)
{
    std::lock_guard lock(mutex_);
    if (!link_.reopenIfClosed())
        return Varnholt::ERR_OPEN_FAILED;
    if (record == nullptr)
        return Varnholt::ERR_INVALID_PARAMETER_NULL;
    std::uint8_t answer[Varnholt::diagnosticRecordSize] = {};
    const ResultCode result =
        issue(link_, diagnosticRecordRequest, nullptr, 0, answer, sizeof answer, Count::Output);
    if (result != Varnholt::ERR_SUCCESS)
        return result;
    std::memcpy(record, answer, sizeof answer);
    return Varnholt::ERR_SUCCESS;
}

ResultCode Diagnostic_Imp::getWordPair(unsigned short* first, unsigned short* second)
{
    std::lock_guard lock(mutex_);
    if (!link_.reopenIfClosed())
        return Varnholt::ERR_OPEN_FAILED;
    if (first == nullptr || second == nullptr)
        return Varnholt::ERR_INVALID_PARAMETER_NULL;
    std::uint8_t answer[4] = {};
    const ResultCode result =
        issue(link_, diagnosticWordPairRequest, nullptr, 0, answer, sizeof answer, Count::Output);
    if (result != Varnholt::ERR_SUCCESS)
        return result;
    // The answer's second word goes to `first`, its first word to `second`.
    *first = wordAt(answer + 2);
    *second = wordAt(answer);
    return Varnholt::ERR_SUCCESS;
}

ResultCode Diagnostic_Imp::sendCommand()
{
    std::lock_guard lock(mutex_);
    if (!link_.reopenIfClosed())
        return Varnholt::ERR_OPEN_FAILED;
    // Only the success of the request counts; its returned count is not judged.
    return issue(link_, diagnosticCommandRequest, nullptr, 0, nullptr, 0, Count::Unchecked);
}

ResultCode Diagnostic_Imp::getTemperature(unsigned char sensorIndex, short* temperature, int* sensorType)
{
    if (temperature == nullptr || sensorType == nullptr)
        return Varnholt::ERR_INVALID_PARAMETER_NULL;
    std::lock_guard lock(mutex_);
    TemperatureReading reading;
    const bool read = openBoard(boardHandle_) && readTemperatureSensor(boardHandle_, sensorIndex, reading);
    // The boards are opened anew by every call; what this call opened is closed again.
    closeBoard(boardHandle_);
    if (!read || (reading.status != 1 && reading.status != 2))
        return Varnholt::ERR_JIDA_TEMPERATURE_READ;
    *sensorType = static_cast<int>(reading.type);
    *temperature = static_cast<short>(reading.thousandths / 1000);
    return Varnholt::ERR_SUCCESS;
}

} // namespace pelmux
