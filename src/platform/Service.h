// Service control: sends a user-defined control code to a Windows service. The win32/
// implementation opens the service control manager of the local machine with
// SC_MANAGER_ENUMERATE_SERVICE, the service with SERVICE_USER_DEFINED_CONTROL, calls
// ControlService and closes both handles; the posix/ one opens the service's endpoint on the board
// socket ("service:<name>") and sends one SERVICE request.
#pragma once

#include <cstdint>

namespace pelmux::platform {

enum class ServiceControlResult {
    Done,       // the service took the control
    OpenFailed, // the manager or the service could not be opened
    Refused,    // the service was opened but did not take the control
};

// Blocks until the service answers.
ServiceControlResult controlService(const wchar_t* serviceName, std::uint32_t controlCode);

} // namespace pelmux::platform
