// The stream to the unit in the Windows test build: loopback TCP (Winsock) to the address in
// PELMUX_UNIT, "tcp:HOST:PORT" with HOST an IPv4 address, read each time an endpoint is opened.
#include "platform/TraceHook.h"
#include "platform/board/Connection.h"

#include <winsock2.h>

#include <cstdlib>
#include <string>

namespace pelmux::platform::board {

namespace {

// Winsock is started once for the life of the process, as the library never unloads it.
bool winsockReady()
{
    static const bool ready = [] {
        WSADATA data;
        return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    return ready;
}

class TcpStream final : public Stream {
public:
    explicit TcpStream(SOCKET socket) : socket_(socket) {}
    ~TcpStream() override { ::closesocket(socket_); }
    TcpStream(const TcpStream&) = delete;
    TcpStream& operator=(const TcpStream&) = delete;

protected:
    // Winsock counts in int: at most 64 KiB a call.
    long sendSome(const std::uint8_t* data, std::size_t size) override
    {
        return ::send(socket_, reinterpret_cast<const char*>(data), chunk(size), 0);
    }

    long receiveSome(std::uint8_t* data, std::size_t size) override
    {
        return ::recv(socket_, reinterpret_cast<char*>(data), chunk(size), 0);
    }

    static int chunk(std::size_t size) { return static_cast<int>(size > 0x10000 ? 0x10000 : size); }

private:
    SOCKET socket_;
};

// "tcp:HOST:PORT" split into an IPv4 address and a port; false for anything else.
bool parseAddress(const std::string& address, sockaddr_in& out)
{
    constexpr const char prefix[] = "tcp:";
    if (address.compare(0, sizeof prefix - 1, prefix) != 0)
        return false;
    const std::size_t colon = address.rfind(':');
    if (colon < sizeof prefix - 1 || colon + 1 >= address.size())
        return false;
    const std::string host = address.substr(sizeof prefix - 1, colon - (sizeof prefix - 1));
    const std::string port = address.substr(colon + 1);
    if (port.size() > 5 || port.find_first_not_of("0123456789") != std::string::npos)
        return false;
    const unsigned long number = std::strtoul(port.c_str(), nullptr, 10);
    const unsigned long ip = ::inet_addr(host.c_str());
    if (number == 0 || number > 65535 || host.empty() || ip == INADDR_NONE)
        return false;
    out = {};
    out.sin_family = AF_INET;
    out.sin_port = ::htons(static_cast<u_short>(number));
    out.sin_addr.s_addr = ip;
    return true;
}

} // namespace

std::string unitAddress()
{
    const char* value = std::getenv("PELMUX_UNIT");
    if (value == nullptr || *value == '\0')
        traceOnce("unit not reached: PELMUX_UNIT is not set; this test build reaches `pelmux sim --tcp` at "
                  "PELMUX_UNIT=tcp:127.0.0.1:PORT\n");
    return value != nullptr ? std::string(value) : std::string();
}

std::unique_ptr<Stream> connectUnit(const std::string& address)
{
    sockaddr_in peer{};
    if (!parseAddress(address, peer)) {
        traceOnce("unit not reached: PELMUX_UNIT \"" + address +
                  "\" is not tcp:HOST:PORT (HOST an IPv4 address, PORT 1 to 65535)\n");
        return nullptr;
    }
    if (!winsockReady()) {
        traceOnce("unit not reached: Winsock cannot be started\n");
        return nullptr;
    }
    const SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) {
        traceOnce("unit not reached: no socket (Winsock error " + std::to_string(::WSAGetLastError()) +
                  ")\n");
        return nullptr;
    }
    if (::connect(s, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) != 0) {
        const int error = ::WSAGetLastError();
        ::closesocket(s);
        traceOnce("unit not reached: nothing answers at " + address + " (Winsock error " +
                  std::to_string(error) + (error == WSAECONNREFUSED ? ", connection refused" : "") +
                  "); is `pelmux sim --tcp` running there?\n");
        return nullptr;
    }
    // Every request waits for its reply: small frames go out at once.
    const BOOL noDelay = TRUE;
    ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&noDelay), sizeof noDelay);
    return std::make_unique<TcpStream>(s);
}

} // namespace pelmux::platform::board
