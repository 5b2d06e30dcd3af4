#include "frame/VendorCalls.h"

#include "frame/ExhaustedMemory.h"
#include "platform/Mutex.h"
#include "platform/Time.h"

#include <map>
#include <mutex>

namespace pelmux {

namespace {

// Bus type of the board's own I2C bus.
constexpr std::uint32_t primaryBus = 0;

// The board handles this process holds, by value, with the number of their live holders. The
// vendor library may hand out a new value per open or one value per board; in the second model a
// close ends the handle for every holder, so a value is closed only when its last holder lets go.
class LiveHandles {
public:
    // False when the count cannot be kept for lack of memory.
    bool hold(BoardHandle handle)
    {
        std::lock_guard lock(mutex_);
        return unlessMemoryExhausted(false, [&] {
            ++holders_[handle];
            return true;
        });
    }

    void letGo(BoardHandle handle)
    {
        {
            std::lock_guard lock(mutex_);
            const auto found = holders_.find(handle);
            if (found != holders_.end() && --found->second > 0)
                return;
            if (found != holders_.end())
                holders_.erase(found);
        }
        platform::boardClose(handle);
    }

private:
    platform::Mutex mutex_;
    std::map<BoardHandle, int> holders_;
};

LiveHandles& liveHandles()
{
    static LiveHandles handles;
    return handles;
}

// Opens a board into `handle` and counts it as held.
bool holdOpened(const wchar_t* className, std::uint32_t number, BoardHandle& handle)
{
    if (platform::boardOpen(className, number, 0, &handle) == 0)
        return false;
    // A handle whose holders cannot be counted is not kept: the open fails.
    if (!liveHandles().hold(handle)) {
        platform::boardClose(handle);
        return false;
    }
    return true;
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
    if (holdOpened(L"CPU", 0, cpu))
        closeBoard(cpu);

    for (std::uint32_t i = 0; i < count; ++i) {
        BoardHandle opened = 0;
        if (!holdOpened(nullptr, i, opened))
            return false;
        closeBoard(slot);
        slot = opened;
    }
    return true;
}

void closeBoard(BoardHandle& slot)
{
    if (slot != 0)
        liveHandles().letGo(slot);
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

bool readIdEepromPiece(BoardHandle handle, std::uint8_t address, std::uint32_t offset,
                       std::span<std::uint8_t, idEepromReadPiece> piece)
{
    const std::uint8_t where[2] = {static_cast<std::uint8_t>(offset >> 8),
                                   static_cast<std::uint8_t>(offset & 0xFF)};
    return platform::boardI2cWriteRead(handle, primaryBus, address, where, sizeof where, piece.data(),
                                       idEepromReadPiece) != 0;
}

bool readIdEeprom(BoardHandle handle, std::uint8_t address, std::uint8_t (&image)[idEepromSize])
{
    for (std::uint32_t offset = 0; offset < idEepromSize; offset += idEepromReadPiece) {
        if (!readIdEepromPiece(handle, address, offset,
                               std::span<std::uint8_t, idEepromReadPiece>(image + offset, idEepromReadPiece)))
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

bool readI2cRegister(BoardHandle handle, std::uint8_t address, std::uint16_t reg, std::uint8_t& value)
{
    std::uint8_t read = 0;
    if (platform::boardI2cReadRegister(handle, primaryBus, address, reg, &read) == 0)
        return false;
    value = read;
    return true;
}

bool writeI2cRegister(BoardHandle handle, std::uint8_t address, std::uint16_t reg, std::uint8_t value)
{
    return platform::boardI2cWriteRegister(handle, primaryBus, address, reg, value) != 0;
}

} // namespace pelmux
