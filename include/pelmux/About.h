// Unit identity: serial and article numbers, revisions, manufacturing dates and fitted features, read from
// the identity EEPROMs of the unit and of its expansion board.
#pragma once

#include <pelmux/ResultCode.h>

namespace Varnholt {

// Text operations copy the value with its terminating NUL into `buffer`; `length` is the longest text the
// buffer takes, not counting the NUL. Counts are the value's low 8 bits; flags are true for exactly 1.
struct About {
    virtual ResultCode getPcbSerial(char* buffer, int length) = 0;            // 0
    virtual ResultCode getUnitSerial(char* buffer, int length) = 0;           // 1
    virtual ResultCode getPcbArticle(char* buffer, int length) = 0;           // 2
    virtual ResultCode getManufacturingDate(char* buffer, int length) = 0;    // 3
    virtual ResultCode getPcbRevision(char* buffer, int length) = 0;          // 4
    virtual ResultCode getProductRevision(char* buffer, int length) = 0;      // 5
    virtual ResultCode getProductArticle(char* buffer, int length) = 0;       // 6
    virtual ResultCode getEthernetCount(unsigned char* count) = 0;            // 7
    virtual ResultCode getCanCount(unsigned char* count) = 0;                 // 8
    virtual ResultCode getVideoCount(unsigned char* count) = 0;               // 9
    virtual ResultCode getUsbHostCount(unsigned char* count) = 0;             // 10
    virtual ResultCode getSerialCount(unsigned char* count) = 0;              // 11
    virtual ResultCode getExpansionPcbSerial(char* buffer, int length) = 0;   // 12
    virtual ResultCode getExpansionPcbArticle(char* buffer, int length) = 0;  // 13
    virtual ResultCode getExpansionDate(char* buffer, int length) = 0;        // 14
    virtual ResultCode getExpansionPcbRevision(char* buffer, int length) = 0; // 15
    virtual ResultCode hasWlan(bool* present) = 0;                            // 16
    virtual ResultCode hasGps(bool* present) = 0;                             // 17
    virtual ResultCode hasGsm(bool* present) = 0;                             // 18
    virtual ResultCode hasBluetooth(bool* present) = 0;                       // 19
    // Not the last slot: callers reach the operations after it by their fixed slot numbers.
    virtual void release() = 0;                                     // 20
    virtual ResultCode getDigitalIoCount(unsigned char* count) = 0; // 21
    virtual ResultCode hasDisplay(bool* present) = 0;               // 22
    virtual ResultCode hasTouchScreen(bool* present) = 0;           // 23
};

} // namespace Varnholt
