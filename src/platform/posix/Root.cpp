#include "platform/posix/Root.h"

#include <cstdlib>
#include <unistd.h>

namespace pelmux::platform::posix {

std::string root()
{
    if (const char* env = std::getenv("PELMUX_ROOT"); env != nullptr && *env != '\0')
        return env;
    return "/tmp/pelmux-" + std::to_string(::getuid());
}

std::string boardSocketPath()
{
    return root() + "/board.sock";
}

std::string toUtf8(const std::wstring& text)
{
    std::string out;
    out.reserve(text.size());
    for (wchar_t wc : text) {
        auto c = static_cast<std::uint32_t>(wc);
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

std::string hostPath(const std::wstring& windowsPath)
{
    std::string path = toUtf8(windowsPath);
    for (char& c : path)
        if (c == '\\')
            c = '/';
    const bool hasDrive = path.size() >= 2 && path[1] == ':' &&
                          ((path[0] >= 'a' && path[0] <= 'z') || (path[0] >= 'A' && path[0] <= 'Z'));
    if (!hasDrive)
        return path;
    char drive = path[0];
    if (drive >= 'a' && drive <= 'z')
        drive = static_cast<char>(drive - 'a' + 'A');
    std::string rest = path.substr(2);
    if (rest.empty() || rest.front() != '/')
        rest.insert(rest.begin(), '/');
    return root() + "/" + drive + rest;
}

} // namespace pelmux::platform::posix
