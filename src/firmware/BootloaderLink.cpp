#include "firmware/BootloaderLink.h"

#include "frame/Trace.h"

#include <vector>

namespace pelmux {

// clang-format off
const Stm32Device stm32Devices[7] = {
    {0x412, "Low-density",       0x20000200, 0x20002800, 0x08000000, 0x08008000, 4, 1024,
     0x1FFFF800, 0x1FFFF80F, 0x1FFFF000, 0x1FFFF800},
    {0x410, "Medium-density",    0x20000200, 0x20005000, 0x08000000, 0x08020000, 4, 1024,
     0x1FFFF800, 0x1FFFF80F, 0x1FFFF000, 0x1FFFF800},
    {0x414, "High-density",      0x20000200, 0x20010000, 0x08000000, 0x08080000, 2, 2048,
     0x1FFFF800, 0x1FFFF80F, 0x1FFFF000, 0x1FFFF800},
    {0x418, "Connectivity line", 0x20000200, 0x20010000, 0x08000000, 0x08040000, 2, 2048,
     0x1FFFF800, 0x1FFFF80F, 0x1FFFB000, 0x1FFFF800},
    {0x420, "Medium-density VL", 0x20000200, 0x20002000, 0x08000000, 0x08020000, 4, 1024,
     0x1FFFF800, 0x1FFFF80F, 0x1FFFF000, 0x1FFFF800},
    {0x430, "XL-density",        0x20000800, 0x20018000, 0x08000000, 0x08100000, 2, 2048,
     0x1FFFF800, 0x1FFFF80F, 0x1FFFE000, 0x1FFFF800},
    {0, nullptr, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
};
// clang-format on

const Stm32Device& findStm32Device(std::uint16_t productId)
{
    const Stm32Device* entry = stm32Devices;
    while (entry->id != 0 && entry->id != productId)
        ++entry;
    return *entry;
}

namespace {

constexpr int syncAttempts = 5;
// Positions in the GET list of the commands the flasher sends.
constexpr int getVersionAt = 1;
constexpr int getIdAt = 2;
constexpr int readMemoryAt = 3;
constexpr int writeMemoryAt = 5;
constexpr int eraseAt = 6;
// A list must reach the last of them.
constexpr std::uint32_t fewestCommands = eraseAt + 1;

bool blockInRange(std::uint32_t address, std::uint32_t count)
{
    return address % 4 == 0 && count >= 1 && count <= bootloaderBlockBytes;
}

} // namespace

bool BootloaderLink::send(const std::uint8_t* bytes, std::uint32_t count)
{
    while (count > 0) {
        std::uint32_t written = 0;
        if (!port_.write(bytes, count, &written) || written == 0)
            return false;
        bytes += written;
        count -= written;
    }
    return true;
}

bool BootloaderLink::receive(std::uint8_t* bytes, std::uint32_t count)
{
    while (count > 0) {
        std::uint32_t got = 0;
        if (!port_.read(bytes, count, &got) || got == 0)
            return false;
        bytes += got;
        count -= got;
    }
    return true;
}

bool BootloaderLink::expectAck()
{
    std::uint8_t answer = 0;
    return receive(&answer, 1) && answer == bootloaderAck;
}

bool BootloaderLink::sendCommand(std::uint8_t code)
{
    const std::uint8_t bytes[2] = {code, static_cast<std::uint8_t>(~code)};
    return send(bytes, sizeof bytes) && expectAck();
}

bool BootloaderLink::sendAddress(std::uint32_t address)
{
    std::uint8_t bytes[5] = {static_cast<std::uint8_t>(address >> 24),
                             static_cast<std::uint8_t>(address >> 16),
                             static_cast<std::uint8_t>(address >> 8), static_cast<std::uint8_t>(address), 0};
    bytes[4] = bytes[0] ^ bytes[1] ^ bytes[2] ^ bytes[3];
    return send(bytes, sizeof bytes) && expectAck();
}

bool BootloaderLink::synchronise()
{
    for (int attempt = 0; attempt < syncAttempts; ++attempt) {
        if (send(&bootloaderSync, 1) && expectAck())
            return true;
    }
    return false;
}

bool BootloaderLink::get()
{
    std::uint8_t n = 0;
    if (!sendCommand(bootloaderGet) || !receive(&n, 1) || !receive(&bootloaderVersion, 1))
        return false;
    // n + 1 bytes follow: the version and n command codes.
    const std::uint32_t codes = n;
    if (codes > bootloaderCommandCount) {
        outputLine(OutputStream::Err, getTooLongLine);
        std::vector<std::uint8_t> unknown(codes - bootloaderCommandCount);
        if (!receive(commands, bootloaderCommandCount) ||
            !receive(unknown.data(), static_cast<std::uint32_t>(unknown.size())))
            return false;
    } else if (!receive(commands, codes)) {
        return false;
    }
    // Read whatever the count announced, so the line stays in step; a list that lacks a command
    // the flasher sends is not one it can work with.
    return expectAck() && codes >= fewestCommands;
}

bool BootloaderLink::getVersion()
{
    std::uint8_t bytes[3] = {};
    if (!sendCommand(commands[getVersionAt]) || !receive(bytes, sizeof bytes))
        return false;
    versionByte = bytes[0];
    optionByte1 = bytes[1];
    optionByte2 = bytes[2];
    return expectAck();
}

bool BootloaderLink::getId()
{
    std::uint8_t n = 0;
    if (!sendCommand(commands[getIdAt]) || !receive(&n, 1))
        return false;
    if (n + 1 != 2) {
        outputLine(OutputStream::Err, productIdTooLongLine);
        return false;
    }
    std::uint8_t id[2] = {};
    if (!receive(id, sizeof id))
        return false;
    productId = static_cast<std::uint16_t>((id[0] << 8) | id[1]);
    return expectAck();
}

bool BootloaderLink::connect(bool withSync)
{
    if (withSync && !synchronise())
        return false;
    if (!get() || !getVersion() || !getId())
        return false;
    device_ = &findStm32Device(productId);
    return true;
}

bool BootloaderLink::readMemory(std::uint32_t address, std::uint8_t* buffer, std::uint32_t count)
{
    if (!blockInRange(address, count) || buffer == nullptr)
        return false;
    const std::uint8_t last = static_cast<std::uint8_t>(count - 1);
    const std::uint8_t length[2] = {last, static_cast<std::uint8_t>(~last)};
    return sendCommand(commands[readMemoryAt]) && sendAddress(address) && send(length, sizeof length) &&
           expectAck() && receive(buffer, count);
}

bool BootloaderLink::writeMemory(std::uint32_t address, const std::uint8_t* data, std::uint32_t count)
{
    if (!blockInRange(address, count) || data == nullptr)
        return false;
    // N, the data, the fill and the checksum go out in one write: the bootloader times the
    // bytes of a command out, and one write keeps the line busy without gaps.
    const std::uint32_t fill = (4 - count % 4) % 4;
    const auto n = static_cast<std::uint8_t>(count + fill - 1);
    std::vector<std::uint8_t> frame;
    frame.reserve(count + fill + 2);
    frame.push_back(n);
    std::uint8_t checksum = n;
    for (std::uint32_t i = 0; i < count; ++i) {
        frame.push_back(data[i]);
        checksum ^= data[i];
    }
    for (std::uint32_t i = 0; i < fill; ++i) {
        frame.push_back(0xFF);
        checksum ^= 0xFF;
    }
    frame.push_back(checksum);
    return sendCommand(commands[writeMemoryAt]) && sendAddress(address) &&
           send(frame.data(), static_cast<std::uint32_t>(frame.size())) && expectAck();
}

bool BootloaderLink::eraseAll()
{
    const std::uint8_t massErase[2] = {0xFF, 0x00};
    return sendCommand(commands[eraseAt]) && send(massErase, sizeof massErase) && expectAck();
}

} // namespace pelmux
