#include "identity/About_Imp.h"

#include <climits>

namespace pelmux {

namespace {

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
    const auto data = lookUpIdentity(unit, "DATA");
    if (!data)
        return std::nullopt;
    return identityNumber(*data);
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

About_Imp::About_Imp() : About_Imp(IdentityRecords{}) {}

About_Imp::About_Imp(IdentityRecords loaded)
{
    if (loaded.unit)
        unitIdentity = loadedIdentityRecord(1);
    if (loaded.expansion)
        expansionIdentity = loadedIdentityRecord(2);
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
    return copyIdentityText(lookUpIdentity(unitIdentity, "PCB_SERIAL"), buffer, length);
}

ResultCode About_Imp::getUnitSerial(char* buffer, int length)
{
    return copyIdentityText(lookUpIdentity(unitIdentity, "UNIT_SERIAL"), buffer, length);
}

ResultCode About_Imp::getPcbArticle(char* buffer, int length)
{
    return copyIdentityText(lookUpIdentity(unitIdentity, "PCB_ART"), buffer, length);
}

ResultCode About_Imp::getManufacturingDate(char* buffer, int length)
{
    return copyIdentityText(lookUpIdentity(unitIdentity, "DATE"), buffer, length);
}

ResultCode About_Imp::getPcbRevision(char* buffer, int length)
{
    const auto data = layout(unitIdentity);
    if (!data)
        return Varnholt::ERR_JIDA_EEPROM_ACCESS;
    if (*data >= 2)
        return copyIdentityText(lookUpIdentity(unitIdentity, "PCB_REV"), buffer, length);
    if (*data == 1)
        return copyIdentityText(lookUpIdentity(unitIdentity, "HWVERSION"), buffer, length);
    return Varnholt::ERR_JIDA_EEPROM_ACCESS;
}

ResultCode About_Imp::getProductRevision(char* buffer, int length)
{
    return copyIdentityText(lookUpIdentity(unitIdentity, "PROD_REV"), buffer, length);
}

ResultCode About_Imp::getProductArticle(char* buffer, int length)
{
    return copyIdentityText(lookUpIdentity(unitIdentity, "PROD_ART"), buffer, length);
}

ResultCode About_Imp::getEthernetCount(unsigned char* count)
{
    return copyCount(lookUpIdentity(unitIdentity, "ETH"), count);
}

ResultCode About_Imp::getCanCount(unsigned char* count)
{
    return copyCount(lookUpIdentity(unitIdentity, "CAN"), count);
}

ResultCode About_Imp::getVideoCount(unsigned char* count)
{
    return copyCount(lookUpIdentity(unitIdentity, "VIDEO"), count);
}

ResultCode About_Imp::getUsbHostCount(unsigned char* count)
{
    return copyCount(lookUpIdentity(unitIdentity, "USBHOST"), count);
}

ResultCode About_Imp::getSerialCount(unsigned char* count)
{
    const auto data = layout(unitIdentity);
    if (!data)
        return Varnholt::ERR_JIDA_EEPROM_ACCESS;
    if (*data >= 2)
        return copyCount(lookUpIdentity(unitIdentity, "RS232"), count);
    if (*data == 1)
        return copyCount(lookUpIdentity(unitIdentity, "SERIAL"), count);
    // Early layouts carry the serial-port count in "DATA" itself.
    return storeCount(*data, count);
}

ResultCode About_Imp::getExpansionPcbSerial(char* buffer, int length)
{
    return copyIdentityText(lookUpIdentity(expansionIdentity, "PCB_SERIAL"), buffer, length);
}

ResultCode About_Imp::getExpansionPcbArticle(char* buffer, int length)
{
    return copyIdentityText(lookUpIdentity(expansionIdentity, "PCB_ART"), buffer, length);
}

ResultCode About_Imp::getExpansionDate(char* buffer, int length)
{
    return copyIdentityText(lookUpIdentity(expansionIdentity, "DATE"), buffer, length);
}

ResultCode About_Imp::getExpansionPcbRevision(char* buffer, int length)
{
    return copyIdentityText(lookUpIdentity(expansionIdentity, "PCB_REV"), buffer, length);
}

ResultCode About_Imp::hasWlan(bool* present)
{
    return copyFlag(lookUpIdentity(expansionIdentity, "WLAN"), present);
}

ResultCode About_Imp::hasGps(bool* present)
{
    return copyFlag(lookUpIdentity(expansionIdentity, "GPS"), present);
}

ResultCode About_Imp::hasGsm(bool* present)
{
    return copyFlag(lookUpIdentity(expansionIdentity, "GSM"), present);
}

ResultCode About_Imp::hasBluetooth(bool* present)
{
    return copyFlag(lookUpIdentity(expansionIdentity, "BLUETOOTH"), present);
}

ResultCode About_Imp::getDigitalIoCount(unsigned char* count)
{
    return copyCount(lookUpIdentity(unitIdentity, "DIGIO"), count);
}

ResultCode About_Imp::hasDisplay(bool* present)
{
    const auto value = lookUpIdentity(unitIdentity, "DISPLAY");
    if (!value)
        return Varnholt::ERR_JIDA_EEPROM_ACCESS;
    if (present == nullptr)
        return Varnholt::ERR_INVALID_PARAMETER_NULL;
    *present = value->find('x') != std::string_view::npos;
    return Varnholt::ERR_SUCCESS;
}

ResultCode About_Imp::hasTouchScreen(bool* present)
{
    return copyFlag(lookUpIdentity(unitIdentity, "TOUCH"), present);
}

} // namespace pelmux
