// The two analogue video inputs: each channel's control device ("\\.\PelmuxDrv\Video<n>") keeps
// its control byte, control word, parameter bytes, area, cropping, scaling word, decoder registers
// and signal information in "video.channels.<n>"; its capture devices ("\\.\VAZaverIRORar\Video<n>"
// and "..._Int") deliver raw frames of a test pattern that moves from one frame to the next.
#include "Unit.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <optional>
#include <string>

namespace pelmux::sim {

namespace {

constexpr std::uint32_t headerSize = 256;
constexpr std::uint32_t markerWidth = 32;
constexpr std::uint32_t markerStep = 16;

const std::string controlPrefix = "\\\\.\\PelmuxDrv\\Video";
const std::string capturePrefix = "\\\\.\\VAZaverIRORar\\Video";

// The channel ("1" or "2") a control device serves; empty for any other endpoint, so that the
// video requests fail on the board driver itself.
std::string channelOf(const std::string& endpoint)
{
    if (endpoint.size() != controlPrefix.size() + 1 ||
        endpoint.compare(0, controlPrefix.size(), controlPrefix) != 0)
        return {};
    const char n = endpoint.back();
    return n == '1' || n == '2' ? std::string(1, n) : std::string();
}

Json& channelState(Unit& unit, const std::string& channel)
{
    Json& channels = unit.state().at("video").at("channels");
    return channels.at(channel);
}

bool channelExists(const Json& state, const std::string& channel)
{
    const auto video = state.find("video");
    if (video == state.end() || !video->is_object())
        return false;
    const auto channels = video->find("channels");
    return channels != video->end() && channels->is_object() && channels->contains(channel);
}

bool captureDevicesThere(const Json& state, const std::string& channel)
{
    return channelExists(state, channel) &&
           state.at("video").at("channels").at(channel).value("captureDevices", true) != false;
}

std::uint8_t byteOf(const Json& value)
{
    const auto v = value.get<std::int64_t>();
    if (v < 0 || v > 255)
        throw std::out_of_range("not a byte");
    return static_cast<std::uint8_t>(v);
}

Bytes bytesOf(const Json& list, std::size_t count)
{
    if (!list.is_array() || list.size() != count)
        throw std::out_of_range("wrong length");
    Bytes out;
    for (const auto& b : list)
        out.push_back(byteOf(b));
    return out;
}

// A handler for one request of a control device: the exact input size it takes, and what it does
// with the channel's state.
ControlHandler channelRequest(std::size_t inputSize, std::function<ControlReply(Json&, const Bytes&)> handle)
{
    return [inputSize, handle](Unit& unit, const ControlRequest& request) {
        const std::string channel = channelOf(request.endpoint);
        if (channel.empty() || request.input.size() != inputSize)
            return ControlReply::failed();
        return handle(channelState(unit, channel), request.input);
    };
}

// Stores the input bytes under `key` as a list of bytes.
ControlHandler storeBytes(const char* key, std::size_t count)
{
    return channelRequest(count, [key, count](Json& channel, const Bytes& input) {
        channel[key] = Json(input);
        return ControlReply::consumed(count);
    });
}

// Answers the bytes kept under `key`.
ControlHandler answerBytes(const char* key, std::size_t inputSize, std::size_t count)
{
    return channelRequest(inputSize, [key, count](Json& channel, const Bytes&) {
        return ControlReply::data(bytesOf(channel.at(key), count));
    });
}

ControlReply storeArea(Json& channel, const Bytes& input)
{
    Reader r(input);
    Json area = Json::array();
    for (int i = 0; i < 4; ++i)
        area.push_back(r.u16());
    channel["area"] = area;
    return ControlReply::consumed(input.size());
}

ControlReply answerArea(Json& channel, const Bytes&)
{
    Writer w;
    const Json& area = channel.at("area");
    if (!area.is_array() || area.size() != 4)
        return ControlReply::failed();
    for (const auto& v : area)
        w.u16(v.get<std::uint16_t>());
    return ControlReply::data(w.take());
}

ControlReply answerSignal(Json& channel, const Bytes&)
{
    const Json& signal = channel.at("signal");
    // The rate goes out in steps of a quarter.
    const double rate = signal.at("rate").get<double>();
    const auto steps = static_cast<std::uint8_t>(std::clamp(std::lround(rate * 4.0), 0L, 255L));
    return ControlReply::data(Writer()
                                  .u16(signal.at("first").get<std::uint16_t>())
                                  .u16(signal.at("second").get<std::uint16_t>())
                                  .u8(steps)
                                  .u8(0)
                                  .take());
}

// The decoder: 256 registers by decimal number; one without an entry reads 0.
ControlReply writeDecoder(Json& channel, const Bytes& input)
{
    channel["decoder"][std::to_string(input[0])] = input[1];
    return ControlReply::consumed(2);
}

ControlReply readDecoder(Json& channel, const Bytes& input)
{
    const Json& decoder = channel["decoder"];
    const std::string reg = std::to_string(input[0]);
    const std::uint8_t value = decoder.contains(reg) ? byteOf(decoder.at(reg)) : 0;
    return ControlReply::data({input[0], value});
}

ControlReply setCapture(Json& channel, const Bytes& input)
{
    if (input[0] > 1)
        return ControlReply::failed();
    channel["capture"] = input[0];
    return ControlReply::consumed(1);
}

ControlReply reset(Json& channel, const Bytes&)
{
    channel["resets"] = channel.value("resets", 0) + 1;
    return ControlReply::consumed(2);
}

// ---- the test pattern

struct Geometry {
    std::uint32_t width = 720;
    std::uint32_t linesA = 288;
    std::uint32_t linesB = 287;
    std::uint32_t cut = 0xFFFFFFFF; // the most bytes of a frame the device delivers
};

Geometry geometry(const Json& state)
{
    Geometry g;
    const Json& frame = state.at("video").value("frame", Json::object());
    g.width = frame.value("width", g.width);
    g.linesA = frame.value("linesA", g.linesA);
    g.linesB = frame.value("linesB", g.linesB);
    g.cut = frame.value("cut", g.cut);
    if (g.width == 0 || g.width > 4096 || g.linesA > 2048 || g.linesB > 2048)
        throw std::out_of_range("frame geometry");
    return g;
}

// Colour bars (white, yellow, cyan, green, magenta, red, blue, black) over the top two thirds of
// the picture, a grey ramp from black on the left to white on the right down to five sixths, and
// below a black band with a white marker that moves `markerStep` pixels to the right each frame.
class Pattern {
public:
    Pattern(std::uint32_t width, std::uint32_t height, std::uint32_t frame) : height_(height)
    {
        static constexpr std::array<std::uint32_t, 8> bars = {0xFFFFFF, 0xFFFF00, 0x00FFFF, 0x00FF00,
                                                              0xFF00FF, 0xFF0000, 0x0000FF, 0x000000};
        barRow_.resize(width);
        rampRow_.resize(width);
        bandRow_.assign(width, 0);
        for (std::uint32_t x = 0; x < width; ++x) {
            barRow_[x] = bars[x * 8 / width];
            const std::uint32_t v = width > 1 ? x * 255 / (width - 1) : 0;
            rampRow_[x] = v << 16 | v << 8 | v;
        }
        if (width > markerWidth) {
            const std::uint32_t at = frame * markerStep % (width - markerWidth);
            std::fill(bandRow_.begin() + at, bandRow_.begin() + at + markerWidth, 0xFFFFFFu);
        }
    }

    // The colour (0xRRGGBB) of pixel x on picture line y.
    std::uint32_t pixel(std::uint32_t x, std::uint32_t y) const
    {
        const auto& row = y < height_ * 2 / 3 ? barRow_ : y < height_ * 5 / 6 ? rampRow_ : bandRow_;
        return row[x];
    }

    // One picture line as the capture device delivers it: blue, green, red and an unused byte
    // (0xFF, so that a copy of all four bytes shows).
    void appendLine(Bytes& out, std::uint32_t y) const
    {
        const auto& row = y < height_ * 2 / 3 ? barRow_ : y < height_ * 5 / 6 ? rampRow_ : bandRow_;
        for (const std::uint32_t rgb : row) {
            out.push_back(static_cast<std::uint8_t>(rgb));
            out.push_back(static_cast<std::uint8_t>(rgb >> 8));
            out.push_back(static_cast<std::uint8_t>(rgb >> 16));
            out.push_back(0xFF);
        }
    }

private:
    std::uint32_t height_;
    std::vector<std::uint32_t> barRow_;
    std::vector<std::uint32_t> rampRow_;
    std::vector<std::uint32_t> bandRow_;
};

// The field that carries the picture's even lines: field B under standards 0 and 4 (decoder
// register 0x8C, bits 1-3), field A under the others.
bool evenLinesInFieldA(const Json& channel)
{
    const Json& decoder = channel.value("decoder", Json::object());
    const std::uint8_t status = decoder.contains("140") ? byteOf(decoder.at("140")) : 0;
    const int standard = (status >> 1) & 7;
    return standard != 0 && standard != 4;
}

ReadHandler captureDevice(const std::string& channelName, bool singleField)
{
    return [channelName, singleField](Unit& unit, const std::string&, std::uint32_t capacity) {
        const Geometry g = geometry(unit.state());
        Json& channel = channelState(unit, channelName);
        const std::uint32_t frame = channel.value("frames", 0u);
        channel["frames"] = frame + 1;

        Writer header;
        header.u32(frame).u32(g.width).u32(g.linesB).u32(g.linesA).u32(channelName == "1" ? 1 : 2);
        header.u32(singleField ? 1 : 0);
        Bytes out = header.take();
        out.resize(headerSize, 0);

        const Pattern pattern(g.width, g.linesA + g.linesB, frame);
        const std::uint32_t offsetA = evenLinesInFieldA(channel) ? 0 : 1;
        out.reserve(headerSize + std::size_t{g.width} * 4 * (g.linesA + g.linesB));
        for (std::uint32_t i = 0; i < g.linesA; ++i)
            pattern.appendLine(out, 2 * i + offsetA);
        if (!singleField) {
            for (std::uint32_t i = 0; i < g.linesB; ++i)
                pattern.appendLine(out, 2 * i + 1 - offsetA);
        }
        // A read into a smaller buffer takes the beginning of the frame, and so does a device
        // told to stop early.
        out.resize(std::min<std::size_t>({out.size(), capacity, g.cut}));
        ReadReply reply;
        reply.ok = true;
        reply.data = std::move(out);
        return reply;
    };
}

} // namespace

std::optional<Bytes> lastFrameBitmap(const Json& state, const std::string& channel)
{
    if (!channelExists(state, channel))
        return std::nullopt;
    const std::uint32_t frames = state.at("video").at("channels").at(channel).value("frames", 0u);
    if (frames == 0)
        return std::nullopt;
    const Geometry g = geometry(state);
    const std::uint32_t height = g.linesA + g.linesB;
    const Pattern pattern(g.width, height, frames - 1);
    // Every second pixel of every second line: a picture small enough for a page, still showing
    // where the marker stood.
    const std::uint32_t width = std::max(1u, g.width / 2);
    const std::uint32_t lines = std::max(1u, height / 2);
    const std::uint32_t rowBytes = (width * 3 + 3) & ~3u;
    constexpr std::uint32_t headerBytes = 54;
    Writer bmp;
    bmp.u8('B').u8('M').u32(headerBytes + rowBytes * lines).u32(0).u32(headerBytes);
    bmp.u32(40).u32(width).u32(lines).u16(1).u16(24).u32(0).u32(rowBytes * lines).u32(2835).u32(2835);
    bmp.u32(0).u32(0);
    Bytes out = bmp.take();
    // Rows bottom-up, each pixel blue, green, red, each row padded to four bytes.
    for (std::uint32_t row = lines; row-- > 0;) {
        const std::size_t start = out.size();
        for (std::uint32_t x = 0; x < width; ++x) {
            const std::uint32_t rgb = height == 0 ? 0 : pattern.pixel(std::min(x * 2, g.width - 1), row * 2);
            out.push_back(static_cast<std::uint8_t>(rgb));
            out.push_back(static_cast<std::uint8_t>(rgb >> 8));
            out.push_back(static_cast<std::uint8_t>(rgb >> 16));
        }
        out.resize(start + rowBytes, 0);
    }
    return out;
}

void installVideo(Unit& unit)
{
    for (const std::string channel : {"1", "2"}) {
        unit.addEndpoint(controlPrefix + channel,
                         [channel](const Json& state) { return channelExists(state, channel); });
        for (const bool single : {false, true}) {
            const std::string name = capturePrefix + channel + (single ? "_Int" : "");
            unit.addEndpoint(name,
                             [channel](const Json& state) { return captureDevicesThere(state, channel); });
            unit.onRead(name, captureDevice(channel, single));
        }
    }
    unit.onControl(0x22245C, channelRequest(2, reset));
    unit.onControl(0x222448, channelRequest(1, [](Json& channel, const Bytes&) {
                       return ControlReply::data({byteOf(channel.at("control"))});
                   }));
    unit.onControl(0x222424, channelRequest(1, [](Json& channel, const Bytes& input) {
                       channel["control"] = input[0];
                       return ControlReply::consumed(1);
                   }));
    unit.onControl(0x222450, channelRequest(4, [](Json& channel, const Bytes& input) {
                       channel["controlWord"] = Reader(input).u32();
                       return ControlReply::consumed(4);
                   }));
    unit.onControl(0x22244C, channelRequest(0, [](Json& channel, const Bytes&) {
                       return ControlReply::data(
                           Writer().u32(channel.at("controlWord").get<std::uint32_t>()).take());
                   }));
    unit.onControl(0x22242C, storeBytes("byteParameters", 3));
    unit.onControl(0x222428, answerBytes("byteParameters", 3, 3));
    unit.onControl(0x222430, channelRequest(8, storeArea));
    unit.onControl(0x222434, channelRequest(8, answerArea));
    unit.onControl(0x222460, channelRequest(0, answerSignal));
    unit.onControl(0x222438, storeBytes("scaling", 4));
    unit.onControl(0x22243C, answerBytes("scaling", 4, 4));
    unit.onControl(0x2225AC, channelRequest(1, setCapture));
    unit.onControl(0x222440, channelRequest(2, writeDecoder));
    unit.onControl(0x222444, channelRequest(2, readDecoder));
    unit.onControl(0x222454, storeBytes("cropping", 4));
    unit.onControl(0x222458, answerBytes("cropping", 0, 4));
}

} // namespace pelmux::sim
