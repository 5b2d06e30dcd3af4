// The vendor board library reached through the unit (Linux, and the stand-in Jida.dll of the
// Windows test build): every call is one VENDOR frame on the unit's "board-library" endpoint
// (docs/board-protocol.md gives each call's fields).
//
// A vendor-library session is process-wide, as Jida.dll is loaded once per process: one connection,
// opened by the first call under a lock and shared by every later call. A connection that the unit
// has dropped (a unit restarted, or another PELMUX_ROOT) is replaced: a call that finds the unit's
// address changed connects anew, and a call whose request fails on a connection used before retries
// once on a fresh one. Calls are serialised by the same lock, as the frames of one connection must be.
#include "platform/Vendor.h"

#include "platform/board/Connection.h"
#include "platform/board/Wire.h"

#include <algorithm>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace pelmux::platform {

namespace {

constexpr const char* endpointName = "board-library";
// Class names are sent as u32 length + UTF-8; this length stands for a null name.
constexpr std::uint32_t nullName = 0xFFFFFFFFu;

class Session {
public:
    // Sends one call and answers its reply fields (result first); false when the unit cannot be
    // reached or does not answer.
    bool call(std::uint16_t ordinal, const board::FrameWriter& arguments, std::vector<std::uint8_t>& reply)
    {
        std::lock_guard lock(mutex_);
        board::FrameWriter fields;
        fields.u16(ordinal).raw(arguments.bytes().data(), arguments.bytes().size());

        const std::string path = board::unitAddress();
        const bool reused = connection_ != nullptr && path == path_;
        if (!reused && !connect(path))
            return false;
        if (connection_->call(board::BoardOp::Vendor, fields.bytes(), reply))
            return true;
        connection_.reset();
        // A connection used before may have been dropped by the unit in between: try once anew.
        if (!reused || !connect(path))
            return false;
        if (connection_->call(board::BoardOp::Vendor, fields.bytes(), reply))
            return true;
        connection_.reset();
        return false;
    }

private:
    bool connect(const std::string& path)
    {
        connection_ = board::BoardConnection::open(endpointName);
        path_ = path;
        return connection_ != nullptr;
    }

    std::mutex mutex_;
    std::unique_ptr<board::BoardConnection> connection_;
    std::string path_;
};

Session& session()
{
    static Session instance;
    return instance;
}

// One call: the reply's result, and a reader positioned on its outputs. A call that reaches no
// unit, or whose reply is too short for its result, answers 0.
class Call {
public:
    Call(std::uint16_t ordinal, const board::FrameWriter& arguments)
    {
        if (!session().call(ordinal, arguments, reply_))
            return;
        board::FrameReader reader(reply_);
        std::int32_t result = 0;
        if (reader.i32(result))
            result_ = static_cast<std::uint32_t>(result);
        outputs_ = reader.rest();
    }
    std::uint32_t result() const { return result_; }
    board::FrameReader outputs() const { return board::FrameReader(outputs_); }

private:
    std::vector<std::uint8_t> reply_;
    std::uint32_t result_ = 0;
    std::span<const std::uint8_t> outputs_;
};

void putName(board::FrameWriter& fields, const std::string* utf8)
{
    if (utf8 == nullptr) {
        fields.u32(nullName);
        return;
    }
    fields.u32(static_cast<std::uint32_t>(utf8->size())).text(*utf8);
}

void putBuffer(board::FrameWriter& fields, const std::uint8_t* data, std::uint32_t length)
{
    fields.u32(length).raw(data, data != nullptr ? length : 0);
}

} // namespace

std::uint32_t boardLibInit()
{
    return Call(vendorOrdinal::boardLibInit, board::FrameWriter()).result();
}

std::uint32_t boardLibSetup(std::uint32_t flag)
{
    board::FrameWriter fields;
    fields.u32(flag);
    return Call(vendorOrdinal::boardLibSetup, fields).result();
}

std::uint32_t boardLibExit()
{
    return Call(vendorOrdinal::boardLibExit, board::FrameWriter()).result();
}

std::uint32_t boardCount(const char* className, std::uint32_t flags)
{
    board::FrameWriter fields;
    const std::string name = className != nullptr ? std::string(className) : std::string();
    putName(fields, className != nullptr ? &name : nullptr);
    fields.u32(flags);
    return Call(vendorOrdinal::boardCount, fields).result();
}

std::uint32_t boardOpen(const wchar_t* className, std::uint32_t number, std::uint32_t flags,
                        BoardHandle* handle)
{
    board::FrameWriter fields;
    const std::string name = className != nullptr ? board::utf8Of(className) : std::string();
    putName(fields, className != nullptr ? &name : nullptr);
    fields.u32(number).u32(flags);
    const Call call(vendorOrdinal::boardOpen, fields);
    std::uint32_t opened = 0;
    if (call.result() == 0 || !call.outputs().u32(opened))
        return 0;
    if (handle != nullptr)
        *handle = opened;
    return call.result();
}

std::uint32_t boardClose(BoardHandle handle)
{
    board::FrameWriter fields;
    fields.u32(handle);
    return Call(vendorOrdinal::boardClose, fields).result();
}

std::uint32_t boardI2cReadRegister(BoardHandle handle, std::uint32_t busType, std::uint8_t address,
                                   std::uint16_t reg, std::uint8_t* value)
{
    board::FrameWriter fields;
    fields.u32(handle).u32(busType).u8(address).u32(reg);
    const Call call(vendorOrdinal::boardI2cReadRegister, fields);
    std::uint8_t read = 0;
    if (call.result() == 0 || !call.outputs().u8(read))
        return 0;
    if (value != nullptr)
        *value = read;
    return call.result();
}

std::uint32_t boardI2cWriteRegister(BoardHandle handle, std::uint32_t busType, std::uint8_t address,
                                    std::uint16_t reg, std::uint8_t value)
{
    board::FrameWriter fields;
    fields.u32(handle).u32(busType).u8(address).u32(reg).u8(value);
    return Call(vendorOrdinal::boardI2cWriteRegister, fields).result();
}

std::uint32_t boardI2cWrite(BoardHandle handle, std::uint32_t busType, std::uint8_t address,
                            const std::uint8_t* data, std::uint32_t length)
{
    if (data == nullptr && length > 0)
        return 0;
    board::FrameWriter fields;
    fields.u32(handle).u32(busType).u8(address);
    putBuffer(fields, data, length);
    return Call(vendorOrdinal::boardI2cWrite, fields).result();
}

std::uint32_t boardI2cWriteRead(BoardHandle handle, std::uint32_t busType, std::uint8_t address,
                                const std::uint8_t* writeData, std::uint32_t writeLength,
                                std::uint8_t* readData, std::uint32_t readLength)
{
    if ((writeData == nullptr && writeLength > 0) || (readData == nullptr && readLength > 0))
        return 0;
    board::FrameWriter fields;
    fields.u32(handle).u32(busType).u8(address);
    putBuffer(fields, writeData, writeLength);
    fields.u32(readLength);
    const Call call(vendorOrdinal::boardI2cWriteRead, fields);
    if (call.result() == 0)
        return 0;
    // The reply carries exactly the requested bytes; a short one is no success.
    std::vector<std::uint8_t> read(readLength);
    if (!call.outputs().raw(read.data(), readLength))
        return 0;
    std::copy(read.begin(), read.end(), readData);
    return call.result();
}

std::uint32_t boardTempCount(BoardHandle handle)
{
    board::FrameWriter fields;
    fields.u32(handle);
    return Call(vendorOrdinal::boardTempCount, fields).result();
}

std::uint32_t boardTempCurrent(BoardHandle handle, std::uint32_t index, std::int32_t* value,
                               std::uint32_t* status)
{
    board::FrameWriter fields;
    fields.u32(handle).u32(index);
    const Call call(vendorOrdinal::boardTempCurrent, fields);
    std::int32_t reading = 0;
    std::uint32_t readingStatus = 0;
    auto outputs = call.outputs();
    if (call.result() == 0 || !outputs.i32(reading) || !outputs.u32(readingStatus))
        return 0;
    if (value != nullptr)
        *value = reading;
    if (status != nullptr)
        *status = readingStatus;
    return call.result();
}

std::uint32_t boardTempInfo(BoardHandle handle, std::uint32_t index, BoardTempInfo* info)
{
    // The record's size word is the one input the caller puts into it.
    board::FrameWriter fields;
    fields.u32(handle).u32(index).u32(info != nullptr ? info->size : 0);
    const Call call(vendorOrdinal::boardTempInfo, fields);
    std::uint32_t words[11] = {};
    auto outputs = call.outputs();
    if (call.result() == 0)
        return 0;
    for (auto& word : words)
        if (!outputs.u32(word))
            return 0;
    if (info != nullptr) {
        info->size = words[0];
        info->type = words[1];
        std::copy(words + 2, words + 11, info->rest);
    }
    return call.result();
}

} // namespace pelmux::platform
