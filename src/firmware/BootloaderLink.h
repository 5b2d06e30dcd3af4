// What the flasher says to an STM32 system-memory bootloader on the serial line: the known
// devices, the connection (synchronisation, GET, GET VERSION, GET ID) and the memory commands
// (READ MEMORY, WRITE MEMORY, mass ERASE). Every command is its code followed by the code's
// complement, and every step the bootloader takes is acknowledged with 0x79.
#pragma once

#include "platform/SerialPort.h"

#include <cstdint>

namespace pelmux {

inline constexpr std::uint8_t bootloaderAck = 0x79;
inline constexpr std::uint8_t bootloaderSync = 0x7F;
inline constexpr std::uint8_t bootloaderGet = 0x00;
// The most bytes one READ MEMORY or WRITE MEMORY moves.
inline constexpr std::uint32_t bootloaderBlockBytes = 256;
// Command codes GET lists: the bootloader version byte and 11 codes.
inline constexpr std::uint32_t bootloaderCommandCount = 11;

// The two warnings a connection writes to standard error.
inline constexpr const char* getTooLongLine =
    "Seems this bootloader returns more then we understand in the GET command, we will skip the "
    "unknown bytes\n";
inline constexpr const char* productIdTooLongLine =
    "More then two bytes sent in the PID, unknown/unsupported device\n";

// A known micro-controller. Address ranges include their start and exclude their end; the
// flasher uses only the identifier and the flash range.
struct Stm32Device {
    std::uint16_t id;
    const char* name;
    std::uint32_t ramStart, ramEnd;
    std::uint32_t flashStart, flashEnd;
    std::uint16_t pagesPerSector;
    std::uint16_t pageSize;
    std::uint32_t optionBytesStart, optionBytesEnd;
    std::uint32_t systemMemoryStart, systemMemoryEnd;
};

// The known devices, ended by an entry whose fields are all zero.
extern const Stm32Device stm32Devices[7];

// The first entry with this identifier, or the terminating entry when none has it.
const Stm32Device& findStm32Device(std::uint16_t productId);

// One connection attempt to the bootloader on an open, configured port.
class BootloaderLink {
public:
    explicit BootloaderLink(platform::SerialPort& port) : port_(port) {}
    BootloaderLink(const BootloaderLink&) = delete;
    BootloaderLink& operator=(const BootloaderLink&) = delete;

    // withSync: first sends 0x7F up to 5 times until the bootloader answers 0x79. Then GET (the
    // command list), GET VERSION and GET ID, and looks the product identifier up. Answers whether
    // every step was acknowledged and the device answered as expected. A GET list longer than
    // 11 codes is read, the unknown codes dropped, with a warning on standard error; a list too
    // short to hold the commands used fails the connection. A product identifier of other than
    // two bytes fails it with a warning on standard error. Blocks up to the read time-out for
    // every byte expected.
    bool connect(bool withSync);

    // READ MEMORY: `count` bytes (1 to 256) at `address` (a multiple of 4) into `buffer`. Sends
    // nothing and answers false when the address or count is out of range or `buffer` is null.
    bool readMemory(std::uint32_t address, std::uint8_t* buffer, std::uint32_t count);

    // WRITE MEMORY: `count` bytes (1 to 256) at `address` (a multiple of 4), filled up to the next
    // multiple of 4 with 0xFF as the bootloader takes whole words only. Sends nothing and answers
    // false when the address or count is out of range or `data` is null.
    bool writeMemory(std::uint32_t address, const std::uint8_t* data, std::uint32_t count);

    // Mass erase of the whole flash.
    bool eraseAll();

    const Stm32Device& device() const { return *device_; }

    std::uint8_t bootloaderVersion = 0;
    std::uint8_t versionByte = 0;
    std::uint8_t optionByte1 = 0;
    std::uint8_t optionByte2 = 0;
    std::uint16_t productId = 0;
    // By position: [1] GET VERSION, [2] GET ID, [3] READ MEMORY, [5] WRITE MEMORY, [6] ERASE.
    std::uint8_t commands[bootloaderCommandCount] = {};

private:
    bool synchronise();
    bool get();
    bool getVersion();
    bool getId();

    // The line: every write goes out whole; a read of a block waits for every byte.
    bool send(const std::uint8_t* bytes, std::uint32_t count);
    bool receive(std::uint8_t* bytes, std::uint32_t count);
    // One byte; no byte within the time-out counts as a byte other than the acknowledgement.
    bool expectAck();
    // The code and its complement, acknowledged.
    bool sendCommand(std::uint8_t code);
    // Four address bytes, most significant first, and their XOR, acknowledged.
    bool sendAddress(std::uint32_t address);

    platform::SerialPort& port_;
    const Stm32Device* device_ = &stm32Devices[6];
};

} // namespace pelmux
