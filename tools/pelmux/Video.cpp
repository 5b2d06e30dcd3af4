// `pelmux video`: the analogue video inputs: a channel's settings, its scaling, cropping and area,
// and snapshots written as bitmap files.
#include "Cli.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>

namespace pelmux::cli {

namespace PELMUX_FILE_SCOPE {

using Varnholt::ResultCode;
using Varnholt::Video;

// Where the demo tour leaves its snapshot: the folder the tour was started in.
constexpr const char* tourSnapshotFile = "pelmux-demo-video.bmp";

std::string number(double value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

// Runs `use` on a video object set up for `channel` and gives it back. A failed init is reported
// and `use` does not run.
template <class Use> bool withChannel(const char* command, int channel, const Options& options, Use use)
{
    Video* video = GetVideo();
    if (video == nullptr) {
        std::cerr << "pelmux video " << command << ": no memory for the video object\n";
        return false;
    }
    const ResultCode result = video->init(static_cast<unsigned char>(channel));
    bool done = false;
    if (result != Varnholt::ERR_SUCCESS)
        reportFailure(result, options, {});
    else
        done = use(*video);
    video->release();
    return done;
}

// The readings of one command: a JSON field and a table row each.

void readScaling(Video& video, Readings& readings)
{
    float x = 0.0f;
    float y = 0.0f;
    const ResultCode result = video.getScaling(&x, &y);
    readings.add("scaling", "Scaling", result, {{"x", x}, {"y", y}}, "x " + number(x) + ", y " + number(y));
}

void readCropping(Video& video, Readings& readings)
{
    unsigned char c[4] = {};
    const ResultCode result = video.getCropping(&c[0], &c[1], &c[2], &c[3]);
    readings.add("cropping", "Cropping", result,
                 {{"left", c[0]}, {"top", c[1]}, {"right", c[2]}, {"bottom", c[3]}},
                 "left " + std::to_string(c[0]) + ", top " + std::to_string(c[1]) + ", right " +
                     std::to_string(c[2]) + ", bottom " + std::to_string(c[3]));
}

void readArea(Video& video, Readings& readings)
{
    std::uint16_t a[4] = {};
    const ResultCode result = video.getVideoArea(&a[0], &a[1], &a[2], &a[3]);
    readings.add("area", "Area", result, {{"values", {a[0], a[1], a[2], a[3]}}},
                 std::to_string(a[0]) + " " + std::to_string(a[1]) + " " + std::to_string(a[2]) + " " +
                     std::to_string(a[3]));
}

bool showInfo(int channel, const Options& options)
{
    return withChannel("info", channel, options, [&](Video& video) {
        Readings readings;
        unsigned char control = 0;
        ResultCode result = video.getControlByte(&control);
        char hex[8];
        std::snprintf(hex, sizeof hex, "0x%02X", control);
        readings.add("controlByte", "Control byte", result,
                     {{"value", control}, {"enabled", (control & 1) != 0}, {"auxFlag", (control & 8) != 0}},
                     std::string(hex) + ((control & 1) != 0 ? " (enabled" : " (disabled") +
                         ((control & 8) != 0 ? ", auxiliary flag set)" : ")"));
        std::int32_t mode = 0;
        result = video.getLineMode(&mode);
        readings.add("lineMode", "Line mode", result, {{"value", mode}}, std::to_string(mode));
        std::int32_t standard = 0;
        result = video.getVideoStandard(&standard);
        readings.add("standard", "Video standard", result, {{"value", standard}},
                     std::to_string(standard) +
                         (standard == 0 || standard == 4 ? " (field B on top)" : " (field A on top)"));
        std::uint16_t first = 0;
        std::uint16_t second = 0;
        float rate = 0.0f;
        result = video.getSignalInfo(&first, &second, &rate);
        readings.add("signal", "Signal", result, {{"first", first}, {"second", second}, {"rate", rate}},
                     std::to_string(first) + ", " + std::to_string(second) + ", rate " + number(rate));
        std::int32_t word = 0;
        result = video.getControlWord(&word);
        readings.add("controlWord", "Control word", result, {{"value", word}}, std::to_string(word));
        unsigned char p[3] = {};
        result = video.getByteParameters(&p[0], &p[1], &p[2]);
        readings.add("byteParameters", "Byte parameters", result, {{"values", {p[0], p[1], p[2]}}},
                     std::to_string(p[0]) + " " + std::to_string(p[1]) + " " + std::to_string(p[2]));
        readScaling(video, readings);
        readCropping(video, readings);
        readArea(video, readings);
        return readings.print(options);
    });
}

// Shows one reading, or sets it when values were given.
template <class Show, class Set>
bool showOrSet(const char* command, int channel, bool set, const Options& options, Show show, Set change)
{
    return withChannel(command, channel, options, [&](Video& video) {
        if (set)
            return change(video);
        Readings readings;
        show(video, readings);
        return readings.print(options);
    });
}

// The bitmap's width and height from its core header.
std::pair<int, int> bitmapSize(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    unsigned char header[26] = {};
    if (!in.read(reinterpret_cast<char*>(header), sizeof header))
        return {0, 0};
    return {header[18] | (header[19] << 8), header[20] | (header[21] << 8)};
}

bool snapshot(int channel, const std::string& file, bool singleField, const Options& options)
{
    // A file the tool cannot write would come back as the driver's open failure.
    if (const std::string problem = fileProblem(file, true); !problem.empty()) {
        if (options.json)
            printJson({{"result", static_cast<int>(Varnholt::ERR_OPEN_FAILED)}, {"error", problem}});
        else
            std::cerr << "pelmux video snapshot: " << problem << '\n';
        return false;
    }
    return withChannel("snapshot", channel, options, [&](Video& video) {
        const ResultCode result = video.saveSnapshot(file.c_str(), singleField ? 1 : 0);
        const auto [width, height] = bitmapSize(file);
        return reportChange(
            result, options,
            "Snapshot of channel " + std::to_string(channel) + " (" + std::to_string(width) + " x " +
                std::to_string(height) + (singleField ? ", one field" : "") + ") written to " + file + ".",
            {{"file", file}, {"width", width}, {"height", height}, {"singleField", singleField}});
    });
}

} // namespace PELMUX_FILE_SCOPE

void addVideoCommands(CLI::App& app, const Options& options, int& exitCode)
{
    using namespace PELMUX_FILE_SCOPE;
    auto* video = app.add_subcommand("video", "Analogue video inputs: settings and snapshots");
    video->require_subcommand(1);

    // Option values live as long as the App, which outlives every callback.
    static int channel = 1;
    const auto addChannel = [](CLI::App* command) {
        command->add_option("channel", channel, "Video input, 1 or 2")->required()->check(CLI::Range(1, 2));
    };

    static std::string file;
    static std::string field;
    auto* snap = video->add_subcommand("snapshot", "Capture a frame into a 24-bit bitmap file");
    addChannel(snap);
    snap->add_option("file", file, "Bitmap file to write (replaced when it exists)")->required();
    snap->add_option("--field", field, "single: one field, each line shown twice")
        ->transform(CLI::IsMember({"single", "both"}, CLI::ignore_case));
    snap->callback([&] { exitCode = snapshot(channel, file, field == "single", options) ? 0 : 1; });

    auto* info = video->add_subcommand("info", "Control byte, line mode, standard, signal and every setting");
    addChannel(info);
    info->callback([&] { exitCode = showInfo(channel, options) ? 0 : 1; });

    static std::vector<float> scale;
    auto* scaleCommand = video->add_subcommand("scale", "Show the scale factors, or set them (0.25 to 4)");
    addChannel(scaleCommand);
    scaleCommand->add_option("factors", scale, "X Y (both, or none to show)")->expected(0, 2);
    scaleCommand->callback([&] {
        if (!scale.empty() && scale.size() != 2) {
            std::cerr << "pelmux video scale: give both factors X Y, or none\n";
            exitCode = 2;
            return;
        }
        exitCode = showOrSet("scale", channel, !scale.empty(), options, readScaling,
                             [&](Video& v) {
                                 return reportChange(v.setScaling(scale[0], scale[1]), options,
                                                     "Scaling x " + number(scale[0]) + ", y " +
                                                         number(scale[1]) + ".",
                                                     {{"x", scale[0]}, {"y", scale[1]}});
                             })
                       ? 0
                       : 1;
    });

    static std::vector<int> crop;
    auto* cropCommand = video->add_subcommand(
        "crop",
        "Show the cropping, or set it: LEFT and RIGHT pixels (even), TOP and BOTTOM lines (0 to 127)");
    addChannel(cropCommand);
    cropCommand->add_option("values", crop, "LEFT TOP RIGHT BOTTOM (all four, or none to show)")
        ->expected(0, 4)
        ->check(CLI::Range(0, 255));
    cropCommand->callback([&] {
        if (!crop.empty() && crop.size() != 4) {
            std::cerr << "pelmux video crop: give all four values LEFT TOP RIGHT BOTTOM, or none\n";
            exitCode = 2;
            return;
        }
        exitCode =
            showOrSet("crop", channel, !crop.empty(), options, readCropping,
                      [&](Video& v) {
                          const auto b = [](int value) { return static_cast<unsigned char>(value); };
                          return reportChange(
                              v.setCropping(b(crop[0]), b(crop[1]), b(crop[2]), b(crop[3])), options,
                              "Cropping set.",
                              {{"left", crop[0]}, {"top", crop[1]}, {"right", crop[2]}, {"bottom", crop[3]}});
                      })
                ? 0
                : 1;
    });

    static std::vector<int> area;
    auto* areaCommand = video->add_subcommand("area", "Show the capture area, or set its four values");
    addChannel(areaCommand);
    areaCommand->add_option("values", area, "A B C D (all four, or none to show)")
        ->expected(0, 4)
        ->check(CLI::Range(0, 65535));
    areaCommand->callback([&] {
        if (!area.empty() && area.size() != 4) {
            std::cerr << "pelmux video area: give all four values, or none\n";
            exitCode = 2;
            return;
        }
        exitCode =
            showOrSet("area", channel, !area.empty(), options, readArea,
                      [&](Video& v) {
                          const auto w = [](int value) { return static_cast<std::uint16_t>(value); };
                          return reportChange(v.setVideoArea(w(area[0]), w(area[1]), w(area[2]), w(area[3])),
                                              options, "Area set.", {{"values", area}});
                      })
                ? 0
                : 1;
    });
}

TourStep videoTour()
{
    using namespace PELMUX_FILE_SCOPE;
    return {"Video", [] {
                const Options quiet{};
                bool all = showInfo(1, quiet);
                const std::string path = (std::filesystem::current_path() / tourSnapshotFile).string();
                std::cout << '\n';
                all = snapshot(1, path, false, quiet) && all;
                return all;
            }};
}

} // namespace pelmux::cli
