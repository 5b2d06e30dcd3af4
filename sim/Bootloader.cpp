#include "Bootloader.h"

#include <algorithm>
#include <cstdio>
#include <stdexcept>

namespace pelmux::sim {

namespace {

// The codes of the commands the model carries out.
enum Code : std::uint8_t {
    Get = 0x00,
    GetVersion = 0x01,
    GetId = 0x02,
    ReadMemory = 0x11,
    Go = 0x21,
    WriteMemory = 0x31,
    Erase = 0x43,
    WriteProtect = 0x63,
    WriteUnprotect = 0x73,
    ReadoutProtect = 0x82,
    ReadoutUnprotect = 0x92,
};

const char* commandName(std::uint8_t code)
{
    switch (code) {
    case Get:
        return "get";
    case GetVersion:
        return "getVersion";
    case GetId:
        return "getId";
    case ReadMemory:
        return "read";
    case Go:
        return "go";
    case WriteMemory:
        return "write";
    case Erase:
        return "erase";
    case WriteProtect:
        return "writeProtect";
    case WriteUnprotect:
        return "writeUnprotect";
    case ReadoutProtect:
        return "readoutProtect";
    case ReadoutUnprotect:
        return "readoutUnprotect";
    default:
        return "unknown";
    }
}

std::uint8_t xorOf(const Bytes& bytes, std::size_t from, std::size_t to)
{
    std::uint8_t x = 0;
    for (std::size_t i = from; i < to; ++i)
        x ^= bytes[i];
    return x;
}

std::uint32_t bigEndian32(const Bytes& b)
{
    return (static_cast<std::uint32_t>(b[0]) << 24) | (static_cast<std::uint32_t>(b[1]) << 16) |
           (static_cast<std::uint32_t>(b[2]) << 8) | b[3];
}

// The option bytes of an unprotected STM32F1: RDP 0xA5 with its complement, every other byte 0xFF
// with its complement.
Bytes optionBytes(bool readoutProtected)
{
    Bytes b;
    for (std::uint32_t i = 0; i < optionBytesSize / 2; ++i) {
        const std::uint8_t value = i == 0 ? (readoutProtected ? 0x00 : 0xA5) : 0xFF;
        b.push_back(value);
        b.push_back(static_cast<std::uint8_t>(~value));
    }
    return b;
}

bool inside(std::uint64_t address, std::uint64_t count, std::uint64_t base, std::uint64_t size)
{
    return address >= base && address + count <= base + size;
}

} // namespace

BootloaderSpec BootloaderSpec::fromJson(const nlohmann::json& entry)
{
    BootloaderSpec spec;
    if (!entry.is_object())
        return spec;
    spec.productId = entry.value("productId", spec.productId);
    spec.flashSize = entry.value("flashSize", spec.flashSize);
    spec.pageSize = entry.value("pageSize", spec.pageSize);
    spec.ramSize = entry.value("ramSize", spec.ramSize);
    spec.version = entry.value("version", spec.version);
    spec.commands = entry.value("commands", spec.commands);
    spec.idBytes = entry.value("idBytes", spec.idBytes);
    const Bytes options = entry.value("optionBytes", Bytes{spec.optionByte1, spec.optionByte2});
    if (options.size() != 2)
        throw std::invalid_argument("optionBytes takes two bytes");
    spec.optionByte1 = options[0];
    spec.optionByte2 = options[1];
    // Sizes that no STM32 has would make the model allocate without limit or divide by zero.
    if (spec.flashSize == 0 || spec.flashSize > 16u * 1024u * 1024u || spec.pageSize == 0 ||
        spec.flashSize % spec.pageSize != 0 || spec.ramSize <= ramReserved ||
        spec.ramSize > 16u * 1024u * 1024u)
        throw std::invalid_argument("bootloader sizes out of range");
    if (spec.commands.empty() || spec.commands.size() > 255 || spec.idBytes.size() > 256)
        throw std::invalid_argument("bootloader lists out of range");
    return spec;
}

Bootloader::Bootloader(BootloaderSpec spec)
{
    configure(spec);
}

void Bootloader::configure(const BootloaderSpec& spec)
{
    spec_ = spec;
    if (spec_.idBytes.empty())
        spec_.idBytes = {static_cast<std::uint8_t>(spec_.productId >> 8),
                         static_cast<std::uint8_t>(spec_.productId)};
    flash_.resize(spec_.flashSize, 0xFF);
    ram_.assign(spec_.ramSize, 0);
    restart();
}

void Bootloader::restart()
{
    step_ = Step::Sync;
    collected_.clear();
    expected_ = 0;
}

Bootloader::Phase Bootloader::phase() const
{
    if (step_ == Step::Sync)
        return Phase::WaitingForSync;
    if (step_ == Step::Halted)
        return Phase::RunningApplication;
    return Phase::Ready;
}

const char* Bootloader::phaseName() const
{
    switch (phase()) {
    case Phase::WaitingForSync:
        return "waiting for sync";
    case Phase::Ready:
        return "ready";
    case Phase::RunningApplication:
        return "running application";
    }
    return "";
}

bool Bootloader::implemented(std::uint8_t code) const
{
    if (std::find(spec_.commands.begin(), spec_.commands.end(), code) == spec_.commands.end())
        return false;
    return std::string(commandName(code)) != "unknown";
}

void Bootloader::expect(Step step, std::size_t count)
{
    step_ = step;
    expected_ = count;
    collected_.clear();
}

void Bootloader::keepCount(Step step)
{
    const std::uint8_t n = collected_.at(0);
    expect(step, std::size_t{n} + 3);
    collected_.push_back(n);
}

void Bootloader::refuse(std::vector<Emission>& out)
{
    out.push_back({0, {bootloaderNack}});
    ++counts_["nack"];
    expect(Step::Command, 1);
}

bool Bootloader::acknowledge(std::vector<Emission>& out, BootloaderFaults& faults, double delay)
{
    if (faults.nack()) {
        out.push_back({delay, {bootloaderNack}});
        ++counts_["nack"];
        expect(Step::Command, 1);
        return false;
    }
    out.push_back({delay, {bootloaderAck}});
    return true;
}

void Bootloader::receive(std::uint8_t byte, std::vector<Emission>& out, BootloaderFaults& faults)
{
    switch (step_) {
    case Step::Halted:
        return;
    case Step::Sync:
        // Until the baud rate is detected on 0x7F, every other byte is noise.
        if (byte == bootloaderSync) {
            ++counts_["sync"];
            // A refused synchronisation leaves the device waiting for the next 0x7F.
            if (faults.nack()) {
                out.push_back({0, {bootloaderNack}});
                ++counts_["nack"];
                return;
            }
            out.push_back({0, {bootloaderAck}});
            expect(Step::Command, 1);
        }
        return;
    case Step::Command:
        command_ = byte;
        step_ = Step::Complement;
        return;
    case Step::Complement:
        if (byte != static_cast<std::uint8_t>(command_ ^ 0xFF) || !implemented(command_)) {
            refuse(out);
            return;
        }
        if (faults.silence()) {
            expect(Step::Command, 1);
            return;
        }
        startCommand(out, faults);
        return;
    default:
        collected_.push_back(byte);
        if (collected_.size() == expected_)
            collected(out, faults);
        return;
    }
}

void Bootloader::startCommand(std::vector<Emission>& out, BootloaderFaults& faults)
{
    ++counts_[commandName(command_)];
    // A protected device refuses every access to its memory at once.
    const bool memoryAccess =
        command_ == ReadMemory || command_ == WriteMemory || command_ == Go || command_ == Erase;
    if (readoutProtected_ && memoryAccess) {
        refuse(out);
        return;
    }
    if (!acknowledge(out, faults))
        return;
    switch (command_) {
    case Get: {
        Bytes reply{static_cast<std::uint8_t>(spec_.commands.size()), spec_.version};
        reply.insert(reply.end(), spec_.commands.begin(), spec_.commands.end());
        out.push_back({0, reply});
        if (acknowledge(out, faults))
            expect(Step::Command, 1);
        return;
    }
    case GetVersion:
        out.push_back({0, {spec_.version, spec_.optionByte1, spec_.optionByte2}});
        if (acknowledge(out, faults))
            expect(Step::Command, 1);
        return;
    case GetId: {
        Bytes reply{static_cast<std::uint8_t>(spec_.idBytes.size() - 1)};
        reply.insert(reply.end(), spec_.idBytes.begin(), spec_.idBytes.end());
        out.push_back({0, reply});
        if (acknowledge(out, faults))
            expect(Step::Command, 1);
        return;
    }
    case ReadMemory:
        expect(Step::ReadAddress, 5);
        return;
    case WriteMemory:
        expect(Step::WriteAddress, 5);
        return;
    case Go:
        expect(Step::GoAddress, 5);
        return;
    case Erase:
        expect(Step::EraseCount, 1);
        return;
    case WriteProtect:
        expect(Step::ProtectCount, 1);
        return;
    case WriteUnprotect:
        // The device acknowledges twice and resets: the host synchronises again.
        if (acknowledge(out, faults))
            restart();
        return;
    case ReadoutProtect:
        readoutProtected_ = true;
        if (acknowledge(out, faults))
            restart();
        return;
    case ReadoutUnprotect:
        // Lifting the protection erases the whole flash first.
        eraseAll();
        readoutProtected_ = false;
        if (acknowledge(out, faults, massEraseSeconds))
            restart();
        return;
    default:
        refuse(out);
        return;
    }
}

void Bootloader::collected(std::vector<Emission>& out, BootloaderFaults& faults)
{
    const Bytes& b = collected_;
    switch (step_) {
    case Step::ReadAddress:
    case Step::WriteAddress:
    case Step::GoAddress: {
        if (xorOf(b, 0, 4) != b[4]) {
            refuse(out);
            return;
        }
        address_ = bigEndian32(b);
        const bool valid = step_ == Step::ReadAddress
                               ? readable(address_, 1).has_value()
                               : inside(address_, 1, flashBase, spec_.flashSize) ||
                                     inside(address_, 1, ramBase + ramReserved, spec_.ramSize - ramReserved);
        if (!valid) {
            refuse(out);
            return;
        }
        const Step next = step_;
        if (!acknowledge(out, faults))
            return;
        if (next == Step::ReadAddress)
            expect(Step::ReadCount, 2);
        else if (next == Step::WriteAddress)
            expect(Step::WriteCount, 1);
        else
            step_ = Step::Halted; // jumps to the application: the bootloader is gone
        return;
    }
    case Step::ReadCount: {
        if (static_cast<std::uint8_t>(b[0] ^ 0xFF) != b[1]) {
            refuse(out);
            return;
        }
        const auto data = readable(address_, std::size_t{b[0]} + 1);
        if (!data) {
            refuse(out);
            return;
        }
        if (!acknowledge(out, faults))
            return;
        out.push_back({0, *data});
        expect(Step::Command, 1);
        return;
    }
    case Step::WriteCount:
        // N + 1 data bytes follow, then the checksum; N stays in front of them.
        keepCount(Step::WriteData);
        return;
    case Step::WriteData: {
        const std::size_t count = std::size_t{b[0]} + 1;
        const Bytes data(b.begin() + 1, b.begin() + 1 + static_cast<std::ptrdiff_t>(count));
        // Real devices take whole words only.
        if (xorOf(b, 0, count + 1) != b.back() || count % 4 != 0) {
            refuse(out);
            return;
        }
        const auto busy = program(address_, data);
        if (!busy) {
            refuse(out);
            return;
        }
        if (acknowledge(out, faults, *busy))
            expect(Step::Command, 1);
        return;
    }
    case Step::EraseCount:
        if (b[0] == 0xFF) {
            expect(Step::EraseMassConfirm, 1);
            return;
        }
        keepCount(Step::ErasePages);
        return;
    case Step::EraseMassConfirm:
        if (b[0] != 0x00) {
            refuse(out);
            return;
        }
        eraseAll();
        if (acknowledge(out, faults, massEraseSeconds))
            expect(Step::Command, 1);
        return;
    case Step::ErasePages: {
        const std::size_t pages = std::size_t{b[0]} + 1;
        const std::size_t pageCount = spec_.flashSize / spec_.pageSize;
        bool valid = xorOf(b, 0, pages + 1) == b.back();
        for (std::size_t i = 1; valid && i <= pages; ++i)
            valid = b[i] < pageCount;
        if (!valid) {
            refuse(out);
            return;
        }
        for (std::size_t i = 1; i <= pages; ++i)
            std::fill_n(flash_.begin() + static_cast<std::ptrdiff_t>(b[i] * spec_.pageSize), spec_.pageSize,
                        0xFF);
        if (acknowledge(out, faults, pageEraseSeconds * static_cast<double>(pages)))
            expect(Step::Command, 1);
        return;
    }
    case Step::ProtectCount:
        keepCount(Step::ProtectSectors);
        return;
    case Step::ProtectSectors:
        if (xorOf(b, 0, b.size() - 1) != b.back()) {
            refuse(out);
            return;
        }
        if (acknowledge(out, faults))
            restart(); // the option bytes take effect with a reset
        return;
    default:
        refuse(out);
        return;
    }
}

std::optional<Bytes> Bootloader::readable(std::uint32_t address, std::size_t count) const
{
    const auto slice = [&](const Bytes& memory, std::uint32_t base) {
        const auto from = memory.begin() + static_cast<std::ptrdiff_t>(address - base);
        return Bytes(from, from + static_cast<std::ptrdiff_t>(count));
    };
    if (inside(address, count, flashBase, spec_.flashSize))
        return slice(flash_, flashBase);
    if (inside(address, count, ramBase, spec_.ramSize))
        return slice(ram_, ramBase);
    if (inside(address, count, optionBytesBase, optionBytesSize))
        return slice(optionBytes(readoutProtected_), optionBytesBase);
    if (inside(address, count, systemMemoryBase, optionBytesBase - systemMemoryBase))
        return Bytes(count, 0x00);
    return std::nullopt;
}

std::optional<double> Bootloader::program(std::uint32_t address, const Bytes& data)
{
    if (inside(address, data.size(), flashBase, spec_.flashSize)) {
        // Programming only clears bits: over unerased cells the result is old AND new.
        for (std::size_t i = 0; i < data.size(); ++i)
            flash_[address - flashBase + i] &= data[i];
        return halfWordProgramSeconds * static_cast<double>((data.size() + 1) / 2);
    }
    if (inside(address, data.size(), ramBase + ramReserved, spec_.ramSize - ramReserved)) {
        std::copy(data.begin(), data.end(), ram_.begin() + static_cast<std::ptrdiff_t>(address - ramBase));
        return 0.0;
    }
    return std::nullopt;
}

void Bootloader::eraseAll()
{
    std::fill(flash_.begin(), flash_.end(), 0xFF);
}

std::string flashDigest(const Bytes& bytes)
{
    std::uint64_t hash = 0xcbf29ce484222325ull;
    for (const std::uint8_t b : bytes) {
        hash ^= b;
        hash *= 0x100000001b3ull;
    }
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
    return text;
}

} // namespace pelmux::sim
