// Writes ExpectedRows.h for the Microsoft-ABI application (Client.cpp): every row of the shared
// expectation table, which the Linux tests run against the same simulated unit, as plain C++14 data,
// and the texts the Linux build's message functions give for a set of codes. Runs on Linux, linked
// against the Linux library.
// Usage: pelmux_msvc_rows OUTPUT-FILE
#include "ExpectedRow.h"
#include "shared/UnitExpectations.h"

#include <pelmux/Pelmux.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>

namespace {

std::string quoted(const std::string& text)
{
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\')
            out += '\\';
        out += c;
    }
    return out + "\"";
}

// Doubles as the shortest text that reads back to the same value.
std::string number(double value)
{
    char text[40];
    std::snprintf(text, sizeof text, "%.17g", value);
    return text;
}

template <class T, class F> std::string list(const std::vector<T>& values, std::size_t capacity, F format)
{
    if (values.size() > capacity)
        throw std::runtime_error("a row holds more values than ExpectedRow takes");
    std::string out = "{";
    for (std::size_t i = 0; i < values.size(); ++i)
        out += (i == 0 ? "" : ", ") + format(values[i]);
    return out + "}";
}

std::string row(const pelmux::shared::Case& c)
{
    std::ostringstream out;
    out << "    {" << quoted(c.what) << ", " << quoted(c.factory) << ", " << c.slot << ", " << quoted(c.ins)
        << ", " << list(c.in, 6, number) << ", " << quoted(c.outs) << ", " << list(c.setup, 3, quoted) << ", "
        << c.code << ", " << list(c.expected, 6, number) << ", " << c.expected.size() << ", "
        << number(c.tolerance) << ", " << quoted(c.text) << ", " << quoted(c.statePath) << ", "
        << quoted(c.state) << "},\n";
    return out.str();
}

// A wide text the way the narrow table holds it; the library's texts are plain ASCII.
std::string narrow(const wchar_t* text)
{
    std::string out;
    for (; *text != L'\0'; ++text) {
        if (*text < 0x20 || *text > 0x7E)
            throw std::runtime_error("a message text outside ASCII");
        out += static_cast<char>(*text);
    }
    return out;
}

std::string texts()
{
    std::ostringstream out;
    auto add = [&out](const char* function, unsigned code, const std::string& text) {
        out << "    {" << quoted(function) << ", " << code << "u, " << quoted(text) << "},\n";
    };
    for (unsigned code = 0; code <= 33; ++code) {
        const auto value = static_cast<Varnholt::ResultCode>(code);
        add("GetErrorStringA", code, Varnholt::GetErrorStringA(value));
        add("GetErrorStringW", code, narrow(Varnholt::GetErrorStringW(value)));
    }
    for (unsigned code : {0u, 1u, 64u, 131u, 132u, 0x10001u}) {
        add("GetHwErrorStatusStringA", code, Varnholt::GetHwErrorStatusStringA(code));
        add("GetHwErrorStatusStringW", code, narrow(Varnholt::GetHwErrorStatusStringW(code)));
    }
    for (unsigned code : {15u, 85u, 170u, 240u, 0u, 0x10055u}) {
        add("GetStartupReasonStringA", code, Varnholt::GetStartupReasonStringA(code));
        add("GetStartupReasonStringW", code, narrow(Varnholt::GetStartupReasonStringW(code)));
    }
    return out.str();
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: pelmux_msvc_rows OUTPUT-FILE\n");
        return 2;
    }
    std::string text =
        "// Written by tests/msvc/ExpectedRows.cpp from tests/shared/UnitExpectations.h and the Linux\n"
        "// build's message functions. Do not edit.\n#pragma once\n\n#include \"ExpectedRow.h\"\n\n"
        "namespace pelmux {\nnamespace msvc {\n\nconst ExpectedRow expectedRows[] = {\n";
    for (const auto& c : pelmux::shared::unitCases())
        text += row(c);
    text += "};\n\nconst ExpectedText expectedTexts[] = {\n" + texts() +
            "};\n\n} // namespace msvc\n} // namespace pelmux\n";
    std::ofstream(argv[1]) << text;
    return 0;
}
