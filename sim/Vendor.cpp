// The vendor board library of the unit ("Jida.dll"): library set-up, boards and their handles, the
// board's I2C bus with the two identity EEPROMs, and the temperature sensors. The register calls of
// the I2C port expander are answered by sim/Expander.cpp on the same bookkeeping.
//
// State (docs/unit-profile.md): "boardLibrary" (installed, boards, and at run time the open handles
// and call counts), "eeproms" ("unit" at address byte 0xAE, "expansion" at 0xA4; text, or
// {"hex": ...} once they hold bytes that are not text), "temperatures" (one object per sensor).
// Arguments arrive as docs/board-protocol.md encodes them; a call with a malformed argument list,
// an unknown handle or an absent device answers 0 with no outputs.
#include "Unit.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <map>
#include <memory>
#include <optional>
#include <string>

namespace pelmux::sim {

namespace {

constexpr std::uint16_t ordInit = 3;
constexpr std::uint16_t ordSetup = 40;
constexpr std::uint16_t ordExit = 4;
constexpr std::uint16_t ordBoardCount = 55;
constexpr std::uint16_t ordBoardOpen = 56;
constexpr std::uint16_t ordBoardClose = 9;
constexpr std::uint16_t ordI2cWrite = 32;
constexpr std::uint16_t ordI2cWriteRead = 69;
constexpr std::uint16_t ordTempCount = 79;
constexpr std::uint16_t ordTempInfo = 80;
constexpr std::uint16_t ordTempCurrent = 81;

constexpr std::size_t eepromSize = 4096;
constexpr std::size_t eepromPage = 32;
constexpr std::uint32_t firstHandle = 0x1000;
constexpr std::uint32_t nullName = 0xFFFFFFFFu;
// No transfer of the library comes near this; a larger read length is refused.
constexpr std::uint32_t maxTransfer = 64 * 1024;
// How many recent calls the unit keeps in boardLibrary.log.
constexpr std::size_t vendorLogLength = 256;

using Image = std::array<std::uint8_t, eepromSize>;

// ------------------------------------------------------------------ argument decoding

std::optional<std::string> readName(Reader& args)
{
    const std::uint32_t length = args.u32();
    if (length == nullName)
        return std::nullopt;
    const Bytes bytes = args.bytes(length);
    return std::string(bytes.begin(), bytes.end());
}

Bytes readBuffer(Reader& args)
{
    return args.bytes(args.u32());
}

// ------------------------------------------------------------------ board library state

Json& library(Unit& unit)
{
    Json& lib = unit.state()["boardLibrary"];
    if (!lib.is_object())
        lib = Json::object();
    return lib;
}

bool installed(Unit& unit)
{
    return library(unit).value("installed", true);
}

std::uint32_t boardCount(Unit& unit)
{
    const Json& boards = library(unit)["boards"];
    if (!boards.is_number_integer())
        return 1u;
    return static_cast<std::uint32_t>(std::clamp<std::int64_t>(boards.get<std::int64_t>(), 0, 255));
}

Json& openHandles(Unit& unit)
{
    Json& handles = library(unit)["openHandles"];
    if (!handles.is_array())
        handles = Json::array();
    return handles;
}

bool handleOpen(Unit& unit, std::uint32_t handle)
{
    return boardHandleOpen(unit, handle);
}

std::uint32_t newHandle(Unit& unit)
{
    Json& lib = library(unit);
    const std::uint32_t handle = lib.value("nextHandle", firstHandle);
    lib["nextHandle"] = handle + 1;
    openHandles(unit).push_back(handle);
    return handle;
}

bool closeHandle(Unit& unit, std::uint32_t handle)
{
    Json& handles = openHandles(unit);
    const auto it = std::find(handles.begin(), handles.end(), Json(handle));
    if (it == handles.end())
        return false;
    handles.erase(it);
    return true;
}

// Counts every call by ordinal and keeps the most recent ones in order, for tests and `state`.
void noteCall(Unit& unit, std::uint16_t ordinal)
{
    Json& lib = library(unit);
    Json& counts = lib["calls"];
    if (!counts.is_object())
        counts = Json::object();
    const std::string key = std::to_string(ordinal);
    counts[key] = counts.value(key, 0) + 1;
    Json& log = lib["log"];
    if (!log.is_array())
        log = Json::array();
    log.push_back(ordinal);
    if (log.size() > vendorLogLength)
        log.erase(log.begin());
}

// ------------------------------------------------------------------ identity EEPROMs

// The EEPROM answering an address byte (bit 0, the transfer direction, ignored).
const char* eepromAt(std::uint8_t address)
{
    switch (address & 0xFE) {
    case 0xAE:
        return "unit";
    case 0xA4:
        return "expansion";
    default:
        return nullptr;
    }
}

std::optional<Image> eepromImage(Unit& unit, const char* name)
{
    const Json& eeproms = unit.state()["eeproms"];
    if (!eeproms.is_object() || !eeproms.contains(name))
        return std::nullopt;
    const Json& content = eeproms[name];
    Image image;
    image.fill(0xFF);
    if (content.is_string()) {
        const std::string& text = content.get_ref<const std::string&>();
        std::copy_n(text.begin(), std::min(text.size(), eepromSize), image.begin());
        return image;
    }
    if (content.is_object() && content.contains("hex") && content["hex"].is_string()) {
        const std::string& hex = content["hex"].get_ref<const std::string&>();
        for (std::size_t i = 0; i + 1 < hex.size() && i / 2 < eepromSize; i += 2) {
            unsigned value = 0;
            if (std::sscanf(hex.c_str() + i, "%2x", &value) != 1)
                break;
            image[i / 2] = static_cast<std::uint8_t>(value);
        }
        return image;
    }
    return std::nullopt;
}

// An image as the profile keeps it: its text up to the trailing 0xFF bytes when that is valid
// UTF-8 without a 0xFF, otherwise every byte up to there in hexadecimal.
Json eepromContent(const Image& image)
{
    std::size_t end = eepromSize;
    while (end > 0 && image[end - 1] == 0xFF)
        --end;
    const std::string text(image.begin(), image.begin() + static_cast<std::ptrdiff_t>(end));
    if (std::none_of(text.begin(), text.end(), [](char c) { return static_cast<std::uint8_t>(c) == 0xFF; })) {
        try {
            (void)Json(text).dump();
            return text;
        } catch (const Json::exception&) {
            // not UTF-8: kept as bytes below
        }
    }
    std::string hex;
    char digits[3];
    for (std::size_t i = 0; i < end; ++i) {
        std::snprintf(digits, sizeof digits, "%02X", image[i]);
        hex += digits;
    }
    return Json{{"hex", hex}};
}

void storeEeprom(Unit& unit, const char* name, const Image& image)
{
    Json& eeproms = unit.state()["eeproms"];
    eeproms[name] = eepromContent(image);
    unit.persist(Json{{"eeproms", {{name, eeproms[name]}}}});
}

// The address pointer of each EEPROM: where the next read starts, as on the real part.
struct Bus {
    std::map<std::string, std::uint32_t> pointer;
};

// Common checks of an I2C transfer: an open handle, bus 0 and a device at the address.
const char* device(Unit& unit, std::uint32_t handle, std::uint32_t busType, std::uint8_t address)
{
    if (!handleOpen(unit, handle) || busType != 0)
        return nullptr;
    const char* name = eepromAt(address);
    if (name == nullptr || !eepromImage(unit, name))
        return nullptr;
    return name;
}

// A write: the first two bytes set the address (most significant first), the data bytes that follow
// go into the addressed 32-byte page and wrap around inside it, as a page write does.
std::int32_t i2cWrite(Unit& unit, const std::shared_ptr<Bus>& bus, Reader& args)
{
    const std::uint32_t handle = args.u32();
    const std::uint32_t busType = args.u32();
    const std::uint8_t address = args.u8();
    const Bytes data = readBuffer(args);
    if (args.failed() || !args.atEnd())
        return 0;
    const char* name = device(unit, handle, busType, address);
    if (name == nullptr || data.size() == 1)
        return 0;
    // The address byte, then the data: start and stop around them.
    unit.busTransfer(1 + data.size(), 2);
    if (data.empty())
        return 1; // an address probe: the device answers
    const std::uint32_t offset = ((data[0] << 8) | data[1]) % eepromSize;
    const std::size_t count = data.size() - 2;
    const std::uint32_t page = offset & ~static_cast<std::uint32_t>(eepromPage - 1);
    if (count > 0) {
        Image image = *eepromImage(unit, name);
        for (std::size_t k = 0; k < count; ++k)
            image[page + ((offset + k) % eepromPage)] = data[2 + k];
        storeEeprom(unit, name, image);
    }
    bus->pointer[name] = page + static_cast<std::uint32_t>((offset + count) % eepromPage);
    return 1;
}

// A write of the 2-byte address (or none: the current address) followed by a sequential read that
// wraps at the end of the memory.
std::int32_t i2cWriteRead(Unit& unit, const std::shared_ptr<Bus>& bus, Reader& args, Writer& out)
{
    const std::uint32_t handle = args.u32();
    const std::uint32_t busType = args.u32();
    const std::uint8_t address = args.u8();
    const Bytes written = readBuffer(args);
    const std::uint32_t readLength = args.u32();
    if (args.failed() || !args.atEnd() || readLength > maxTransfer)
        return 0;
    const char* name = device(unit, handle, busType, address);
    if (name == nullptr || (written.size() != 0 && written.size() != 2))
        return 0;
    // The address byte and the bytes written, then a repeated start, the address byte again and
    // the bytes read; a start before them and a stop after them.
    const bool writes = !written.empty();
    const bool reads = readLength > 0;
    unit.busTransfer((writes ? 1 + written.size() : 0) + (reads || !writes ? 1 + readLength : 0),
                     writes && reads ? 3 : 2);
    std::uint32_t& pointer = bus->pointer[name];
    if (written.size() == 2)
        pointer = ((written[0] << 8) | written[1]) % eepromSize;
    const Image image = *eepromImage(unit, name);
    for (std::uint32_t i = 0; i < readLength; ++i) {
        out.u8(image[pointer]);
        pointer = (pointer + 1) % eepromSize;
    }
    return 1;
}

// ------------------------------------------------------------------ temperature sensors

const Json* sensor(Unit& unit, std::uint32_t handle, std::uint32_t index)
{
    const Json& sensors = unit.state()["temperatures"];
    if (!handleOpen(unit, handle) || !sensors.is_array() || index >= sensors.size())
        return nullptr;
    return &sensors[index];
}

std::uint32_t sensorCount(Unit& unit, std::uint32_t handle)
{
    const Json& sensors = unit.state()["temperatures"];
    if (!handleOpen(unit, handle) || !sensors.is_array())
        return 0;
    return static_cast<std::uint32_t>(sensors.size());
}

VendorHandler counted(std::uint16_t ordinal, VendorHandler handler)
{
    return countedVendorCall(ordinal, std::move(handler));
}

} // namespace

bool boardHandleOpen(Unit& unit, std::uint32_t handle)
{
    const Json& handles = openHandles(unit);
    return std::find(handles.begin(), handles.end(), Json(handle)) != handles.end();
}

VendorHandler countedVendorCall(std::uint16_t ordinal, VendorHandler handler)
{
    return [ordinal, handler = std::move(handler)](Unit& unit, Reader& args, Writer& out) -> std::int32_t {
        noteCall(unit, ordinal);
        try {
            return handler(unit, args, out);
        } catch (const Json::exception&) {
            return 0;
        }
    };
}

void installVendor(Unit& unit)
{
    auto bus = std::make_shared<Bus>();

    unit.onVendor(ordInit, counted(ordInit, [](Unit& u, Reader& args, Writer&) -> std::int32_t {
                      return args.atEnd() && installed(u) ? 1 : 0;
                  }));
    unit.onVendor(ordSetup, counted(ordSetup, [](Unit& u, Reader& args, Writer&) -> std::int32_t {
                      const std::uint32_t flag = args.u32();
                      if (args.failed() || !args.atEnd() || flag != 1)
                          return 0;
                      library(u)["installed"] = true;
                      return 1;
                  }));
    unit.onVendor(ordExit, counted(ordExit, [](Unit&, Reader&, Writer&) -> std::int32_t { return 1; }));

    unit.onVendor(ordBoardCount, counted(ordBoardCount, [](Unit& u, Reader& args, Writer&) -> std::int32_t {
                      const auto name = readName(args);
                      args.u32();
                      if (args.failed() || !args.atEnd() || !installed(u))
                          return 0;
                      if (!name)
                          return static_cast<std::int32_t>(boardCount(u));
                      return *name == "CPU" ? std::min<std::int32_t>(1, boardCount(u)) : 0;
                  }));
    unit.onVendor(ordBoardOpen, counted(ordBoardOpen, [](Unit& u, Reader& args, Writer& out) -> std::int32_t {
                      const auto name = readName(args);
                      const std::uint32_t number = args.u32();
                      args.u32();
                      if (args.failed() || !args.atEnd() || !installed(u))
                          return 0;
                      const bool exists = name ? (*name == "CPU" && number == 0 && boardCount(u) > 0)
                                               : number < boardCount(u);
                      if (!exists)
                          return 0;
                      // One value per board: the "CPU" board is board 0; a close ends it for all.
                      if (library(u).value("handlePerBoard", false)) {
                          const std::uint32_t handle = firstHandle + (name ? 0 : number);
                          if (!handleOpen(u, handle))
                              openHandles(u).push_back(handle);
                          out.u32(handle);
                          return 1;
                      }
                      out.u32(newHandle(u));
                      return 1;
                  }));
    unit.onVendor(ordBoardClose, counted(ordBoardClose, [](Unit& u, Reader& args, Writer&) -> std::int32_t {
                      const std::uint32_t handle = args.u32();
                      if (args.failed() || !args.atEnd())
                          return 0;
                      return closeHandle(u, handle) ? 1 : 0;
                  }));

    unit.onVendor(ordI2cWrite, counted(ordI2cWrite, [bus](Unit& u, Reader& args, Writer&) {
                      return i2cWrite(u, bus, args);
                  }));
    unit.onVendor(ordI2cWriteRead, counted(ordI2cWriteRead, [bus](Unit& u, Reader& args, Writer& out) {
                      return i2cWriteRead(u, bus, args, out);
                  }));

    unit.onVendor(ordTempCount, counted(ordTempCount, [](Unit& u, Reader& args, Writer&) -> std::int32_t {
                      const std::uint32_t handle = args.u32();
                      if (args.failed() || !args.atEnd())
                          return 0;
                      return static_cast<std::int32_t>(sensorCount(u, handle));
                  }));
    unit.onVendor(ordTempCurrent,
                  counted(ordTempCurrent, [](Unit& u, Reader& args, Writer& out) -> std::int32_t {
                      const std::uint32_t handle = args.u32();
                      const std::uint32_t index = args.u32();
                      if (args.failed() || !args.atEnd())
                          return 0;
                      const Json* s = sensor(u, handle, index);
                      if (s == nullptr)
                          return 0;
                      out.i32(s->value("value", 0)).u32(s->value("status", 1u));
                      return s->value("currentResult", 1);
                  }));
    unit.onVendor(ordTempInfo, counted(ordTempInfo, [](Unit& u, Reader& args, Writer& out) -> std::int32_t {
                      const std::uint32_t handle = args.u32();
                      const std::uint32_t index = args.u32();
                      const std::uint32_t size = args.u32();
                      // The library answers only a caller that states the record's size.
                      if (args.failed() || !args.atEnd() || size != 44)
                          return 0;
                      const Json* s = sensor(u, handle, index);
                      if (s == nullptr)
                          return 0;
                      out.u32(44).u32(s->value("type", 0u));
                      for (int word = 2; word < 11; ++word)
                          out.u32(0);
                      return s->value("infoResult", 1);
                  }));
}

} // namespace pelmux::sim
