// `pelmux diag`: the supervisor's diagnostic words and record, the board's temperature sensors, and
// the texts of start-up reason and hardware error codes.
#include "Cli.h"

#include "ToolAccess.h"

#include <cstdio>
#include <iostream>

namespace pelmux::cli {

namespace PELMUX_FILE_SCOPE {

using Varnholt::Diagnostic;
using Varnholt::ResultCode;
using WordRead = ResultCode (Diagnostic::*)(unsigned short*);

// The words' meaning is the supervisor's; the library passes them on unchanged. The tool reads
// word 1 as the start-up reason and word 2 as the hardware error status, as the simulated unit's
// profile describes them (docs/unit-profile.md).
struct WordSource {
    const char* key;
    WordRead read;
};

constexpr WordSource words[] = {
    {"word1", &Diagnostic::getWord1}, {"word2", &Diagnostic::getWord2}, {"word3", &Diagnostic::getWord3},
    {"word4", &Diagnostic::getWord4}, {"word5", &Diagnostic::getWord5}, {"word6", &Diagnostic::getWord6},
};
constexpr std::size_t startupReasonWord = 0;
constexpr std::size_t hwErrorStatusWord = 1;

std::string hex16(unsigned value)
{
    char text[8];
    std::snprintf(text, sizeof text, "0x%04X", value & 0xFFFFu);
    return text;
}

std::string hexBytes(const unsigned char* bytes, std::size_t count)
{
    std::string text;
    char digits[4];
    for (std::size_t i = 0; i < count; ++i) {
        std::snprintf(digits, sizeof digits, i == 0 ? "%02X" : " %02X", bytes[i]);
        text += digits;
    }
    return text;
}

void readWords(Diagnostic& diag, Readings& readings)
{
    readings.json["words"] = Json::object();
    for (std::size_t i = 0; i < std::size(words); ++i) {
        unsigned short value = 0;
        const WordRead read = words[i].read;
        const ResultCode result = (diag.*read)(&value);
        // Words 1 and 2 carry a code the library has texts for.
        std::string text = hex16(value) + " (" + std::to_string(value) + ")";
        const char* meaningKey = nullptr;
        const char* meaning = nullptr;
        if (i == startupReasonWord) {
            meaningKey = "startupReason";
            meaning = Varnholt::GetStartupReasonStringA(value);
            text += "  start-up reason: " + std::string(meaning);
        } else if (i == hwErrorStatusWord) {
            meaningKey = "hwErrorStatus";
            meaning = Varnholt::GetHwErrorStatusStringA(value);
            text += "  hardware error status: " + std::string(meaning);
        }
        if (readings.addTo(readings.json["words"][words[i].key], "Word " + std::to_string(i + 1), result,
                           {{"value", value}}, text) &&
            meaningKey != nullptr)
            readings.json[meaningKey] = {{"code", value}, {"text", meaning}};
    }
}

void readRecordAndPair(Diagnostic& diag, Readings& readings)
{
    unsigned char record[Varnholt::diagnosticRecordSize] = {};
    const ResultCode recordResult = diag.getRecord(record);
    const std::string hex = hexBytes(record, sizeof record);
    readings.add("record", "Record", recordResult, {{"hex", hex}}, hex);
    unsigned short first = 0;
    unsigned short second = 0;
    const ResultCode pairResult = diag.getWordPair(&first, &second);
    readings.add("wordPair", "Word pair", pairResult, {{"first", first}, {"second", second}},
                 hex16(first) + " " + hex16(second));
}

void readTemperatures(Diagnostic& diag, Readings& readings)
{
    const std::uint32_t count = tool::temperatureSensorCount();
    readings.json["temperatures"] = Json::array();
    if (count == 0) {
        readings.rows.emplace_back("Temperatures", "no sensor answers (board library absent?)");
        readings.all = false;
        return;
    }
    for (std::uint32_t i = 0; i < count && i < 256; ++i) {
        short celsius = 0;
        int type = 0;
        const ResultCode result = diag.getTemperature(static_cast<unsigned char>(i), &celsius, &type);
        readings.addTo(readings.json["temperatures"].emplace_back(Json{{"index", i}}),
                       "Sensor " + std::to_string(i), result, {{"celsius", celsius}, {"type", type}},
                       std::to_string(celsius) + " °C (type " + std::to_string(type) + ")");
    }
}

bool showDiagnostics(const Options& options)
{
    Diagnostic* diag = GetDiagnostic();
    Readings readings;
    readWords(*diag, readings);
    readRecordAndPair(*diag, readings);
    readTemperatures(*diag, readings);
    diag->release();
    return readings.print(options);
}

bool sendCommand(const Options& options)
{
    Diagnostic* diag = GetDiagnostic();
    const ResultCode result = diag->sendCommand();
    diag->release();
    if (options.json)
        printJson(outcome(result, Json::object()));
    else
        std::cout << (result == Varnholt::ERR_SUCCESS ? "Command sent." : "error: " + describe(result))
                  << '\n';
    return result == Varnholt::ERR_SUCCESS;
}

bool showText(const Options& options, const std::string& kind, const std::string& codeText)
{
    const auto code = parseInteger(codeText, 0, 0xFFFFFFFFll);
    if (!code) {
        std::cerr << "pelmux diag text: CODE must be a number from 0 to 4294967295 (decimal or 0x...)\n";
        return false;
    }
    const auto value = static_cast<unsigned int>(*code);
    const char* text =
        kind == "hw" ? Varnholt::GetHwErrorStatusStringA(value) : Varnholt::GetStartupReasonStringA(value);
    if (options.json)
        printJson({{"kind", kind}, {"code", value}, {"text", text}});
    else
        std::cout << text << '\n';
    return true;
}

} // namespace PELMUX_FILE_SCOPE

void addDiagCommands(CLI::App& app, const Options& options, int& exitCode)
{
    using namespace PELMUX_FILE_SCOPE;
    auto* diag = app.add_subcommand(
        "diag", "Diagnostic words and record, temperatures, start-up reason and hardware error status");
    diag->callback([&, diag] {
        if (diag->get_subcommands().empty())
            exitCode = showDiagnostics(options) ? 0 : 1;
    });

    // Option values live as long as the App, which outlives every callback.
    static std::string kind;
    static std::string code;
    auto* text = diag->add_subcommand("text", "Text of a hardware error status or start-up reason code");
    text->add_option("kind", kind, "hw (hardware error status) or startup (start-up reason)")
        ->required()
        ->transform(CLI::IsMember({"hw", "startup"}, CLI::ignore_case));
    text->add_option("code", code, "The code; only its low 16 bits count")->required();
    text->callback([&] { exitCode = showText(options, kind, code) ? 0 : 1; });

    diag->add_subcommand("command", "Send the supervisor's data-less diagnostic command")->callback([&] {
        exitCode = sendCommand(options) ? 0 : 1;
    });
}

TourStep diagTour()
{
    using namespace PELMUX_FILE_SCOPE;
    return {"Diagnostics", [] {
                bool all = showDiagnostics(Options{});
                for (const unsigned code : {15u, 85u, 170u, 240u, 0u})
                    std::cout << "  start-up reason " << code << ": "
                              << Varnholt::GetStartupReasonStringA(code) << '\n';
                for (const unsigned code : {0u, 16u, 53u, 131u, 132u})
                    std::cout << "  hardware error " << code << ": \""
                              << Varnholt::GetHwErrorStatusStringA(code) << "\"\n";
                return all;
            }};
}

} // namespace pelmux::cli
