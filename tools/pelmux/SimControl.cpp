// `pelmux simctl COMMAND`: steers a running `pelmux sim` (faults, state) with its unit commands.
#include "Cli.h"

#include "Server.h"
#include "platform/posix/Root.h"

#include <cerrno>
#include <cstring>
#include <iostream>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace pelmux::cli {

namespace {

bool sendAll(int fd, const sim::Bytes& bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

bool receiveAll(int fd, std::uint8_t* data, std::size_t size)
{
    while (size > 0) {
        const ssize_t n = ::recv(fd, data, size, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

// Sends one unit command; answers the unit's JSON answer, or an error object.
Json unitCommand(const std::string& command)
{
    const std::string path = platform::posix::boardSocketPath();
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof(address.sun_path))
        return {{"ok", false}, {"error", "board socket path too long"}};
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0 || ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        if (fd >= 0)
            ::close(fd);
        return {{"ok", false}, {"error", "no simulated unit answers on " + path}};
    }
    sim::Writer frame;
    frame.u32(static_cast<std::uint32_t>(command.size() + 1)).u8(sim::OpUnitCommand).text(command);
    std::uint8_t header[4];
    Json answer = {{"ok", false}, {"error", "the unit closed the connection"}};
    if (sendAll(fd, frame.data()) && receiveAll(fd, header, 4)) {
        const std::uint32_t length =
            header[0] | (header[1] << 8) | (header[2] << 16) | (static_cast<std::uint32_t>(header[3]) << 24);
        sim::Bytes reply(length);
        if (length >= 1 && length < (1u << 26) && receiveAll(fd, reply.data(), length))
            answer = Json::parse(reply.begin() + 1, reply.end(), nullptr, false);
    }
    ::close(fd);
    return answer.is_discarded() ? Json{{"ok", false}, {"error", "the unit's answer is not JSON"}} : answer;
}

} // namespace

void addSimControlCommands(CLI::App& app, const Options&, int& exitCode)
{
    static std::string command;
    auto* simctl =
        app.add_subcommand("simctl", "Send a unit command to a running `pelmux sim`, e.g. "
                                     "'{\"cmd\":\"fail\",\"code\":2237680}' (see docs/board-protocol.md)");
    simctl->add_option("command", command, "The command, a JSON object")->required();
    simctl->callback([&] {
        const Json answer = unitCommand(command);
        std::cout << answer.dump(2) << '\n';
        exitCode = answer.value("ok", false) ? 0 : 1;
    });
}

} // namespace pelmux::cli
