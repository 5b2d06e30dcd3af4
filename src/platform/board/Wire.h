// Little-endian field encoding of the board socket frames, on every transport to the unit.
#pragma once

#include <cstdint>
#include <cstring>
#include <span>
#include <string_view>
#include <vector>

namespace pelmux::platform::board {

// A 32-bit field at `at`, written or read in place (a frame's head built on the stack).
inline void putU32(std::uint8_t* at, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        at[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

inline std::uint32_t u32At(const std::uint8_t* at)
{
    return static_cast<std::uint32_t>(at[0]) | (static_cast<std::uint32_t>(at[1]) << 8) |
           (static_cast<std::uint32_t>(at[2]) << 16) | (static_cast<std::uint32_t>(at[3]) << 24);
}

class FrameWriter {
public:
    FrameWriter& u8(std::uint8_t v)
    {
        bytes_.push_back(v);
        return *this;
    }
    FrameWriter& u16(std::uint16_t v)
    {
        for (int i = 0; i < 2; ++i)
            bytes_.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
        return *this;
    }
    FrameWriter& u32(std::uint32_t v)
    {
        std::uint8_t b[4];
        putU32(b, v);
        return raw(b, sizeof b);
    }
    FrameWriter& raw(const void* data, std::size_t size)
    {
        const auto* p = static_cast<const std::uint8_t*>(data);
        if (size > 0)
            bytes_.insert(bytes_.end(), p, p + size);
        return *this;
    }
    FrameWriter& text(std::string_view s) { return raw(s.data(), s.size()); }
    const std::vector<std::uint8_t>& bytes() const { return bytes_; }

private:
    std::vector<std::uint8_t> bytes_;
};

// Reads fields from a reply; every read past the end fails and leaves the reader failed.
class FrameReader {
public:
    explicit FrameReader(std::span<const std::uint8_t> data) : data_(data) {}
    bool u8(std::uint8_t& v) { return take(&v, 1); }
    bool u16(std::uint16_t& v)
    {
        std::uint8_t b[2];
        if (!take(b, 2))
            return false;
        v = static_cast<std::uint16_t>(b[0] | (b[1] << 8));
        return true;
    }
    bool u32(std::uint32_t& v)
    {
        std::uint8_t b[4];
        if (!take(b, 4))
            return false;
        v = u32At(b);
        return true;
    }
    bool i32(std::int32_t& v)
    {
        std::uint32_t u = 0;
        if (!u32(u))
            return false;
        v = static_cast<std::int32_t>(u);
        return true;
    }
    bool raw(void* out, std::size_t size) { return take(out, size); }
    std::span<const std::uint8_t> rest() const { return data_.subspan(pos_); }

private:
    bool take(void* out, std::size_t size)
    {
        if (data_.size() - pos_ < size)
            return false;
        if (size > 0)
            std::memcpy(out, data_.data() + pos_, size);
        pos_ += size;
        return true;
    }
    std::span<const std::uint8_t> data_;
    std::size_t pos_ = 0;
};

} // namespace pelmux::platform::board
