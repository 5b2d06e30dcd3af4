#include "Unit.h"

#include "Adjust.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <fstream>
#include <limits>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <utility>
#include <vector>

namespace pelmux::sim {

namespace {

// A list of byte values; anything else (a lone number, a text, a value outside 0 to 255) refuses
// the command.
Bytes bytesFromJson(const Json& value)
{
    Bytes out;
    const auto isByte = [](const Json& b) { return b.is_number_unsigned() && b.get<std::uint64_t>() <= 255; };
    if (!value.is_array() || !std::all_of(value.begin(), value.end(), isByte))
        throw std::invalid_argument("bytes must be a list of numbers from 0 to 255");
    for (const auto& b : value)
        out.push_back(static_cast<std::uint8_t>(b.get<std::uint64_t>()));
    return out;
}

// A command's whole number in 0..highest; a text, a fraction or a number outside refuses the
// command before anything changes.
std::uint64_t wholeNumber(const Json& command, const char* key, std::uint64_t highest)
{
    const Json& value = command.at(key);
    if (!value.is_number_integer() || (!value.is_number_unsigned() && value.get<std::int64_t>() < 0) ||
        value.get<std::uint64_t>() > highest)
        throw std::invalid_argument(std::string(key) + " must be a whole number from 0 to " +
                                    std::to_string(highest));
    return value.get<std::uint64_t>();
}

// How many requests a fault applies to: -1 (the default) for ever, else at least 1. A count of 0
// would never run out and is refused.
int faultTimes(const Json& command)
{
    if (!command.contains("times"))
        return -1;
    const Json& value = command.at("times");
    if (!value.is_number_integer() || value.get<std::int64_t>() == 0 || value.get<std::int64_t>() < -1 ||
        value.get<std::int64_t>() > std::numeric_limits<int>::max())
        throw std::invalid_argument("times must be -1 (for ever) or a whole number from 1 on");
    return static_cast<int>(value.get<std::int64_t>());
}

// The tokens of a JSON pointer, first to last.
std::vector<std::string> pointerTokens(Json::json_pointer pointer)
{
    std::vector<std::string> tokens;
    for (; !pointer.empty(); pointer.pop_back())
        tokens.push_back(pointer.back());
    std::reverse(tokens.begin(), tokens.end());
    return tokens;
}

// Whether `token` names an element of `array` that is there (an index without leading zeros).
bool existingIndex(const Json& array, const std::string& token, std::size_t& index)
{
    if (token.empty() || token.size() > 9 || token.find_first_not_of("0123456789") != std::string::npos ||
        (token.size() > 1 && token.front() == '0'))
        return false;
    index = std::stoul(token);
    return index < array.size();
}

// A set replaces one value of the state and keeps its shape: the areas, the serial line and the
// front panel read the state's objects and arrays as such, so neither the root nor an object or
// array may become another kind, a path may not reach into a number or a text, an array grows by
// one element at the end ("-" or its size) at most, and nothing nests beyond maxJsonDepth.
void setStateValue(Json& state, const std::string& path, const Json& value)
{
    const Json::json_pointer pointer(path);
    if (pointer.empty())
        throw std::invalid_argument("set cannot replace the whole state");
    if (std::count(path.begin(), path.end(), '/') + jsonDepth(value) > maxJsonDepth)
        throw std::invalid_argument("set would nest the state deeper than " + std::to_string(maxJsonDepth) +
                                    " levels");
    const Json* node = &state;
    bool exists = true; // the path names a value that is there
    for (const std::string& token : pointerTokens(pointer)) {
        if (node->is_object() && node->contains(token)) {
            node = &(*node)[token];
        } else if (std::size_t index = 0; node->is_array() && existingIndex(*node, token, index)) {
            node = &(*node)[index];
        } else if (node->is_array() && token != "-" && token != std::to_string(node->size())) {
            throw std::invalid_argument(path + " reaches beyond the end of an array");
        } else if (!node->is_structured() && !node->is_null()) {
            throw std::invalid_argument(path + " reaches into a " + node->type_name());
        } else {
            exists = false; // made anew from here on
            break;
        }
    }
    if (exists && node->is_structured() && node->type() != value.type())
        throw std::invalid_argument(path + " holds " + (node->is_object() ? "an object" : "an array") +
                                    "; set may replace it only by another");
    state[pointer] = value;
}

std::int64_t requestLogClockMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

} // namespace

Unit::Unit(Json profile) : state_(std::move(profile))
{
    if (!state_.is_object())
        state_ = Json::object();
}

bool Unit::hasEndpoint(const std::string& name) const
{
    std::lock_guard lock(mutex_);
    const auto it = endpoints_.find(name);
    return it != endpoints_.end() && (!it->second || it->second(state_));
}

void Unit::addEndpoint(const std::string& name, EndpointCheck available)
{
    std::lock_guard lock(mutex_);
    endpoints_[name] = std::move(available);
}

void Unit::onService(ServiceHandler handler)
{
    std::lock_guard lock(mutex_);
    service_ = std::move(handler);
}

std::uint8_t Unit::service(std::uint32_t controlCode)
{
    std::lock_guard lock(mutex_);
    std::uint8_t status = 1;
    if (service_) {
        try {
            status = service_(*this, controlCode);
        } catch (const std::exception&) {
            status = 2;
        }
    }
    logRequest({{"kind", "service"}, {"code", controlCode}, {"ok", status == 0}, {"status", status}}, false);
    return status;
}

void Unit::onControl(std::uint32_t code, ControlHandler handler)
{
    std::lock_guard lock(mutex_);
    controls_[code] = std::move(handler);
}

void Unit::onVendor(std::uint16_t ordinal, VendorHandler handler)
{
    std::lock_guard lock(mutex_);
    vendorCalls_[ordinal] = std::move(handler);
}

ControlHandler Unit::controlHandler(std::uint32_t code) const
{
    std::lock_guard lock(mutex_);
    auto it = controls_.find(code);
    return it == controls_.end() ? ControlHandler() : it->second;
}

VendorHandler Unit::vendorHandler(std::uint16_t ordinal) const
{
    std::lock_guard lock(mutex_);
    auto it = vendorCalls_.find(ordinal);
    return it == vendorCalls_.end() ? VendorHandler() : it->second;
}

void Unit::setPersistence(std::function<void(const Json& patch)> save)
{
    std::lock_guard lock(mutex_);
    persistence_ = std::move(save);
}

void Unit::persist(const Json& patch)
{
    std::lock_guard lock(mutex_);
    if (persistence_)
        persistence_(patch);
}

void Unit::setRoot(std::string root)
{
    std::lock_guard lock(mutex_);
    root_ = std::move(root);
}

std::string Unit::root() const
{
    std::lock_guard lock(mutex_);
    return root_;
}

void Unit::onCommand(const std::string& name, CommandHandler handler)
{
    std::lock_guard lock(mutex_);
    commands_[name] = std::move(handler);
}

CommandHandler Unit::commandHandler(const std::string& name) const
{
    std::lock_guard lock(mutex_);
    const auto it = commands_.find(name);
    return it == commands_.end() ? CommandHandler() : it->second;
}

std::optional<Fault> Unit::takeFault(std::map<std::uint32_t, Fault>& faults, std::uint32_t key)
{
    auto it = faults.find(key);
    if (it == faults.end())
        return std::nullopt;
    Fault fault = it->second;
    if (it->second.remaining > 0 && --it->second.remaining == 0)
        faults.erase(it);
    return fault;
}

Timing Unit::timing() const
{
    try {
        return timingOf(state_);
    } catch (const std::exception&) {
        return Timing{};
    }
}

void Unit::busTransfer(std::size_t bytes, int conditions)
{
    std::lock_guard lock(mutex_);
    busBytes_ += bytes;
    busConditions_ += conditions;
}

ControlReply Unit::control(const ControlRequest& request)
{
    const auto arrived = std::chrono::steady_clock::now();
    ControlReply reply;
    Timing pace;
    {
        std::lock_guard lock(mutex_);
        ++requestCounts_[request.code];
        const auto fault = takeFault(controlFaults_, request.code);
        reply = answerControl(request, fault);
        logRequest(
            {{"kind", "control"}, {"code", request.code}, {"ok", reply.ok}, {"returned", reply.returned}},
            fault.has_value());
        pace = timing();
    }
    // At real speed the request takes the driver's time, counted from its arrival, on the thread
    // that answers it.
    if (pace.real)
        std::this_thread::sleep_until(arrived +
                                      std::chrono::duration<double, std::micro>(pace.driverRequestUs));
    return reply;
}

ControlReply Unit::answerControl(const ControlRequest& request, const std::optional<Fault>& fault)
{
    if (fault && fault->fail)
        return ControlReply::failed();

    ControlReply reply;
    if (auto it = controls_.find(request.code); it != controls_.end()) {
        try {
            reply = it->second(*this, request);
        } catch (const std::exception&) {
            // A state the model cannot read (a malformed profile value) fails the request.
            reply = ControlReply::failed();
        }
        // Like a buffered driver, an answer larger than the caller's buffer fails the request.
        if (reply.output.size() > request.outCapacity)
            reply = ControlReply::failed();
    }
    if (fault && fault->output) {
        reply.ok = true;
        reply.output = *fault->output;
        reply.returned = static_cast<std::uint32_t>(reply.output.size());
    }
    if (fault && fault->returned) {
        reply.ok = true;
        reply.returned = *fault->returned;
    }
    // An injected answer is cut to the caller's buffer.
    if (reply.output.size() > request.outCapacity)
        reply.output.resize(request.outCapacity);
    return reply;
}

Bytes Unit::vendor(std::uint16_t ordinal, Reader& args)
{
    const auto arrived = std::chrono::steady_clock::now();
    Bytes reply;
    Timing pace;
    std::size_t bytes = 0;
    int conditions = 0;
    {
        std::lock_guard lock(mutex_);
        busBytes_ = 0;
        busConditions_ = 0;
        reply = answerVendor(ordinal, args);
        bytes = std::exchange(busBytes_, 0);
        conditions = std::exchange(busConditions_, 0);
        pace = timing();
    }
    // At real speed the call takes the library's own time from its arrival, then its transfers'
    // bus time, on the thread that answers it; the bus carries one transfer at a time.
    if (pace.real) {
        std::this_thread::sleep_until(arrived + std::chrono::duration<double, std::micro>(pace.vendorCallUs));
        if (bytes > 0 || conditions > 0) {
            std::lock_guard bus(busMutex_);
            std::this_thread::sleep_for(busTime(pace.i2cClockHz, bytes, conditions));
        }
    }
    return reply;
}

Bytes Unit::answerVendor(std::uint16_t ordinal, Reader& args)
{
    Writer reply;
    const auto fault = takeFault(vendorFaults_, ordinal);
    auto it = vendorCalls_.find(ordinal);
    if ((fault && fault->fail) || it == vendorCalls_.end()) {
        logRequest({{"kind", "vendor"}, {"code", ordinal}, {"ok", false}, {"result", 0}}, fault.has_value());
        reply.i32(0);
        return reply.take();
    }
    Writer outputs;
    std::int32_t result = 0;
    try {
        result = it->second(*this, args, outputs);
    } catch (const std::exception&) {
        // A state the model cannot read fails the call without outputs.
        outputs = Writer();
    }
    reply.i32(result).bytes(outputs.data());
    logRequest({{"kind", "vendor"}, {"code", ordinal}, {"ok", result != 0}, {"result", result}},
               fault.has_value());
    return reply.take();
}

void Unit::failRequest(std::uint32_t code, int times)
{
    std::lock_guard lock(mutex_);
    Fault f;
    f.fail = true;
    f.remaining = times;
    controlFaults_[code] = f;
}

void Unit::forceReturned(std::uint32_t code, std::uint32_t count, int times)
{
    std::lock_guard lock(mutex_);
    Fault& f = controlFaults_[code];
    f.returned = count;
    f.remaining = times;
}

void Unit::forceOutput(std::uint32_t code, Bytes bytes, int times)
{
    std::lock_guard lock(mutex_);
    Fault& f = controlFaults_[code];
    f.output = std::move(bytes);
    f.remaining = times;
}

void Unit::failVendor(std::uint16_t ordinal, int times)
{
    std::lock_guard lock(mutex_);
    Fault f;
    f.fail = true;
    f.remaining = times;
    vendorFaults_[ordinal] = f;
}

void Unit::clearFaults()
{
    std::lock_guard lock(mutex_);
    controlFaults_.clear();
    vendorFaults_.clear();
    readFaults_.clear();
}

void Unit::onRead(const std::string& endpoint, ReadHandler handler)
{
    std::lock_guard lock(mutex_);
    readers_[endpoint] = std::move(handler);
}

void Unit::failRead(const std::string& endpoint, int times)
{
    std::lock_guard lock(mutex_);
    readFaults_[endpoint] = times;
}

ReadReply Unit::read(const std::string& endpoint, std::uint32_t capacity)
{
    std::lock_guard lock(mutex_);
    ReadReply reply = answerRead(endpoint, capacity);
    logRequest({{"kind", "read"}, {"endpoint", endpoint}, {"ok", reply.ok}, {"returned", reply.data.size()}},
               false);
    return reply;
}

ReadReply Unit::answerRead(const std::string& endpoint, std::uint32_t capacity)
{
    if (auto fault = readFaults_.find(endpoint); fault != readFaults_.end()) {
        if (fault->second > 0 && --fault->second == 0)
            readFaults_.erase(fault);
        return {};
    }
    const auto it = readers_.find(endpoint);
    if (it == readers_.end())
        return {};
    ReadReply reply;
    try {
        reply = it->second(*this, endpoint, capacity);
    } catch (const std::exception&) {
        return {};
    }
    if (reply.data.size() > capacity)
        reply.data.resize(capacity);
    return reply;
}

std::size_t Unit::requestCount(std::uint32_t code) const
{
    std::lock_guard lock(mutex_);
    auto it = requestCounts_.find(code);
    return it == requestCounts_.end() ? 0 : it->second;
}

std::size_t Unit::requestCount() const
{
    std::lock_guard lock(mutex_);
    std::size_t total = 0;
    for (const auto& [code, n] : requestCounts_)
        total += n;
    return total;
}

void Unit::update(const std::function<void(Json&)>& change)
{
    std::lock_guard lock(mutex_);
    change(state_);
    changed();
}

Json Unit::snapshot() const
{
    std::lock_guard lock(mutex_);
    return state_;
}

Json Unit::command(const Json& cmd)
{
    try {
        const std::string name = cmd.at("cmd").get<std::string>();
        constexpr std::uint32_t anyCode = 0xFFFFFFFF;
        if (name == "fail") {
            failRequest(static_cast<std::uint32_t>(wholeNumber(cmd, "code", anyCode)), faultTimes(cmd));
        } else if (name == "returned") {
            const auto code = static_cast<std::uint32_t>(wholeNumber(cmd, "code", anyCode));
            forceReturned(code, static_cast<std::uint32_t>(wholeNumber(cmd, "count", anyCode)),
                          faultTimes(cmd));
        } else if (name == "output") {
            const auto code = static_cast<std::uint32_t>(wholeNumber(cmd, "code", anyCode));
            forceOutput(code, bytesFromJson(cmd.at("bytes")), faultTimes(cmd));
        } else if (name == "failVendor") {
            failVendor(static_cast<std::uint16_t>(wholeNumber(cmd, "ordinal", 0xFFFF)), faultTimes(cmd));
        } else if (name == "failRead") {
            failRead(cmd.at("endpoint").get<std::string>(), faultTimes(cmd));
        } else if (name == "clear") {
            clearFaults();
        } else if (name == "state") {
            return {{"ok", true}, {"state", snapshot()}};
        } else if (name == "set") {
            const std::string path = cmd.at("path").get<std::string>();
            update([&](Json& s) { setStateValue(s, path, cmd.at("value")); });
        } else if (name == "get") {
            const Json::json_pointer pointer(cmd.at("path").get<std::string>());
            return {{"ok", true}, {"value", snapshot().at(pointer)}};
        } else if (name == "count") {
            return {{"ok", true}, {"count", requestCount(cmd.at("code").get<std::uint32_t>())}};
        } else if (CommandHandler handler = commandHandler(name)) {
            std::lock_guard lock(mutex_);
            Json answer = handler(*this, cmd);
            changed();
            return answer;
        } else {
            return {{"ok", false}, {"error", "unknown command " + name}};
        }
        changed();
        return {{"ok", true}};
    } catch (const std::exception& e) {
        return {{"ok", false}, {"error", e.what()}};
    }
}

// ---- watching the unit

void Unit::changed()
{
    {
        std::lock_guard lock(watchMutex_);
        ++changes_;
    }
    watchers_.notify_all();
}

void Unit::logRequest(Json entry, bool fault)
{
    entry["seq"] = ++requestSeq_;
    entry["atMs"] = requestLogClockMs();
    entry["fault"] = fault;
    requestLog_.push_back(std::move(entry));
    while (requestLog_.size() > requestLogSize)
        requestLog_.pop_front();
    changed();
}

Json Unit::recentRequests() const
{
    std::lock_guard lock(mutex_);
    Json list = Json::array();
    for (const Json& entry : requestLog_)
        list.push_back(entry);
    return list;
}

Json Unit::armedFaults() const
{
    std::lock_guard lock(mutex_);
    Json list = Json::array();
    for (const auto& [code, fault] : controlFaults_) {
        Json entry = {
            {"kind", "control"}, {"code", code}, {"remaining", fault.remaining}, {"fail", fault.fail}};
        if (fault.returned)
            entry["returned"] = *fault.returned;
        if (fault.output)
            entry["output"] = *fault.output;
        list.push_back(entry);
    }
    for (const auto& [ordinal, fault] : vendorFaults_)
        list.push_back({{"kind", "vendor"}, {"ordinal", ordinal}, {"remaining", fault.remaining}});
    for (const auto& [endpoint, remaining] : readFaults_)
        list.push_back({{"kind", "read"}, {"endpoint", endpoint}, {"remaining", remaining}});
    return list;
}

std::uint64_t Unit::waitForChange(std::uint64_t seen, std::chrono::milliseconds timeout) const
{
    std::unique_lock lock(watchMutex_);
    const std::uint64_t wakeups = wakeups_;
    watchers_.wait_for(lock, timeout, [&] { return changes_.load() != seen || wakeups_ != wakeups; });
    return changes_.load();
}

void Unit::wakeWatchers() const
{
    {
        std::lock_guard lock(watchMutex_);
        ++wakeups_;
    }
    watchers_.notify_all();
}

std::unique_ptr<Unit> makeUnit(Json profile)
{
    auto unit = std::make_unique<Unit>(std::move(profile));
    unit->addEndpoint("\\\\.\\PelmuxDrv");
    unit->addEndpoint("board-library");
    installVersions(*unit);
    installVendor(*unit);
    installDiagnostics(*unit);
    installSupervisor(*unit);
    installSupervisorRegisters(*unit);
    installLightSensor(*unit);
    installService(*unit);
    installBacklight(*unit);
    installExpander(*unit);
    installFrontLed(*unit);
    installBuzzer(*unit);
    installTouch(*unit);
    installVideo(*unit);
    installFirmware(*unit);
    installConfig(*unit);
    installPower(*unit);
    installBattery(*unit);
    installAdjust(*unit);
    return unit;
}

Json loadProfile(const std::string& path)
{
    std::ifstream in(path);
    if (!in)
        throw std::runtime_error("cannot read the unit profile " + path);
    try {
        Json profile = Json::parse(in, nullptr, true, true);
        if (!profile.is_object())
            throw std::runtime_error("the unit profile " + path + " is not a JSON object");
        return profile;
    } catch (const Json::parse_error& e) {
        throw std::runtime_error("the unit profile " + path + " is not valid JSON: " + e.what());
    }
}

std::uint16_t stateWord(const Json& value)
{
    return static_cast<std::uint16_t>(value.get<std::int64_t>() & 0xFFFF);
}

double converterStepsFor(double volts, double divider)
{
    return std::round(volts / divider / converterReferenceVolts * converterSteps);
}

} // namespace pelmux::sim
