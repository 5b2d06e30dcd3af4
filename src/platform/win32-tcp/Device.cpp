// Device handles in the Windows test build: a device is an endpoint of the unit over TCP; files
// stay Windows handles (win32/FileHandles.cpp), so reading and closing tell the two apart. Exhausted
// memory is answered as the product's device calls answer it: an open that finds none fails as a
// CreateFileW can, and the requests need none.
#include "platform/Device.h"

#include "platform/Memory.h"
#include "platform/Mutex.h"
#include "platform/board/Connection.h"

#include <windows.h>

#include <map>
#include <memory>
#include <mutex>

namespace pelmux::platform {

namespace {

struct Endpoint {
    std::unique_ptr<board::BoardConnection> connection;
};

// The open endpoints by handle. A call holds its endpoint until it returns, so that a close on
// another thread only takes the handle away: the endpoint goes when its last call is done.
platform::Mutex endpointsMutex;
std::map<Handle, std::shared_ptr<Endpoint>>& endpoints()
{
    static std::map<Handle, std::shared_ptr<Endpoint>> open;
    return open;
}

// The endpoint behind a handle, or null for a Windows handle.
std::shared_ptr<Endpoint> endpointOf(Handle handle)
{
    std::lock_guard lock(endpointsMutex);
    const auto it = endpoints().find(handle);
    return it != endpoints().end() ? it->second : nullptr;
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
    return unlessMemoryExhausted<Handle>(INVALID_HANDLE_VALUE, [name]() -> Handle {
        auto connection = board::BoardConnection::open(board::utf8Of(name));
        if (!connection)
            return INVALID_HANDLE_VALUE;
        auto endpoint = std::make_shared<Endpoint>(Endpoint{std::move(connection)});
        // The endpoint's address is the handle: unique while the endpoint lives.
        const Handle handle = endpoint.get();
        std::lock_guard lock(endpointsMutex);
        endpoints().emplace(handle, std::move(endpoint));
        return handle;
    });
}

bool deviceNotFound()
{
    return false;
}

bool deviceControl(Handle device, std::uint32_t code, const void* input, std::uint32_t inputSize,
                   void* output, std::uint32_t outputSize, std::uint32_t* returned)
{
    if (returned != nullptr)
        *returned = 0;
    const std::shared_ptr<Endpoint> endpoint = endpointOf(device);
    return endpoint != nullptr &&
           endpoint->connection->control(code, input, inputSize, output, outputSize, returned);
}

bool readHandle(Handle handle, void* buffer, std::uint32_t capacity, std::uint32_t* bytesRead)
{
    if (const std::shared_ptr<Endpoint> endpoint = endpointOf(handle))
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
    std::shared_ptr<Endpoint> closed;
    {
        std::lock_guard lock(endpointsMutex);
        const auto it = endpoints().find(handle);
        if (it != endpoints().end()) {
            closed = std::move(it->second);
            endpoints().erase(it);
        }
    }
    // A call still running on another thread keeps the endpoint; otherwise it goes here, outside
    // the lock, as its connection closes.
    if (closed == nullptr)
        ::CloseHandle(handle);
}

} // namespace pelmux::platform
