// The STM32 system-memory bootloader of one micro-controller, as its USART answers: synchronisation
// on 0x7F, then commands of one byte and its complement, acknowledged with 0x79 or refused with
// 0x1F. The model is fed byte by byte and answers with timed emissions; the serial line
// (SerialLine.h) carries them over the pseudo-terminal and adds the line's own timing and faults.
#pragma once

#include "Wire.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace pelmux::sim {

inline constexpr std::uint8_t bootloaderAck = 0x79;
inline constexpr std::uint8_t bootloaderNack = 0x1F;
inline constexpr std::uint8_t bootloaderSync = 0x7F;
inline constexpr std::uint32_t flashBase = 0x08000000;
inline constexpr std::uint32_t ramBase = 0x20000000;
// The bootloader keeps its own variables in the first 512 bytes of RAM.
inline constexpr std::uint32_t ramReserved = 0x200;
inline constexpr std::uint32_t systemMemoryBase = 0x1FFFF000;
inline constexpr std::uint32_t optionBytesBase = 0x1FFFF800;
inline constexpr std::uint32_t optionBytesSize = 16;

// Device times of the flash interface (typical figures of the STM32F1 family).
inline constexpr double halfWordProgramSeconds = 52.5e-6;
inline constexpr double pageEraseSeconds = 0.020;
inline constexpr double massEraseSeconds = 0.040;

// What a micro-controller's profile entry ("bootloaders.supervisor") says about it.
struct BootloaderSpec {
    std::uint16_t productId = 0x414;
    std::uint32_t flashSize = 512 * 1024;
    std::uint32_t pageSize = 2048;
    std::uint32_t ramSize = 64 * 1024;
    std::uint8_t version = 0x22;
    // The command codes GET lists, in order; the model answers the ones it implements.
    Bytes commands{0x00, 0x01, 0x02, 0x11, 0x21, 0x31, 0x43, 0x63, 0x73, 0x82, 0x92};
    // The bytes GET ID sends after its count; by default the product identifier, high byte first.
    Bytes idBytes;
    std::uint8_t optionByte1 = 0;
    std::uint8_t optionByte2 = 0;

    // Reads a profile entry; missing keys keep the defaults above. Throws std::exception on a
    // value of the wrong type or out of range.
    static BootloaderSpec fromJson(const nlohmann::json& entry);
};

// Bytes the device sends after it has been busy for `delaySeconds` (counted from the end of the
// byte that caused them, or from the end of the previous emission of the same answer).
struct Emission {
    double delaySeconds = 0;
    Bytes bytes;
};

// Where the line decides its injected device faults; asked at each opportunity.
class BootloaderFaults {
public:
    virtual ~BootloaderFaults() = default;
    // A complete command arrived: true makes the device ignore it (no answer at all).
    virtual bool silence() = 0;
    // The device is about to acknowledge: true makes it refuse (0x1F) and drop the command.
    virtual bool nack() = 0;
};

class Bootloader {
public:
    explicit Bootloader(BootloaderSpec spec);

    // Takes a new profile entry and restarts; the flash keeps its contents (resized to the new
    // size, new bytes erased).
    void configure(const BootloaderSpec& spec);
    // A reset with the boot pins selecting system memory: the bootloader waits for 0x7F again.
    void restart();

    // One byte heard on the line; appends what the device sends in answer.
    void receive(std::uint8_t byte, std::vector<Emission>& out, BootloaderFaults& faults);

    enum class Phase { WaitingForSync, Ready, RunningApplication };
    Phase phase() const;
    const char* phaseName() const;

    const Bytes& flash() const { return flash_; }
    Bytes& flash() { return flash_; }
    const BootloaderSpec& spec() const { return spec_; }
    bool readoutProtected() const { return readoutProtected_; }
    // How many of each command the device accepted (by name: "get", "write", "erase", ...) and
    // how many it refused ("nack").
    const std::map<std::string, std::uint64_t>& counts() const { return counts_; }

private:
    enum class Step {
        Sync,
        Command,
        Complement,
        ReadAddress,
        ReadCount,
        WriteAddress,
        WriteCount,
        WriteData,
        EraseCount,
        EraseMassConfirm,
        ErasePages,
        GoAddress,
        ProtectCount,
        ProtectSectors,
        Halted,
    };

    bool implemented(std::uint8_t code) const;
    void startCommand(std::vector<Emission>& out, BootloaderFaults& faults);
    void collected(std::vector<Emission>& out, BootloaderFaults& faults);
    // Acknowledges after `delay`, or refuses when the line injects a NACK; false when refused.
    bool acknowledge(std::vector<Emission>& out, BootloaderFaults& faults, double delay = 0);
    void refuse(std::vector<Emission>& out);
    void expect(Step step, std::size_t count);
    // A count byte N was collected: N + 1 items and a checksum follow, N stays in front of them.
    void keepCount(Step step);
    // The bytes of the readable memory at [address, address + count), when all in one region.
    std::optional<Bytes> readable(std::uint32_t address, std::size_t count) const;
    // Programs [address, address + data) when it lies in flash or usable RAM; the device time.
    std::optional<double> program(std::uint32_t address, const Bytes& data);
    void eraseAll();

    BootloaderSpec spec_;
    Bytes flash_;
    Bytes ram_;
    bool readoutProtected_ = false;
    Step step_ = Step::Sync;
    std::uint8_t command_ = 0;
    Bytes collected_;
    std::size_t expected_ = 0;
    std::uint32_t address_ = 0;
    std::map<std::string, std::uint64_t> counts_;
};

// A short digest of flash contents (64-bit FNV-1a, 16 hex digits), the same for equal bytes.
std::string flashDigest(const Bytes& bytes);

} // namespace pelmux::sim
