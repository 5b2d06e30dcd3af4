/// \file
/// Health records of the system supervisor and the board's temperature sensors.
#pragma once

#include <pelmux/ResultCode.h>

namespace Varnholt {

/// Size in bytes of the buffer that getRecord fills; its layout is the supervisor's.
constexpr int diagnosticRecordSize = 28;

/// What the supervisor records about the unit's health, passed on as the supervisor gives it, and
/// the board's temperature sensors. The process's single Diagnostic object: GetDiagnostic returns
/// the same object and counts one more reference, given back with release. Every operation runs on
/// the caller's thread, blocks for one driver request (getTemperature: for the board library) and
/// starts no thread; calls from several threads run one at a time.
///
/// The driver operations open the board driver when it is not open yet, at every call until it
/// opens: ERR_OPEN_FAILED (1) while it cannot be opened. Then ERR_INVALID_PARAMETER_NULL (9) for a
/// null output, ERR_IOCTRL_OPERATION_FAILED (7) when the request fails, ERR_BUFFER_SIZE_ERROR (6)
/// for a wrong byte count. Outputs are written only on success. The hardware error status and
/// start-up reason codes in these records have texts: GetHwErrorStatusStringA,
/// GetStartupReasonStringA.
struct Diagnostic {
    /// The supervisor's first 16-bit reading.
    virtual ResultCode getWord1(unsigned short* value) = 0; // 0
    /// The supervisor's second 16-bit reading.
    virtual ResultCode getWord2(unsigned short* value) = 0; // 1
    /// The temperature of board sensor `sensorIndex` and the sensor's type word. The temperature is
    /// in whole degrees Celsius (rounded toward zero), read through the board library (no driver).
    /// 9 for a null output; ERR_JIDA_TEMPERATURE_READ (19) when the board library is missing or
    /// cannot be set up, there is no such sensor, or the sensor reports no valid reading.
    virtual ResultCode getTemperature(unsigned char sensorIndex, short* temperature,
                                      int* sensorType) = 0; // 2
    /// The supervisor's third 16-bit reading.
    virtual ResultCode getWord3(unsigned short* value) = 0; // 3
    /// The supervisor's fourth 16-bit reading.
    virtual ResultCode getWord4(unsigned short* value) = 0; // 4
    /// The supervisor's fifth 16-bit reading.
    virtual ResultCode getWord5(unsigned short* value) = 0; // 5
    /// Copies the supervisor's record, diagnosticRecordSize (28) bytes, into `record`, which must
    /// hold that many.
    virtual ResultCode getRecord(unsigned char* record) = 0; // 6
    /// The supervisor's pair of 16-bit readings: the answer's second word in `first`, its first
    /// word in `second`.
    virtual ResultCode getWordPair(unsigned short* first, unsigned short* second) = 0; // 7
    /// The supervisor's sixth 16-bit reading.
    virtual ResultCode getWord6(unsigned short* value) = 0; // 8
    /// Sends the supervisor's diagnostic command; ERR_SUCCESS whenever the request succeeds (its
    /// byte count is not judged).
    virtual ResultCode sendCommand() = 0; // 9
    /// Gives one reference back; the last one closes the driver and frees the object, and the next
    /// GetDiagnostic builds a new one. The pointer must not be used afterwards.
    virtual void release() = 0; // 10
};

} // namespace Varnholt
