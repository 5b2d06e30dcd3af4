// The simulated unit's side of the board socket: any bytes as the frames of one connection (a
// length word, then that many bytes of op and fields), unit commands of any text included. Each
// frame is answered or ends the connection; nothing a client sends may crash or hang the unit.
#include "Server.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace pelmux::sim;
    // A unit of its own for each input, so that a finding replays from its input alone.
    const auto unit = makeUnit(defaultProfile());
    BoardSession session(*unit);
    std::size_t at = 0;
    while (size - at >= 4) {
        const std::uint32_t length = Reader({data + at, 4}).u32();
        at += 4;
        // A frame the input cuts short is what remains of it, as a reader would see it.
        const std::size_t taken = std::min<std::size_t>(length, size - at);
        if (taken == 0 || length > BoardSession::maxRequestLength)
            break;
        const Bytes frame(data + at, data + at + taken);
        at += taken;
        if (session.answer(frame).close)
            break;
    }
    return 0;
}
