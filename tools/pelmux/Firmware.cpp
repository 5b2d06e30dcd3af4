// `pelmux firmware`: upgrade or verify the FPGA, the system supervisor or the front
// micro-controller from an image file with a live progress bar, follow a job started with
// --no-wait, and write generated images to try it with.
#include "Cli.h"
#include "Stop.h"

#include "ToolAccess.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace pelmux::cli {

namespace {

using Varnholt::FirmwareUpgrade;
using Varnholt::ResultCode;
using Varnholt::UpgradeStatus;

const char* actionName(std::uint32_t action)
{
    switch (action) {
    case Varnholt::UPGRADE_PREPARING:
        return "Preparing";
    case Varnholt::UPGRADE_CONNECTING:
        return "Connecting";
    case Varnholt::UPGRADE_READING_FILE:
        return "Reading file";
    case Varnholt::UPGRADE_WRITING:
        return "Writing";
    case Varnholt::UPGRADE_VERIFYING:
        return "Verifying";
    case Varnholt::UPGRADE_COMPLETE:
        return "Complete";
    case Varnholt::UPGRADE_FAILED:
        return "Failed";
    default:
        return "?";
    }
}

bool ended(const UpgradeStatus& s)
{
    return s.currentAction == Varnholt::UPGRADE_COMPLETE || s.currentAction == Varnholt::UPGRADE_FAILED;
}

// Draws the job's progress: on a terminal one bar per step, redrawn in place, as wide as the
// terminal allows, a finished step left at 100 %; otherwise a line per step and per tenth. A step
// the job has left is shown at 100 %, with the steps of `steps` (the job's steps in order, when
// known) that began and ended between two looks at the status.
class ProgressView {
public:
    explicit ProgressView(std::vector<std::uint32_t> steps = {})
        : steps_(std::move(steps)), terminal_(::isatty(STDOUT_FILENO) == 1)
    {
    }

    void show(const UpgradeStatus& s)
    {
        const bool newStep = s.currentAction != shownAction_ || first_;
        // A step's progress is shown rising: the HEX reader posts 0 % once it has met the end record.
        const int percent = newStep || s.errorCode != Varnholt::ERR_SUCCESS
                                ? s.percent
                                : std::max<int>(s.percent, shownPercent_);
        if (ended(s)) {
            if (!first_ && s.currentAction == Varnholt::UPGRADE_COMPLETE)
                endSteps(std::nullopt);
            else if (terminal_ && !first_)
                std::cout << '\n';
            std::cout << actionName(s.currentAction);
            if (s.errorCode != Varnholt::ERR_SUCCESS)
                std::cout << ": " << describe(s.errorCode);
            std::cout << std::endl;
        } else {
            if (newStep && !first_)
                endSteps(s.currentAction);
            if (terminal_) {
                drawBar(s.currentAction, percent);
                std::cout << std::flush;
            } else if (newStep || percent / 10 != shownPercent_ / 10 ||
                       (s.errorCode != Varnholt::ERR_SUCCESS && s.errorCode != shownError_)) {
                std::cout << "  " << actionName(s.currentAction) << ' ' << percent << " %";
                if (s.errorCode != Varnholt::ERR_SUCCESS)
                    std::cout << " (" << describe(s.errorCode) << ')';
                std::cout << std::endl;
            }
        }
        shownAction_ = s.currentAction;
        shownPercent_ = percent;
        shownError_ = s.errorCode;
        first_ = false;
    }

private:
    // The step shown last has ended: it is shown at 100 %, and so is every step of the job between
    // it and `next` (all the job's steps after it when the job is complete).
    void endSteps(std::optional<std::uint32_t> next)
    {
        std::vector<std::uint32_t> done{shownAction_};
        const auto from = std::find(steps_.begin(), steps_.end(), shownAction_);
        if (from != steps_.end()) {
            const auto to = next ? std::find(from + 1, steps_.end(), *next) : steps_.end();
            if (!next || to != steps_.end())
                done.insert(done.end(), from + 1, to);
        }
        for (const std::uint32_t step : done) {
            if (terminal_) {
                drawBar(step, 100);
                std::cout << '\n';
            } else if (step != shownAction_ || shownPercent_ != 100) {
                std::cout << "  " << actionName(step) << " 100 %" << std::endl;
            }
        }
    }

    // "  Writing      [#####     ] 50 %", the bar cut to the terminal's width.
    static void drawBar(std::uint32_t action, int percent)
    {
        constexpr int label = 13;
        constexpr int besides = 2 + label + 2 + 6; // indent, label, brackets, " 100 %"
        winsize size{};
        const int columns =
            ::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0 ? size.ws_col : 80;
        const int width = std::clamp(columns - besides - 1, 0, 30);
        const int filled = percent * width / 100;
        const std::string name = actionName(action);
        std::cout << '\r' << "  " << name << std::string(label - std::min<int>(label, name.size()), ' ');
        if (width > 0)
            std::cout << '[' << std::string(filled, '#') << std::string(width - filled, ' ') << ']';
        std::cout << ' ' << percent << " %";
    }

    std::vector<std::uint32_t> steps_;
    bool terminal_;
    bool first_ = true;
    std::uint32_t shownAction_ = 0;
    int shownPercent_ = 0;
    ResultCode shownError_ = Varnholt::ERR_SUCCESS;
};

// A step of a job as JSON: {"step": "Writing", "action": 4, "percent": 40, "result": 0}.
Json stepJson(const UpgradeStatus& s)
{
    return {{"step", actionName(s.currentAction)},
            {"action", static_cast<int>(s.currentAction)},
            {"percent", static_cast<int>(s.percent)},
            {"result", static_cast<int>(s.errorCode)}};
}

// How a running job is shown: the progress view, or with --json a line per step (and per error
// the step reports); the line of the end is the command's own.
class JobView {
public:
    explicit JobView(const Options& options, std::vector<std::uint32_t> steps = {})
        : json_(options.json), progress_(std::move(steps))
    {
    }

    void show(const UpgradeStatus& s)
    {
        if (!json_) {
            progress_.show(s);
            return;
        }
        if (ended(s) || (!first_ && s.currentAction == shownAction_ && s.errorCode == shownError_))
            return;
        printJsonLine(stepJson(s));
        shownAction_ = s.currentAction;
        shownError_ = s.errorCode;
        first_ = false;
    }

private:
    bool json_;
    ProgressView progress_;
    bool first_ = true;
    std::uint32_t shownAction_ = 0;
    ResultCode shownError_ = Varnholt::ERR_SUCCESS;
};

// The steps a job runs through when it succeeds, in order.
std::vector<std::uint32_t> jobSteps(const std::string& action, const std::string& target)
{
    std::vector<std::uint32_t> steps{Varnholt::UPGRADE_PREPARING, Varnholt::UPGRADE_READING_FILE};
    if (target != "fpga")
        steps.push_back(Varnholt::UPGRADE_CONNECTING);
    if (action == "upgrade")
        steps.push_back(Varnholt::UPGRADE_WRITING);
    steps.push_back(Varnholt::UPGRADE_VERIFYING);
    return steps;
}

// Why a micro-controller job that failed with ERR_OPEN_FAILED in its connecting step failed, from
// the last status seen of that step: past 75 % the port was open and set up, and only the
// bootloader's silence fails the step after that; empty when the job failed otherwise.
std::string connectionFailure(const UpgradeStatus& seen, const UpgradeStatus& last)
{
    if (last.errorCode != Varnholt::ERR_OPEN_FAILED || seen.currentAction != Varnholt::UPGRADE_CONNECTING)
        return {};
    if (seen.percent >= 75)
        return "no bootloader answered on COM1: the target did not enter its bootloader, or nothing links "
               "it to the port";
    return "the serial port COM1 cannot be opened or set up";
}

// The unit's state after a job's process ended in the middle of a step.
std::string stateAfterStop(bool upgrade, std::uint32_t action)
{
    if (!upgrade || action < Varnholt::UPGRADE_WRITING)
        return "nothing was written; the target keeps its firmware";
    if (action == Varnholt::UPGRADE_WRITING)
        return "the target may be left without working firmware: run the upgrade again";
    return "the image is written but not verified: run `pelmux firmware verify` with it";
}

// How often the tool looks at a running job's status (and for Ctrl-C).
constexpr std::chrono::milliseconds statusPoll{20};

using Start = ResultCode (FirmwareUpgrade::*)(const char*, bool);

Start startOperation(const std::string& action, const std::string& target)
{
    const bool upgrade = action == "upgrade";
    if (target == "fpga")
        return upgrade ? &FirmwareUpgrade::startFpgaUpgrade : &FirmwareUpgrade::startFpgaVerification;
    if (target == "ss")
        return upgrade ? &FirmwareUpgrade::startSSUpgrade : &FirmwareUpgrade::startSSVerification;
    return upgrade ? &FirmwareUpgrade::startFrontUpgrade : &FirmwareUpgrade::startFrontVerification;
}

// Where a job started with --no-wait leaves its status for `pelmux firmware status`.
std::string statusFilePath()
{
    return tool::unitRoot() + "/firmware-job.json";
}

void saveStatus(const UpgradeStatus& s, const std::string& what)
{
    const std::string path = statusFilePath();
    const Json record = {{"job", what},
                         {"pid", static_cast<int>(::getpid())},
                         {"action", static_cast<int>(s.currentAction)},
                         {"percent", static_cast<int>(s.percent)},
                         {"result", static_cast<int>(s.errorCode)}};
    {
        std::ofstream out(path + ".new", std::ios::trunc);
        out << jsonText(record) << '\n';
    }
    std::rename((path + ".new").c_str(), path.c_str());
}

// Follows a started job through its status until it ends; answers the status it ended with. A
// stop signal goes to `onStop` with the job's status read when the signal is taken: the job runs on
// while the tool waits, and may have left the step it was last seen at (begun to erase, say). A
// job that has ended meanwhile is shown as ended.
template <class Show, class OnStop>
UpgradeStatus follow(FirmwareUpgrade& upgrade, StopSignals& stop, Show show, OnStop onStop)
{
    UpgradeStatus status{};
    for (;;) {
        upgrade.getUpgradeStatus(status, false);
        show(status);
        if (ended(status))
            return status;
        if (const int signal = stop.waitFor(statusPoll); signal != 0) {
            upgrade.getUpgradeStatus(status, false);
            if (!ended(status))
                onStop(signal, status);
        }
    }
}

bool complete(const UpgradeStatus& s)
{
    return s.currentAction == Varnholt::UPGRADE_COMPLETE;
}

const char* targetName(const std::string& target)
{
    return target == "fpga" ? "an FPGA" : target == "ss" ? "a system supervisor" : "a front micro-controller";
}

// The micro-controller markers a file carries, in words: "carries the marker "SystemSupervisor"".
std::string markersText(const tool::ImageFindings& found)
{
    if (found.markers.empty())
        return "carries no micro-controller marker";
    std::string text;
    for (const std::string& marker : found.markers)
        text += (text.empty() ? "carries the marker \"" : " and the marker \"") + marker + '"';
    return text;
}

// What the file shows of a micro-controller image, in words.
std::string microControllerSigns(const tool::ImageFindings& found)
{
    std::string signs;
    if (found.namesFlashWindow)
        signs = "it names the micro-controllers' flash window 0x0800 in an extended linear address record";
    if (!found.markers.empty())
        signs += (signs.empty() ? "it " : " and ") + markersText(found);
    return signs;
}

// What the file shows when the library's image check refused it for `target` (ERR_DATATYPE_MISMATCH):
// the library judges, the tool only names what it finds. The FPGA takes no micro-controller image
// (it would take the records as its data lines); a micro-controller takes an image of a size its
// target takes that carries no other target's marker.
std::string refusedImage(const std::string& target, const std::string& file)
{
    const tool::ImageFindings found = tool::inspectImage(file);
    std::string text = file + " does not look like " + targetName(target) + " image";
    if (!found.read)
        return text;
    const std::string signs = microControllerSigns(found);
    if (target == "fpga")
        return signs.empty() ? text : text + ": " + signs + ", as a micro-controller image";
    std::error_code error;
    const auto size = std::filesystem::file_size(file, error);
    text += ": it is " + std::to_string(error ? 0 : size) + " bytes long and " + markersText(found);
    const tool::ImageSizeRule rule = tool::imageSizeRule(target == "front");
    return text + "; the library takes " + targetName(target) + " image of " + std::to_string(rule.smallest) +
           " to " + std::to_string(rule.largest) + " bytes of text without another target's marker";
}

// The fields of a job's JSON lines that name it.
Json jobJson(const std::string& action, const std::string& target, const std::string& file)
{
    return {{"job", action}, {"target", target}, {"file", file}};
}

// A job the library did not start: its reason on standard error (for an image refused, what the
// file shows), and with --json a line that carries both.
void reportNotStarted(const std::string& action, const std::string& target, const std::string& file,
                      ResultCode code, const Options& options)
{
    const std::string found = code == Varnholt::ERR_DATATYPE_MISMATCH ? refusedImage(target, file) : "";
    std::cerr << "pelmux firmware " << action << ": " << describe(code) << '\n';
    if (!found.empty())
        std::cerr << "pelmux firmware " << action << ": " << found << '\n';
    if (options.json) {
        Json line = failure(code);
        line.update(jobJson(action, target, file));
        if (!found.empty())
            line["found"] = found;
        printJsonLine(line);
    }
}

// The library has no cancel for a job. While an upgrade writes, the first Ctrl-C only says what
// stopping would do; a second one, or SIGTERM, ends the process and with it the job (the system
// gives the session's job lock back; the serial line is the next job's to take). The status it is
// given is the one read when the signal was taken.
class JobStop {
public:
    JobStop(const std::string& action, const std::string& target, const std::string& file,
            const Options& options)
        : action_(action), target_(target), file_(file), json_(options.json)
    {
    }

    void operator()(int signal, const UpgradeStatus& s)
    {
        const bool upgrade = action_ == "upgrade";
        if (signal == SIGINT && !warned_ && upgrade && s.currentAction == Varnholt::UPGRADE_WRITING) {
            warned_ = true;
            std::cerr << "\npelmux firmware upgrade: the job is writing " << target_
                      << "; stopping it now leaves the target without working firmware. The job goes on: "
                         "press Ctrl-C again (or send SIGTERM) to stop it anyway."
                      << std::endl;
            return;
        }
        const std::string what = std::string(stopName(signal)) + " during " + actionName(s.currentAction) +
                                 " at " + std::to_string(int(s.percent)) +
                                 " %: the job ends with this process; " +
                                 stateAfterStop(upgrade, s.currentAction);
        std::cerr << "\npelmux firmware " << action_ << ": " << what << '.' << std::endl;
        if (json_) {
            Json line = unfinished(what);
            line.update(jobJson(action_, target_, file_));
            line.update({{"step", actionName(s.currentAction)}, {"percent", static_cast<int>(s.percent)}});
            printJsonLine(line);
        }
        endAfterStop(signal);
    }

private:
    std::string action_;
    std::string target_;
    std::string file_;
    bool json_;
    bool warned_ = false;
};

// The line that ends a job with --json: the step it ended at and its result.
void printJobEnd(const std::string& action, const std::string& target, const std::string& file,
                 const UpgradeStatus& s)
{
    Json line = complete(s)
                    ? Json{{"result", 0}}
                    : failure(s.errorCode != Varnholt::ERR_SUCCESS ? s.errorCode
                                                                   : Varnholt::ERR_EXECUTE_COMMAND_FAILED);
    line.update(jobJson(action, target, file));
    line.update({{"step", actionName(s.currentAction)}, {"percent", static_cast<int>(s.percent)}});
    printJsonLine(line);
}

// Runs a job to its end, shown as it goes. The library's start judges the image (and refuses one
// meant for another kind of target before the job).
bool runJob(const std::string& action, const std::string& target, const std::string& file,
            const Options& options)
{
    StopSignals stop;
    FirmwareUpgrade* upgrade = GetFirmwareUpgrade();
    if (upgrade == nullptr) {
        reportNotStarted(action, target, file, Varnholt::ERR_MEMORY_ALLOCATION_FAILED, options);
        return false;
    }
    if (!options.json)
        std::cout << (action == "upgrade" ? "Upgrading " : "Verifying ") << target << " from " << file
                  << '\n';
    const ResultCode started = (upgrade->*startOperation(action, target))(file.c_str(), false);
    bool done = false;
    if (started != Varnholt::ERR_SUCCESS) {
        reportNotStarted(action, target, file, started, options);
    } else {
        JobView view(options, jobSteps(action, target));
        UpgradeStatus seen{}; // the last status of a step seen before the end
        const UpgradeStatus last = follow(
            *upgrade, stop,
            [&](const UpgradeStatus& s) {
                view.show(s);
                if (!ended(s))
                    seen = s;
            },
            JobStop(action, target, file, options));
        done = complete(last);
        if (options.json)
            printJobEnd(action, target, file, last);
        if (!done) {
            const std::string why = connectionFailure(seen, last);
            std::cerr << "pelmux firmware " << action << ": the job failed" << (why.empty() ? "" : ": " + why)
                      << '\n';
        }
    }
    upgrade->release();
    return done;
}

// --no-wait: the job runs on in a process of its own, which records its status in a file; this
// one returns once the job has started (or was refused).
int startDetached(const std::string& action, const std::string& target, const std::string& file,
                  const Options& options)
{
    int channel[2];
    if (::pipe(channel) != 0) {
        reportNotStarted(action, target, file, Varnholt::ERR_CREATING_THREAD, options);
        return 1;
    }
    std::cout.flush();
    const pid_t child = ::fork();
    if (child < 0) {
        reportNotStarted(action, target, file, Varnholt::ERR_CREATING_THREAD, options);
        return 1;
    }
    if (child == 0) {
        ::close(channel[0]);
        ::setsid();
        StopSignals stop; // SIGTERM ends the job's process; `firmware status` then tells so
        FirmwareUpgrade* upgrade = GetFirmwareUpgrade();
        const ResultCode started = upgrade != nullptr
                                       ? (upgrade->*startOperation(action, target))(file.c_str(), false)
                                       : Varnholt::ERR_MEMORY_ALLOCATION_FAILED;
        const std::int32_t code = started;
        // The parent hears the start's result; without it the parent reports the process ended.
        [[maybe_unused]] const auto sent = ::write(channel[1], &code, sizeof code);
        ::close(channel[1]);
        bool done = false;
        if (started == Varnholt::ERR_SUCCESS)
            done = complete(follow(
                *upgrade, stop, [&](const UpgradeStatus& s) { saveStatus(s, action + " " + target); },
                [](int signal, const UpgradeStatus&) { endAfterStop(signal); }));
        if (upgrade != nullptr)
            upgrade->release();
        ::_exit(done ? 0 : 1);
    }
    ::close(channel[1]);
    std::int32_t code = Varnholt::ERR_CREATING_THREAD;
    const bool heard = ::read(channel[0], &code, sizeof code) == sizeof code;
    ::close(channel[0]);
    if (!heard || code != Varnholt::ERR_SUCCESS) {
        ::waitpid(child, nullptr, 0);
        if (heard) {
            reportNotStarted(action, target, file, static_cast<ResultCode>(code), options);
        } else {
            std::cerr << "pelmux firmware " << action << ": the job process ended\n";
            if (options.json)
                printJson(unfinished("the job process ended"));
        }
        return 1;
    }
    if (options.json) {
        Json answer = jobJson(action, target, file);
        answer.update({{"result", 0}, {"pid", static_cast<int>(child)}});
        printJson(answer);
    } else {
        std::cout << "Started: " << action << ' ' << target << " from " << file << " (process " << child
                  << "); `pelmux firmware status --wait` follows it\n";
    }
    return 0;
}

int showStatus(bool wait, const Options& options)
{
    StopSignals stop;
    JobView view(options);
    for (;;) {
        std::ifstream in(statusFilePath());
        Json record;
        try {
            in >> record;
        } catch (const std::exception&) {
            record = nullptr;
        }
        if (!record.is_object()) {
            constexpr const char* none = "no job was started with --no-wait on this unit";
            if (options.json) {
                Json answer = failure(Varnholt::ERR_FUNCTION_NOT_RUNNING);
                answer.update({{"error", none}, {"running", false}});
                printJson(answer);
            }
            std::cerr << "pelmux firmware status: " << none << '\n';
            return 1;
        }
        UpgradeStatus s{static_cast<Varnholt::UpgradeAction>(record.value("action", 0)),
                        static_cast<std::uint8_t>(record.value("percent", 0)),
                        static_cast<ResultCode>(record.value("result", 0))};
        const bool alive = ::kill(record.value("pid", 0), 0) == 0;
        if (!wait || ended(s) || !alive) {
            if (options.json) {
                record["running"] = alive && !ended(s);
                record["step"] = actionName(s.currentAction);
                // Following a job is a long command: its end is a line as its steps are.
                if (wait)
                    printJsonLine(record);
                else
                    printJson(record);
            } else {
                std::cout << record.value("job", std::string("job")) << ": " << actionName(s.currentAction)
                          << ' ' << int(s.percent) << " %";
                if (s.errorCode != Varnholt::ERR_SUCCESS)
                    std::cout << " (" << describe(s.errorCode) << ')';
                if (!ended(s) && !alive)
                    std::cout << " - the job's process is gone";
                std::cout << '\n';
            }
            return s.currentAction == Varnholt::UPGRADE_FAILED || (!ended(s) && !alive) ? 1 : 0;
        }
        view.show(s);
        if (const int signal = stop.waitFor(std::chrono::milliseconds(100)); signal != 0) {
            std::cerr << "\npelmux firmware status: " << stopName(signal) << "; the job goes on in process "
                      << record.value("pid", 0) << ".\n";
            return stoppedExitCode(signal);
        }
    }
}

// ---- generated images

std::vector<std::uint8_t> imageBytes(std::size_t count, std::uint32_t seed)
{
    std::vector<std::uint8_t> bytes(count);
    std::uint32_t state = seed;
    for (auto& b : bytes) {
        state = state * 1103515245u + 12345u;
        b = static_cast<std::uint8_t>(state >> 16);
    }
    return bytes;
}

std::string hexRecord(unsigned type, unsigned offset, const std::uint8_t* data, std::size_t count)
{
    char text[16];
    std::string line = ":";
    unsigned sum = static_cast<unsigned>(count) + (offset >> 8) + (offset & 0xFF) + type;
    std::snprintf(text, sizeof text, "%02X%04X%02X", static_cast<unsigned>(count), offset, type);
    line += text;
    for (std::size_t i = 0; i < count; ++i) {
        std::snprintf(text, sizeof text, "%02X", data[i]);
        line += text;
        sum += data[i];
    }
    std::snprintf(text, sizeof text, "%02X\n", (0x100 - (sum & 0xFF)) & 0xFF);
    return line + text;
}

// An Intel HEX image for the micro-controllers' flash at 0x08000000, `perRecord` bytes a record (a
// power of two up to 128, so that no record crosses a 64 KB window).
std::string hexImage(const std::vector<std::uint8_t>& bytes, std::size_t perRecord = 16)
{
    std::string text;
    for (std::size_t at = 0; at < bytes.size(); at += perRecord) {
        if (at % 0x10000 == 0) {
            const unsigned window = 0x0800 + static_cast<unsigned>(at >> 16);
            const std::uint8_t upper[2] = {static_cast<std::uint8_t>(window >> 8),
                                           static_cast<std::uint8_t>(window)};
            text += hexRecord(4, 0, upper, 2);
        }
        text += hexRecord(0, at & 0xFFFF, bytes.data() + at, std::min(perRecord, bytes.size() - at));
    }
    return text + ":00000001FF\n";
}

// The FPGA line format: 20 bytes a line (count, address, type, 16 data bytes) and a checksum.
std::string fpgaImage(const std::vector<std::uint8_t>& bytes)
{
    std::string text;
    for (std::size_t at = 0; at < bytes.size(); at += 16) {
        std::uint8_t line[16] = {};
        std::copy(bytes.begin() + at, bytes.begin() + std::min(at + 16, bytes.size()), line);
        text += hexRecord(0, at & 0xFFFF, line, 16);
    }
    return text + ":00000001FF\n";
}

// Default payloads: the text of a supervisor image is 95000 bytes or more, a front image's 50000
// to 110000, as the file check wants.
std::size_t defaultBytes(const std::string& target)
{
    return target == "ss" ? 36 * 1024 : target == "front" ? 24 * 1024 : 16 * 1024;
}

// The bytes of text hexImage writes for `count` bytes in records of `perRecord`: per record a colon,
// count, offset, type, checksum and line end (12) and two digits a byte; an extended address record
// per 64 KB window (16); the end-of-file record (12).
std::size_t hexTextSize(std::size_t count, std::size_t perRecord)
{
    const std::size_t records = (count + perRecord - 1) / perRecord;
    const std::size_t windows = (count + 0xFFFF) / 0x10000;
    return records * 12 + count * 2 + windows * 16 + 12;
}

// Record lengths in the order they are tried: the usual 16 bytes, then shorter records for a small
// image, longer ones for a large image.
constexpr std::size_t recordLengths[] = {16, 8, 4, 2, 1, 32, 64, 128};
constexpr std::size_t largestImageBytes = std::size_t{1} << 20;

// The record length that gives a micro-controller image of `count` bytes a text the library's
// check takes, or 0 when none does.
std::size_t recordLengthFor(std::size_t count, const tool::ImageSizeRule& rule)
{
    for (const std::size_t length : recordLengths) {
        const std::size_t size = hexTextSize(count, length);
        if (size >= rule.smallest && size <= rule.largest)
            return length;
    }
    return 0;
}

// Why no image of `count` bytes passes the library's check for `target`, with the --bytes that do.
std::string sizeProblem(const std::string& target, std::size_t count, const tool::ImageSizeRule& rule)
{
    // The shortest records give the most text, the longest the least; both grow with the count.
    const bool small = hexTextSize(count, 1) < rule.smallest;
    std::size_t low = 1;
    std::size_t high = largestImageBytes;
    while (low < high) { // the first count past the boundary on this side
        const std::size_t middle = low + (high - low) / 2;
        if (small ? hexTextSize(middle, 1) >= rule.smallest : hexTextSize(middle, 128) > rule.largest)
            high = middle;
        else
            low = middle + 1;
    }
    return "the library takes " + std::string(targetName(target)) + " image of " +
           std::to_string(rule.smallest) + " to " + std::to_string(rule.largest) + " bytes of text, which " +
           std::to_string(count) + " bytes cannot give in Intel HEX records: give --bytes " +
           (small ? std::to_string(low) + " or more" : std::to_string(low - 1) + " or fewer");
}

// A file the tool cannot read or write: its problem on standard error, and with --json as the
// answer.
void reportFileProblem(const std::string& command, const std::string& problem, const Options& options)
{
    std::cerr << "pelmux firmware " << command << ": " << problem << '\n';
    if (options.json)
        printJson({{"result", static_cast<int>(Varnholt::ERR_OPEN_FAILED)}, {"error", problem}});
}

// Writes a generated image; a micro-controller's in records that give it a size the library's
// check takes. Answers the exit code.
int writeImage(const std::string& target, const std::string& file, std::size_t bytes, const Options& options)
{
    std::size_t perRecord = 16;
    if (target != "fpga") {
        const tool::ImageSizeRule rule = tool::imageSizeRule(target == "front");
        perRecord = recordLengthFor(bytes, rule);
        if (perRecord == 0) {
            const std::string problem = sizeProblem(target, bytes, rule);
            std::cerr << "pelmux firmware image: " << problem << '\n';
            if (options.json)
                printJson(
                    {{"result", static_cast<int>(Varnholt::ERR_DATATYPE_MISMATCH)}, {"error", problem}});
            return 2; // a usage error, as a value out of its range is
        }
    }
    const auto data = imageBytes(bytes, target == "ss" ? 1 : target == "front" ? 2 : 3);
    const std::string text = target == "fpga" ? fpgaImage(data) : hexImage(data, perRecord);
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    if (!out) {
        const std::string problem = fileProblem(file, true);
        reportFileProblem("image", problem.empty() ? "cannot write " + file : problem, options);
        return 1;
    }
    if (options.json)
        printJson({{"result", 0},
                   {"target", target},
                   {"file", file},
                   {"bytes", bytes},
                   {"textBytes", text.size()},
                   {"recordBytes", perRecord}});
    else
        std::cout << "Wrote " << file << ": " << target << " image of " << bytes << " bytes (" << text.size()
                  << " bytes of text in records of " << perRecord
                  << (perRecord == 1 ? " byte)\n" : " bytes)\n");
    return 0;
}

} // namespace

void addFirmwareCommands(CLI::App& app, const Options& options, int& exitCode)
{
    constexpr const char* stopHelp =
        "The library cannot cancel a job: while an upgrade writes, the first Ctrl-C only warns; a second "
        "one, or SIGTERM, ends the tool and the job with it (the job lock comes back and the serial "
        "line is free for the next job, but a target stopped while written is left without working "
        "firmware until an upgrade runs again). At other steps Ctrl-C ends it at once.";
    auto* firmware =
        app.add_subcommand("firmware", "Upgrade or verify the FPGA, supervisor or front firmware");
    firmware->require_subcommand(1);
    const std::vector<std::string> targets = {"fpga", "ss", "front"};

    // Option values live as long as the App, which outlives every callback.
    static std::string target;
    static std::string file;
    static bool noWait = false;
    for (const char* action : {"upgrade", "verify"}) {
        auto* job = firmware->add_subcommand(
            action, std::string(action) == "upgrade"
                        ? "Write an image and verify it, with a progress bar. " + std::string(stopHelp)
                        : "Compare the target with an image, with a progress bar. " + std::string(stopHelp));
        job->add_option("target", target, "fpga, ss (system supervisor) or front")
            ->required()
            ->transform(CLI::IsMember(targets, CLI::ignore_case));
        job->add_option("file", file, "Image file (Intel HEX for ss and front, FPGA lines for fpga)")
            ->required();
        job->add_flag("--no-wait", noWait, "Start the job in the background and return");
        job->callback([&exitCode, &options, action] {
            if (const std::string problem = fileProblem(file, false); !problem.empty()) {
                reportFileProblem(action, problem, options);
                exitCode = 1;
                return;
            }
            exitCode = noWait ? startDetached(action, target, file, options)
                              : (runJob(action, target, file, options) ? 0 : 1);
        });
    }

    static bool wait = false;
    auto* status = firmware->add_subcommand(
        "status", "Status of the job started with --no-wait (Ctrl-C stops following it, not the job)");
    status->add_flag("--wait", wait, "Follow the job until it ends");
    status->callback([&] { exitCode = showStatus(wait, options); });

    static std::size_t bytes = 0;
    auto* image = firmware->add_subcommand("image", "Write a generated image to try the upgrade with");
    image->add_option("target", target, "fpga, ss or front")
        ->required()
        ->transform(CLI::IsMember(targets, CLI::ignore_case));
    image->add_option("file", file, "File to write")->required();
    image
        ->add_option("--bytes", bytes,
                     "Image size in bytes (default: 36 KB ss, 24 KB front, 16 KB fpga). A micro-controller's "
                     "image is written in Intel HEX records of 1 to 128 bytes that keep its text within the "
                     "sizes the library takes for that target; a size no record length fits is refused")
        ->check(CLI::Range(std::size_t{1}, largestImageBytes));
    image->callback(
        [&] { exitCode = writeImage(target, file, bytes != 0 ? bytes : defaultBytes(target), options); });
}

TourStep firmwareTour()
{
    return {"Firmware upgrade", [] {
                const std::string folder = tool::unitRoot();
                const std::string fpga = folder + "/demo-fpga.txt";
                const std::string ss = folder + "/demo-ss.hex";
                const Options text{};
                bool all = writeImage("fpga", fpga, defaultBytes("fpga"), text) == 0 &&
                           runJob("upgrade", "fpga", fpga, text);
                all = writeImage("ss", ss, defaultBytes("ss"), text) == 0 &&
                      runJob("upgrade", "ss", ss, text) && all;
                return all;
            }};
}

} // namespace pelmux::cli
