#include "frame/ServiceControl.h"

#include "platform/Service.h"

namespace pelmux {

ResultCode notifyService(std::uint32_t controlCode)
{
    switch (platform::controlService(unitServiceName, controlCode)) {
    case platform::ServiceControlResult::Done:
        return Varnholt::ERR_SUCCESS;
    case platform::ServiceControlResult::OpenFailed:
        return Varnholt::ERR_OPEN_FAILED;
    case platform::ServiceControlResult::Refused:
        break;
    }
    return Varnholt::ERR_EXECUTE_COMMAND_FAILED;
}

} // namespace pelmux
