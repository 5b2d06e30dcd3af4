// Service control in the Windows test build: the unit's "service:<name>" endpoint over TCP, one
// connection per exchange as one pair of service handles per control. Exhausted memory fails the
// open, as the service manager's handles can.
#include "platform/Service.h"

#include "platform/Memory.h"
#include "platform/board/Connection.h"

namespace pelmux::platform {

ServiceControlResult controlService(const wchar_t* serviceName, std::uint32_t controlCode)
{
    return unlessMemoryExhausted(ServiceControlResult::OpenFailed, [&] {
        return board::controlServiceEndpoint(board::utf8Of(serviceName), controlCode);
    });
}

} // namespace pelmux::platform
