// Frame fields as the unit reads and writes them: little-endian integers, raw byte runs.
// Kept apart from the library's own encoder so that tests against the unit catch its mistakes.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace pelmux::sim {

using Bytes = std::vector<std::uint8_t>;

class Writer {
public:
    Writer& u8(std::uint8_t v)
    {
        out_.push_back(v);
        return *this;
    }
    Writer& u16(std::uint16_t v) { return put(v, 2); }
    Writer& u32(std::uint32_t v) { return put(v, 4); }
    Writer& i32(std::int32_t v) { return put(static_cast<std::uint32_t>(v), 4); }
    Writer& bytes(std::span<const std::uint8_t> b)
    {
        out_.insert(out_.end(), b.begin(), b.end());
        return *this;
    }
    Writer& text(const std::string& s)
    {
        out_.insert(out_.end(), s.begin(), s.end());
        return *this;
    }
    const Bytes& data() const { return out_; }
    Bytes take() { return std::move(out_); }

private:
    Writer& put(std::uint32_t v, int n)
    {
        for (int i = 0; i < n; ++i)
            out_.push_back(static_cast<std::uint8_t>((v >> (8 * i)) & 0xFF));
        return *this;
    }
    Bytes out_;
};

// Reads request fields; a short frame sets failed() instead of reading past the end.
class Reader {
public:
    explicit Reader(std::span<const std::uint8_t> in) : in_(in) {}
    std::uint8_t u8() { return static_cast<std::uint8_t>(get(1)); }
    std::uint16_t u16() { return static_cast<std::uint16_t>(get(2)); }
    std::uint32_t u32() { return static_cast<std::uint32_t>(get(4)); }
    std::int32_t i32() { return static_cast<std::int32_t>(get(4)); }
    Bytes bytes(std::size_t n)
    {
        if (in_.size() - pos_ < n) {
            failed_ = true;
            pos_ = in_.size();
            return {};
        }
        Bytes b(in_.begin() + static_cast<std::ptrdiff_t>(pos_),
                in_.begin() + static_cast<std::ptrdiff_t>(pos_ + n));
        pos_ += n;
        return b;
    }
    Bytes rest() { return bytes(in_.size() - pos_); }
    bool failed() const { return failed_; }
    bool atEnd() const { return pos_ == in_.size(); }

private:
    std::uint64_t get(std::size_t n)
    {
        if (in_.size() - pos_ < n) {
            failed_ = true;
            pos_ = in_.size();
            return 0;
        }
        std::uint64_t v = 0;
        for (std::size_t i = 0; i < n; ++i)
            v |= static_cast<std::uint64_t>(in_[pos_ + i]) << (8 * i);
        pos_ += n;
        return v;
    }
    std::span<const std::uint8_t> in_;
    std::size_t pos_ = 0;
    bool failed_ = false;
};

} // namespace pelmux::sim
