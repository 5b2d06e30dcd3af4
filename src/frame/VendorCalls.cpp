#include "frame/VendorCalls.h"

#include "platform/Time.h"

namespace pelmux {

namespace {

// Bus type of the board's own I2C bus.
constexpr std::uint32_t primaryBus = 0;

// Puts a freshly opened handle into the slot and closes the one it replaces.
void supersede(BoardHandle& slot, BoardHandle opened)
{
    if (slot != 0 && slot != opened)
        platform::boardClose(slot);
    slot = opened;
}

} // namespace

bool openBoard(BoardHandle& slot)
{
    if (platform::boardLibInit() == 0) {
        if (platform::boardLibSetup(1) == 0)
            return false;
        platform::boardLibInit();
    }
    const std::uint32_t count = platform::boardCount(nullptr, 0);
    // Whatever the slot held is superseded now: with no board to open it stays empty, and the
    // reads that follow fail instead of going to a board opened long ago.
    closeBoard(slot);

    BoardHandle cpu = 0;
    if (platform::boardOpen(L"CPU", 0, 0, &cpu) != 0)
        platform::boardClose(cpu);

    for (std::uint32_t i = 0; i < count; ++i) {
        BoardHandle opened = 0;
        if (platform::boardOpen(nullptr, i, 0, &opened) == 0)
            return false;
        supersede(slot, opened);
    }
    return true;
}

void closeBoard(BoardHandle& slot)
{
    if (slot != 0)
        platform::boardClose(slot);
    slot = 0;
}

bool readTemperatureSensor(BoardHandle handle, std::uint32_t index, TemperatureReading& reading)
{
    if (index >= platform::boardTempCount(handle))
        return false;
    std::int32_t value = 0;
    std::uint32_t status = 0;
    if (platform::boardTempCurrent(handle, index, &value, &status) != 1)
        return false;
    platform::BoardTempInfo info{};
    info.size = sizeof info;
    if (platform::boardTempInfo(handle, index, &info) != 1)
        return false;
    reading.thousandths = value;
    reading.status = status;
    reading.type = info.type;
    return true;
}

bool readIdEeprom(BoardHandle handle, std::uint8_t address, std::uint8_t (&image)[idEepromSize])
{
    for (std::uint32_t offset = 0; offset < idEepromSize; offset += idEepromReadPiece) {
        const std::uint8_t where[2] = {static_cast<std::uint8_t>(offset >> 8),
                                       static_cast<std::uint8_t>(offset & 0xFF)};
        if (platform::boardI2cWriteRead(handle, primaryBus, address, where, sizeof where, image + offset,
                                        idEepromReadPiece) == 0)
            return false;
    }
    return true;
}

bool writeIdEeprom(BoardHandle handle, std::uint8_t address, const std::uint8_t (&image)[idEepromSize])
{
    const auto writeAddress = static_cast<std::uint8_t>(address & 0xFE);
    for (std::uint32_t offset = 0; offset < idEepromSize; offset += idEepromPage) {
        std::uint8_t page[2 + idEepromPage];
        page[0] = static_cast<std::uint8_t>(offset >> 8);
        page[1] = static_cast<std::uint8_t>(offset & 0xFF);
        for (std::uint32_t i = 0; i < idEepromPage; ++i)
            page[2 + i] = image[offset + i];
        platform::sleepMs(idEepromPagePauseMs);
        if (platform::boardI2cWrite(handle, primaryBus, writeAddress, page, sizeof page) == 0)
            return false;
    }
    return true;
}

} // namespace pelmux
