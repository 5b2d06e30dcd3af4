#include "Output.h"
#include "Cli.h"

#include "JsonText.h"
#include "ToolAccess.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <iostream>
#include <stdexcept>
#include <unistd.h>

namespace pelmux::cli {

namespace {

constexpr const char* resultNames[] = {
    "ERR_SUCCESS",
    "ERR_OPEN_FAILED",
    "ERR_NOT_SUPPORTED",
    "ERR_UNKNOWN_FEATURE",
    "ERR_DATATYPE_MISMATCH",
    "ERR_CODE_NOT_EXIST",
    "ERR_BUFFER_SIZE_ERROR",
    "ERR_IOCTRL_OPERATION_FAILED",
    "ERR_INVALID_DATA_RANGE",
    "ERR_INVALID_PARAMETER_NULL",
    "ERR_CREATING_THREAD",
    "ERR_FUNCTION_IN_PROGRESS",
    "ERR_CHECKSUM_INCORRECT",
    "ERR_INITIALISATION_FAILED",
    "ERR_VERIFY_FAILED",
    "ERR_DEVICE_READ_FAILED",
    "ERR_DEVICE_WRITE_FAILED",
    "ERR_EXECUTE_COMMAND_FAILED",
    "ERR_JIDA_EEPROM_ACCESS",
    "ERR_JIDA_TEMPERATURE_READ",
    "ERR_AVERAGE_CALC_STARTED",
    "ERR_FUNCTION_NOT_RUNNING",
    "ERR_I2C_EXPANDER_READ",
    "ERR_I2C_EXPANDER_WRITE",
    "ERR_I2C_EXPANDER_INIT",
    "ERR_NEWER_SS_REQUIRED",
    "ERR_NEWER_FPGA_REQUIRED",
    "ERR_NEWER_FRONT_UC_REQUIRED",
    "ERR_GSM_GPRS_NOT_AVAILABLE",
    "ERR_WLAN_NOT_AVAILABLE",
    "ERR_BLUETOOTH_NOT_AVAILABLE",
    "ERR_GPS_NOT_AVAILABLE",
    "ERR_MEMORY_ALLOCATION_FAILED",
};
static_assert(std::size(resultNames) == Varnholt::resultCodeCount);

} // namespace

const char* resultName(Varnholt::ResultCode code)
{
    const auto index = static_cast<unsigned>(code);
    return index < std::size(resultNames) ? resultNames[index] : "?";
}

std::string describe(Varnholt::ResultCode code)
{
    return std::string(Varnholt::GetErrorStringA(code)) + " (" + resultName(code) + ", " +
           std::to_string(static_cast<int>(code)) + ")";
}

Json failure(Varnholt::ResultCode code)
{
    return {{"result", static_cast<int>(code)}, {"error", Varnholt::GetErrorStringA(code)}};
}

Json unfinished(const std::string& why, Varnholt::ResultCode code)
{
    Json answer = failure(code != Varnholt::ERR_SUCCESS ? code : Varnholt::ERR_EXECUTE_COMMAND_FAILED);
    answer["error"] = why;
    return answer;
}

Json outcome(Varnholt::ResultCode result, Json value)
{
    if (result != Varnholt::ERR_SUCCESS)
        return failure(result);
    if (!value.is_object())
        return {{"result", 0}, {"value", std::move(value)}};
    value["result"] = 0;
    return value;
}

std::string driverHint(Varnholt::ResultCode code)
{
    if (code != Varnholt::ERR_OPEN_FAILED)
        return {};
    return "The board driver is absent: no unit answers on " + tool::boardSocketPath() +
           ". Start one with `pelmux sim`" +
           (std::getenv("PELMUX_ROOT") == nullptr ? " (PELMUX_ROOT is not set: this is the default root)."
                                                  : ".");
}

std::optional<long long> parseInteger(const std::string& text)
{
    std::size_t at = text.size() > 1 && (text[0] == '-' || text[0] == '+') ? 1 : 0;
    const bool hex = text.size() > at + 2 && text[at] == '0' && (text[at + 1] == 'x' || text[at + 1] == 'X');
    const std::string digits = text.substr(at + (hex ? 2 : 0));
    if (digits.empty() ||
        digits.find_first_not_of(hex ? "0123456789abcdefABCDEF" : "0123456789") != std::string::npos)
        return std::nullopt;
    try {
        const long long magnitude = std::stoll(digits, nullptr, hex ? 16 : 10);
        return text[0] == '-' ? -magnitude : magnitude;
    } catch (const std::out_of_range&) {
        return std::nullopt;
    }
}

std::optional<long long> parseInteger(const std::string& text, long long lowest, long long highest)
{
    const auto value = parseInteger(text);
    if (!value || *value < lowest || *value > highest)
        return std::nullopt;
    return value;
}

void acceptHexAndDecimal(CLI::App& app)
{
    for (CLI::Option* option : app.get_options()) {
        const std::string type = option->get_type_name(); // "INT:INT in [0 - 255]"
        if (type.rfind("INT", 0) != 0 && type.rfind("UINT", 0) != 0)
            continue;
        // CLI11 reads integers with base 0, which takes 010 as octal 8: hand it the decimal text.
        option->transform(
            [](std::string text) {
                const auto value = parseInteger(text);
                return value ? std::to_string(*value) : text;
            },
            "", "");
    }
    for (CLI::App* sub : app.get_subcommands([](CLI::App*) { return true; }))
        acceptHexAndDecimal(*sub);
}

std::string fileProblem(const std::string& path, bool write)
{
    namespace fs = std::filesystem;
    std::error_code error;
    const bool exists = fs::exists(path, error);
    const std::string verb = write ? "cannot write " : "cannot read ";
    if (exists && fs::is_directory(path, error))
        return verb + path + ": " + std::strerror(EISDIR);
    if (!write) {
        if (::access(path.c_str(), R_OK) != 0)
            return verb + path + ": " + std::strerror(errno);
        return {};
    }
    // Opened as the command would open it (access() says yes to root on a read-only file system);
    // a file made only for the question is removed again.
    const int descriptor = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
    if (descriptor < 0)
        return verb + path + ": " + std::strerror(errno);
    ::close(descriptor);
    if (!exists)
        ::unlink(path.c_str());
    return {};
}

void printTable(const std::vector<std::pair<std::string, std::string>>& rows)
{
    std::size_t width = 0;
    for (const auto& [key, value] : rows)
        width = std::max(width, key.size());
    for (const auto& [key, value] : rows)
        std::cout << "  " << key << std::string(width - key.size() + 2, ' ') << value << '\n';
}

std::string jsonText(const Json& value, int indent)
{
    return sim::jsonText(value, indent);
}

void printJson(const Json& value)
{
    std::cout << jsonText(value, 2) << '\n';
}

void printJsonLine(const Json& value)
{
    std::cout << jsonText(value) << std::endl;
}

void heading(const std::string& title)
{
    std::cout << '\n' << title << '\n' << std::string(title.size(), '-') << '\n';
}

namespace {

int showErrors(const Options& options)
{
    Json list = Json::array();
    std::vector<std::pair<std::string, std::string>> rows;
    for (int i = 0; i < Varnholt::resultCodeCount; ++i) {
        const auto code = static_cast<Varnholt::ResultCode>(i);
        list.push_back({{"code", i}, {"name", resultName(code)}, {"text", Varnholt::GetErrorStringA(code)}});
        // Codes right-aligned, so that the names start in one column.
        const std::string number = std::to_string(i);
        rows.emplace_back(std::string(2 - std::min<std::size_t>(2, number.size()), ' ') + number + "  " +
                              resultName(code),
                          Varnholt::GetErrorStringA(code));
    }
    if (options.json)
        printJson(list);
    else
        printTable(rows);
    return 0;
}

} // namespace

void addErrorCommands(CLI::App& app, const Options& options, int& exitCode)
{
    app.add_subcommand("errors", "Every result code and its text")->callback([&] {
        exitCode = showErrors(options);
    });
}

bool Readings::add(const std::string& key, const std::string& label, Varnholt::ResultCode result, Json value,
                   std::string text)
{
    return addTo(json[key], label, result, std::move(value), std::move(text));
}

bool Readings::addTo(Json& entry, const std::string& label, Varnholt::ResultCode result, Json value,
                     std::string text)
{
    entry.update(outcome(result, std::move(value)));
    if (result == Varnholt::ERR_SUCCESS) {
        rows.emplace_back(label, std::move(text));
        return true;
    }
    if (absentText != nullptr && result == Varnholt::ERR_NOT_SUPPORTED) {
        rows.emplace_back(label, absentText);
        return false;
    }
    all = false;
    rows.emplace_back(label, "error: " + describe(result));
    if (hint.empty())
        hint = hintFor(result);
    return false;
}

void Readings::addAbsent(const std::string& key, const std::string& label, Varnholt::ResultCode result,
                         std::string text)
{
    json[key] = failure(result);
    rows.emplace_back(label, std::move(text));
}

bool Readings::print(const Options& options) const
{
    if (options.json) {
        printJson(json);
        return all;
    }
    printTable(rows);
    if (!hint.empty())
        std::cout << hint << '\n';
    return all;
}

void reportFailure(Varnholt::ResultCode result, const Options& options, const FailureText& how)
{
    if (options.json) {
        printJson(failure(result));
        return;
    }
    std::ostream& out = how.command.empty() ? std::cout : std::cerr;
    out << (how.command.empty() ? "error: " : "pelmux " + how.command + ": ") << describe(result) << '\n';
    if (const std::string hint = how.hintFor(result); !hint.empty())
        out << hint << '\n';
}

bool reportChange(Varnholt::ResultCode result, const Options& options, const std::string& done, Json data,
                  const FailureText& how)
{
    if (result != Varnholt::ERR_SUCCESS) {
        reportFailure(result, options, how);
        return false;
    }
    if (options.json)
        printJson(outcome(result, std::move(data)));
    else
        std::cout << done << '\n';
    return true;
}

} // namespace pelmux::cli
