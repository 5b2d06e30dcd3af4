// `pelmux touch`: the touch controller's mode, value and twelve parameters, shown and changed.
// `pelmux calib`: the touch calibration: start one, name and check points, read and write its six
// values, and run a whole calibration (touching the simulated screen itself with --touch).
#include "Cli.h"
#include "Stop.h"

#include "Server.h"
#include "ToolAccess.h"

#include <chrono>
#include <iostream>

namespace pelmux::cli {

namespace PELMUX_FILE_SCOPE {

using Varnholt::ResultCode;
using Varnholt::TouchScreen;
using Varnholt::TouchScreenCalib;

constexpr int parameterCount = 12;
constexpr int calibrationValueCount = 6;
// The highest point of each calibration kind 1 to 4 (points count from 1).
constexpr int kindPoints[] = {5, 5, 9, 13};

constexpr const char* parameterHelp =
    "INDEX 0 to 11. Values: 0, 10, 11 any 0..65535; 1, 2 0..4095; 3 to 6 0..16383; 7, 9 0..32767; "
    "8 on (non-zero) or off (0). Their meaning is the touch controller's";

// Runs `use` on a new object of the interface and gives it back.
template <class Interface, class Use> bool withObject(Interface* (*get)(), const char* command, Use use)
{
    Interface* object = get();
    if (object == nullptr) {
        std::cerr << "pelmux " << command << ": no memory for the object\n";
        return false;
    }
    const bool done = use(*object);
    object->release();
    return done;
}

bool showTouch(const Options& options)
{
    return withObject(GetTouchScreen, "touch", [&](TouchScreen& touch) {
        Readings readings;
        std::int32_t mode = 0;
        ResultCode result = touch.getTouchMode(&mode);
        readings.add("mode", "Mode", result, mode, std::to_string(mode));
        std::uint16_t value = 0;
        result = touch.getTouchValue(&value);
        readings.add("value", "Value", result, value, std::to_string(value));
        for (int index = 0; index < parameterCount; ++index) {
            result = touch.getTouchParameter(index, &value);
            readings.add("parameter" + std::to_string(index), "Parameter " + std::to_string(index), result,
                         value, std::to_string(value));
        }
        readings.print(options);
        return readings.all;
    });
}

bool setMode(int mode, const Options& options)
{
    return withObject(GetTouchScreen, "touch mode", [&](TouchScreen& touch) {
        const ResultCode result = touch.setTouchMode(static_cast<unsigned char>(mode));
        return reportChange(result, options, "Touch mode " + std::to_string(mode & 3) + ".",
                            {{"mode", mode & 3}}, {.command = "touch mode"});
    });
}

bool setValue(int value, const Options& options)
{
    return withObject(GetTouchScreen, "touch value", [&](TouchScreen& touch) {
        const ResultCode result = touch.setTouchValue(static_cast<std::uint16_t>(value));
        return reportChange(result, options, "Touch value " + std::to_string(value) + ".", {{"value", value}},
                            {.command = "touch value"});
    });
}

bool parameter(int index, const std::optional<int>& value, const Options& options)
{
    return withObject(GetTouchScreen, "touch param", [&](TouchScreen& touch) {
        if (value) {
            const ResultCode result = touch.setTouchParameter(index, static_cast<std::uint16_t>(*value));
            return reportChange(result, options,
                                "Parameter " + std::to_string(index) + " = " + std::to_string(*value) + ".",
                                {{"index", index}, {"value", *value}}, {.command = "touch param"});
        }
        Readings readings;
        std::uint16_t read = 0;
        const ResultCode result = touch.getTouchParameter(index, &read);
        readings.add("parameter" + std::to_string(index), "Parameter " + std::to_string(index), result, read,
                     std::to_string(read));
        readings.print(options);
        return readings.all;
    });
}

std::string kindText(std::int32_t kind)
{
    if (kind == 0)
        return "none running";
    return "kind " + std::to_string(kind) + " (" + std::to_string(kindPoints[kind - 1]) + " points)";
}

bool showCalibration(const Options& options)
{
    return withObject(GetTouchScreenCalib, "calib", [&](TouchScreenCalib& calib) {
        Readings readings;
        std::int32_t kind = 0;
        ResultCode result = calib.getCalibrationMode(&kind);
        readings.add("kind", "Calibration", result, kind, kindText(kind));
        for (int index = 0; index < calibrationValueCount; ++index) {
            std::uint16_t value = 0;
            result = calib.getCalibrationValue(index, &value);
            readings.add("value" + std::to_string(index), "Value " + std::to_string(index), result, value,
                         std::to_string(value));
        }
        readings.print(options);
        return readings.all;
    });
}

bool startCalibration(int kind, const Options& options)
{
    return withObject(GetTouchScreenCalib, "calib start", [&](TouchScreenCalib& calib) {
        const ResultCode result = calib.setCalibrationMode(kind);
        return reportChange(result, options, "Calibration started: " + kindText(kind) + ".", {{"kind", kind}},
                            {.command = "calib start"});
    });
}

bool namePoint(int point, const Options& options)
{
    return withObject(GetTouchScreenCalib, "calib point", [&](TouchScreenCalib& calib) {
        const ResultCode result = calib.setCalibrationPoint(static_cast<unsigned char>(point));
        return reportChange(result, options, "Point " + std::to_string(point) + " is to be touched now.",
                            {{"point", point}}, {.command = "calib point"});
    });
}

bool checkPoint(int point, const Options& options)
{
    return withObject(GetTouchScreenCalib, "calib check", [&](TouchScreenCalib& calib) {
        unsigned char done = 0;
        const ResultCode result = calib.checkCalibrationPoint(&done, static_cast<unsigned char>(point));
        return reportChange(result, options,
                            "Point " + std::to_string(point) + (done == 1 ? " taken." : " not taken yet."),
                            {{"point", point}, {"done", done == 1}}, {.command = "calib check"});
    });
}

bool calibrationValue(int index, const std::optional<int>& value, const Options& options)
{
    return withObject(GetTouchScreenCalib, "calib value", [&](TouchScreenCalib& calib) {
        if (value) {
            const ResultCode result = calib.setCalibrationValue(index, static_cast<std::uint16_t>(*value));
            return reportChange(result, options,
                                "Value " + std::to_string(index) + " = " + std::to_string(*value) + ".",
                                {{"index", index}, {"value", *value}}, {.command = "calib value"});
        }
        Readings readings;
        std::uint16_t read = 0;
        const ResultCode result = calib.getCalibrationValue(index, &read);
        readings.add("value" + std::to_string(index), "Value " + std::to_string(index), result, read,
                     std::to_string(read));
        readings.print(options);
        return readings.all;
    });
}

// Touches the simulated screen: the controller takes the point it awaits.
Json touchSimulatedScreen()
{
    return sim::sendUnitCommand(tool::boardSocketPath(), R"({"cmd":"touch"})");
}

bool touchCommand(const Options& options)
{
    const Json answer = touchSimulatedScreen();
    const bool ok = answer.value("ok", false);
    if (options.json)
        printJson(answer);
    else if (ok)
        std::cout << "Touched point " << answer.value("point", 0) << " (raw " << answer.value("x", 0) << ", "
                  << answer.value("y", 0) << ")"
                  << (answer.value("finished", false) ? "; calibration done." : ".") << '\n';
    else
        std::cerr << "pelmux calib touch: " << answer.value("error", std::string("the unit refused")) << '\n';
    return ok;
}

// What a calibration that ends unfinished leaves: ended, so that the controller does not await
// points nobody touches, with the values of its last finished calibration.
constexpr const char* endedText = "the calibration is ended; the controller keeps its earlier values";

bool abortCalibration(const Options& options)
{
    const ResultCode result = tool::endTouchCalibration();
    return reportChange(result, options, std::string("Calibration ended: ") + endedText + ".", {{"kind", 0}},
                        {.command = "calib abort"});
}

// A whole calibration: starts it, names each point and waits until the controller has taken it
// (a person touches the screen, or with `touch` the tool touches the simulated one), then shows the
// values the controller keeps. A point not taken in time, a refusal, Ctrl-C or SIGTERM end the
// calibration. Answers the exit code.
int runCalibration(int kind, bool touch, int secondsPerPoint, const Options& options)
{
    StopSignals stop;
    TouchScreenCalib* calib = GetTouchScreenCalib();
    if (calib == nullptr) {
        std::cerr << "pelmux calib run: no memory for the object\n";
        return 1;
    }
    ResultCode result = calib->setCalibrationMode(kind);
    if (result != Varnholt::ERR_SUCCESS) {
        calib->release();
        if (options.json)
            printJson(failure(result));
        else
            std::cerr << "pelmux calib run: " << describe(result) << '\n';
        return 1;
    }
    const bool quiet = options.json;
    Json progress = Json::array();
    std::string why; // why the calibration did not finish
    int signal = 0;
    for (int point = 1; why.empty() && point <= kindPoints[kind - 1]; ++point) {
        const auto p = static_cast<unsigned char>(point);
        if ((result = calib->setCalibrationPoint(p)) != Varnholt::ERR_SUCCESS) {
            why = "point " + std::to_string(point) + ": " + describe(result);
            break;
        }
        if (!quiet)
            std::cout << "  point " << point << " of " << kindPoints[kind - 1]
                      << (touch ? ": touching the simulated screen" : ": touch the screen now") << std::flush;
        if (touch && !touchSimulatedScreen().value("ok", false)) {
            why = "the simulated screen could not be touched";
            break;
        }
        unsigned char done = 0;
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(secondsPerPoint);
        while ((result = calib->checkCalibrationPoint(&done, p)) == Varnholt::ERR_SUCCESS && done != 1 &&
               std::chrono::steady_clock::now() < until && signal == 0)
            signal = stop.waitFor(std::chrono::milliseconds(100));
        if (signal != 0)
            why = stopName(signal);
        else if (result != Varnholt::ERR_SUCCESS)
            why = "point " + std::to_string(point) + ": " + describe(result);
        else if (done != 1)
            why = "point " + std::to_string(point) + " was not taken within " +
                  std::to_string(secondsPerPoint) + " s";
        else if (!quiet)
            std::cout << ", taken\n";
        if (why.empty())
            progress.push_back(point);
    }
    if (!why.empty()) {
        const ResultCode ended = tool::endTouchCalibration();
        calib->release();
        std::cerr << "\npelmux calib run: " << why << "; ";
        if (ended == Varnholt::ERR_SUCCESS)
            std::cerr << endedText << ".\n";
        else
            std::cerr << "the calibration could not be ended (" << describe(ended)
                      << ") and still runs: `pelmux calib abort` ends it.\n";
        if (options.json) {
            Json answer = unfinished(why, result);
            answer.update(
                {{"kind", kind}, {"pointsTaken", progress}, {"ended", ended == Varnholt::ERR_SUCCESS}});
            printJson(answer);
        }
        return signal != 0 ? stoppedExitCode(signal) : 1;
    }
    std::int32_t running = -1;
    result = calib->getCalibrationMode(&running);
    calib->release();
    if (options.json) {
        printJson({{"result", static_cast<int>(result)},
                   {"kind", kind},
                   {"pointsTaken", progress},
                   {"running", running}});
    } else {
        std::cout << "  every point taken; the controller "
                  << (running == 0 ? "has ended the calibration" : "still runs it") << ".\n";
    }
    return result == Varnholt::ERR_SUCCESS ? 0 : 1;
}

std::optional<int> optionalNumber(const std::vector<int>& values, std::size_t at)
{
    return values.size() > at ? std::optional<int>(values[at]) : std::nullopt;
}

} // namespace PELMUX_FILE_SCOPE

void addTouchCommands(CLI::App& app, const Options& options, int& exitCode)
{
    using namespace PELMUX_FILE_SCOPE;
    auto* touch = app.add_subcommand("touch", "Touch controller: mode, value and parameters (shown without a "
                                              "subcommand)");
    touch->callback([&, touch] {
        if (touch->get_subcommands().empty())
            exitCode = showTouch(options) ? 0 : 1;
    });

    // Option values live as long as the App, which outlives every callback.
    static int mode = 0;
    auto* modeCommand = touch->add_subcommand("mode", "Set the touch mode (only its two low bits are sent)");
    modeCommand->add_option("mode", mode, "0 to 3")->required()->check(CLI::Range(0, 255));
    modeCommand->callback([&] { exitCode = setMode(mode, options) ? 0 : 1; });

    static int value = 0;
    auto* valueCommand = touch->add_subcommand("value", "Set the controller's 16-bit touch value");
    valueCommand->add_option("value", value, "0 to 65535")->required()->check(CLI::Range(0, 65535));
    valueCommand->callback([&] { exitCode = setValue(value, options) ? 0 : 1; });

    static std::vector<int> parameterArguments;
    auto* parameterCommand = touch->add_subcommand(
        "param", std::string("Show a parameter, or set it with a value. ") + parameterHelp);
    parameterCommand->add_option("index value", parameterArguments, "INDEX [VALUE]")
        ->required()
        ->expected(1, 2)
        ->check(CLI::Range(0, 65535));
    parameterCommand->callback([&] {
        exitCode = parameter(parameterArguments[0], optionalNumber(parameterArguments, 1), options) ? 0 : 1;
    });

    auto* calib = app.add_subcommand(
        "calib", "Touch calibration: the kind running and the six values (shown without a subcommand)");
    calib->callback([&, calib] {
        if (calib->get_subcommands().empty())
            exitCode = showCalibration(options) ? 0 : 1;
    });

    static int kind = 1;
    auto* start = calib->add_subcommand("start", "Start a calibration");
    start->add_option("kind", kind, "1 or 2 (5 points), 3 (9 points), 4 (13 points)")
        ->required()
        ->check(CLI::Range(1, 4));
    start->callback([&] { exitCode = startCalibration(kind, options) ? 0 : 1; });

    static int point = 0;
    auto* pointCommand = calib->add_subcommand("point", "Tell the controller which point is touched next");
    pointCommand->add_option("point", point, "1 to the kind's highest point")
        ->required()
        ->check(CLI::Range(0, 255));
    pointCommand->callback([&] { exitCode = namePoint(point, options) ? 0 : 1; });

    static int checked = 0;
    auto* check = calib->add_subcommand("check", "Whether the controller has taken a point");
    check->add_option("point", checked, "The point")->required()->check(CLI::Range(0, 255));
    check->callback([&] { exitCode = checkPoint(checked, options) ? 0 : 1; });

    static std::vector<int> valueArguments;
    auto* valueOfCalib = calib->add_subcommand("value", "Show a calibration value, or set it");
    valueOfCalib->add_option("index value", valueArguments, "INDEX (0 to 5) [VALUE (0 to 65535)]")
        ->required()
        ->expected(1, 2)
        ->check(CLI::Range(0, 65535));
    valueOfCalib->callback([&] {
        exitCode = calibrationValue(valueArguments[0], optionalNumber(valueArguments, 1), options) ? 0 : 1;
    });

    calib
        ->add_subcommand("touch", "Touch the screen of a running `pelmux sim`: the controller takes the "
                                  "point it awaits")
        ->callback([&] { exitCode = touchCommand(options) ? 0 : 1; });

    static int runKind = 1;
    static bool runTouch = false;
    static int seconds = 30;
    auto* run = calib->add_subcommand("run", "Run a whole calibration: name each point and wait until it is "
                                             "taken (touch the screen, or `pelmux calib touch`). A point not "
                                             "taken in time, Ctrl-C or SIGTERM end the calibration");
    run->add_option("kind", runKind, "1 to 4")->required()->check(CLI::Range(1, 4));
    run->add_flag("--touch", runTouch, "Touch each point of the simulated screen from here");
    run->add_option("--seconds", seconds, "How long to wait for each point (default 30)")
        ->check(CLI::Range(1, 3600));
    run->callback([&] { exitCode = runCalibration(runKind, runTouch, seconds, options); });

    calib
        ->add_subcommand("abort", "End a running calibration (one a `calib run` or `calib start` left); the "
                                  "controller keeps its earlier values")
        ->callback([&] { exitCode = abortCalibration(options) ? 0 : 1; });
}

TourStep touchTour()
{
    using namespace PELMUX_FILE_SCOPE;
    return {"Touch screen", [] {
                const Options quiet{};
                bool all = showTouch(quiet);
                std::cout << "  a five-point calibration, touching the simulated screen:\n";
                all = runCalibration(1, true, 5, quiet) == 0 && all;
                return showCalibration(quiet) && all;
            }};
}

} // namespace pelmux::cli
