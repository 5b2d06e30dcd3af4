// The simulated unit: a model of the board behind the driver, the vendor library and the service.
// Its state is a JSON document that starts as the unit profile; hardware areas install handlers
// for the requests they answer. Tests reach it in-process; other processes over the board socket.
#pragma once

#include "JsonText.h"
#include "Timing.h"
#include "Wire.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace pelmux::sim {

// The answer to one DeviceIoControl.
struct ControlReply {
    bool ok = false;
    std::uint32_t returned = 0;
    Bytes output;

    static ControlReply failed() { return {}; }
    static ControlReply data(Bytes bytes)
    {
        ControlReply r;
        r.ok = true;
        r.returned = static_cast<std::uint32_t>(bytes.size());
        r.output = std::move(bytes);
        return r;
    }
    // A write: the driver reports the bytes it consumed.
    static ControlReply consumed(std::size_t count)
    {
        ControlReply r;
        r.ok = true;
        r.returned = static_cast<std::uint32_t>(count);
        return r;
    }
};

struct ControlRequest {
    std::string endpoint;
    std::uint32_t code = 0;
    std::uint32_t outCapacity = 0;
    Bytes input;
};

// One injected fault for a request code (or a vendor ordinal).
struct Fault {
    bool fail = false;                     // the request fails (vendor call: result 0)
    std::optional<std::uint32_t> returned; // the count reported instead of the real one
    std::optional<Bytes> output;           // bytes answered instead of the model's
    int remaining = -1;                    // uses left; -1 for ever
};

// The answer to one ReadFile on a device (a video capture device).
struct ReadReply {
    bool ok = false;
    Bytes data; // cut to the caller's capacity by the unit
};

// What a request handler sees of the unit. Handlers run with the unit locked.
class Unit;
using ControlHandler = std::function<ControlReply(Unit&, const ControlRequest&)>;
// A vendor-library call: reads its arguments, writes its outputs after the result, returns the result.
using VendorHandler = std::function<std::int32_t(Unit&, Reader& args, Writer& outputs)>;
// A service control code: answers the SERVICE status (0 done, 1 not opened, 2 refused).
using ServiceHandler = std::function<std::uint8_t(Unit&, std::uint32_t controlCode)>;
// A unit command of an area (`{"cmd": NAME, ...}`): answers the reply object; throwing refuses it
// with the exception's text. Runs with the unit locked.
using CommandHandler = std::function<Json(Unit&, const Json& command)>;
// A ReadFile on an endpoint: the caller's capacity in, the bytes read out.
using ReadHandler = std::function<ReadReply(Unit&, const std::string& endpoint, std::uint32_t capacity)>;
// Whether an endpoint can be opened now, judged from the state (under the unit lock).
using EndpointCheck = std::function<bool(const Json& state)>;

class Unit {
public:
    explicit Unit(Json profile);

    // ---- requests, as the board socket delivers them (each takes the unit lock)
    bool hasEndpoint(const std::string& name) const;
    ControlReply control(const ControlRequest& request);
    // Returns the reply fields of a VENDOR frame (result, then outputs).
    Bytes vendor(std::uint16_t ordinal, Reader& args);
    // Answers the status of a SERVICE frame; 1 when no service model is installed.
    std::uint8_t service(std::uint32_t controlCode);
    // Answers a unit-control command (the simulator's own ops); used by `pelmux sim` clients.
    Json command(const Json& command);
    // Answers a READ frame; a read on an endpoint without a reader fails.
    ReadReply read(const std::string& endpoint, std::uint32_t capacity);

    // ---- model side
    // An I2C transfer that the vendor-library call being answered put on the bus: its bytes (the
    // address bytes included) and its start, repeated-start and stop conditions. Called by the bus
    // models while they answer a call; at real speed (Timing.h) the call's answer waits for the
    // transfer's bus time, one transfer on the bus at a time.
    void busTransfer(std::size_t bytes, int conditions);
    void onControl(std::uint32_t code, ControlHandler handler);
    // The handler installed for a request code (empty when none), so that a test can wrap it.
    ControlHandler controlHandler(std::uint32_t code) const;
    void onVendor(std::uint16_t ordinal, VendorHandler handler);
    // The handler installed for an ordinal (empty when none), so that a test can wrap it.
    VendorHandler vendorHandler(std::uint16_t ordinal) const;
    // State that outlives the unit (EEPROM contents): an area calls persist() with a JSON merge
    // patch after changing it. `pelmux sim` saves it under its root; without a saver it stays in memory.
    void setPersistence(std::function<void(const Json& patch)> save);
    void persist(const Json& patch);
    // An endpoint that can always be opened, or only while `available` says so.
    void addEndpoint(const std::string& name, EndpointCheck available = {});
    void onService(ServiceHandler handler);
    // A unit command beside the built-in ones (fault injection, state), answered by an area.
    void onCommand(const std::string& name, CommandHandler handler);
    void onRead(const std::string& endpoint, ReadHandler handler);
    Json& state() { return state_; } // under the unit lock
    // The folder that stands for the unit's machine (its PELMUX_ROOT), where the service finds the
    // settings file; empty for a unit built without one.
    void setRoot(std::string root);
    std::string root() const;

    // ---- test side (each takes the unit lock)
    void failRequest(std::uint32_t code, int times = -1);
    void forceReturned(std::uint32_t code, std::uint32_t count, int times = -1);
    void forceOutput(std::uint32_t code, Bytes bytes, int times = -1);
    void failVendor(std::uint16_t ordinal, int times = -1);
    // Reads on the endpoint fail (`ok` 0, no bytes).
    void failRead(const std::string& endpoint, int times = -1);
    void clearFaults();
    // How many control requests with this code reached the unit (faulted ones included).
    std::size_t requestCount(std::uint32_t code) const;
    std::size_t requestCount() const;
    // Reads or changes the state under the lock, e.g. unit.update([](Json& s){ s["versions"]... });
    void update(const std::function<void(Json&)>& change);
    Json snapshot() const;

    std::recursive_mutex& mutex() const { return mutex_; }

    // ---- watching the unit (the front panel page)
    // The newest requests that reached the unit, oldest first (at most `requestLogSize`): each
    // {"seq", "atMs" (wall clock), "kind" ("control", "vendor", "service", "read"), "code" (the
    // control code, vendor ordinal or service control code), "endpoint" (reads), "ok", "returned"
    // (control), "result" (vendor), "status" (service), "fault" (an injected fault answered it)}.
    static constexpr std::size_t requestLogSize = 100;
    Json recentRequests() const;
    // The injected faults still armed: [{"kind", "code"|"ordinal"|"endpoint", "remaining", ...}].
    Json armedFaults() const;
    // A number that grows whenever a request, a command or a state change reached the unit.
    std::uint64_t changes() const { return changes_.load(); }
    // Blocks until changes() differs from `seen`, `timeout` passes or wakeWatchers() is called;
    // answers changes(). Must not be called with the unit locked.
    std::uint64_t waitForChange(std::uint64_t seen, std::chrono::milliseconds timeout) const;
    // Wakes every waitForChange (a watcher that is stopping).
    void wakeWatchers() const;

private:
    ControlReply answerControl(const ControlRequest& request, const std::optional<Fault>& fault);
    ReadReply answerRead(const std::string& endpoint, std::uint32_t capacity);
    void logRequest(Json entry, bool fault);
    void changed();
    CommandHandler commandHandler(const std::string& name) const;
    std::optional<Fault> takeFault(std::map<std::uint32_t, Fault>& faults, std::uint32_t key);

    Bytes answerVendor(std::uint16_t ordinal, Reader& args);
    // The state's timing (Timing.h); a malformed one answers at once rather than ending the unit.
    Timing timing() const;

    mutable std::recursive_mutex mutex_;
    // Held while a transfer takes its bus time: the board has one I2C bus.
    mutable std::mutex busMutex_;
    // The bus traffic of the vendor call being answered (under the unit lock).
    std::size_t busBytes_ = 0;
    int busConditions_ = 0;
    Json state_;
    std::map<std::uint32_t, ControlHandler> controls_;
    std::map<std::uint16_t, VendorHandler> vendorCalls_;
    std::map<std::string, EndpointCheck> endpoints_;
    ServiceHandler service_;
    std::map<std::string, CommandHandler> commands_;
    std::map<std::uint32_t, Fault> controlFaults_;
    std::map<std::uint32_t, Fault> vendorFaults_;
    std::map<std::uint32_t, std::size_t> requestCounts_;
    std::map<std::string, ReadHandler> readers_;
    std::map<std::string, int> readFaults_; // reads left to fail; -1 for ever
    std::function<void(const Json&)> persistence_;
    std::string root_;
    std::deque<Json> requestLog_;
    std::uint64_t requestSeq_ = 0;
    std::atomic<std::uint64_t> changes_{0};
    mutable std::mutex watchMutex_;
    mutable std::condition_variable watchers_;
    mutable std::uint64_t wakeups_ = 0;
};

// Builds a unit with every hardware area installed.
std::unique_ptr<Unit> makeUnit(Json profile);

// The profile `pelmux sim` uses when none is given: a plausible fully fitted unit.
Json defaultProfile();

// Reads a profile file; throws std::runtime_error with a readable message when it is not JSON.
Json loadProfile(const std::string& path);

// Hardware areas. Each installs the requests it answers.
void installVersions(Unit& unit);
void installVendor(Unit& unit);
void installDiagnostics(Unit& unit);
void installSupervisor(Unit& unit);
void installSupervisorRegisters(Unit& unit);
void installLightSensor(Unit& unit);
void installService(Unit& unit);
void installBacklight(Unit& unit);
void installExpander(Unit& unit);
void installFrontLed(Unit& unit);
void installBuzzer(Unit& unit);
void installTouch(Unit& unit);
void installVideo(Unit& unit);
// Upgrade mode, front preparation, bootloader link and the FPGA configuration memory.
void installFirmware(Unit& unit);
void installConfig(Unit& unit);
void installPower(Unit& unit);
void installBattery(Unit& unit);

// The board library's bookkeeping, shared by the areas that answer its calls: whether a board
// handle is open, and a handler wrapped so that the call is counted and logged in "boardLibrary"
// and a profile value of the wrong type fails the call instead of ending the unit.
bool boardHandleOpen(Unit& unit, std::uint32_t handle);
VendorHandler countedVendorCall(std::uint16_t ordinal, VendorHandler handler);

// A state value as the 16-bit word a register holds (its low 16 bits).
std::uint16_t stateWord(const Json& value);

// The supervisor's analog-to-digital converter: 12 bits over a 3.3 V reference.
inline constexpr double converterReferenceVolts = 3.3;
inline constexpr int converterSteps = 4096;
// The converter's steps, rounded and not yet clamped, for `volts` behind a divider of `divider`.
double converterStepsFor(double volts, double divider);

} // namespace pelmux::sim
