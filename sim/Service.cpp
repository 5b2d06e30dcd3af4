// The unit's service "PelmuxService": it takes user-defined control codes and keeps a log of them
// in "service" of the state, so that a test or a person sees what the library sent:
//   "installed": false   the service cannot be opened (absent or stopped)
//   "refuse": [132, ...] codes the service refuses (true refuses every code)
//   "controls": [...]    the codes taken, oldest first (the newest 64)
//   "counts": {"132": n} how often each code was taken
#include "Unit.h"

#include <algorithm>
#include <string>

namespace pelmux::sim {

namespace {

constexpr std::size_t keptControls = 64;

bool refuses(const Json& service, std::uint32_t controlCode)
{
    const auto refuse = service.find("refuse");
    if (refuse == service.end())
        return false;
    if (refuse->is_boolean())
        return refuse->get<bool>();
    if (refuse->is_array())
        return std::any_of(refuse->begin(), refuse->end(), [&](const Json& code) {
            // A code given in C++ is a signed number, one read from a file an unsigned one.
            return code.is_number_integer() && code.get<std::int64_t>() == controlCode;
        });
    return false;
}

std::uint8_t control(Unit& unit, std::uint32_t controlCode)
{
    Json& service = unit.state()["service"];
    if (!service.is_object())
        service = Json::object();
    if (refuses(service, controlCode))
        return 2;
    Json& controls = service["controls"];
    if (!controls.is_array())
        controls = Json::array();
    controls.push_back(controlCode);
    if (controls.size() > keptControls)
        controls.erase(controls.begin());
    Json& count = service["counts"][std::to_string(controlCode)];
    count = count.is_number_unsigned() ? count.get<std::uint64_t>() + 1 : 1;
    return 0;
}

} // namespace

void installService(Unit& unit)
{
    unit.addEndpoint("service:PelmuxService", [](const Json& state) {
        const auto service = state.find("service");
        return service == state.end() || !service->is_object() || service->value("installed", true);
    });
    unit.onService(control);
}

} // namespace pelmux::sim
