// How the pelmux tool tells what it read and what it changed: result codes as text and JSON, tables,
// the readings of a show command and the answer of a change, each in one place, so that every
// command answers in the same shape.
#pragma once

#include <pelmux/Pelmux.h>

#include <nlohmann/json.hpp>

#include <string>
#include <utility>
#include <vector>

namespace pelmux::cli {

using Json = nlohmann::json;

struct Options {
    bool json = false;
};

// "ERR_OPEN_FAILED" for 1, and so on; "?" outside the table.
const char* resultName(Varnholt::ResultCode code);
// "Open failed (ERR_OPEN_FAILED, 1)".
std::string describe(Varnholt::ResultCode code);
// The JSON object of a failed operation: {"result": code, "error": its text}.
Json failure(Varnholt::ResultCode code);
// The JSON of a command that did not finish for `why` (a point not taken in time, a stop signal):
// failure(code) with "error": why, code being the library's refusal when one ended it, otherwise
// ERR_EXECUTE_COMMAND_FAILED (17), so that "result" is never 0 for it.
Json unfinished(const std::string& why, Varnholt::ResultCode code = Varnholt::ERR_SUCCESS);
// The JSON of one answer: on success `value` with "result": 0 (a value that is no object becomes
// {"result": 0, "value": value}), otherwise failure(result).
Json outcome(Varnholt::ResultCode result, Json value);
// A line explaining an absent board driver, or empty when the code is another.
std::string driverHint(Varnholt::ResultCode code);

// Prints rows as two aligned columns.
void printTable(const std::vector<std::pair<std::string, std::string>>& rows);
// Every JSON text the tool writes, compact or indented by `indent` spaces. Never throws: a text
// that is not UTF-8 (a setting another program wrote, an identity field, a file name) has each
// byte that is not part of a UTF-8 character replaced by U+FFFD, as the simulated unit writes its
// own. Text output shows such bytes as they are.
std::string jsonText(const Json& value, int indent = -1);
// A show command's answer, indented.
void printJson(const Json& value);
// One line of a long command's answer (a step, or its end), compact and written at once.
void printJsonLine(const Json& value);
void heading(const std::string& title);

// The readings of one show command: a JSON object and table rows, whether all succeeded, and
// a hint for the first failure.
struct Readings {
    Json json = Json::object();
    std::vector<std::pair<std::string, std::string>> rows;
    bool all = true;
    std::string hint;
    // The hint a failure gives; driverHint unless a command knows better.
    std::string (*hintFor)(Varnholt::ResultCode) = driverHint;
    // When set, ERR_NOT_SUPPORTED shows this text and does not count as a failure.
    const char* absentText = nullptr;

    // Answers whether the reading succeeded. Its JSON (outcome) becomes json[key]; a failed one is
    // shown with its result.
    bool add(const std::string& key, const std::string& label, Varnholt::ResultCode result, Json value,
             std::string text);
    // The same into `entry` (an element of a list, a field of a group): the reading's fields join
    // those the caller put there (a channel, an index).
    bool addTo(Json& entry, const std::string& label, Varnholt::ResultCode result, Json value,
               std::string text);
    // A reading whose failure is itself the answer (an output the unit lacks, a blink without a
    // period): its result in JSON and `text` in the table, no failure and no hint.
    void addAbsent(const std::string& key, const std::string& label, Varnholt::ResultCode result,
                   std::string text);
    // Prints the JSON object or the table and the hint; answers whether all readings succeeded.
    bool print(const Options& options) const;
};

// How a command tells a failure as text, then the hint when there is one. A command named here
// ("led color") writes "pelmux led color: TEXT" on standard error; without a name the failure goes
// to standard output as "error: TEXT", as in the commands whose tables show failures so.
struct FailureText {
    std::string command = {};
    std::string (*hintFor)(Varnholt::ResultCode) = driverHint;
};

// Prints a failed operation: failure(result) as JSON, or as `how` tells it.
void reportFailure(Varnholt::ResultCode result, const Options& options, const FailureText& how);
// Prints what a change answered: on success `done` (a line) or, as JSON, `data` (an object) with
// "result": 0; a failure as reportFailure does. Answers whether the change succeeded.
bool reportChange(Varnholt::ResultCode result, const Options& options, const std::string& done, Json data,
                  const FailureText& how = {});

} // namespace pelmux::cli
