// The service is an endpoint of the unit: "service:<name>" on the board socket, one connection per
// exchange, as one pair of service handles per control on Windows.
#include "platform/Service.h"

#include "platform/posix/BoardSocket.h"
#include "platform/posix/Root.h"
#include "platform/posix/Wire.h"

namespace pelmux::platform {

ServiceControlResult controlService(const wchar_t* serviceName, std::uint32_t controlCode)
{
    auto connection = posix::BoardConnection::open("service:" + posix::toUtf8(serviceName));
    if (!connection)
        return ServiceControlResult::OpenFailed;
    posix::FrameWriter fields;
    fields.u32(controlCode);
    std::vector<std::uint8_t> reply;
    if (!connection->call(posix::BoardOp::Service, fields.bytes(), reply))
        return ServiceControlResult::Refused;
    posix::FrameReader reader(reply);
    std::uint8_t status = 0;
    if (!reader.u8(status))
        return ServiceControlResult::Refused;
    // 0 done, 1 the service could not be opened, 2 the control was refused.
    if (status == 0)
        return ServiceControlResult::Done;
    return status == 1 ? ServiceControlResult::OpenFailed : ServiceControlResult::Refused;
}

} // namespace pelmux::platform
