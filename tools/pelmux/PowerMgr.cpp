// `pelmux powermgr`: an application's side of the power-manager hand-shake with the service
// PelmuxService: register a mode, read a pending request, report ready, read the resume flag.
#include "Cli.h"

#include "Server.h"
#include "ToolAccess.h"

#include <chrono>
#include <iostream>
#include <thread>

namespace pelmux::cli {

namespace PELMUX_FILE_SCOPE {

using Varnholt::PowerMgr;
using Varnholt::ResultCode;

constexpr const char* modeHelp = "0 none (withdraw), 1 or 2: the mode to register with the service";

// Runs `use` on a new power manager and releases it, which withdraws a mode still registered.
template <class Use> bool withPowerMgr(const char* command, Use use)
{
    return withObject(GetPowerMgr, "powermgr", command, "power manager", use);
}

bool failed(const char* command, ResultCode result)
{
    if (result == Varnholt::ERR_SUCCESS)
        return false;
    std::cerr << "pelmux powermgr " << command << ": " << describe(result) << '\n';
    return true;
}

// Prints one answer: "Label: text" or {"key": value}.
void print(const Options& options, const char* key, const std::string& label, Json value,
           const std::string& text)
{
    if (options.json)
        printJson({{key, std::move(value)}, {"result", 0}});
    else
        std::cout << label << ": " << text << '\n';
}

// Waits up to `seconds` for a request of the service; answers it (0 when none came).
int awaitRequest(PowerMgr& manager, double seconds)
{
    const auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    for (;;) {
        int request = 0;
        if (manager.getRequest(&request) == Varnholt::ERR_SUCCESS && request != 0)
            return request;
        if (std::chrono::steady_clock::now() >= until)
            return 0;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}

bool registerMode(int mode, double waitSeconds, const Options& options)
{
    return withPowerMgr("register", [&](PowerMgr& manager) {
        if (failed("register", manager.setConfiguration(mode)))
            return false;
        if (waitSeconds <= 0) {
            print(options, "mode", "Registered mode", mode,
                  std::to_string(mode) + (mode == 0 ? " (none)" : " (withdrawn again as the command ends)"));
            return true;
        }
        if (!options.json)
            std::cout << "Mode " << mode << " registered; waiting up to " << waitSeconds
                      << " s for a request of the service.\n";
        const int request = awaitRequest(manager, waitSeconds);
        if (request == 0) {
            std::cerr << "pelmux powermgr register: no request within " << waitSeconds << " s\n";
            return false;
        }
        manager.setAppReady();
        if (options.json)
            printJson({{"mode", mode}, {"request", request}, {"ready", true}, {"result", 0}});
        else
            std::cout << "Request " << request << " received; reported ready.\n";
        return true;
    });
}

bool showRequest(const Options& options)
{
    return withPowerMgr("request", [&](PowerMgr& manager) {
        int request = 0;
        if (failed("request", manager.getRequest(&request)))
            return false;
        print(options, "request", "Pending request", request,
              request == 0 ? "0 (none)" : std::to_string(request));
        return true;
    });
}

bool reportReady(const Options& options)
{
    return withPowerMgr("ready", [&](PowerMgr& manager) {
        if (failed("ready", manager.setAppReady()))
            return false;
        print(options, "ready", "Ready", true,
              "reported (PowerMgrAppReadyReq counted up, resume flag cleared)");
        return true;
    });
}

bool showResume(const Options& options)
{
    // Every new power manager sets the flag; what was there before this command is in the file.
    const auto before = tool::readSettings().entries;
    const auto found = before.find("PowerMgrResume");
    const std::string earlier = found == before.end() ? "(absent)" : "\"" + found->second + "\"";
    return withPowerMgr("resume", [&](PowerMgr& manager) {
        bool resume = false;
        if (failed("resume", manager.getResumeFlag(&resume)))
            return false;
        if (options.json)
            printJson({{"resume", resume}, {"before", earlier}, {"result", 0}});
        else
            std::cout << "Resume flag: " << (resume ? "set" : "clear") << " (PowerMgrResume was " << earlier
                      << " before this command created its power manager, which sets it)\n";
        return true;
    });
}

// Posts a request as the service does, on the unit serving PELMUX_ROOT.
bool postRequest(int request)
{
    const Json command = {{"cmd", "powerMgrRequest"}, {"request", request}};
    const Json answer = sim::sendUnitCommand(tool::boardSocketPath(), jsonText(command));
    if (!answer.value("ok", false)) {
        std::cerr << "pelmux powermgr: the unit did not post the request: "
                  << answer.value("error", std::string("refused")) << '\n';
        return false;
    }
    return true;
}

int registeredModeOfService()
{
    const Json answer = sim::sendUnitCommand(tool::boardSocketPath(), R"({"cmd":"state"})");
    const Json mode = answer.value("/state/service/powerMgr/mode"_json_pointer, Json());
    return mode.is_number_integer() ? mode.get<int>() : 0;
}

} // namespace PELMUX_FILE_SCOPE

void addPowerMgrCommands(CLI::App& app, const Options& options, int& exitCode)
{
    using namespace PELMUX_FILE_SCOPE;
    auto* powermgr = app.add_subcommand(
        "powermgr", "The power-manager hand-shake with the service PelmuxService (settings keys PowerMgrReq, "
                    "PowerMgrAppReadyReq, PowerMgrResume)");
    powermgr->require_subcommand(1);

    // Option values live as long as the App, which outlives every callback.
    static int mode = 0;
    static double waitSeconds = 0;
    auto* registerCommand = powermgr->add_subcommand(
        "register", "Register a mode with the service; it is withdrawn when the command ends, so use --wait "
                    "to hold it until the service posts a request, then report ready");
    registerCommand->add_option("mode", mode, modeHelp)->required();
    registerCommand->add_option("--wait", waitSeconds, "Seconds to wait for a request (0: do not wait)")
        ->check(CLI::Range(0.0, 86400.0));
    registerCommand->callback([&] {
        // The library refuses other modes itself; the tool says so before anything is sent.
        if (mode < 0 || mode > 2) {
            std::cerr << "pelmux powermgr register: the mode is 0, 1 or 2, not " << mode << '\n';
            exitCode = 2;
            return;
        }
        exitCode = registerMode(mode, waitSeconds, options) ? 0 : 1;
    });

    powermgr->add_subcommand("request", "The request the service posted: 0 none, 1 to 3")->callback([&] {
        exitCode = showRequest(options) ? 0 : 1;
    });
    powermgr->add_subcommand("ready", "Report that the application is ready for the request")->callback([&] {
        exitCode = reportReady(options) ? 0 : 1;
    });
    powermgr->add_subcommand("resume", "The resume flag (set by every new power manager, cleared by ready)")
        ->callback([&] { exitCode = showResume(options) ? 0 : 1; });
}

TourStep powerMgrTour()
{
    using namespace PELMUX_FILE_SCOPE;
    return {"Power manager", [] {
                return withPowerMgr("tour", [](PowerMgr& manager) {
                    bool all = manager.setConfiguration(1) == Varnholt::ERR_SUCCESS;
                    std::cout << "  registered mode 1; the service holds mode " << registeredModeOfService()
                              << '\n';
                    all = postRequest(2) && all;
                    int request = 0;
                    all = manager.getRequest(&request) == Varnholt::ERR_SUCCESS && request == 2 && all;
                    std::cout << "  the service posted request 2; the application reads " << request << '\n';
                    bool resume = false;
                    manager.getResumeFlag(&resume);
                    std::cout << "  resume flag before ready: " << (resume ? "set" : "clear") << '\n';
                    all = manager.setAppReady() == Varnholt::ERR_SUCCESS && all;
                    manager.getResumeFlag(&resume);
                    std::cout << "  reported ready; resume flag now " << (resume ? "set" : "clear") << '\n';
                    // The request is served: the service takes it back.
                    all = postRequest(0) && all;
                    return all;
                });
            }};
}

} // namespace pelmux::cli
