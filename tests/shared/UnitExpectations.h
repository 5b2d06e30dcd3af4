// What every interface answers against the simulated unit's default profile, as one table that the
// Linux tests (tests/library/UnitExpectationsTest.cpp, in-process unit) and the Windows program
// (tests/windows/UnitChecks.cpp, Pelmux.dll under wine against `pelmux sim --tcp`) both run. Each
// row sets the unit up with unit commands (docs/board-protocol.md), calls one operation by its
// slot number, and names the result code, the outputs and, optionally, a value of the unit's state
// afterwards. Rows run in order on one unit; each starts with the unit's faults cleared.
//
// Plain C++: no test framework. The runner takes an environment with
//   std::string command(const std::string& json)  - one unit command, answers the JSON answer
//   void* make(const char* factory)                - the exported factory's object (null: none)
//   void check(bool ok, const std::string& what)   - one expectation
#pragma once

#include "SlotCall.h"
#include "Slots.h"

#include <pelmux/Adc.h>
#include <pelmux/ResultCode.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace pelmux::shared {

struct Case {
    std::string what;
    const char* factory;
    int slot;
    // Arguments before the outputs: 'w' one word each (the numbers in `in`), "d" one double, or "dw"
    // a double and a word.
    const char* ins;
    std::vector<double> in;
    // Outputs after the arguments, one letter each: b bool, B u8, h i16, H u16, i i32, I u32,
    // d double, f float; s a text buffer of 64 bytes followed by its length word.
    const char* outs;
    std::vector<std::string> setup;
    int code;
    std::vector<double> expected; // the outputs when the code is ERR_SUCCESS
    double tolerance = 0.0;
    std::string text = {};      // a text output
    const char* statePath = ""; // afterwards, the unit's value there...
    const char* state = "";     // ...as compact JSON
};

// Sets a value of the unit's state.
inline std::string setState(const std::string& path, const std::string& json)
{
    return R"({"cmd":"set","path":")" + path + R"(","value":)" + json + "}";
}

inline std::string failCode(std::uint32_t code)
{
    return R"({"cmd":"fail","code":)" + std::to_string(code) + "}";
}

inline std::string failVendor(int ordinal)
{
    return R"({"cmd":"failVendor","ordinal":)" + std::to_string(ordinal) + "}";
}

// The value in a "get" answer ({"ok":true,"value":V}), or an empty text.
inline std::string valueOf(const std::string& answer)
{
    const std::string key = "\"value\":";
    const std::size_t at = answer.find(key);
    if (at == std::string::npos || answer.size() < at + key.size() + 1)
        return {};
    return answer.substr(at + key.size(), answer.size() - at - key.size() - 1);
}

inline bool commandDone(const std::string& answer)
{
    return answer.find("\"ok\":true") != std::string::npos;
}

// A fault of one driver request, as a unit command for the request's code, and the result code the
// operation that makes the request answers; its outputs stay untouched.
struct DriverFault {
    const char* what;
    const char* command; // "fail", "returned" (count) or "output" (bytes)
    int count;
    const char* bytes;
    int expected;
    std::string commandFor(std::uint32_t code) const
    {
        std::string text = std::string(R"({"cmd":")") + command + R"(","code":)" + std::to_string(code);
        if (std::string(command) == "returned")
            text += ",\"count\":" + std::to_string(count);
        if (std::string(command) == "output")
            text += std::string(",\"bytes\":") + bytes;
        return text + "}";
    }
};

// The four-byte version records.
inline const std::vector<DriverFault>& versionFaults()
{
    static const std::vector<DriverFault> faults = {
        {"request fails", "fail", 0, "", Varnholt::ERR_IOCTRL_OPERATION_FAILED},
        {"3 bytes returned", "returned", 3, "", Varnholt::ERR_BUFFER_SIZE_ERROR},
        {"5 bytes returned", "returned", 5, "", Varnholt::ERR_BUFFER_SIZE_ERROR},
        {"0 bytes returned", "returned", 0, "", Varnholt::ERR_BUFFER_SIZE_ERROR},
        {"short answer", "output", 0, "[1,2]", Varnholt::ERR_BUFFER_SIZE_ERROR},
    };
    return faults;
}

// The two-byte diagnostic words.
inline const std::vector<DriverFault>& wordFaults()
{
    static const std::vector<DriverFault> faults = {
        {"request fails", "fail", 0, "", Varnholt::ERR_IOCTRL_OPERATION_FAILED},
        {"1 byte returned", "returned", 1, "", Varnholt::ERR_BUFFER_SIZE_ERROR},
        {"3 bytes returned", "returned", 3, "", Varnholt::ERR_BUFFER_SIZE_ERROR},
        {"0 bytes returned", "returned", 0, "", Varnholt::ERR_BUFFER_SIZE_ERROR},
    };
    return faults;
}

// The slots of the version records and of the diagnostic words, with their request codes.
struct SlotRequest {
    const char* name;
    int slot;
    std::uint32_t code;
};
inline constexpr SlotRequest versionRequests[] = {
    {"fpga", 0, 0x2224F0}, {"supervisor", 1, 0x2224F4}, {"front", 2, 0x2224F8}, {"extra", 5, 0x222598}};
inline constexpr SlotRequest wordRequests[] = {{"word1", 0, 0x222468}, {"word2", 1, 0x22246C},
                                               {"word3", 3, 0x222474}, {"word4", 4, 0x222478},
                                               {"word5", 5, 0x22247C}, {"word6", 8, 0x222480}};

// clang-format off
inline const std::vector<Case>& unitCases()
{
    using namespace Varnholt;
    static const std::vector<Case> cases = [] {
    std::vector<Case> rows = {
        // versions: the driver's records, byte for byte, and the library's own
        {"FPGA version", "GetAuxVersion", 0, "", {}, "BBBB", {}, ERR_SUCCESS, {0, 4, 0, 1}},
        {"supervisor version", "GetAuxVersion", 1, "", {}, "BBBB", {}, ERR_SUCCESS, {1, 3, 0, 0}},
        {"front version", "GetAuxVersion", 2, "", {}, "BBBB", {}, ERR_SUCCESS, {1, 0, 0, 0}},
        {"library version", "GetAuxVersion", 3, "", {}, "BBBB", {}, ERR_SUCCESS, {1, 5, 0, 0}},
        {"extra version", "GetAuxVersion", 5, "", {}, "BBBB", {}, ERR_SUCCESS, {2, 0, 1, 7}},
        // identity, read through the vendor library
        {"PCB serial", "GetAbout", 0, "", {}, "s", {}, ERR_SUCCESS, {}, 0, "40123456"},
        {"unit serial", "GetAbout", 1, "", {}, "s", {}, ERR_SUCCESS, {}, 0, "PX7-000815"},
        {"WLAN fitted", "GetAbout", 16, "", {}, "b", {}, ERR_SUCCESS, {1}},
        {"PCB serial, EEPROM read fails", "GetAbout", 0, "", {}, "s", {failVendor(69)}, ERR_JIDA_EEPROM_ACCESS, {}},
        // diagnostics and temperatures (the sensors through the vendor library)
        {"diagnostic word 1", "GetDiagnostic", 0, "", {}, "H", {}, ERR_SUCCESS, {15}},
        {"diagnostic word 3", "GetDiagnostic", 3, "", {}, "H", {}, ERR_SUCCESS, {1234}},
        {"CPU temperature", "GetDiagnostic", 2, "w", {0}, "hi", {}, ERR_SUCCESS, {47, 1}},
        {"below zero", "GetDiagnostic", 2, "w", {0}, "hi", {setState("/temperatures/0/value", "-5500")}, ERR_SUCCESS,
         {-5, 1}},
        {"temperature, reading fails", "GetDiagnostic", 2, "w", {0}, "hi", {failVendor(81)},
         ERR_JIDA_TEMPERATURE_READ, {}},
        // ADC and digital inputs
        {"24 V rail", "GetAdc", 0, "w", {VOLTAGE_24V}, "d", {}, ERR_SUCCESS, {24.1}, 0.05},
        {"3.3 V rail", "GetAdc", 0, "w", {VOLTAGE_3V3}, "d", {}, ERR_SUCCESS, {3.31}, 0.01},
        {"24 V rail, request fails", "GetAdc", 0, "w", {VOLTAGE_24V}, "d", {failCode(0x222464)},
         ERR_IOCTRL_OPERATION_FAILED, {}},
        {"digital inputs", "GetDigIO", 0, "", {}, "B", {}, ERR_SUCCESS, {5}},
        {"digital inputs changed", "GetDigIO", 0, "", {}, "B", {setState("/digitalInputs", "10")}, ERR_SUCCESS, {10}},
        // backlight and light sensor
        {"backlight level", "GetBacklight", 0, "", {}, "B", {}, ERR_SUCCESS, {180}},
        {"backlight set", "GetBacklight", 1, "w", {100}, "", {}, ERR_SUCCESS, {}, 0, "", "/backlight/level", "100"},
        {"backlight status", "GetBacklight", 2, "", {}, "B", {}, ERR_SUCCESS, {1}},
        {"illuminance", "GetLightsensor", 1, "", {}, "H", {}, ERR_SUCCESS, {300}, 30},
        {"light sensor range", "GetLightsensor", 5, "", {}, "i", {}, ERR_SUCCESS, {0}},
        {"light sensor range set", "GetLightsensor", 6, "w", {1}, "", {}, ERR_SUCCESS, {}, 0, "", "/lightSensor/range",
         "1"},
        {"light sensor range back", "GetLightsensor", 6, "w", {0}, "", {}, ERR_SUCCESS, {}, 0, "", "/lightSensor/range",
         "0"},
        // configuration
        {"selector 1", "GetConfig", 0, "", {}, "i", {}, ERR_SUCCESS, {1}},
        {"long setting", "GetConfig", 5, "", {}, "I", {}, ERR_SUCCESS, {3600}},
        {"word setting", "GetConfig", 9, "", {}, "i", {}, ERR_SUCCESS, {120}},
        {"voltage setting", "GetConfig", 10, "", {}, "d", {}, ERR_SUCCESS, {20.0}, 0.05},
        {"temperature setting", "GetConfig", 11, "", {}, "h", {}, ERR_SUCCESS, {-10}},
        {"selector 1 set", "GetConfig", 13, "w", {2}, "", {}, ERR_SUCCESS, {}, 0, "", "/config/selector1", "2"},
        {"voltage setting set", "GetConfig", 23, "d", {24.0}, "", {}, ERR_SUCCESS, {}},
        {"voltage setting read back", "GetConfig", 10, "", {}, "d", {}, ERR_SUCCESS, {24.0}, 0.05},
        // power
        {"display power", "GetPower", 0, "", {}, "i", {}, ERR_SUCCESS, {1}},
        {"video power", "GetPower", 2, "", {}, "B", {}, ERR_SUCCESS, {3}},
        {"power state", "GetPower", 8, "", {}, "i", {}, ERR_SUCCESS, {2}},
        {"display power off", "GetPower", 4, "w", {0}, "", {}, ERR_SUCCESS, {}, 0, "", "/power/display", "0"},
        {"power command", "GetPower", 9, "", {}, "", {}, ERR_SUCCESS, {}, 0, "", "/power/commands", "1"},
        // battery
        {"battery present", "GetBattery", 0, "", {}, "B", {}, ERR_SUCCESS, {1}},
        {"battery charge", "GetBattery", 1, "", {}, "B", {}, ERR_SUCCESS, {76}},
        {"battery temperatures", "GetBattery", 7, "", {}, "hh", {}, ERR_SUCCESS, {29, 31}},
        // power manager: the service's control codes reach the unit (register, then withdraw on release)
        {"power manager register", "GetPowerMgr", 0, "w", {1}, "", {setState("/service", "{}")}, ERR_SUCCESS, {}, 0,
         "", "/service/controls", "[134,133]"},
        {"power manager refuses 3", "GetPowerMgr", 0, "w", {3}, "", {setState("/service", "{}")},
         ERR_INVALID_PARAMETER_NULL, {}},
        // front LED
        {"front LED on time", "GetFrontLED", 1, "", {}, "B", {}, ERR_SUCCESS, {100}},
        {"front LED colour", "GetFrontLED", 6, "", {}, "BBB", {}, ERR_SUCCESS, {0, 15, 0}},
        {"front LED colour set", "GetFrontLED", 14, "www", {15, 0, 3}, "", {}, ERR_SUCCESS, {}, 0, "",
         "/frontLed/color", "[15,0,3]"},
        // floating point, exact on both builds: 100 / 0.2 is 500 in doubles (just below it in the
        // x87 unit's 80 bits, which truncates to 249 units)
        {"front LED signal 0.2 Hz, half on", "GetFrontLED", 8, "dw", {0.2, 50}, "", {}, ERR_SUCCESS, {}, 0, "",
         "/frontLed/timing", "[250,250,0,0]"},
        {"front LED signal 0.4 Hz, always on", "GetFrontLED", 8, "dw", {0.4, 100}, "", {}, ERR_SUCCESS, {}, 0, "",
         "/frontLed/timing", "[250,0,0,0]"},
        {"front LED signal read", "GetFrontLED", 0, "", {}, "dB", {setState("/frontLed/timing", "[3,4,0,0]")},
         ERR_SUCCESS, {100.0 / 7.0, 42}},
        // buzzer
        {"buzzer frequency", "GetBuzzer", 0, "", {}, "H", {}, ERR_SUCCESS, {2000}},
        {"buzzer volume", "GetBuzzer", 1, "", {}, "H", {}, ERR_SUCCESS, {25}},
        {"buzzer frequency set", "GetBuzzer", 3, "w", {3000}, "", {}, ERR_SUCCESS, {}, 0, "", "/buzzer/frequency",
         "3000"},
        // touch
        {"touch mode", "GetTouchScreen", 0, "", {}, "i", {}, ERR_SUCCESS, {1}},
        // parameter 5 is the driver's register 9, kept four times as large
        {"touch parameter 5", "GetTouchScreen", 5, "w", {5}, "H", {}, ERR_SUCCESS, {100}},
        {"touch parameter 5 set", "GetTouchScreen", 4, "ww", {5, 3}, "", {}, ERR_SUCCESS, {}, 0, "",
         "/touch/parameters/9", "12"},
        {"touch calibration mode", "GetTouchScreenCalib", 1, "", {}, "i", {}, ERR_SUCCESS, {0}},
        // telematics: the modules behind the port expander
        {"telematics available", "GetTelematics", 0, "", {}, "i", {}, ERR_SUCCESS, {1}},
        {"modem power", "GetTelematics", 1, "", {}, "i", {}, ERR_SUCCESS, {0}},
        {"GPS input", "GetTelematics", 5, "", {}, "i", {}, ERR_SUCCESS, {1}},
        {"WLAN power on", "GetTelematics", 8, "w", {1}, "", {}, ERR_SUCCESS, {}, 0, "",
         "/expander/modules/wlan/on", "true"},
        {"WLAN power read back", "GetTelematics", 3, "", {}, "i", {}, ERR_SUCCESS, {1}},
        // CAN settings: the channel and the rate are checked before the machine's registry is read
        {"CAN channel 0", "GetCanSetting", 0, "w", {0}, "H", {}, ERR_INVALID_PARAMETER_NULL, {}},
        {"CAN rate above 1000", "GetCanSetting", 2, "ww", {1, 1001}, "", {}, ERR_INVALID_PARAMETER_NULL, {}},
        // firmware: the service hears of an upgrade
        {"firmware notifies the service", "GetFirmwareUpgrade", 7, "", {}, "", {setState("/service", "{}")},
         ERR_SUCCESS, {}, 0, "", "/service/controls", "[129]"},
        // maintenance: a supervisor register, and one beyond the byte-indexed ones
        {"supervisor register 10", "GetPelmuxPrivate", 2, "w", {10}, "H", {}, ERR_SUCCESS, {1234}},
        {"supervisor register 127", "GetPelmuxPrivate", 2, "w", {127}, "H", {}, ERR_INVALID_DATA_RANGE, {}},
        // video
        {"video channel 1", "GetVideo", 0, "w", {1}, "", {}, ERR_SUCCESS, {}},
        {"video channel 3", "GetVideo", 0, "w", {3}, "", {}, ERR_INVALID_PARAMETER_NULL, {}},
        {"video line mode before a channel", "GetVideo", 3, "", {}, "i", {}, ERR_OPEN_FAILED, {}},
    };
    // every driver fault on every version record and diagnostic word
    for (const auto& r : versionRequests)
        for (const auto& f : versionFaults())
            rows.push_back({std::string(r.name) + ", " + f.what, "GetAuxVersion", r.slot, "", {}, "BBBB",
                            {f.commandFor(r.code)}, f.expected, {}});
    for (const auto& r : wordRequests)
        for (const auto& f : wordFaults())
            rows.push_back({std::string(r.name) + ", " + f.what, "GetDiagnostic", r.slot, "", {}, "H",
                            {f.commandFor(r.code)}, f.expected, {}});
    return rows;
    }();
    return cases;
}
// clang-format on

namespace detail {

inline double outputValue(char kind, const unsigned char* p)
{
    switch (kind) {
    case 'b':
        return *reinterpret_cast<const bool*>(p) ? 1 : 0;
    case 'B':
        return *p;
    case 'h':
        return *reinterpret_cast<const std::int16_t*>(p);
    case 'H':
        return *reinterpret_cast<const std::uint16_t*>(p);
    case 'i':
        return *reinterpret_cast<const std::int32_t*>(p);
    case 'I':
        return *reinterpret_cast<const std::uint32_t*>(p);
    case 'd':
        return *reinterpret_cast<const double*>(p);
    default:
        return *reinterpret_cast<const float*>(p);
    }
}

} // namespace detail

// Runs one row against the unit.
template <class Env> void runCase(Env& env, const Case& c)
{
    const std::string what = std::string(c.factory) + " slot " + std::to_string(c.slot) + " (" + c.what + ")";
    env.command(R"({"cmd":"clear"})");
    for (const auto& command : c.setup)
        env.check(commandDone(env.command(command)), what + ": set-up " + command);
    void* object = env.make(c.factory);
    env.check(object != nullptr, what + ": the factory gives an object");
    if (object == nullptr)
        return;

    constexpr unsigned char sentinel = 0xA5;
    std::vector<std::vector<unsigned char>> outputs;
    std::vector<Word> words;
    int code;
    if (std::string(c.ins) == "d") {
        code = callSlotDouble(object, c.slot, c.in.at(0));
    } else if (std::string(c.ins) == "dw") {
        code = callSlotDoubleWord(object, c.slot, c.in.at(0), static_cast<Word>(c.in.at(1)));
    } else {
        for (std::size_t i = 0; c.ins[i] != '\0'; ++i)
            words.push_back(static_cast<Word>(static_cast<std::intptr_t>(c.in.at(i))));
        for (std::size_t i = 0; c.outs[i] != '\0'; ++i)
            outputs.emplace_back(c.outs[i] == 's' ? 64 : 8, sentinel);
        for (std::size_t i = 0; c.outs[i] != '\0'; ++i) {
            words.push_back(reinterpret_cast<Word>(outputs[i].data()));
            if (c.outs[i] == 's')
                words.push_back(static_cast<Word>(outputs[i].size() - 1));
        }
        code = callSlot(object, c.slot, words);
    }
    env.check(code == c.code,
              what + ": code " + std::to_string(code) + ", expected " + std::to_string(c.code));
    for (std::size_t i = 0; c.outs[i] != '\0' && i < outputs.size(); ++i) {
        const auto& out = outputs[i];
        if (c.code != Varnholt::ERR_SUCCESS) {
            bool untouched = true;
            for (unsigned char byte : out)
                untouched = untouched && byte == sentinel;
            env.check(untouched, what + ": output " + std::to_string(i) + " untouched");
        } else if (c.outs[i] == 's') {
            const auto* text = reinterpret_cast<const char*>(out.data());
            env.check(std::memchr(text, '\0', out.size()) != nullptr && c.text == text,
                      what + ": text '" + std::string(text, strnlen(text, out.size())) + "', expected '" +
                          c.text + "'");
        } else if (i < c.expected.size()) {
            const double got = detail::outputValue(c.outs[i], out.data());
            env.check(std::fabs(got - c.expected[i]) <= c.tolerance,
                      what + ": output " + std::to_string(i) + " is " + std::to_string(got) + ", expected " +
                          std::to_string(c.expected[i]));
        }
    }
    releaseSlot(object, releaseSlotOf(c.factory));
    if (*c.statePath != '\0') {
        const std::string value =
            valueOf(env.command(R"({"cmd":"get","path":")" + std::string(c.statePath) + "\"}"));
        env.check(value == c.state,
                  what + ": unit " + c.statePath + " is " + value + ", expected " + c.state);
    }
}

template <class Env> void runUnitCases(Env& env)
{
    for (const auto& c : unitCases())
        runCase(env, c);
}

} // namespace pelmux::shared
