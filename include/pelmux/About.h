/// \file
/// Unit identity: serial and article numbers, revisions, manufacturing dates and fitted features, read from
/// the identity EEPROMs of the unit and of its expansion board.
#pragma once

#include <pelmux/ResultCode.h>

namespace Varnholt {

/// The unit's identity: serial and article numbers, revisions, dates and what is fitted.
///
/// It is read once from the identity EEPROMs of the unit and of its expansion board (through the
/// board library) when GetAbout builds the object; a new object per call, later changes of the
/// EEPROMs show only in a new object. Every operation answers from that copy on the
/// caller's thread: it never blocks and starts no thread.
///
/// Text operations copy the value with its terminating NUL into `buffer`; `length` is the longest text the
/// buffer takes, not counting the NUL. Counts are the value's low 8 bits; flags are true for exactly 1.
/// Results: ERR_JIDA_EEPROM_ACCESS (18) when the EEPROM could not be read or holds no such entry;
/// ERR_BUFFER_SIZE_ERROR (6) when a text is longer than `length` (nothing is copied);
/// ERR_INVALID_PARAMETER_NULL (9) for a null output after those tests. Outputs are written only on
/// success.
struct About {
    /// The unit's board serial number ("PCB_SERIAL").
    virtual ResultCode getPcbSerial(char* buffer, int length) = 0; // 0
    /// The unit's serial number ("UNIT_SERIAL").
    virtual ResultCode getUnitSerial(char* buffer, int length) = 0; // 1
    /// The unit's board article number ("PCB_ART").
    virtual ResultCode getPcbArticle(char* buffer, int length) = 0; // 2
    /// The unit's manufacturing date as the EEPROM holds it ("DATE").
    virtual ResultCode getManufacturingDate(char* buffer, int length) = 0; // 3
    /// The unit's board revision: "PCB_REV", or "HWVERSION" in identities of layout 1 ("DATA" 1); 18 when
    /// "DATA" is missing or below 1.
    virtual ResultCode getPcbRevision(char* buffer, int length) = 0; // 4
    /// The product revision ("PROD_REV").
    virtual ResultCode getProductRevision(char* buffer, int length) = 0; // 5
    /// The product article number ("PROD_ART").
    virtual ResultCode getProductArticle(char* buffer, int length) = 0; // 6
    /// The number of Ethernet ports ("ETH").
    virtual ResultCode getEthernetCount(unsigned char* count) = 0; // 7
    /// The number of CAN channels ("CAN").
    virtual ResultCode getCanCount(unsigned char* count) = 0; // 8
    /// The number of video inputs ("VIDEO").
    virtual ResultCode getVideoCount(unsigned char* count) = 0; // 9
    /// The number of USB host ports ("USBHOST").
    virtual ResultCode getUsbHostCount(unsigned char* count) = 0; // 10
    /// The number of serial ports: "RS232", or "SERIAL" in identities of layout 1; with a "DATA" below 1
    /// that number itself.
    virtual ResultCode getSerialCount(unsigned char* count) = 0; // 11
    /// The expansion board's serial number ("PCB_SERIAL" of its EEPROM).
    virtual ResultCode getExpansionPcbSerial(char* buffer, int length) = 0; // 12
    /// The expansion board's article number.
    virtual ResultCode getExpansionPcbArticle(char* buffer, int length) = 0; // 13
    /// The expansion board's manufacturing date.
    virtual ResultCode getExpansionDate(char* buffer, int length) = 0; // 14
    /// The expansion board's revision.
    virtual ResultCode getExpansionPcbRevision(char* buffer, int length) = 0; // 15
    /// Whether the expansion board carries a WLAN module ("WLAN" is 1).
    virtual ResultCode hasWlan(bool* present) = 0; // 16
    /// Whether the expansion board carries a GPS module ("GPS" is 1).
    virtual ResultCode hasGps(bool* present) = 0; // 17
    /// Whether the expansion board carries a GSM/GPRS modem ("GSM" is 1).
    virtual ResultCode hasGsm(bool* present) = 0; // 18
    /// Whether the expansion board carries a Bluetooth module ("BLUETOOTH" is 1).
    virtual ResultCode hasBluetooth(bool* present) = 0; // 19
    /// Frees the object; the pointer must not be used afterwards. Not the last slot: callers reach
    /// the operations after it by their fixed slot numbers.
    virtual void release() = 0; // 20
    /// The number of digital inputs ("DIGIO").
    virtual ResultCode getDigitalIoCount(unsigned char* count) = 0; // 21
    /// Whether the unit has a display: its "DISPLAY" entry holds a lower-case x, as a resolution does.
    virtual ResultCode hasDisplay(bool* present) = 0; // 22
    /// Whether the unit has a touch screen ("TOUCH" is 1).
    virtual ResultCode hasTouchScreen(bool* present) = 0; // 23
};

} // namespace Varnholt
