#pragma once

#include "identity/IdentityRecord.h"

#include <pelmux/About.h>

namespace pelmux {

using Varnholt::ResultCode;

// Which identity records an About loads at construction.
struct IdentityRecords {
    bool unit = true;
    bool expansion = true;
};

// Answers the About questions from the two identity records, both loaded at construction, the unit's
// first. A record whose allocation failed behaves as an invalid one.
class About_Imp final : public Varnholt::About {
public:
    About_Imp();
    // Loads only the records named (a feature probe asks one EEPROM's fields); a record not loaded
    // behaves as an invalid one.
    explicit About_Imp(IdentityRecords loaded);

    ResultCode getPcbSerial(char* buffer, int length) override;
    ResultCode getUnitSerial(char* buffer, int length) override;
    ResultCode getPcbArticle(char* buffer, int length) override;
    ResultCode getManufacturingDate(char* buffer, int length) override;
    ResultCode getPcbRevision(char* buffer, int length) override;
    ResultCode getProductRevision(char* buffer, int length) override;
    ResultCode getProductArticle(char* buffer, int length) override;
    ResultCode getEthernetCount(unsigned char* count) override;
    ResultCode getCanCount(unsigned char* count) override;
    ResultCode getVideoCount(unsigned char* count) override;
    ResultCode getUsbHostCount(unsigned char* count) override;
    ResultCode getSerialCount(unsigned char* count) override;
    ResultCode getExpansionPcbSerial(char* buffer, int length) override;
    ResultCode getExpansionPcbArticle(char* buffer, int length) override;
    ResultCode getExpansionDate(char* buffer, int length) override;
    ResultCode getExpansionPcbRevision(char* buffer, int length) override;
    ResultCode hasWlan(bool* present) override;
    ResultCode hasGps(bool* present) override;
    ResultCode hasGsm(bool* present) override;
    ResultCode hasBluetooth(bool* present) override;
    void release() override;
    ResultCode getDigitalIoCount(unsigned char* count) override;
    ResultCode hasDisplay(bool* present) override;
    ResultCode hasTouchScreen(bool* present) override;

private:
    ~About_Imp();

    IdentityRecord* unitIdentity = nullptr;
    IdentityRecord* expansionIdentity = nullptr;
};

// The decimal reading of an identity value, as atoi reads it: optional leading blanks and a sign,
// then the digits up to the first non-digit; no digits give 0; values beyond 32 bits are clamped.
int identityNumber(std::string_view value);

} // namespace pelmux
