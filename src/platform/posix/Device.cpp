// Device and file handles on Linux: a device is an open endpoint on the board socket, a file is
// a file descriptor under PELMUX_ROOT.
#include "platform/Device.h"

#include "platform/board/Connection.h"
#include "platform/posix/Root.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace pelmux::platform {

namespace {

class HandleObject {
public:
    virtual ~HandleObject() = default;
    virtual bool control(std::uint32_t, const void*, std::uint32_t, void*, std::uint32_t, std::uint32_t*)
    {
        return false;
    }
    virtual bool read(void* buffer, std::uint32_t capacity, std::uint32_t* bytesRead) = 0;
    virtual bool size(std::uint64_t*) { return false; }
};

class DeviceObject final : public HandleObject {
public:
    explicit DeviceObject(std::unique_ptr<board::BoardConnection> connection)
        : connection_(std::move(connection))
    {
    }

    bool control(std::uint32_t code, const void* input, std::uint32_t inputSize, void* output,
                 std::uint32_t outputSize, std::uint32_t* returned) override
    {
        return connection_->control(code, input, inputSize, output, outputSize, returned);
    }

    bool read(void* buffer, std::uint32_t capacity, std::uint32_t* bytesRead) override
    {
        return connection_->read(buffer, capacity, bytesRead);
    }

private:
    std::unique_ptr<board::BoardConnection> connection_;
};

class FileObject final : public HandleObject {
public:
    explicit FileObject(int fd) : fd_(fd) {}
    ~FileObject() override { ::close(fd_); }

    bool read(void* buffer, std::uint32_t capacity, std::uint32_t* bytesRead) override
    {
        ssize_t n;
        do {
            n = ::read(fd_, buffer, capacity);
        } while (n < 0 && errno == EINTR);
        if (n < 0)
            return false;
        if (bytesRead != nullptr)
            *bytesRead = static_cast<std::uint32_t>(n);
        return true;
    }

    bool size(std::uint64_t* bytes) override
    {
        struct stat info {};
        if (::fstat(fd_, &info) != 0)
            return false;
        *bytes = static_cast<std::uint64_t>(info.st_size);
        return true;
    }

private:
    int fd_;
};

HandleObject* object(Handle handle)
{
    return handle == invalidHandle() ? nullptr : static_cast<HandleObject*>(handle);
}

} // namespace

Handle invalidHandle()
{
    return reinterpret_cast<Handle>(static_cast<std::intptr_t>(-1));
}

Handle openDevice(const wchar_t* name)
{
    if (name == nullptr)
        return invalidHandle();
    auto connection = board::BoardConnection::open(posix::toUtf8(name));
    if (!connection)
        return invalidHandle();
    return static_cast<HandleObject*>(new DeviceObject(std::move(connection)));
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
    HandleObject* target = object(device);
    return target != nullptr && target->control(code, input, inputSize, output, outputSize, returned);
}

Handle openFileForRead(const wchar_t* windowsPath)
{
    if (windowsPath == nullptr)
        return invalidHandle();
    const int fd = posix::openRegularFile(posix::hostPath(windowsPath));
    if (fd < 0)
        return invalidHandle();
    return static_cast<HandleObject*>(new FileObject(fd));
}

std::optional<std::wstring> callerFileName(const char* name)
{
    if (name == nullptr || std::strlen(name) > longestCallerFileName)
        return std::nullopt;
    // Host paths are bytes: each one stands for the character of its value (posix::callerPath
    // gives the bytes back).
    std::wstring wide;
    for (const char* c = name; *c != '\0'; ++c)
        wide.push_back(static_cast<wchar_t>(static_cast<unsigned char>(*c)));
    return wide;
}

Handle openImageFile(const char* name, bool /*exclusive*/)
{
    // Other programs on Linux do not ask for exclusive access, so none is enforced here.
    if (name == nullptr || std::strlen(name) > longestCallerFileName)
        return invalidHandle();
    const int fd = posix::openRegularFile(name);
    if (fd < 0)
        return invalidHandle();
    return static_cast<HandleObject*>(new FileObject(fd));
}

bool fileSize(Handle file, std::uint64_t* size)
{
    HandleObject* target = object(file);
    return target != nullptr && size != nullptr && target->size(size);
}

bool readHandle(Handle handle, void* buffer, std::uint32_t capacity, std::uint32_t* bytesRead)
{
    if (bytesRead != nullptr)
        *bytesRead = 0;
    HandleObject* target = object(handle);
    return target != nullptr && target->read(buffer, capacity, bytesRead);
}

void closeHandle(Handle handle)
{
    delete object(handle);
}

} // namespace pelmux::platform
