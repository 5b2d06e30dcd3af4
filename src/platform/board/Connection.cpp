#include "platform/board/Connection.h"

#include "platform/TraceHook.h"
#include "platform/board/Wire.h"

#include <algorithm>
#include <cstring>
#include <cwchar>

namespace pelmux::platform::board {

namespace {

// Repeats `some(data, size)` until every byte has moved; false as soon as one transfer moves none.
template <class Byte, class Transfer> bool transferAll(Byte* data, std::size_t size, Transfer some)
{
    while (size > 0) {
        const long moved = some(data, size);
        if (moved <= 0)
            return false;
        data += moved;
        size -= static_cast<std::size_t>(moved);
    }
    return true;
}

// No reply of the unit is anywhere near this; a larger length means a broken peer.
constexpr std::uint32_t maxReplyLength = 64u * 1024u * 1024u;

} // namespace

bool Stream::sendAll(const std::uint8_t* data, std::size_t size)
{
    return transferAll(data, size,
                       [this](const std::uint8_t* at, std::size_t left) { return sendSome(at, left); });
}

bool Stream::receiveAll(std::uint8_t* data, std::size_t size)
{
    return transferAll(data, size,
                       [this](std::uint8_t* at, std::size_t left) { return receiveSome(at, left); });
}

std::unique_ptr<BoardConnection> BoardConnection::open(const std::string& endpoint)
{
    const std::string address = unitAddress();
    if (address.empty())
        return nullptr;
    auto stream = connectUnit(address);
    if (!stream)
        return nullptr;
    std::unique_ptr<BoardConnection> connection(new BoardConnection(std::move(stream)));
    FrameWriter fields;
    fields.text(endpoint);
    std::vector<std::uint8_t> reply;
    if (!connection->call(BoardOp::Open, fields.bytes(), reply)) {
        traceOnce("unit at " + address + " not reached: it closed the connection when asked to open \"" +
                  endpoint + "\"\n");
        return nullptr;
    }
    FrameReader reader(reply);
    std::uint8_t status = 1;
    if (!reader.u8(status) || status != 0) {
        traceOnce("the unit at " + address + " has no \"" + endpoint + "\" to open\n");
        return nullptr;
    }
    return connection;
}

// What is left of one reply on the stream: reads it in order, straight into the caller's memory.
class BoardConnection::Reply {
public:
    Reply(Stream& stream, std::uint32_t length) : stream_(stream), left_(length) {}

    // The next `size` bytes into `out`; false when the reply is shorter or the stream broke.
    bool take(void* out, std::size_t size)
    {
        if (size > left_ || broken_)
            return false;
        if (!stream_.receiveAll(static_cast<std::uint8_t*>(out), size)) {
            broken_ = true;
            return false;
        }
        left_ -= static_cast<std::uint32_t>(size);
        return true;
    }

    std::uint32_t left() const { return left_; }

    // Reads the rest; false when the stream broke meanwhile or before.
    bool skipRest()
    {
        std::uint8_t scratch[512];
        while (left_ > 0 && !broken_)
            take(scratch, std::min<std::size_t>(left_, sizeof scratch));
        return !broken_;
    }

private:
    Stream& stream_;
    std::uint32_t left_;
    bool broken_ = false;
};

template <class Take>
bool BoardConnection::exchange(BoardOp op, std::span<const std::uint8_t> head,
                               std::span<const std::uint8_t> payload, Take take)
{
    std::lock_guard lock(mutex_);
    if (broken_ || head.size() > maxHead)
        return false;
    // Broken until the reply has been read whole: a throw of `take` leaves the stream inside it.
    broken_ = true;
    std::uint8_t start[5 + maxHead];
    putU32(start, static_cast<std::uint32_t>(1 + head.size() + payload.size()));
    start[4] = static_cast<std::uint8_t>(op);
    if (!head.empty())
        std::memcpy(start + 5, head.data(), head.size());
    std::uint8_t header[4];
    if (!stream_->sendAll(start, 5 + head.size()) ||
        (!payload.empty() && !stream_->sendAll(payload.data(), payload.size())) ||
        !stream_->receiveAll(header, sizeof header))
        return false;
    const std::uint32_t length = u32At(header);
    if (length > maxReplyLength)
        return false;
    Reply reply(*stream_, length);
    const bool taken = take(reply);
    if (!reply.skipRest())
        return false;
    broken_ = false;
    return taken;
}

bool BoardConnection::call(BoardOp op, std::span<const std::uint8_t> fields, std::vector<std::uint8_t>& reply)
{
    return exchange(op, {}, fields, [&reply](Reply& rest) {
        reply.assign(rest.left(), 0);
        return rest.take(reply.data(), reply.size());
    });
}

bool BoardConnection::control(std::uint32_t code, const void* input, std::uint32_t inputSize, void* output,
                              std::uint32_t outputSize, std::uint32_t* returned)
{
    if (returned != nullptr)
        *returned = 0;
    std::uint8_t head[8];
    putU32(head, code);
    putU32(head + 4, output != nullptr ? outputSize : 0);
    const std::span<const std::uint8_t> payload(static_cast<const std::uint8_t*>(input),
                                                input != nullptr ? inputSize : 0);
    std::uint8_t ok = 0;
    std::uint32_t count = 0;
    const bool answered = exchange(BoardOp::Control, head, payload, [&](Reply& reply) {
        std::uint8_t fields[5];
        if (!reply.take(fields, sizeof fields))
            return false;
        ok = fields[0];
        count = u32At(fields + 1);
        const std::size_t copied = output != nullptr ? std::min<std::size_t>(reply.left(), outputSize) : 0;
        return reply.take(output, copied);
    });
    if (!answered)
        return false;
    if (returned != nullptr)
        *returned = ok != 0 ? count : 0;
    return ok != 0;
}

bool BoardConnection::read(void* buffer, std::uint32_t capacity, std::uint32_t* bytesRead)
{
    if (bytesRead != nullptr)
        *bytesRead = 0;
    std::uint8_t head[4];
    putU32(head, capacity);
    std::uint8_t ok = 0;
    std::size_t arrived = 0;
    const bool answered = exchange(BoardOp::Read, head, {}, [&](Reply& reply) {
        if (!reply.take(&ok, 1))
            return false;
        arrived = std::min<std::size_t>(reply.left(), capacity);
        return buffer == nullptr || reply.take(buffer, arrived);
    });
    if (!answered)
        return false;
    if (bytesRead != nullptr)
        *bytesRead = static_cast<std::uint32_t>(arrived);
    return ok != 0;
}

std::string utf8Of(const wchar_t* text)
{
    return text == nullptr ? std::string() : utf8Of(text, std::wcslen(text));
}

std::string utf8Of(const wchar_t* text, std::size_t length)
{
    std::string out;
    out.reserve(length);
    const wchar_t* const end = text + length;
    for (const wchar_t* p = text; p != end; ++p) {
        auto c = static_cast<std::uint32_t>(*p);
        if constexpr (sizeof(wchar_t) == 2) {
            c &= 0xFFFFu;
            const auto next = p + 1 != end ? static_cast<std::uint32_t>(p[1]) & 0xFFFFu : 0u;
            if (c >= 0xD800 && c <= 0xDBFF && next >= 0xDC00 && next <= 0xDFFF) {
                c = 0x10000 + ((c - 0xD800) << 10) + (next - 0xDC00);
                ++p;
            }
        }
        if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
            c = 0xFFFD;
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

ServiceControlResult controlServiceEndpoint(const std::string& serviceName, std::uint32_t controlCode)
{
    auto connection = BoardConnection::open("service:" + serviceName);
    if (!connection)
        return ServiceControlResult::OpenFailed;
    FrameWriter fields;
    fields.u32(controlCode);
    std::vector<std::uint8_t> reply;
    if (!connection->call(BoardOp::Service, fields.bytes(), reply))
        return ServiceControlResult::Refused;
    FrameReader reader(reply);
    std::uint8_t status = 0;
    if (!reader.u8(status))
        return ServiceControlResult::Refused;
    // 0 done, 1 the service could not be opened, 2 the control was refused.
    if (status == 0)
        return ServiceControlResult::Done;
    return status == 1 ? ServiceControlResult::OpenFailed : ServiceControlResult::Refused;
}

} // namespace pelmux::platform::board
