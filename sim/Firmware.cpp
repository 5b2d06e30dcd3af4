// The firmware side of the driver: the upgrade mode the board is in, the front micro-controller's
// preparation, which micro-controller the serial line reaches (`firmware.link`, read by the
// bootloader models), and the FPGA's configuration memory. Positions in the block requests are
// byte offsets into that memory; what the library wrote is kept as hexadecimal text, so that a
// test or a person compares it with the image.
#include "Unit.h"

#include <algorithm>

namespace pelmux::sim {

namespace {

constexpr std::size_t keptCodes = 64;
constexpr std::uint8_t modeFpgaOrFront = 0x0F;
constexpr std::uint8_t modeSupervisor = 0x96;
constexpr std::uint8_t modeEnded = 0xC3;
constexpr std::size_t blockHeader = 8;
constexpr std::size_t blockData = 528;
constexpr std::size_t blockRecord = blockHeader + blockData;

Json& firmwareSection(Json& parent, const char* name)
{
    Json& child = parent[name];
    if (!child.is_object())
        child = Json::object();
    return child;
}
Json& firmware(Unit& unit)
{
    return firmwareSection(unit.state(), "firmware");
}
Json& fpga(Unit& unit)
{
    return firmwareSection(firmware(unit), "fpga");
}

std::int64_t number(const Json& from, const char* name, std::int64_t otherwise)
{
    const auto value = from.find(name);
    return value != from.end() && value->is_number_integer() ? value->get<std::int64_t>() : otherwise;
}
bool flag(const Json& from, const char* name)
{
    const auto value = from.find(name);
    return value != from.end() && value->is_boolean() && value->get<bool>();
}

// A fault counter: true (and one use fewer) while it is above 0; -1 fails for ever.
bool takeFault(Json& from, const char* name)
{
    const std::int64_t left = number(from, name, 0);
    if (left == 0)
        return false;
    if (left > 0)
        from[name] = left - 1;
    return true;
}

std::uint32_t u32At(const Bytes& bytes, std::size_t at)
{
    return static_cast<std::uint32_t>(bytes[at]) | static_cast<std::uint32_t>(bytes[at + 1]) << 8 |
           static_cast<std::uint32_t>(bytes[at + 2]) << 16 | static_cast<std::uint32_t>(bytes[at + 3]) << 24;
}

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return 0;
}

ControlReply setUpgradeMode(Unit& unit, const ControlRequest& request)
{
    if (request.input.size() != 1)
        return ControlReply::failed();
    const std::uint8_t code = request.input[0];
    Json& state = firmware(unit);
    Json& log = state["upgradeModeLog"];
    if (!log.is_array())
        log = Json::array();
    log.push_back(code);
    if (log.size() > keptCodes)
        log.erase(log.begin());
    if (code != modeFpgaOrFront && code != modeSupervisor && code != modeEnded)
        return ControlReply::failed();
    state["upgradeMode"] = code;
    return ControlReply::consumed(1);
}

ControlReply prepareFront(Unit& unit, const ControlRequest& request)
{
    if (!request.input.empty())
        return ControlReply::failed();
    Json& state = firmware(unit);
    state["frontPreparations"] = number(state, "frontPreparations", 0) + 1;
    return ControlReply::consumed(0);
}

ControlReply selectLink(Unit& unit, const ControlRequest& request)
{
    if (request.input.size() != 1 || request.input[0] > 2)
        return ControlReply::failed();
    firmware(unit)["link"] = request.input[0];
    return ControlReply::consumed(1);
}

ControlReply readiness(Unit& unit, const ControlRequest&)
{
    const Json& memory = fpga(unit);
    return ControlReply::data(Bytes{static_cast<std::uint8_t>(number(memory, "ready", 0) & 0xFF)});
}

// The configuration memory takes blocks only in upgrade mode 0x0F.
bool inFpgaUpgradeMode(Unit& unit)
{
    return number(firmware(unit), "upgradeMode", modeEnded) == modeFpgaOrFront;
}

ControlReply writeBlock(Unit& unit, const ControlRequest& request)
{
    Json& memory = fpga(unit);
    if (request.input.size() != blockRecord || request.outCapacity < 4 || !inFpgaUpgradeMode(unit) ||
        takeFault(memory, "failWrites"))
        return ControlReply::failed();
    const std::size_t length = request.input[0] | static_cast<std::size_t>(request.input[1]) << 8;
    const std::uint32_t position = u32At(request.input, 4);
    if (length == 0 || length > blockData)
        return ControlReply::failed();
    const auto size = static_cast<std::size_t>(std::max<std::int64_t>(0, number(memory, "size", 0)));
    const auto limit =
        static_cast<std::size_t>(std::max<std::int64_t>(0, number(memory, "acceptLimit", blockData)));
    std::size_t taken = std::min({length, limit, position < size ? size - position : std::size_t{0}});
    if (flag(memory, "stallPosition"))
        taken = 0;
    Json& contents = memory["contents"];
    if (!contents.is_string())
        contents = "";
    auto& text = contents.get_ref<std::string&>();
    if (taken > 0 && text.size() < 2 * (position + taken))
        text.resize(2 * (position + taken), 'F');
    static constexpr char digits[] = "0123456789abcdef";
    for (std::size_t i = 0; i < taken; ++i) {
        const std::uint8_t byte = request.input[blockHeader + i];
        text[2 * (position + i)] = digits[byte >> 4];
        text[2 * (position + i) + 1] = digits[byte & 0x0F];
    }
    return ControlReply::data(Writer().u32(static_cast<std::uint32_t>(position + taken)).take());
}

ControlReply readBlock(Unit& unit, const ControlRequest& request)
{
    Json& memory = fpga(unit);
    if (request.input.size() != blockRecord || request.outCapacity < blockRecord ||
        !inFpgaUpgradeMode(unit) || takeFault(memory, "failReads"))
        return ControlReply::failed();
    const std::size_t length = request.input[0] | static_cast<std::size_t>(request.input[1]) << 8;
    const std::uint32_t position = u32At(request.input, 4);
    const auto size = static_cast<std::size_t>(std::max<std::int64_t>(0, number(memory, "size", 0)));
    const auto limit =
        static_cast<std::size_t>(std::max<std::int64_t>(0, number(memory, "readLimit", blockData)));
    std::size_t count =
        std::min({length, blockData, limit, position < size ? size - position : std::size_t{0}});
    if (flag(memory, "zeroLengthRead"))
        count = 0;
    const Json& contents = memory["contents"];
    const std::string empty;
    const std::string& text = contents.is_string() ? contents.get_ref<const std::string&>() : empty;
    Bytes answer(blockRecord, 0);
    answer[0] = static_cast<std::uint8_t>(count);
    answer[1] = static_cast<std::uint8_t>(count >> 8);
    const auto next = static_cast<std::uint32_t>(position + count);
    for (int i = 0; i < 4; ++i)
        answer[4 + i] = static_cast<std::uint8_t>(next >> (8 * i));
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t at = 2 * (position + i);
        // Never written: an erased cell reads 0xFF.
        answer[blockHeader + i] =
            at + 1 < text.size() ? static_cast<std::uint8_t>(hexDigit(text[at]) << 4 | hexDigit(text[at + 1]))
                                 : 0xFF;
    }
    return ControlReply::data(std::move(answer));
}

} // namespace

void installFirmware(Unit& unit)
{
    unit.onControl(0x222508, setUpgradeMode);
    unit.onControl(0x22250C, prepareFront);
    unit.onControl(0x222510, selectLink);
    unit.onControl(0x2224FC, readiness);
    unit.onControl(0x222500, writeBlock);
    unit.onControl(0x222504, readBlock);
}

} // namespace pelmux::sim
