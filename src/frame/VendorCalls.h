// The routines built on the vendor board library: opening the boards, reading a temperature sensor
// and transferring the identity EEPROMs. Every user of the vendor library goes through these.
#pragma once

#include "platform/Vendor.h"

#include <cstddef>
#include <cstdint>
#include <span>

namespace pelmux {

using platform::BoardHandle;

// Initialises the library (installing its driver when it is not ready), counts the boards, opens and
// at once closes the "CPU" board, then opens boards 0 .. count-1 in turn into `slot`. Success
// leaves the last board's handle in `slot`. Unlike the vendor's habit of reopening into the same
// slot, every handle that a newer one replaces in `slot` (the one it held on entry included) is
// closed, so that a long-running process does not collect board handles.
//
// Every close here and in closeBoard counts holders: the process keeps the number of live holders
// of each handle value and calls boardClose only when the last one lets go, so that a library that
// hands out one value per board does not lose a handle another object still holds.
bool openBoard(BoardHandle& slot);

// Lets go of the handle in `slot`, when it holds one (closing it when no other holder of the value
// remains), and empties the slot.
void closeBoard(BoardHandle& slot);

// One reading of a temperature sensor.
struct TemperatureReading {
    std::int32_t thousandths = 0; // thousandths of a degree Celsius
    std::uint32_t status = 0;     // the library's status of the reading
    std::uint32_t type = 0;       // sensor type (word 1 of BoardTempInfo)
};

// Fails when `index` is not below the sensor count, or when the reading or the sensor's description
// does not answer exactly 1. `reading` is written only on success.
bool readTemperatureSensor(BoardHandle handle, std::uint32_t index, TemperatureReading& reading);

// Identity EEPROMs: address bytes and size.
inline constexpr std::uint8_t unitEepromAddress = 0xAE;
inline constexpr std::uint8_t expansionEepromAddress = 0xA4;
inline constexpr std::size_t idEepromSize = 4096;
inline constexpr std::uint32_t idEepromReadPiece = 128;
inline constexpr std::uint32_t idEepromPage = 32;
// Pause before each page write, in milliseconds.
inline constexpr std::uint32_t idEepromPagePauseMs = 10;

// Reads the 128 bytes at `offset` (a multiple of 128): a write of the 2-byte offset (most
// significant byte first) followed by a read. False when the transfer failed.
bool readIdEepromPiece(BoardHandle handle, std::uint8_t address, std::uint32_t offset,
                       std::span<std::uint8_t, idEepromReadPiece> piece);

// Reads the whole EEPROM piece by piece from offset 0 on (readIdEepromPiece). Stops at the first
// failure; `image` may then be partly filled.
bool readIdEeprom(BoardHandle handle, std::uint8_t address, std::uint8_t (&image)[idEepromSize]);

// Writes the whole EEPROM in 32-byte pages, each after a 10 ms pause and sent as one write of the
// 2-byte page offset (most significant byte first) and the 32 data bytes, to the address byte with
// bit 0 cleared. Stops at the first failure.
bool writeIdEeprom(BoardHandle handle, std::uint8_t address, const std::uint8_t (&image)[idEepromSize]);

// The board's I2C port expander: its address byte for register writes and for register reads.
inline constexpr std::uint8_t expanderWriteAddress = 0x40;
inline constexpr std::uint8_t expanderReadAddress = 0x41;

// One register byte of an I2C device on the board's own bus; `address` is the device's address byte
// for the direction. `value` is written only on success.
bool readI2cRegister(BoardHandle handle, std::uint8_t address, std::uint16_t reg, std::uint8_t& value);
bool writeI2cRegister(BoardHandle handle, std::uint8_t address, std::uint16_t reg, std::uint8_t value);

} // namespace pelmux
