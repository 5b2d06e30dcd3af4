#include "identity/PelmuxPrivate_Imp.h"

#include "frame/LittleEndian.h"
#include "frame/SettingsFile.h"
#include "identity/VersionGates.h"

#include <cstdio>
#include <string>

namespace pelmux {

namespace {

// Both register requests carry 4 bytes: the index, then the value (or two bytes that carry nothing).
constexpr std::uint32_t registerRecordSize = 4;

} // namespace

PelmuxPrivate_Imp::PelmuxPrivate_Imp()
{
    link_.open();
    unitIdentity_.reset(loadedIdentityRecord(1));
    expansionIdentity_.reset(loadedIdentityRecord(2));
}

void PelmuxPrivate_Imp::release()
{
    delete this;
}

IdentityRecord* PelmuxPrivate_Imp::record(unsigned char eeprom) const
{
    return eeprom != 0 ? expansionIdentity_.get() : unitIdentity_.get();
}

ResultCode PelmuxPrivate_Imp::getIdentityField(unsigned char eeprom, const char* name, char* buffer,
                                               std::int32_t length)
{
    if (name == nullptr)
        return Varnholt::ERR_INVALID_PARAMETER_NULL;
    return copyIdentityText(lookUpIdentity(record(eeprom), name), buffer, length);
}

ResultCode PelmuxPrivate_Imp::setIdentityField(unsigned char eeprom, const char* name, const char* value)
{
    if (name == nullptr || value == nullptr)
        return Varnholt::ERR_INVALID_PARAMETER_NULL;
    IdentityRecord* chosen = record(eeprom);
    if (chosen == nullptr || !chosen->replaceValue(name, value))
        return Varnholt::ERR_JIDA_EEPROM_ACCESS;
    return Varnholt::ERR_SUCCESS;
}

ResultCode PelmuxPrivate_Imp::readRegister(std::int32_t index, std::uint16_t* value)
{
    if (!link_.isOpen())
        return Varnholt::ERR_OPEN_FAILED;
    if (value == nullptr)
        return Varnholt::ERR_INVALID_PARAMETER_NULL;
    // The index travels sign-extended to 16 bits; the two bytes after it carry nothing.
    std::uint8_t input[registerRecordSize] = {};
    putWord(input, static_cast<std::uint16_t>(index));
    std::uint8_t answer[registerRecordSize] = {};
    const ResultCode result =
        queryRequest(link_, supervisorRegisterReadRequest, input, sizeof input, answer, sizeof answer);
    if (result != Varnholt::ERR_SUCCESS)
        return result;
    // The echo, unsigned, against the index as a number: a negative index never matches.
    if (static_cast<std::int32_t>(wordAt(answer)) != index)
        return Varnholt::ERR_DATATYPE_MISMATCH;
    *value = wordAt(answer + 2);
    return Varnholt::ERR_SUCCESS;
}

ResultCode PelmuxPrivate_Imp::writeRegister(std::int32_t index, std::uint16_t value)
{
    std::uint8_t input[registerRecordSize] = {};
    putWord(input, static_cast<std::uint16_t>(index));
    putWord(input + 2, value);
    return writeRequest(link_, supervisorRegisterWriteRequest, input, sizeof input);
}

ResultCode PelmuxPrivate_Imp::readSupervisorRegister(signed char index, std::uint16_t* value)
{
    // The range comes before the open test.
    if (index > lastByteRegister)
        return Varnholt::ERR_INVALID_DATA_RANGE;
    return readRegister(index, value);
}

ResultCode PelmuxPrivate_Imp::writeSupervisorRegister(signed char index, std::uint16_t value)
{
    if (index > lastByteRegister)
        return Varnholt::ERR_INVALID_DATA_RANGE;
    return writeRegister(index, value);
}

ResultCode PelmuxPrivate_Imp::readSupervisorRegisterExt(std::uint16_t index, std::uint16_t* value)
{
    // Supervisors before 1.3.0 know only the byte-indexed registers.
    if (!isSupervisorVersionAtLeast(1, 3, 0))
        return Varnholt::ERR_NEWER_SS_REQUIRED;
    if (index > lastExtendedRegister)
        return Varnholt::ERR_INVALID_DATA_RANGE;
    return readRegister(index, value);
}

ResultCode PelmuxPrivate_Imp::writeSupervisorRegisterExt(std::uint16_t index, std::uint16_t value)
{
    if (!isSupervisorVersionAtLeast(1, 3, 0))
        return Varnholt::ERR_NEWER_SS_REQUIRED;
    if (index > lastExtendedRegister)
        return Varnholt::ERR_INVALID_DATA_RANGE;
    return writeRegister(index, value);
}

ResultCode PelmuxPrivate_Imp::startBacklightController()
{
    return controller_.startThread();
}

ResultCode PelmuxPrivate_Imp::setSetting(const char* key, const char* value)
{
    if (key == nullptr || value == nullptr)
        return Varnholt::ERR_INVALID_PARAMETER_NULL;
    bool stored = false;
    if (const ResultCode written = writeSetting(key, value, &stored); written != Varnholt::ERR_SUCCESS)
        return written;
    // A key or value the file cannot hold, or a file that cannot be rewritten, is not reported as
    // written.
    return stored ? Varnholt::ERR_SUCCESS : Varnholt::ERR_EXECUTE_COMMAND_FAILED;
}

ResultCode PelmuxPrivate_Imp::getSetting(const char* key, char* buffer, std::int32_t bufferSize)
{
    if (key == nullptr)
        return Varnholt::ERR_INVALID_PARAMETER_NULL;
    std::string value;
    if (const ResultCode read = readSetting(key, value); read != Varnholt::ERR_SUCCESS)
        return read;
    // A missing key reads as an empty value.
    if (value.empty())
        return Varnholt::ERR_EXECUTE_COMMAND_FAILED;
    // The value and its NUL must fit; a size of zero or below never does.
    if (static_cast<std::int64_t>(value.size()) >= bufferSize)
        return Varnholt::ERR_BUFFER_SIZE_ERROR;
    if (buffer == nullptr)
        return Varnholt::ERR_INVALID_PARAMETER_NULL;
    std::snprintf(buffer, static_cast<std::size_t>(bufferSize), "%s", value.c_str());
    return Varnholt::ERR_SUCCESS;
}

ResultCode PelmuxPrivate_Imp::notSupported()
{
    return Varnholt::ERR_NOT_SUPPORTED;
}

} // namespace pelmux
