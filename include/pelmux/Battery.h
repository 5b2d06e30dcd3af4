/// \file
/// The optional battery pack: charge level, states, temperatures, times and identification texts.
#pragma once

#include <pelmux/ResultCode.h>

#include <cstdint>

namespace Varnholt {

/// Nine time values of the battery. Each is formed from a pair of battery registers as first * 60 +
/// second, from the pairs (20, 22), (21, 23), (26, 27), (28, 29), (30, 31), (32, 33), (34, 35),
/// (36, 37), (38, 39) in that order.
struct BatteryTimeRecord {
    std::uint32_t values[9]; ///< the nine times, in the order of the pairs above
};
static_assert(sizeof(BatteryTimeRecord) == 36, "BatteryTimeRecord: nine 32-bit times");

/// The battery pack. GetBattery builds a new object per call; whether a battery is fitted is learnt
/// once, when the object is built (identity line "BATTERY:1" and supervisor firmware 1.3.0.0 or
/// newer). Every operation blocks for its driver requests (one per register) and starts no thread.
/// Every operation but getBatteryPresent answers ERR_NOT_SUPPORTED (2) when no battery was found,
/// before any request; a failed register request gives ERR_IOCTRL_OPERATION_FAILED (7) (also when the
/// driver could not be opened), a wrong returned count ERR_BUFFER_SIZE_ERROR (6). A null output gives
/// ERR_INVALID_PARAMETER_NULL (9) before any request (getRegisters7To10: 7 from that register's read).
/// Outputs are written only on success, except as noted.
struct Battery {
    /// 1 when the unit's identity says a battery is fitted, else 0. ERR_NEWER_SS_REQUIRED (25) when
    /// the supervisor is older than 1.3.0.0 (the battery then counts as absent for this object from
    /// now on); ERR_JIDA_EEPROM_ACCESS (18) when the identity has no readable "BATTERY" line.
    virtual ResultCode getBatteryPresent(unsigned char* present) = 0; // 0
    /// Charge in percent, 0 to 100 (register 2).
    virtual ResultCode getChargeLevel(unsigned char* percent) = 0; // 1
    /// 0 to 4, from the flags of register 4.
    virtual ResultCode getRegister4State(int* state) = 0; // 2
    /// 1 while bit 0 of register 4 is clear, else 0.
    virtual ResultCode getRegister4Flag(int* flag) = 0; // 3
    /// Register 3 as a signed number.
    virtual ResultCode getRegister3Value(short* value) = 0; // 4
    /// 0 to 5, from the flags of register 5.
    virtual ResultCode getRegister5State(int* state) = 0; // 5
    /// The nine time values (18 registers). On a failure the values before the failing register's
    /// pair stay filled.
    virtual ResultCode getTimeRecord(BatteryTimeRecord* record) = 0; // 6
    /// The two temperatures, degrees Celsius (registers 24 and 25).
    virtual ResultCode getTemperatures(short* first, short* second) = 0; // 7
    /// The version as "major.minor" (register 6). ERR_BUFFER_SIZE_ERROR (6) when the text and its NUL
    /// do not fit in bufferSize bytes (a size of 0 or below never fits); nothing is written then.
    virtual ResultCode getVersionText(char* buffer, int bufferSize) = 0; // 8
    /// Registers 7 to 10 as they are, read in that order; on a failure the ones read before stay.
    virtual ResultCode getRegisters7To10(unsigned short* register7, unsigned short* register8,
                                         unsigned short* register9, unsigned short* register10) = 0; // 9
    /// The ten-character ident text (registers 15 to 19) and its NUL, at most 11 bytes; it ends at its
    /// first zero byte. ERR_BUFFER_SIZE_ERROR (6) for a bufferSize of 10 or less, before any request.
    virtual ResultCode getIdentText(char* buffer, int bufferSize) = 0; // 10
    /// Closes the driver handle and frees the object.
    virtual void release() = 0; // 11
};

} // namespace Varnholt
