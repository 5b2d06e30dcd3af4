// Service control in the Windows test build: the unit's "service:<name>" endpoint over TCP, one
// connection per exchange as one pair of service handles per control.
#include "platform/Service.h"

#include "platform/board/Connection.h"

namespace pelmux::platform {

ServiceControlResult controlService(const wchar_t* serviceName, std::uint32_t controlCode)
{
    return board::controlServiceEndpoint(board::utf8Of(serviceName), controlCode);
}

} // namespace pelmux::platform
