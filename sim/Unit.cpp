#include "Unit.h"

#include <fstream>
#include <sstream>
#include <stdexcept>

namespace pelmux::sim {

namespace {

Bytes bytesFromJson(const Json& value)
{
    Bytes out;
    for (const auto& b : value)
        out.push_back(static_cast<std::uint8_t>(b.get<int>() & 0xFF));
    return out;
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
    if (!service_)
        return 1;
    try {
        return service_(*this, controlCode);
    } catch (const std::exception&) {
        return 2;
    }
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

ControlReply Unit::control(const ControlRequest& request)
{
    std::lock_guard lock(mutex_);
    ++requestCounts_[request.code];
    const auto fault = takeFault(controlFaults_, request.code);
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
    std::lock_guard lock(mutex_);
    Writer reply;
    const auto fault = takeFault(vendorFaults_, ordinal);
    auto it = vendorCalls_.find(ordinal);
    if ((fault && fault->fail) || it == vendorCalls_.end()) {
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
        const int times = cmd.value("times", -1);
        if (name == "fail") {
            failRequest(cmd.at("code").get<std::uint32_t>(), times);
        } else if (name == "returned") {
            forceReturned(cmd.at("code").get<std::uint32_t>(), cmd.at("count").get<std::uint32_t>(), times);
        } else if (name == "output") {
            forceOutput(cmd.at("code").get<std::uint32_t>(), bytesFromJson(cmd.at("bytes")), times);
        } else if (name == "failVendor") {
            failVendor(cmd.at("ordinal").get<std::uint16_t>(), times);
        } else if (name == "failRead") {
            failRead(cmd.at("endpoint").get<std::string>(), times);
        } else if (name == "clear") {
            clearFaults();
        } else if (name == "state") {
            return {{"ok", true}, {"state", snapshot()}};
        } else if (name == "set") {
            const Json::json_pointer pointer(cmd.at("path").get<std::string>());
            update([&](Json& s) { s[pointer] = cmd.at("value"); });
        } else if (name == "get") {
            const Json::json_pointer pointer(cmd.at("path").get<std::string>());
            return {{"ok", true}, {"value", snapshot().at(pointer)}};
        } else if (name == "count") {
            return {{"ok", true}, {"count", requestCount(cmd.at("code").get<std::uint32_t>())}};
        } else if (CommandHandler handler = commandHandler(name)) {
            std::lock_guard lock(mutex_);
            return handler(*this, cmd);
        } else {
            return {{"ok", false}, {"error", "unknown command " + name}};
        }
        return {{"ok", true}};
    } catch (const std::exception& e) {
        return {{"ok", false}, {"error", e.what()}};
    }
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

} // namespace pelmux::sim
