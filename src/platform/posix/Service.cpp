// The service is an endpoint of the unit: "service:<name>" on the board socket.
#include "platform/Service.h"

#include "platform/board/Connection.h"
#include "platform/posix/Root.h"

namespace pelmux::platform {

ServiceControlResult controlService(const wchar_t* serviceName, std::uint32_t controlCode)
{
    return board::controlServiceEndpoint(posix::toUtf8(serviceName), controlCode);
}

} // namespace pelmux::platform
