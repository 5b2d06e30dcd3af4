// The seam to the board vendor's library "Jida.dll": its 13 calls, by the names the library gives
// them, with the arguments of the vendor's interface. The win32/ implementation loads the DLL at
// run time and calls each entry by ordinal; the posix/ one sends each call as a VENDOR frame on the
// "board-library" endpoint of the board socket. A library or entry that cannot be reached makes the
// call answer 0 (failure, or a count of 0) and leaves its outputs untouched.
#pragma once

#include <cstdint>

namespace pelmux::platform {

// A board handle of the vendor library. 0 is never a handle the library hands out.
using BoardHandle = std::uint32_t;

// The vendor's sensor description: eleven 32-bit words. The caller sets `size` to 44 before the
// call; the library reads only `type` from it.
struct BoardTempInfo {
    std::uint32_t size;
    std::uint32_t type;
    std::uint32_t rest[9];
};
static_assert(sizeof(BoardTempInfo) == 44);

// Ordinals of the calls in Jida.dll.
namespace vendorOrdinal {
inline constexpr std::uint16_t boardLibInit = 3;
inline constexpr std::uint16_t boardLibSetup = 40;
inline constexpr std::uint16_t boardLibExit = 4;
inline constexpr std::uint16_t boardCount = 55;
inline constexpr std::uint16_t boardOpen = 56;
inline constexpr std::uint16_t boardClose = 9;
inline constexpr std::uint16_t boardI2cReadRegister = 33;
inline constexpr std::uint16_t boardI2cWriteRegister = 34;
inline constexpr std::uint16_t boardI2cWrite = 32;
inline constexpr std::uint16_t boardI2cWriteRead = 69;
inline constexpr std::uint16_t boardTempCount = 79;
inline constexpr std::uint16_t boardTempCurrent = 81;
inline constexpr std::uint16_t boardTempInfo = 80;
} // namespace vendorOrdinal

// Non-zero: the library is ready.
std::uint32_t boardLibInit();
// Installs the library's driver; flag is always 1. Non-zero: success.
std::uint32_t boardLibSetup(std::uint32_t flag);
// Ends one use of the library; the result carries no meaning.
std::uint32_t boardLibExit();
// Number of boards of a class (null: every class).
std::uint32_t boardCount(const char* className, std::uint32_t flags);
// Opens board `number` of a class (null: any class) into `handle`. Non-zero: opened.
std::uint32_t boardOpen(const wchar_t* className, std::uint32_t number, std::uint32_t flags,
                        BoardHandle* handle);
// Closes a board handle; the result carries no meaning.
std::uint32_t boardClose(BoardHandle handle);
// One register of an I2C device: `address` is the device's address byte. Non-zero: success.
std::uint32_t boardI2cReadRegister(BoardHandle handle, std::uint32_t busType, std::uint8_t address,
                                   std::uint16_t reg, std::uint8_t* value);
std::uint32_t boardI2cWriteRegister(BoardHandle handle, std::uint32_t busType, std::uint8_t address,
                                    std::uint16_t reg, std::uint8_t value);
// One I2C write transfer of `length` bytes. Non-zero: success.
std::uint32_t boardI2cWrite(BoardHandle handle, std::uint32_t busType, std::uint8_t address,
                            const std::uint8_t* data, std::uint32_t length);
// A write transfer followed by a read transfer of `readLength` bytes. Non-zero: success.
std::uint32_t boardI2cWriteRead(BoardHandle handle, std::uint32_t busType, std::uint8_t address,
                                const std::uint8_t* writeData, std::uint32_t writeLength,
                                std::uint8_t* readData, std::uint32_t readLength);
// Number of temperature sensors of the board.
std::uint32_t boardTempCount(BoardHandle handle);
// Current reading of a sensor in thousandths of a degree Celsius, and its status. Exactly 1: success.
std::uint32_t boardTempCurrent(BoardHandle handle, std::uint32_t index, std::int32_t* value,
                               std::uint32_t* status);
// Description of a sensor. Exactly 1: success.
std::uint32_t boardTempInfo(BoardHandle handle, std::uint32_t index, BoardTempInfo* info);

} // namespace pelmux::platform
