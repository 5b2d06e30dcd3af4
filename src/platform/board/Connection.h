// One connection to the unit: one open endpoint (a device handle, a vendor-library session or a
// service exchange). Frames are `u32 length`, `u8 op`, fields; replies carry no op. The framing is
// the same on every transport; the platform supplies the byte stream (a Unix socket on Linux,
// loopback TCP in the Windows test build).
#pragma once

#include "platform/Mutex.h"
#include "platform/Service.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <vector>

namespace pelmux::platform::board {

enum class BoardOp : std::uint8_t { Open = 1, Control = 2, Read = 3, Vendor = 4, Service = 5 };

// A connected byte stream to the unit.
class Stream {
public:
    virtual ~Stream() = default;
    // Move every byte or fail.
    bool sendAll(const std::uint8_t* data, std::size_t size);
    bool receiveAll(std::uint8_t* data, std::size_t size);

protected:
    // One transfer of at most `size` bytes, retried by the platform when a signal interrupted it:
    // how many bytes moved, 0 or less when the stream broke or the peer closed it.
    virtual long sendSome(const std::uint8_t* data, std::size_t size) = 0;
    virtual long receiveSome(std::uint8_t* data, std::size_t size) = 0;
};

// Where the unit listens, in the platform's words (a socket path, "tcp:127.0.0.1:PORT"), read
// anew on every call; empty when there is no usable address. Supplied by the platform.
std::string unitAddress();

// A stream to the unit at `address`, or null when nothing answers there. Supplied by the platform.
std::unique_ptr<Stream> connectUnit(const std::string& address);

class BoardConnection {
public:
    // Connects to the unit at unitAddress() and opens `endpoint` (UTF-8). Null when nothing
    // listens there or the unit has no such endpoint.
    static std::unique_ptr<BoardConnection> open(const std::string& endpoint);

    BoardConnection(const BoardConnection&) = delete;
    BoardConnection& operator=(const BoardConnection&) = delete;

    // Sends one request and waits for its reply. False when the connection broke or the reply
    // frame is malformed; the connection is unusable afterwards. Threads sharing one handle take
    // turns, as synchronous requests on one Windows handle do, so replies never cross. The reply
    // is kept on the heap; a connection whose exchange ran out of memory is unusable afterwards.
    bool call(BoardOp op, std::span<const std::uint8_t> fields, std::vector<std::uint8_t>& reply);

    // One CONTROL request with the meaning of DeviceIoControl: `returned` gets the unit's count
    // when the request succeeded, 0 otherwise; at most `outputSize` bytes are copied to `output`.
    // Like the device requests it stands in for, it needs no memory of the heap: the frame goes
    // out from the stack and the caller's input, the reply into `output`.
    bool control(std::uint32_t code, const void* input, std::uint32_t inputSize, void* output,
                 std::uint32_t outputSize, std::uint32_t* returned);

    // One READ request with the meaning of ReadFile on a device: `bytesRead` gets what arrived.
    // Needs no memory of the heap either.
    bool read(void* buffer, std::uint32_t capacity, std::uint32_t* bytesRead);

private:
    class Reply;

    explicit BoardConnection(std::unique_ptr<Stream> stream) : stream_(std::move(stream)) {}
    // One request frame (`op`, then `head`, at most maxHead bytes, then `payload`) and its reply,
    // handed to take(reply), which reads what it needs; the rest is skipped. False when the stream
    // broke (the connection is unusable afterwards, also after an exception) or `take` refused the
    // reply. Allocates nothing of its own.
    template <class Take>
    bool exchange(BoardOp op, std::span<const std::uint8_t> head, std::span<const std::uint8_t> payload,
                  Take take);
    static constexpr std::size_t maxHead = 16;

    std::unique_ptr<Stream> stream_;
    bool broken_ = false;
    platform::Mutex mutex_; // needs no memory, also at its first use
};

// The UTF-8 form of a wide text as the library passes it to the platform: UTF-16 where wchar_t has
// 16 bits (a lone surrogate becomes U+FFFD), UTF-32 elsewhere.
std::string utf8Of(const wchar_t* text);
// The same for `length` characters, which may include L'\0'.
std::string utf8Of(const wchar_t* text, std::size_t length);

// Sends one SERVICE request for `controlCode` on the endpoint "service:<serviceName>" (UTF-8),
// one connection per exchange as one pair of service handles per control on Windows.
ServiceControlResult controlServiceEndpoint(const std::string& serviceName, std::uint32_t controlCode);

} // namespace pelmux::platform::board
