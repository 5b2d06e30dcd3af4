// The board driver channel: the driver handle every driver-using object begins with, and the one
// place where a request is issued and judged (open test, request failure, returned byte count).
#pragma once

#include "platform/Device.h"

#include <pelmux/ResultCode.h>

#include <cstdint>

namespace pelmux {

using Varnholt::ResultCode;

// Request code of a driver function: device type 0x22, buffered, any access.
constexpr std::uint32_t requestCode(std::uint32_t function)
{
    return (0x22u << 16) | (function << 2);
}

// The board driver device.
inline constexpr const wchar_t* boardDriverName = L"\\\\.\\PelmuxDrv";

// `device` and `isOpen`, in this order, as every driver-using object holds them.
class DriverLink {
public:
    DriverLink() = default;
    ~DriverLink() { close(); }
    DriverLink(const DriverLink&) = delete;
    DriverLink& operator=(const DriverLink&) = delete;

    // Opens the board driver (read and write, not shared, open-existing). Failure is not reported:
    // isOpen() stays false and every request answers ERR_OPEN_FAILED.
    void open(const wchar_t* name = boardDriverName);
    // Opens again only when the last open failed; answers whether the link is open now.
    bool reopenIfClosed(const wchar_t* name = boardDriverName);
    // Closes the handle when it is open.
    void close();

    bool isOpen() const { return isOpen_; }
    platform::Handle device() const { return device_; }

private:
    platform::Handle device_ = platform::invalidHandle();
    bool isOpen_ = false;
};

// What the returned byte count of a request must be.
enum class Count : std::uint8_t {
    Output,    // a read: the output size
    Input,     // a write: the input size (the bytes the driver consumed)
    Unchecked, // the few requests whose count is not judged
    // A read whose count is judged before the request's own result: a failed request reports no
    // bytes and so answers ERR_BUFFER_SIZE_ERROR too.
    OutputFirst,
};

// Issues one request on an open link and judges it: request failure gives
// ERR_IOCTRL_OPERATION_FAILED (7), another count than required gives ERR_BUFFER_SIZE_ERROR (6).
// The open test and the operation's own preconditions come before, in the caller's order.
ResultCode issue(const DriverLink& link, std::uint32_t code, const void* input, std::uint32_t inputSize,
                 void* output, std::uint32_t outputSize, Count count);

// The common shapes: open test, then the request.
ResultCode readRequest(const DriverLink& link, std::uint32_t code, void* output, std::uint32_t outputSize);
ResultCode queryRequest(const DriverLink& link, std::uint32_t code, const void* input,
                        std::uint32_t inputSize, void* output, std::uint32_t outputSize);
ResultCode writeRequest(const DriverLink& link, std::uint32_t code, const void* input,
                        std::uint32_t inputSize);

} // namespace pelmux
