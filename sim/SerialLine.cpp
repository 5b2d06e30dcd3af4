#include "SerialLine.h"

#include "Bootloader.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <filesystem>
#include <list>
#include <mutex>
#include <poll.h>
#include <random>
#include <sys/inotify.h>
#include <sys/prctl.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace pelmux::sim {

namespace {

using Clock = std::chrono::steady_clock;

// The driver request that selects what the line connects; each one restarts the selected bootloader.
constexpr std::uint32_t bootloaderLinkRequest = 0x222510;
constexpr int linkSupervisor = 1;
constexpr int linkFront = 2;
constexpr double bitsPerByte = 11; // start, 8 data, even parity, stop
// While the line is busy the flash digests in the state are refreshed at most this often.
constexpr auto digestPeriod = std::chrono::milliseconds(100);
constexpr auto idleTick = std::chrono::milliseconds(20);

const char* modelName(int link)
{
    return link == linkSupervisor ? "supervisor" : "front";
}

struct BaudRate {
    speed_t code;
    unsigned rate;
};
constexpr BaudRate baudRates[] = {
    {B1200, 1200},     {B2400, 2400},     {B4800, 4800},     {B9600, 9600},
    {B19200, 19200},   {B38400, 38400},   {B57600, 57600},   {B115200, 115200},
    {B230400, 230400}, {B460800, 460800}, {B921600, 921600},
};

unsigned baudOf(const termios& t)
{
    const speed_t code = cfgetospeed(&t);
    for (const auto& b : baudRates)
        if (b.code == code)
            return b.rate;
    return 0;
}

// The port settings as a host program left them, in the terms of a serial port. A Linux
// pseudo-terminal keeps no data-bit count or parity (the kernel sets 8 bits without parity on every
// change), so those two cannot be seen here.
Json settingsJson(const termios& t)
{
    const bool raw = (t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN)) == 0 && (t.c_oflag & OPOST) == 0 &&
                     (t.c_iflag & (ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF)) == 0;
    return {{"baud", baudOf(t)},
            {"stopBits", (t.c_cflag & CSTOPB) != 0 ? 2 : 1},
            {"raw", raw},
            {"xonXoff", (t.c_iflag & (IXON | IXOFF)) != 0},
            {"rtsCts", (t.c_cflag & CRTSCTS) != 0}};
}

// The device's USART runs 8E1; of the framing a pseudo-terminal keeps only the stop bits, and two of
// them reach the device as errors.
bool framesMatch(const termios& t)
{
    return (t.c_cflag & CSTOPB) == 0;
}

enum class FaultKind { Flip, Drop, Nack, Silence };
constexpr const char* faultNames[] = {"flip", "drop", "nack", "silence"};

struct ArmedFault {
    FaultKind kind = FaultKind::Flip;
    bool toHost = false;
    int bit = 0;
    std::uint64_t skip = 0; // opportunities to let pass before it strikes
};

// Reads one fault entry of "serial.faults"; throws on a malformed one.
ArmedFault faultFrom(const Json& entry)
{
    ArmedFault fault;
    const std::string kind = entry.at("kind").get<std::string>();
    const auto it = std::find_if(std::begin(faultNames), std::end(faultNames),
                                 [&](const char* name) { return kind == name; });
    if (it == std::end(faultNames))
        throw std::invalid_argument("unknown fault " + kind);
    fault.kind = static_cast<FaultKind>(it - std::begin(faultNames));
    fault.skip = entry.value("at", std::uint64_t{0});
    fault.toHost = entry.value("direction", std::string("toDevice")) == "toHost";
    fault.bit = entry.value("bit", 0) & 7;
    return fault;
}

struct Delivery {
    Clock::time_point due;
    std::uint8_t byte;
};

} // namespace

struct SerialLine::Impl : BootloaderFaults {
    Unit& unit;
    std::string link; // root/COM1
    std::string device;
    int master = -1;
    int slave = -1;
    int watch = -1;
    int wake[2] = {-1, -1};
    std::thread thread;
    std::atomic<bool> stopping{false};

    // The two micro-controllers, guarded by `models` (tests read their flash).
    mutable std::mutex models;
    Bootloader supervisor{BootloaderSpec{}};
    Bootloader front{BootloaderSpec{}};
    Json appliedSpecs[2];
    std::atomic<bool> dirty[2] = {true, true};
    unsigned syncedBaud[2] = {0, 0};

    // Line-thread state.
    int selected = 0;
    std::size_t linkRequests = 0;
    double scale = 1.0;
    Clock::time_point rxClock{};
    Clock::time_point txClock{};
    std::deque<Delivery> output;
    int hostOpens = 0;
    std::uint64_t opens = 0;
    std::uint64_t toDevice = 0;
    std::uint64_t toHost = 0;
    std::uint64_t framingErrors = 0;
    std::uint64_t unanswered = 0;
    double deviceSeconds = 0; // device time of the answers, before the time scale
    std::list<ArmedFault> armed;
    std::uint64_t struck[4] = {0, 0, 0, 0};
    Json randomSpec;
    double randomChance[4] = {0, 0, 0, 0};
    std::mt19937_64 rng;
    termios lastSeen{};
    bool haveLastSeen = false;
    Clock::time_point lastDigest{};

    Impl(Unit& u, const std::string& root) : unit(u), link(root + "/COM1") {}

    Bootloader& model(int value) { return value == linkSupervisor ? supervisor : front; }

    // ---- faults: one decision per opportunity, whether scheduled or drawn at random
    bool strike(FaultKind kind, bool towardsHost, int* bit = nullptr)
    {
        bool hit = false;
        for (auto it = armed.begin(); it != armed.end();) {
            if (it->kind != kind || it->toHost != towardsHost) {
                ++it;
            } else if (it->skip == 0 && !hit) {
                hit = true;
                if (bit != nullptr)
                    *bit = it->bit;
                it = armed.erase(it);
            } else {
                if (it->skip > 0)
                    --it->skip;
                ++it;
            }
        }
        const double chance = randomChance[static_cast<int>(kind)];
        if (!hit && chance > 0 && std::uniform_real_distribution<double>(0, 1)(rng) < chance) {
            hit = true;
            if (bit != nullptr)
                *bit = static_cast<int>(rng() % 8);
        }
        if (hit)
            ++struck[static_cast<int>(kind)];
        return hit;
    }
    bool silence() override { return strike(FaultKind::Silence, false); }
    bool nack() override { return strike(FaultKind::Nack, false); }

    // ---- the state: what the line reads before each batch of bytes
    void refresh()
    {
        std::lock_guard lock(unit.mutex());
        Json& state = unit.state();
        int value = 0;
        try {
            value = state.value("/firmware/link"_json_pointer, 0);
        } catch (const std::exception&) {
            value = 0;
        }
        if (value != linkSupervisor && value != linkFront)
            value = 0;
        try {
            scale = std::max(0.0, state.value("/serial/timeScale"_json_pointer, 1.0));
        } catch (const std::exception&) {
            scale = 1.0;
        }
        takeFaults(state);
        const std::size_t requests = unit.requestCount(bootloaderLinkRequest);
        std::lock_guard modelLock(models);
        for (int m : {linkSupervisor, linkFront})
            applySpec(m, state);
        // Selecting a micro-controller (again) puts it into its bootloader afresh.
        if (value != 0 && (value != selected || requests != linkRequests)) {
            model(value).restart();
            syncedBaud[value - 1] = 0;
        }
        selected = value;
        linkRequests = requests;
    }

    void applySpec(int m, Json& state)
    {
        const auto pointer = Json::json_pointer("/bootloaders") / modelName(m);
        const Json entry = state.contains(pointer) ? state[pointer] : Json::object();
        if (entry == appliedSpecs[m - 1])
            return;
        appliedSpecs[m - 1] = entry;
        try {
            model(m).configure(BootloaderSpec::fromJson(entry));
        } catch (const std::exception&) {
            // A malformed profile entry leaves the device as it was.
        }
        dirty[m - 1] = true;
    }

    void takeFaults(Json& state)
    {
        if (state.contains("serial") && state["serial"].is_object()) {
            Json& serial = state["serial"];
            if (serial.contains("faults") && serial["faults"].is_array()) {
                for (const auto& entry : serial["faults"]) {
                    try {
                        armed.push_back(faultFrom(entry));
                    } catch (const std::exception&) {
                        // A malformed entry is dropped, the others stay armed.
                    }
                }
                serial["faults"] = Json::array();
            }
            const Json random = serial.value("randomFaults", Json());
            if (random != randomSpec) {
                randomSpec = random;
                for (int k = 0; k < 4; ++k) {
                    double p = 0;
                    if (random.is_object() && random.contains(faultNames[k]) &&
                        random[faultNames[k]].is_number())
                        p = std::clamp(random[faultNames[k]].get<double>(), 0.0, 1.0);
                    randomChance[k] = p;
                }
                std::uint64_t seed = 1;
                // A seed written from a signed number is a JSON integer too.
                if (random.is_object() && random.contains("seed") && random["seed"].is_number_integer())
                    seed = static_cast<std::uint64_t>(random["seed"].get<std::int64_t>());
                rng.seed(seed);
            }
        }
    }

    // ---- the state: what the line shows after each batch
    void publish(bool withDigests)
    {
        termios now{};
        const bool haveSettings = ::tcgetattr(slave, &now) == 0;
        Json devices = Json::object();
        {
            std::lock_guard modelLock(models);
            for (int m : {linkSupervisor, linkFront}) {
                Bootloader& b = model(m);
                Json entry = {{"state", b.phaseName()},
                              {"flashSize", b.flash().size()},
                              {"readoutProtected", b.readoutProtected()},
                              {"counts", b.counts()}};
                if (withDigests && dirty[m - 1])
                    entry["flashDigest"] = flashDigest(b.flash());
                devices[modelName(m)] = entry;
            }
            if (withDigests)
                dirty[0] = dirty[1] = false;
        }
        std::lock_guard lock(unit.mutex());
        Json& serial = unit.state()["serial"];
        if (!serial.is_object())
            serial = Json::object();
        serial["available"] = true;
        serial["device"] = device;
        serial["open"] = hostOpens > 0;
        serial["opens"] = opens;
        serial["bytesToDevice"] = toDevice;
        serial["bytesToHost"] = toHost;
        serial["bytesUnanswered"] = unanswered;
        serial["framingErrors"] = framingErrors;
        serial["deviceSeconds"] = deviceSeconds;
        serial["faultsPending"] = armed.size();
        Json counts = Json::object();
        for (int k = 0; k < 4; ++k)
            counts[faultNames[k]] = struck[k];
        serial["faultsStruck"] = counts;
        if (haveSettings)
            serial["settings"] = settingsJson(now);
        if (haveLastSeen)
            serial["lastSettings"] = settingsJson(lastSeen);
        Json& shown = serial["devices"];
        if (!shown.is_object())
            shown = Json::object();
        for (auto& [name, entry] : devices.items()) {
            if (!entry.contains("flashDigest") && shown.contains(name) && shown[name].contains("flashDigest"))
                entry["flashDigest"] = shown[name]["flashDigest"];
            shown[name] = entry;
        }
    }

    // ---- bytes from the host
    void hostBytes(const std::uint8_t* data, std::size_t size)
    {
        refresh();
        termios t{};
        const bool haveSettings = ::tcgetattr(slave, &t) == 0;
        if (haveSettings) {
            lastSeen = t;
            haveLastSeen = true;
        }
        const unsigned baud = haveSettings && baudOf(t) != 0 ? baudOf(t) : 115200;
        const auto byteTime = std::chrono::duration_cast<Clock::duration>(
            std::chrono::duration<double>(bitsPerByte / baud * scale));
        const auto now = Clock::now();
        std::vector<Emission> answer;
        std::lock_guard modelLock(models);
        for (std::size_t i = 0; i < size; ++i) {
            rxClock = std::max(now, rxClock) + byteTime;
            if (selected == 0) {
                ++unanswered;
                continue;
            }
            ++toDevice;
            Bootloader& target = model(selected);
            unsigned& synced = syncedBaud[selected - 1];
            // The device measured the baud rate on 0x7F; other rates and framing reach it as noise.
            if (!haveSettings || !framesMatch(t) ||
                (target.phase() != Bootloader::Phase::WaitingForSync && synced != 0 && synced != baud)) {
                ++framingErrors;
                continue;
            }
            std::uint8_t byte = data[i];
            int bit = 0;
            if (strike(FaultKind::Drop, false))
                continue;
            if (strike(FaultKind::Flip, false, &bit))
                byte ^= static_cast<std::uint8_t>(1u << bit);
            const bool wasWaiting = target.phase() == Bootloader::Phase::WaitingForSync;
            answer.clear();
            target.receive(byte, answer, *this);
            if (wasWaiting && target.phase() == Bootloader::Phase::Ready)
                synced = baud;
            if (!answer.empty())
                dirty[selected - 1] = true;
            schedule(answer, rxClock, byteTime);
        }
    }

    void schedule(const std::vector<Emission>& answer, Clock::time_point from, Clock::duration byteTime)
    {
        auto t = from;
        for (const Emission& e : answer) {
            deviceSeconds += e.delaySeconds;
            t = std::max(t + std::chrono::duration_cast<Clock::duration>(
                                 std::chrono::duration<double>(e.delaySeconds * scale)),
                         txClock);
            for (std::uint8_t byte : e.bytes) {
                t += byteTime;
                txClock = t;
                ++toHost;
                int bit = 0;
                if (strike(FaultKind::Drop, true))
                    continue;
                if (strike(FaultKind::Flip, true, &bit))
                    byte ^= static_cast<std::uint8_t>(1u << bit);
                // Nobody has the port open: what the device sends is lost.
                if (hostOpens > 0)
                    output.push_back({t, byte});
            }
        }
    }

    // Writes every byte that has finished crossing the line.
    void deliver()
    {
        const auto now = Clock::now();
        std::uint8_t buffer[4096];
        std::size_t n = 0;
        while (n < sizeof buffer && n < output.size() && output[n].due <= now) {
            buffer[n] = output[n].byte;
            ++n;
        }
        if (n == 0)
            return;
        const ssize_t written = ::write(master, buffer, n);
        if (written > 0)
            output.erase(output.begin(), output.begin() + written);
    }

    // The host opened or closed COM1.
    void portEvents()
    {
        alignas(inotify_event) char buffer[4096];
        const ssize_t n = ::read(watch, buffer, sizeof buffer);
        for (ssize_t at = 0; at < n;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            if ((event->mask & IN_OPEN) != 0) {
                ++hostOpens;
                ++opens;
            }
            if ((event->mask & (IN_CLOSE_WRITE | IN_CLOSE_NOWRITE)) != 0 && hostOpens > 0 &&
                --hostOpens == 0) {
                // Like a port nobody listens on: unread answers are gone.
                output.clear();
                ::tcflush(slave, TCIFLUSH);
            }
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
    }

    void run()
    {
        // The line paces bytes of about 95 us: ask the kernel for exact wake-ups.
        ::prctl(PR_SET_TIMERSLACK, 1UL, 0, 0, 0);
        publish(true);
        std::uint8_t buffer[4096];
        while (!stopping) {
            const auto now = Clock::now();
            timespec timeout{};
            auto wait = std::chrono::duration_cast<Clock::duration>(idleTick);
            const bool answering = !output.empty();
            if (answering) {
                // Wake for the next byte due, in steps of half a millisecond while a reply streams.
                const auto step = std::max(output.front().due, now + std::chrono::microseconds(500));
                wait = std::max(Clock::duration::zero(), std::min(output.back().due, step) - now);
            }
            const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(wait).count();
            timeout.tv_sec = static_cast<time_t>(ns / 1000000000);
            timeout.tv_nsec = static_cast<long>(ns % 1000000000);
            pollfd fds[3] = {{master, POLLIN, 0}, {watch, POLLIN, 0}, {wake[0], POLLIN, 0}};
            const int ready = ::ppoll(fds, 3, &timeout, nullptr);
            if (ready < 0 && errno != EINTR)
                break;
            if (fds[2].revents != 0)
                break;
            bool changed = false;
            if ((fds[1].revents & POLLIN) != 0) {
                portEvents();
                changed = true;
            }
            if ((fds[0].revents & POLLIN) != 0) {
                const ssize_t n = ::read(master, buffer, sizeof buffer);
                if (n > 0) {
                    hostBytes(buffer, static_cast<std::size_t>(n));
                    changed = true;
                }
            }
            // The state shows a batch before the host can see its answer.
            if (changed)
                publish(false);
            deliver();
            // Quiet: a whole idle tick passed without the host. A time-out that only brought the
            // next answer byte is no pause: the host may answer at once, and the digests of the
            // whole flash would hold it up on every exchange.
            const bool quiet = ready == 0 && !answering && output.empty();
            if ((dirty[0] || dirty[1]) && (quiet || Clock::now() - lastDigest >= digestPeriod)) {
                publish(true);
                lastDigest = Clock::now();
            }
        }
    }

    bool open()
    {
        master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0)
            return false;
        char name[128];
        if (::ptsname_r(master, name, sizeof name) != 0)
            return false;
        device = name;
        // The unit keeps the slave side open itself, so that the port keeps its settings between
        // the host's sessions, as a real port does.
        slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (slave < 0)
            return false;
        // A port as the last raw user left it: 9600 baud 8N1, no echo.
        termios t{};
        ::tcgetattr(slave, &t);
        ::cfmakeraw(&t);
        ::cfsetspeed(&t, B9600);
        ::tcsetattr(slave, TCSANOW, &t);
        ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
        watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (watch < 0 || ::inotify_add_watch(watch, name, IN_OPEN | IN_CLOSE) < 0)
            return false;
        if (::pipe2(wake, O_CLOEXEC) != 0)
            return false;
        std::error_code ignored;
        std::filesystem::remove(link, ignored);
        std::filesystem::create_symlink(device, link, ignored);
        return !ignored;
    }

    void close()
    {
        for (int* fd : {&master, &slave, &watch, &wake[0], &wake[1]}) {
            if (*fd >= 0)
                ::close(*fd);
            *fd = -1;
        }
    }
};

SerialLine::SerialLine(Unit& unit, const std::string& root) : impl_(std::make_unique<Impl>(unit, root))
{
    if (!impl_->open()) {
        const std::string reason = std::strerror(errno);
        impl_->close();
        impl_->device.clear();
        unit.update([&](Json& s) {
            s["serial"]["available"] = false;
            s["serial"]["error"] = "no pseudo-terminal for COM1: " + reason;
        });
        return;
    }
    impl_->refresh(); // the profile's devices, before anyone asks for their flash
    impl_->publish(true);
    impl_->thread = std::thread([this] { impl_->run(); });
}

SerialLine::~SerialLine()
{
    if (impl_->thread.joinable()) {
        impl_->stopping = true;
        const char wake = 1;
        [[maybe_unused]] const ssize_t n = ::write(impl_->wake[1], &wake, 1);
        impl_->thread.join();
    }
    std::error_code ignored;
    if (!impl_->device.empty() && std::filesystem::read_symlink(impl_->link, ignored) == impl_->device)
        std::filesystem::remove(impl_->link, ignored);
    impl_->close();
}

bool SerialLine::available() const
{
    return impl_->thread.joinable();
}

std::string SerialLine::devicePath() const
{
    return impl_->device;
}

Bytes SerialLine::flash(int link) const
{
    if (link != linkSupervisor && link != linkFront)
        return {};
    std::lock_guard lock(impl_->models);
    return impl_->model(link).flash();
}

void SerialLine::loadFlash(int link, const Bytes& contents)
{
    if (link != linkSupervisor && link != linkFront)
        return;
    std::lock_guard lock(impl_->models);
    Bytes& flash = impl_->model(link).flash();
    std::fill(flash.begin(), flash.end(), 0xFF);
    std::copy_n(contents.begin(), std::min(contents.size(), flash.size()), flash.begin());
    impl_->dirty[link - 1] = true;
}

} // namespace pelmux::sim
