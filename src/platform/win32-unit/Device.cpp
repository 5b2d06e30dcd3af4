// Device handles in the Windows test build: a device is an endpoint of the unit over TCP; files
// stay Windows handles (win32/FileHandles.cpp), so reading and closing tell the two apart.
#include "platform/Device.h"

#include "platform/board/Connection.h"

#include <windows.h>

#include <memory>
#include <mutex>
#include <set>

namespace pelmux::platform {

namespace {

struct Endpoint {
    std::unique_ptr<board::BoardConnection> connection;
};

std::mutex endpointsMutex;
std::set<Endpoint*>& endpoints()
{
    static std::set<Endpoint*> open;
    return open;
}

// The endpoint behind a handle, or null for a Windows handle.
Endpoint* endpointOf(Handle handle)
{
    std::lock_guard lock(endpointsMutex);
    const auto it = endpoints().find(static_cast<Endpoint*>(handle));
    return it != endpoints().end() ? *it : nullptr;
}

} // namespace

Handle invalidHandle()
{
    return INVALID_HANDLE_VALUE;
}

Handle openDevice(const wchar_t* name)
{
    if (name == nullptr)
        return INVALID_HANDLE_VALUE;
    auto connection = board::BoardConnection::open(board::utf8Of(name));
    if (!connection)
        return INVALID_HANDLE_VALUE;
    auto* endpoint = new Endpoint{std::move(connection)};
    std::lock_guard lock(endpointsMutex);
    endpoints().insert(endpoint);
    return endpoint;
}

bool deviceControl(Handle device, std::uint32_t code, const void* input, std::uint32_t inputSize,
                   void* output, std::uint32_t outputSize, std::uint32_t* returned)
{
    if (returned != nullptr)
        *returned = 0;
    Endpoint* endpoint = endpointOf(device);
    return endpoint != nullptr &&
           endpoint->connection->control(code, input, inputSize, output, outputSize, returned);
}

bool readHandle(Handle handle, void* buffer, std::uint32_t capacity, std::uint32_t* bytesRead)
{
    if (Endpoint* endpoint = endpointOf(handle))
        return endpoint->connection->read(buffer, capacity, bytesRead);
    DWORD count = 0;
    const BOOL ok = ::ReadFile(handle, buffer, capacity, &count, nullptr);
    if (bytesRead != nullptr)
        *bytesRead = count;
    return ok != FALSE;
}

void closeHandle(Handle handle)
{
    if (handle == INVALID_HANDLE_VALUE || handle == nullptr)
        return;
    {
        std::lock_guard lock(endpointsMutex);
        const auto it = endpoints().find(static_cast<Endpoint*>(handle));
        if (it != endpoints().end()) {
            delete *it;
            endpoints().erase(it);
            return;
        }
    }
    ::CloseHandle(handle);
}

} // namespace pelmux::platform
