// The few library internals the command-line tool uses beside the public interfaces: where the
// unit and the settings file lie on this machine, one settings cycle, the board library's sensor
// count and what kind of firmware image a file holds. Linux only (the tool runs on the simulated
// unit); nothing else of src/ is the tool's to include.
#pragma once

#include <pelmux/ResultCode.h>

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace pelmux::tool {

// PELMUX_ROOT as the library resolves it (empty when the default folder was refused, the reason
// already printed).
std::string unitRoot();
// <root>/board.sock.
std::string boardSocketPath();
// Where a Windows path of the library's own ("C:\ProgramData\...") lies on this machine.
std::string hostPathOf(const std::string& windowsPath);

// The settings file as one cycle under its lock sees it.
struct SettingsSnapshot {
    std::string path; // the Windows path the library uses
    std::map<std::string, std::string> entries;
};
SettingsSnapshot readSettings();
// Sets one key in one cycle; answers whether the file now holds it, and the path written.
bool writeSetting(const std::string& key, const std::string& value, std::string& path);

// Sends the library's trace texts (the automatic backlight controller's, the light-sensor
// averaging's) to `sink` from now on; an empty function switches them off again.
void traceTo(std::function<void(std::string_view text)> sink);

// Ends the touch calibration the controller runs (its kind byte 0), which TouchScreenCalib cannot
// ask for: a calibration left running when its user went away. The controller keeps the values of
// its last finished calibration. Answers ERR_OPEN_FAILED (1) without a driver, else what the
// request answered (ERR_IOCTRL_OPERATION_FAILED (7) when it failed). Blocks for one request.
Varnholt::ResultCode endTouchCalibration();

// How many temperature sensors the board library reports (0 when it does not answer).
std::uint32_t temperatureSensorCount();

// What a firmware image file shows of the target it was built for, which the tool names when the
// library's image check has refused the file: whether it names the micro-controllers' flash window
// 0x0800 in an extended linear address record, and the micro-controller markers it carries. The
// judging is the check's alone.
struct ImageFindings {
    bool read = false;                // false: the file cannot be read (the job reports that itself)
    bool namesFlashWindow = false;    // an extended linear address record names window 0x0800
    std::vector<std::string> markers; // the micro-controller markers the file carries
};
// Reads the whole file at `path` (a host path) and looks at it.
ImageFindings inspectImage(const std::string& path);

// The sizes in bytes, both included, that the library's image check takes for a micro-controller's
// image file: the system supervisor's (`front` false) or the front micro-controller's.
struct ImageSizeRule {
    std::uint64_t smallest;
    std::uint64_t largest;
};
ImageSizeRule imageSizeRule(bool front);

} // namespace pelmux::tool
