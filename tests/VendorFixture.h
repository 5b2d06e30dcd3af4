// Helpers for tests of the vendor board library, the identity EEPROMs and the temperature sensors
// against the simulated unit.
#pragma once

#include "SimFixture.h"
#include "frame/VendorCalls.h"
#include "platform/Vendor.h"

#include <memory>
#include <string>
#include <vector>

namespace pelmux::test {

// The unit's vendor-library bookkeeping (sim/Vendor.cpp keeps it in "boardLibrary").
inline std::size_t openBoardHandles(sim::Unit& unit)
{
    const sim::Json state = unit.snapshot();
    if (!state.contains("boardLibrary") || !state["boardLibrary"].contains("openHandles"))
        return 0;
    return state["boardLibrary"]["openHandles"].size();
}

inline std::size_t vendorCalls(sim::Unit& unit, std::uint16_t ordinal)
{
    const sim::Json state = unit.snapshot();
    const std::string key = std::to_string(ordinal);
    if (!state.contains("boardLibrary") || !state["boardLibrary"].contains("calls"))
        return 0;
    return state["boardLibrary"]["calls"].value(key, std::size_t{0});
}

// The ordinals of the calls since the log was last cleared, oldest first.
inline std::vector<int> vendorLog(sim::Unit& unit)
{
    const sim::Json state = unit.snapshot();
    if (!state.contains("boardLibrary") || !state["boardLibrary"].contains("log"))
        return {};
    return state["boardLibrary"]["log"].get<std::vector<int>>();
}

inline void clearVendorLog(sim::Unit& unit)
{
    unit.update([](sim::Json& s) { s["boardLibrary"]["log"] = sim::Json::array(); });
}

inline void setEeprom(sim::Unit& unit, const std::string& which, const std::string& text)
{
    unit.update([&](sim::Json& s) { s["eeproms"][which] = text; });
}

// The EEPROM contents as the unit keeps them: text, or every byte in hexadecimal.
inline sim::Json eepromContent(sim::Unit& unit, const std::string& which)
{
    return unit.snapshot()["eeproms"][which];
}

// Lets the calls of an ordinal pass through the model, except call number `failing` (counted from 1
// from now on), which answers 0 with no outputs. Also records the raw arguments of every call.
struct CallTap {
    int calls = 0;
    std::vector<sim::Bytes> arguments;
};

inline std::shared_ptr<CallTap> tapVendor(sim::Unit& unit, std::uint16_t ordinal, int failing = 0)
{
    auto tap = std::make_shared<CallTap>();
    sim::VendorHandler model = unit.vendorHandler(ordinal);
    unit.onVendor(ordinal, [tap, model, failing](sim::Unit& u, sim::Reader& args, sim::Writer& out) {
        ++tap->calls;
        sim::Bytes raw = args.rest();
        tap->arguments.push_back(raw);
        if (tap->calls == failing)
            return std::int32_t{0};
        sim::Reader again(raw);
        return model ? model(u, again, out) : std::int32_t{0};
    });
    return tap;
}

// The unit EEPROM text of the default profile.
inline std::string unitDefaultText()
{
    return sim::defaultProfile()["eeproms"]["unit"].get<std::string>();
}

// A unit text with the given lines joined by line feeds.
inline std::string lines(std::initializer_list<std::string> all)
{
    std::string text;
    for (const auto& line : all)
        text += line + "\n";
    return text;
}

} // namespace pelmux::test
