#include "platform/Service.h"

#include <windows.h>

namespace pelmux::platform {

ServiceControlResult controlService(const wchar_t* serviceName, std::uint32_t controlCode)
{
    SC_HANDLE manager = ::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ENUMERATE_SERVICE);
    if (manager == nullptr)
        return ServiceControlResult::OpenFailed;
    SC_HANDLE service = ::OpenServiceW(manager, serviceName, SERVICE_USER_DEFINED_CONTROL);
    if (service == nullptr) {
        ::CloseServiceHandle(manager);
        return ServiceControlResult::OpenFailed;
    }
    SERVICE_STATUS status; // not looked at
    const BOOL taken = ::ControlService(service, controlCode, &status);
    ::CloseServiceHandle(service);
    ::CloseServiceHandle(manager);
    return taken ? ServiceControlResult::Done : ServiceControlResult::Refused;
}

} // namespace pelmux::platform
