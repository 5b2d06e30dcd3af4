#include "frame/DriverChannel.h"

#include "frame/Trace.h"

#include <atomic>
#include <cwchar>

namespace pelmux {

namespace {

// A unit without the board driver (not a panel PC, or one whose driver is not installed) fails
// every driver operation with ERR_OPEN_FAILED and nothing more; the trace names the cause, once per
// process.
std::atomic<bool> absentDriverTraced{false};

void traceIfDriverAbsent(const wchar_t* name)
{
    if (name == nullptr || std::wcscmp(name, boardDriverName) != 0 || !platform::deviceNotFound())
        return;
    if (!absentDriverTraced.exchange(true))
        trace("No board driver found: \\\\.\\PelmuxDrv does not exist (no panel PC, or its driver is not "
              "installed)\n");
}

} // namespace

void DriverLink::open(const wchar_t* name)
{
    close();
    device_ = platform::openDevice(name);
    isOpen_ = device_ != platform::invalidHandle();
    if (!isOpen_)
        traceIfDriverAbsent(name);
}

bool DriverLink::reopenIfClosed(const wchar_t* name)
{
    if (!isOpen_)
        open(name);
    return isOpen_;
}

void DriverLink::close()
{
    if (isOpen_)
        platform::closeHandle(device_);
    device_ = platform::invalidHandle();
    isOpen_ = false;
}

ResultCode issue(const DriverLink& link, std::uint32_t code, const void* input, std::uint32_t inputSize,
                 void* output, std::uint32_t outputSize, Count count)
{
    std::uint32_t returned = 0;
    const bool done =
        platform::deviceControl(link.device(), code, input, inputSize, output, outputSize, &returned);
    if (count == Count::OutputFirst && returned != outputSize)
        return Varnholt::ERR_BUFFER_SIZE_ERROR;
    if (!done)
        return Varnholt::ERR_IOCTRL_OPERATION_FAILED;
    if ((count == Count::Output && returned != outputSize) ||
        (count == Count::Input && returned != inputSize))
        return Varnholt::ERR_BUFFER_SIZE_ERROR;
    return Varnholt::ERR_SUCCESS;
}

ResultCode readRequest(const DriverLink& link, std::uint32_t code, void* output, std::uint32_t outputSize)
{
    if (!link.isOpen())
        return Varnholt::ERR_OPEN_FAILED;
    return issue(link, code, nullptr, 0, output, outputSize, Count::Output);
}

ResultCode queryRequest(const DriverLink& link, std::uint32_t code, const void* input,
                        std::uint32_t inputSize, void* output, std::uint32_t outputSize)
{
    if (!link.isOpen())
        return Varnholt::ERR_OPEN_FAILED;
    return issue(link, code, input, inputSize, output, outputSize, Count::Output);
}

ResultCode writeRequest(const DriverLink& link, std::uint32_t code, const void* input,
                        std::uint32_t inputSize)
{
    if (!link.isOpen())
        return Varnholt::ERR_OPEN_FAILED;
    return issue(link, code, input, inputSize, nullptr, 0, Count::Input);
}

} // namespace pelmux
