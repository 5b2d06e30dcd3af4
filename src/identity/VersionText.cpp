#include "identity/VersionText.h"

namespace pelmux {

namespace {

bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// One "%d": white space, optional sign, at least one digit. Large values saturate, so that a
// number too long for an int still reads as out of range instead of wrapping.
bool scanNumber(const char*& p, const char* end, long long& value)
{
    while (p != end && isSpace(*p))
        ++p;
    bool negative = false;
    if (p != end && (*p == '+' || *p == '-')) {
        negative = *p == '-';
        ++p;
    }
    if (p == end || !isDigit(*p))
        return false;
    long long v = 0;
    while (p != end && isDigit(*p)) {
        if (v < 100000)
            v = v * 10 + (*p - '0');
        ++p;
    }
    value = negative ? -v : v;
    return true;
}

} // namespace

std::optional<VersionBytes> parseVersionText(const char* begin, const char* end)
{
    VersionBytes bytes{};
    const char* p = begin;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i > 0) {
            if (p == end || *p != '.')
                return std::nullopt;
            ++p;
        }
        long long value = 0;
        // A version part outside 0..255 (a negative one included) cannot be a version byte.
        if (!scanNumber(p, end, value) || value < 0 || value > 255)
            return std::nullopt;
        bytes[i] = static_cast<std::uint8_t>(value);
    }
    return bytes;
}

std::optional<VersionBytes> findVersionAfterV(const char* begin, const char* end)
{
    for (const char* p = begin; p != end; ++p) {
        if (*p == 'v' && p + 1 != end && isDigit(p[1]))
            return parseVersionText(p + 1, end);
    }
    return std::nullopt;
}

} // namespace pelmux
