// The simulated unit: a model of the board behind the driver, the vendor library and the service.
// Its state is a JSON document that starts as the unit profile; hardware areas install handlers
// for the requests they answer. Tests reach it in-process; other processes over the board socket.
#pragma once

#include "Wire.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace pelmux::sim {

using Json = nlohmann::json;

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

// What a request handler sees of the unit. Handlers run with the unit locked.
class Unit;
using ControlHandler = std::function<ControlReply(Unit&, const ControlRequest&)>;
// A vendor-library call: reads its arguments, writes its outputs after the result, returns the result.
using VendorHandler = std::function<std::int32_t(Unit&, Reader& args, Writer& outputs)>;
// A service control code: answers the SERVICE status (0 done, 1 not opened, 2 refused).
using ServiceHandler = std::function<std::uint8_t(Unit&, std::uint32_t controlCode)>;
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

    // ---- model side
    void onControl(std::uint32_t code, ControlHandler handler);
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
    Json& state() { return state_; } // under the unit lock

    // ---- test side (each takes the unit lock)
    void failRequest(std::uint32_t code, int times = -1);
    void forceReturned(std::uint32_t code, std::uint32_t count, int times = -1);
    void forceOutput(std::uint32_t code, Bytes bytes, int times = -1);
    void failVendor(std::uint16_t ordinal, int times = -1);
    void clearFaults();
    // How many control requests with this code reached the unit (faulted ones included).
    std::size_t requestCount(std::uint32_t code) const;
    std::size_t requestCount() const;
    // Reads or changes the state under the lock, e.g. unit.update([](Json& s){ s["versions"]... });
    void update(const std::function<void(Json&)>& change);
    Json snapshot() const;

    std::recursive_mutex& mutex() const { return mutex_; }

private:
    std::optional<Fault> takeFault(std::map<std::uint32_t, Fault>& faults, std::uint32_t key);

    mutable std::recursive_mutex mutex_;
    Json state_;
    std::map<std::uint32_t, ControlHandler> controls_;
    std::map<std::uint16_t, VendorHandler> vendorCalls_;
    std::map<std::string, EndpointCheck> endpoints_;
    ServiceHandler service_;
    std::map<std::uint32_t, Fault> controlFaults_;
    std::map<std::uint32_t, Fault> vendorFaults_;
    std::map<std::uint32_t, std::size_t> requestCounts_;
    std::function<void(const Json&)> persistence_;
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
// Upgrade mode, front preparation, bootloader link and the FPGA configuration memory.
void installFirmware(Unit& unit);

// The board library's bookkeeping, shared by the areas that answer its calls: whether a board
// handle is open, and a handler wrapped so that the call is counted and logged in "boardLibrary"
// and a profile value of the wrong type fails the call instead of ending the unit.
bool boardHandleOpen(Unit& unit, std::uint32_t handle);
VendorHandler countedVendorCall(std::uint16_t ordinal, VendorHandler handler);

} // namespace pelmux::sim
