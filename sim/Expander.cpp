// The I2C port expander of the expansion board and the radio modules behind it: an 8-bit port with
// a configuration register (0: a set bit makes its line an input) and the port register (9: reads
// give the lines' levels, writes set the output latch). Address byte 0x40 takes register writes,
// 0x41 register reads, on bus type 0.
//
// Lines: bit 7 the supply shared by the modules; bits 1, 4 and 5 the power of WLAN, Bluetooth and
// GPS; bit 0 the modem's power key; bit 6 makes the modem show its power state on input bit 2;
// input bit 3 is the GPS status. A line counts as high only while it is driven. The modem toggles
// its power state when its key is released after a press held at least `minimumPressMs` (real
// time) while the supply is on; it loses its power state with the supply.
//
// State (docs/unit-profile.md): "expander": {"config", "port", "gpsInput", "log": newest 64
// accesses, "modules": {"gprs": {"on", "minimumPressMs", "presses", "lastPressMs"}, "wlan": {"on"},
// "bluetooth": {"on"}, "gps": {"on"}}}. Without the "expander" section the device does not answer.
#include "Unit.h"

#include <chrono>
#include <memory>

namespace pelmux::sim {

namespace {

constexpr std::uint16_t ordReadRegister = 33;
constexpr std::uint16_t ordWriteRegister = 34;
constexpr std::uint8_t writeAddress = 0x40;
constexpr std::uint8_t readAddress = 0x41;
constexpr std::uint32_t configRegister = 0;
constexpr std::uint32_t portRegister = 9;
constexpr std::size_t expanderLogLength = 64;

constexpr std::uint8_t keyBit = 0x01;
constexpr std::uint8_t wlanBit = 0x02;
constexpr std::uint8_t gprsStateBit = 0x04;
constexpr std::uint8_t gpsInputBit = 0x08;
constexpr std::uint8_t btBit = 0x10;
constexpr std::uint8_t gpsBit = 0x20;
constexpr std::uint8_t stateEnableBit = 0x40;
constexpr std::uint8_t supplyBit = 0x80;

using Clock = std::chrono::steady_clock;

// When the modem's key went down, while it is held.
struct Key {
    bool held = false;
    Clock::time_point pressed;
};

Json& expanderSection(Json& parent, const char* key)
{
    Json& child = parent[key];
    if (!child.is_object())
        child = Json::object();
    return child;
}

std::uint8_t byteOf(const Json& expander, const char* key, std::uint8_t fallback)
{
    return static_cast<std::uint8_t>(expander.value(key, static_cast<unsigned>(fallback)) & 0xFFu);
}

// The latch bits that drive their line high.
std::uint8_t drivenHigh(const Json& expander)
{
    return static_cast<std::uint8_t>(byteOf(expander, "port", 0) & ~byteOf(expander, "config", 0xFF));
}

void note(Json& expander, const char* op, std::uint32_t reg, std::uint8_t value)
{
    Json& log = expander["log"];
    if (!log.is_array())
        log = Json::array();
    log.push_back({{"op", op}, {"register", reg}, {"value", value}});
    if (log.size() > expanderLogLength)
        log.erase(log.begin());
}

// The levels of the port lines: driven lines give their latch, inputs what the modules put there.
std::uint8_t portLevels(Json& expander)
{
    const std::uint8_t config = byteOf(expander, "config", 0xFF);
    const std::uint8_t high = drivenHigh(expander);
    std::uint8_t inputs = 0;
    const bool modemOn = expanderSection(expanderSection(expander, "modules"), "gprs").value("on", false);
    if (modemOn && (high & stateEnableBit) != 0)
        inputs |= gprsStateBit;
    if (expander.value("gpsInput", 0) != 0)
        inputs |= gpsInputBit;
    return static_cast<std::uint8_t>(high | (inputs & config));
}

// Follows the lines after a register write: module power, and the modem's key.
void followLines(Json& expander, Key& key)
{
    const std::uint8_t high = drivenHigh(expander);
    const bool supply = (high & supplyBit) != 0;
    Json& modules = expanderSection(expander, "modules");
    expanderSection(modules, "wlan")["on"] = supply && (high & wlanBit) != 0;
    expanderSection(modules, "bluetooth")["on"] = supply && (high & btBit) != 0;
    expanderSection(modules, "gps")["on"] = supply && (high & gpsBit) != 0;

    Json& modem = expanderSection(modules, "gprs");
    const bool keyDown = (high & keyBit) != 0;
    if (keyDown && !key.held) {
        key.held = true;
        key.pressed = Clock::now();
    } else if (!keyDown && key.held) {
        key.held = false;
        const double heldMs = std::chrono::duration<double, std::milli>(Clock::now() - key.pressed).count();
        modem["lastPressMs"] = heldMs;
        modem["presses"] = modem.value("presses", 0) + 1;
        if (supply && heldMs >= modem.value("minimumPressMs", 0.0))
            modem["on"] = !modem.value("on", false);
    }
    if (!supply)
        modem["on"] = false;
}

// The register calls reach the expander only with an open handle, bus 0 and its address byte for
// the direction; it has registers 0 and 9.
Json* expanderAt(Unit& unit, std::uint32_t handle, std::uint32_t busType, std::uint8_t address,
                 std::uint8_t expected, std::uint32_t reg)
{
    Json& state = unit.state();
    if (!state.contains("expander") || !state["expander"].is_object())
        return nullptr;
    if (!boardHandleOpen(unit, handle) || busType != 0 || address != expected)
        return nullptr;
    if (reg != configRegister && reg != portRegister)
        return nullptr;
    return &state["expander"];
}

} // namespace

void installExpander(Unit& unit)
{
    auto key = std::make_shared<Key>();

    unit.onVendor(ordReadRegister,
                  countedVendorCall(ordReadRegister, [](Unit& u, Reader& args, Writer& out) -> std::int32_t {
                      const std::uint32_t handle = args.u32();
                      const std::uint32_t busType = args.u32();
                      const std::uint8_t address = args.u8();
                      const std::uint32_t reg = args.u32();
                      if (args.failed() || !args.atEnd())
                          return 0;
                      Json* expander = expanderAt(u, handle, busType, address, readAddress, reg);
                      if (expander == nullptr)
                          return 0;
                      const std::uint8_t value =
                          reg == configRegister ? byteOf(*expander, "config", 0xFF) : portLevels(*expander);
                      note(*expander, "read", reg, value);
                      // Address and register byte, a repeated start, the address and the value.
                      u.busTransfer(4, 3);
                      out.u8(value);
                      return 1;
                  }));

    unit.onVendor(ordWriteRegister,
                  countedVendorCall(ordWriteRegister, [key](Unit& u, Reader& args, Writer&) -> std::int32_t {
                      const std::uint32_t handle = args.u32();
                      const std::uint32_t busType = args.u32();
                      const std::uint8_t address = args.u8();
                      const std::uint32_t reg = args.u32();
                      const std::uint8_t value = args.u8();
                      if (args.failed() || !args.atEnd())
                          return 0;
                      Json* expander = expanderAt(u, handle, busType, address, writeAddress, reg);
                      if (expander == nullptr)
                          return 0;
                      (*expander)[reg == configRegister ? "config" : "port"] = value;
                      note(*expander, "write", reg, value);
                      followLines(*expander, *key);
                      // Address, register and value byte.
                      u.busTransfer(3, 2);
                      return 1;
                  }));
}

} // namespace pelmux::sim
