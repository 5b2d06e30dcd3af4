// The unit's service "PelmuxService": the library never starts or stops it, it only sends it
// user-defined control codes. One routine for every caller.
#pragma once

#include <pelmux/ResultCode.h>

#include <cstdint>

namespace pelmux {

using Varnholt::ResultCode;

inline constexpr const wchar_t* unitServiceName = L"PelmuxService";

// The control codes the service understands.
inline constexpr std::uint32_t serviceFirmwareUpgrade = 129;
inline constexpr std::uint32_t serviceLedDimming = 132;
inline constexpr std::uint32_t servicePowerMgrWithdraw = 133;
inline constexpr std::uint32_t servicePowerMgrMode1 = 134;
inline constexpr std::uint32_t servicePowerMgrMode2 = 135;

// Sends `controlCode` to the service and waits for its answer: ERR_OPEN_FAILED (1) when the
// service control manager or the service cannot be opened, ERR_EXECUTE_COMMAND_FAILED (17) when
// the service refuses the control, else ERR_SUCCESS.
ResultCode notifyService(std::uint32_t controlCode);

} // namespace pelmux
