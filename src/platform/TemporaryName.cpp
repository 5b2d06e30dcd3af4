#include "platform/TemporaryName.h"

#include <array>

namespace pelmux::platform {

namespace {

template <class Char> constexpr std::array<Char, 8> marker = {'.', 'p', 'e', 'l', 'm', 'u', 'x', '-'};
template <class Char> constexpr std::array<Char, 4> suffix = {'.', 't', 'm', 'p'};

template <class Char> std::basic_string<Char> decimal(std::uint64_t value)
{
    std::basic_string<Char> digits;
    do {
        digits.insert(digits.begin(), static_cast<Char>('0' + value % 10));
        value /= 10;
    } while (value != 0);
    return digits;
}

template <class Char>
std::basic_string<Char> formatName(std::basic_string_view<Char> name, const TemporaryWriter& writer)
{
    std::basic_string<Char> text(name);
    text.append(marker<Char>.begin(), marker<Char>.end());
    text += decimal<Char>(writer.process);
    text += static_cast<Char>('-');
    text += decimal<Char>(writer.start);
    text += static_cast<Char>('-');
    text += decimal<Char>(writer.sequence);
    text += static_cast<Char>('-');
    text += decimal<Char>(writer.size);
    text.append(suffix<Char>.begin(), suffix<Char>.end());
    return text;
}

// Reads one number at the front of `text` and removes it; false for none, or one beyond 64 bits.
template <class Char> bool takeNumber(std::basic_string_view<Char>& text, std::uint64_t& value)
{
    std::size_t digits = 0;
    value = 0;
    while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9') {
        const auto digit = static_cast<std::uint64_t>(text[digits] - '0');
        if (value > (UINT64_MAX - digit) / 10)
            return false;
        value = value * 10 + digit;
        ++digits;
    }
    text.remove_prefix(digits);
    return digits > 0;
}

template <class Char> bool takeText(std::basic_string_view<Char>& text, std::basic_string_view<Char> expected)
{
    if (text.substr(0, expected.size()) != expected)
        return false;
    text.remove_prefix(expected.size());
    return true;
}

template <class Char>
std::optional<TemporaryWriter> parseName(std::basic_string_view<Char> name, std::basic_string_view<Char> text)
{
    const std::basic_string_view<Char> mark(marker<Char>.data(), marker<Char>.size());
    const std::basic_string_view<Char> end(suffix<Char>.data(), suffix<Char>.size());
    const Char dash = '-';
    TemporaryWriter writer;
    if (name.empty() || !takeText(text, name) || !takeText(text, mark) || !takeNumber(text, writer.process))
        return std::nullopt;
    for (std::uint64_t* field : {&writer.start, &writer.sequence, &writer.size}) {
        if (!takeText(text, std::basic_string_view<Char>(&dash, 1)) || !takeNumber(text, *field))
            return std::nullopt;
    }
    if (text != end)
        return std::nullopt;
    return writer;
}

} // namespace

std::string temporaryFileName(std::string_view name, const TemporaryWriter& writer)
{
    return formatName(name, writer);
}

std::wstring temporaryFileName(std::wstring_view name, const TemporaryWriter& writer)
{
    return formatName(name, writer);
}

std::optional<TemporaryWriter> parseTemporaryFileName(std::string_view name, std::string_view candidate)
{
    return parseName(name, candidate);
}

std::optional<TemporaryWriter> parseTemporaryFileName(std::wstring_view name, std::wstring_view candidate)
{
    return parseName(name, candidate);
}

} // namespace pelmux::platform
