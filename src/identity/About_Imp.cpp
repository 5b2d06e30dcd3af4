#include "identity/About_Imp.h"

#include <climits>
#include <cstring>
#include <new>

namespace pelmux {

namespace {

// The record, or null when it is missing or invalid.
const IdentityRecord* usable(const IdentityRecord* record)
{
    return record != nullptr && record->valid() ? record : nullptr;
}

std::optional<std::string_view> lookUp(const IdentityRecord* record, const char* key)
{
    const IdentityRecord* r = usable(record);
    if (r == nullptr)
        return std::nullopt;
    return r->findValue(key);
}

// A text result: the value with its NUL when it fits in `length` characters. The null test comes
// after the length test, as getPcbSerial has always made it.
ResultCode copyText(std::optional<std::string_view> value, char* buffer, int length)
{
    if (!value)
        return Varnholt::ERR_JIDA_EEPROM_ACCESS;
    if (length < 0 || value->size() > static_cast<std::size_t>(length))
        return Varnholt::ERR_BUFFER_SIZE_ERROR;
    if (buffer == nullptr)
        return Varnholt::ERR_INVALID_PARAMETER_NULL;
    std::memcpy(buffer, value->data(), value->size());
    buffer[value->size()] = '\0';
    return Varnholt::ERR_SUCCESS;
}

ResultCode storeCount(int number, unsigned char* count)
{
    if (count == nullptr)
        return Varnholt::ERR_INVALID_PARAMETER_NULL;
    *count = static_cast<unsigned char>(static_cast<unsigned int>(number) & 0xFFu);
    return Varnholt::ERR_SUCCESS;
}

// A count result: the value's number, cut to its low 8 bits.
ResultCode copyCount(std::optional<std::string_view> value, unsigned char* count)
{
    if (!value)
        return Varnholt::ERR_JIDA_EEPROM_ACCESS;
    return storeCount(identityNumber(*value), count);
}

// A flag result: true when the value's number is exactly 1.
ResultCode copyFlag(std::optional<std::string_view> value, bool* present)
{
    if (!value)
        return Varnholt::ERR_JIDA_EEPROM_ACCESS;
    if (present == nullptr)
        return Varnholt::ERR_INVALID_PARAMETER_NULL;
    *present = identityNumber(*value) == 1;
    return Varnholt::ERR_SUCCESS;
}

// "DATA" selects the key names of the unit text: 1 the first layout, 2 or more the second.
std::optional<int> layout(const IdentityRecord* unit)
{
    const auto data = lookUp(unit, "DATA");
    if (!data)
        return std::nullopt;
    return identityNumber(*data);
}

IdentityRecord* loadedRecord(std::uint32_t deviceNumber)
{
    auto* record = new (std::nothrow) IdentityRecord(deviceNumber);
    if (record != nullptr)
        record->loadIdentity();
    return record;
}

} // namespace

int identityNumber(std::string_view value)
{
    std::size_t at = 0;
    while (at < value.size() && (value[at] == ' ' || (value[at] >= '\t' && value[at] <= '\r')))
        ++at;
    bool negative = false;
    if (at < value.size() && (value[at] == '+' || value[at] == '-')) {
        negative = value[at] == '-';
        ++at;
    }
    long long magnitude = 0;
    const long long limit = negative ? -static_cast<long long>(INT_MIN) : INT_MAX;
    for (; at < value.size() && value[at] >= '0' && value[at] <= '9'; ++at) {
        magnitude = magnitude * 10 + (value[at] - '0');
        if (magnitude > limit)
            magnitude = limit;
    }
    return static_cast<int>(negative ? -magnitude : magnitude);
}

About_Imp::About_Imp()
{
    unitIdentity = loadedRecord(1);
    expansionIdentity = loadedRecord(2);
}

About_Imp::~About_Imp()
{
    delete unitIdentity;
    delete expansionIdentity;
}

void About_Imp::release()
{
    delete this;
}

ResultCode About_Imp::getPcbSerial(char* buffer, int length)
{
    return copyText(lookUp(unitIdentity, "PCB_SERIAL"), buffer, length);
}

ResultCode About_Imp::getUnitSerial(char* buffer, int length)
{
    return copyText(lookUp(unitIdentity, "UNIT_SERIAL"), buffer, length);
}

ResultCode About_Imp::getPcbArticle(char* buffer, int length)
{
    return copyText(lookUp(unitIdentity, "PCB_ART"), buffer, length);
}

ResultCode About_Imp::getManufacturingDate(char* buffer, int length)
{
    return copyText(lookUp(unitIdentity, "DATE"), buffer, length);
}

ResultCode About_Imp::getPcbRevision(char* buffer, int length)
{
    const auto data = layout(unitIdentity);
    if (!data)
        return Varnholt::ERR_JIDA_EEPROM_ACCESS;
    if (*data >= 2)
        return copyText(lookUp(unitIdentity, "PCB_REV"), buffer, length);
    if (*data == 1)
        return copyText(lookUp(unitIdentity, "HWVERSION"), buffer, length);
    return Varnholt::ERR_JIDA_EEPROM_ACCESS;
}

ResultCode About_Imp::getProductRevision(char* buffer, int length)
{
    return copyText(lookUp(unitIdentity, "PROD_REV"), buffer, length);
}

ResultCode About_Imp::getProductArticle(char* buffer, int length)
{
    return copyText(lookUp(unitIdentity, "PROD_ART"), buffer, length);
}

ResultCode About_Imp::getEthernetCount(unsigned char* count)
{
    return copyCount(lookUp(unitIdentity, "ETH"), count);
}

ResultCode About_Imp::getCanCount(unsigned char* count)
{
    return copyCount(lookUp(unitIdentity, "CAN"), count);
}

ResultCode About_Imp::getVideoCount(unsigned char* count)
{
    return copyCount(lookUp(unitIdentity, "VIDEO"), count);
}

ResultCode About_Imp::getUsbHostCount(unsigned char* count)
{
    return copyCount(lookUp(unitIdentity, "USBHOST"), count);
}

ResultCode About_Imp::getSerialCount(unsigned char* count)
{
    const auto data = layout(unitIdentity);
    if (!data)
        return Varnholt::ERR_JIDA_EEPROM_ACCESS;
    if (*data >= 2)
        return copyCount(lookUp(unitIdentity, "RS232"), count);
    if (*data == 1)
        return copyCount(lookUp(unitIdentity, "SERIAL"), count);
    // Early layouts carry the serial-port count in "DATA" itself.
    return storeCount(*data, count);
}

ResultCode About_Imp::getExpansionPcbSerial(char* buffer, int length)
{
    return copyText(lookUp(expansionIdentity, "PCB_SERIAL"), buffer, length);
}

ResultCode About_Imp::getExpansionPcbArticle(char* buffer, int length)
{
    return copyText(lookUp(expansionIdentity, "PCB_ART"), buffer, length);
}

ResultCode About_Imp::getExpansionDate(char* buffer, int length)
{
    return copyText(lookUp(expansionIdentity, "DATE"), buffer, length);
}

ResultCode About_Imp::getExpansionPcbRevision(char* buffer, int length)
{
    return copyText(lookUp(expansionIdentity, "PCB_REV"), buffer, length);
}

ResultCode About_Imp::hasWlan(bool* present)
{
    return copyFlag(lookUp(expansionIdentity, "WLAN"), present);
}

ResultCode About_Imp::hasGps(bool* present)
{
    return copyFlag(lookUp(expansionIdentity, "GPS"), present);
}

ResultCode About_Imp::hasGsm(bool* present)
{
    return copyFlag(lookUp(expansionIdentity, "GSM"), present);
}

ResultCode About_Imp::hasBluetooth(bool* present)
{
    return copyFlag(lookUp(expansionIdentity, "BLUETOOTH"), present);
}

ResultCode About_Imp::getDigitalIoCount(unsigned char* count)
{
    return copyCount(lookUp(unitIdentity, "DIGIO"), count);
}

ResultCode About_Imp::hasDisplay(bool* present)
{
    const auto value = lookUp(unitIdentity, "DISPLAY");
    if (!value)
        return Varnholt::ERR_JIDA_EEPROM_ACCESS;
    if (present == nullptr)
        return Varnholt::ERR_INVALID_PARAMETER_NULL;
    *present = value->find('x') != std::string_view::npos;
    return Varnholt::ERR_SUCCESS;
}

ResultCode About_Imp::hasTouchScreen(bool* present)
{
    return copyFlag(lookUp(unitIdentity, "TOUCH"), present);
}

} // namespace pelmux
