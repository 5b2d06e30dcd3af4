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

bool BoardConnection::call(BoardOp op, std::span<const std::uint8_t> fields, std::vector<std::uint8_t>& reply)
{
    std::lock_guard lock(mutex_);
    if (broken_)
        return false;
    FrameWriter frame;
    frame.u32(static_cast<std::uint32_t>(fields.size() + 1)).u8(static_cast<std::uint8_t>(op));
    frame.raw(fields.data(), fields.size());
    std::uint8_t header[4];
    if (!stream_->sendAll(frame.bytes().data(), frame.bytes().size()) ||
        !stream_->receiveAll(header, sizeof header)) {
        broken_ = true;
        return false;
    }
    std::uint32_t length = 0;
    FrameReader(header).u32(length);
    if (length > maxReplyLength) {
        broken_ = true;
        return false;
    }
    reply.assign(length, 0);
    if (!stream_->receiveAll(reply.data(), length)) {
        broken_ = true;
        return false;
    }
    return true;
}

bool BoardConnection::control(std::uint32_t code, const void* input, std::uint32_t inputSize, void* output,
                              std::uint32_t outputSize, std::uint32_t* returned)
{
    if (returned != nullptr)
        *returned = 0;
    FrameWriter fields;
    fields.u32(code).u32(output != nullptr ? outputSize : 0).raw(input, input != nullptr ? inputSize : 0);
    std::vector<std::uint8_t> reply;
    if (!call(BoardOp::Control, fields.bytes(), reply))
        return false;
    FrameReader reader(reply);
    std::uint8_t ok = 0;
    std::uint32_t count = 0;
    if (!reader.u8(ok) || !reader.u32(count))
        return false;
    if (returned != nullptr)
        *returned = ok != 0 ? count : 0;
    const auto data = reader.rest();
    if (output != nullptr)
        std::memcpy(output, data.data(), std::min<std::size_t>(data.size(), outputSize));
    return ok != 0;
}

bool BoardConnection::read(void* buffer, std::uint32_t capacity, std::uint32_t* bytesRead)
{
    if (bytesRead != nullptr)
        *bytesRead = 0;
    FrameWriter fields;
    fields.u32(capacity);
    std::vector<std::uint8_t> reply;
    if (!call(BoardOp::Read, fields.bytes(), reply))
        return false;
    FrameReader reader(reply);
    std::uint8_t ok = 0;
    if (!reader.u8(ok))
        return false;
    const auto data = reader.rest();
    const std::size_t n = std::min<std::size_t>(data.size(), capacity);
    if (buffer != nullptr && n > 0)
        std::memcpy(buffer, data.data(), n);
    if (bytesRead != nullptr)
        *bytesRead = static_cast<std::uint32_t>(n);
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
