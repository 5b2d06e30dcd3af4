// The test Pelmux.dll under wine against a simulated unit (`pelmux sim --tcp`, started by
// tests/windows/run-sim.sh): the factories by name and by ordinal, every interface's operations by
// slot number with the Windows conventions, the expectation table and the null sweep over the slot
// table that the Linux tests run too, a video snapshot for the image-library check on Linux, and the
// firmware job lock held by a second process. The unit is steered with unit commands over a
// connection of the program's own. Prints one line per failed check and closes with "N passed, M
// failed".
//
// Usage: pelmux_unit_checks.exe SNAPSHOT-FILE   (PELMUX_UNIT names the unit)
//        pelmux_unit_checks.exe hold            (the helper process that holds the job lock)
//        pelmux_unit_checks.exe oom-row N       (one operation on exhausted memory)
#include "Checks.h"
#include "FirmwareImages.h"
#include "shared/UnitExpectations.h"

#include <winsock2.h>

#include <windows.h>

#include <pelmux/Pelmux.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

namespace {

using checks::check;
using pelmux::shared::callSlot;
using pelmux::shared::releaseSlot;
using pelmux::shared::Word;

HMODULE library = nullptr;

using Factory = void*(__stdcall*)();

Factory factoryByName(const char* name)
{
    return reinterpret_cast<Factory>(reinterpret_cast<void (*)()>(::GetProcAddress(library, name)));
}

// The unit, reached as the DLL reaches it: `u32 length`, `u8 op`, fields; replies without op.
class UnitLine {
public:
    bool connect()
    {
        const char* address = std::getenv("PELMUX_UNIT");
        unsigned port = 0;
        char host[64] = {};
        if (address == nullptr || std::sscanf(address, "tcp:%63[0-9.]:%u", host, &port) != 2)
            return false;
        WSADATA data;
        if (::WSAStartup(MAKEWORD(2, 2), &data) != 0)
            return false;
        sockaddr_in peer{};
        peer.sin_family = AF_INET;
        peer.sin_port = ::htons(static_cast<u_short>(port));
        peer.sin_addr.s_addr = ::inet_addr(host);
        socket_ = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        return socket_ != INVALID_SOCKET &&
               ::connect(socket_, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) == 0;
    }

    // One unit command (op 64); answers the JSON answer, or an empty text when the line broke.
    std::string command(const std::string& json)
    {
        std::string frame(5, '\0');
        const auto length = static_cast<std::uint32_t>(json.size() + 1);
        for (int i = 0; i < 4; ++i)
            frame[static_cast<std::size_t>(i)] = static_cast<char>(length >> (8 * i));
        frame[4] = 64;
        frame += json;
        unsigned char header[4];
        if (!sendAll(frame.data(), frame.size()) || !receiveAll(reinterpret_cast<char*>(header), 4))
            return {};
        const std::uint32_t size =
            header[0] | (header[1] << 8) | (header[2] << 16) | (static_cast<std::uint32_t>(header[3]) << 24);
        std::string reply(size, '\0');
        if (size == 0 || size > (1u << 24) || !receiveAll(reply.data(), size))
            return {};
        return reply.substr(1);
    }

private:
    bool sendAll(const char* data, std::size_t size)
    {
        while (size > 0) {
            const int n = ::send(socket_, data, static_cast<int>(size), 0);
            if (n <= 0)
                return false;
            data += n;
            size -= static_cast<std::size_t>(n);
        }
        return true;
    }
    bool receiveAll(char* data, std::size_t size)
    {
        while (size > 0) {
            const int n = ::recv(socket_, data, static_cast<int>(size), 0);
            if (n <= 0)
                return false;
            data += n;
            size -= static_cast<std::size_t>(n);
        }
        return true;
    }
    SOCKET socket_ = INVALID_SOCKET;
};

UnitLine unitLine;

// The environment of the shared expectation table.
struct DllUnit {
    std::string command(const std::string& json) { return unitLine.command(json); }
    void* make(const char* factory)
    {
        const Factory fn = factoryByName(factory);
        return fn != nullptr ? fn() : nullptr;
    }
    void check(bool ok, const std::string& what) { checks::check(ok, what); }
};

// Each factory by name and by its ordinal is one entry, and each gives a working object.
void factories()
{
    const struct {
        const char* name;
        int ordinal;
    } entries[] = {{"GetAbout", 1},        {"GetAdc", 2},
                   {"GetAuxVersion", 3},   {"GetBacklight", 4},
                   {"GetBuzzer", 5},       {"GetCanSetting", 7},
                   {"GetConfig", 8},       {"GetDiagnostic", 9},
                   {"GetDigIO", 10},       {"GetFrontLED", 14},
                   {"GetLightsensor", 17}, {"GetPower", 18},
                   {"GetTouchScreen", 22}, {"GetTouchScreenCalib", 23},
                   {"GetVideo", 24},       {"GetBattery", 49},
                   {"GetPowerMgr", 51}};
    for (const auto& e : entries) {
        const Factory byName = factoryByName(e.name);
        const auto byOrdinal = reinterpret_cast<Factory>(
            reinterpret_cast<void (*)()>(::GetProcAddress(library, MAKEINTRESOURCEA(e.ordinal))));
        check(byName != nullptr && byName == byOrdinal,
              std::string(e.name) + " by name is ordinal " + std::to_string(e.ordinal));
        if (byOrdinal == nullptr)
            continue;
        void* object = byOrdinal();
        check(object != nullptr, std::string(e.name) + " by ordinal gives an object");
        if (object != nullptr)
            releaseSlot(object, pelmux::shared::releaseSlotOf(e.name));
    }
}

// The video device delivers a frame; the DLL writes it as a bitmap file on the Windows side of the
// shared folder, and run-sim.sh opens it with an image library. The captured frame's number goes
// to standard output as "snapshot-frame N".
void videoSnapshot(const char* file)
{
    void* video = factoryByName("GetVideo")();
    check(video != nullptr, "GetVideo gives an object");
    if (video == nullptr)
        return;
    check(callSlot(video, 0, {1}) == Varnholt::ERR_SUCCESS, "Video slot 0 opens channel 1");
    const std::string frame =
        pelmux::shared::valueOf(unitLine.command(R"({"cmd":"get","path":"/video/channels/1/frames"})"));
    const int code = callSlot(video, 18, {reinterpret_cast<Word>(file), 0});
    check(code == Varnholt::ERR_SUCCESS, "Video slot 18 saves the snapshot: code " + std::to_string(code));
    std::printf("snapshot-frame %s\n", frame.c_str());
    releaseSlot(video, 29);
}

// The test build answers exhausted memory as the product does: a device request over the unit's
// line needs no memory of the heap, as a driver request needs none, so the gated scaling still
// reaches the unit; a snapshot whose picture fits but whose file name does not answers 32.
void openChannel1(void* video)
{
    checks::slotCall(video, 0, 1);
}

const checks::FirstCall unitFirstCalls[] = {
    {"Video::setScaling (gate and write over the unit's line)", "GetVideo", 29,
     [](void* o) { return checks::slotCall(o, 15, 1.0f, 1.0f); }, Varnholt::ERR_SUCCESS, -1, openChannel1},
    {"Video::saveSnapshot (file name, room for the picture only)", "GetVideo", 29,
     [](void* o) { return checks::slotCall(o, 18, "oom-snapshot.bmp", static_cast<unsigned char>(1)); },
     Varnholt::ERR_MEMORY_ALLOCATION_FAILED, -1, openChannel1, 3584 * 1024},
};

// The firmware job lock is a named semaphore: while a second process holds it, every start answers
// ERR_FUNCTION_IN_PROGRESS; once that process has ended, the lock is free again.
constexpr const char* jobLock = "PELMUX_FIRMWARE_UPGRADE_IN_PROGRESS";

int holdJobLock()
{
    HANDLE lock = ::CreateSemaphoreA(nullptr, 1, 1, jobLock);
    HANDLE held = ::OpenEventA(EVENT_MODIFY_STATE, FALSE, "PelmuxUnitChecksHeld");
    HANDLE done = ::OpenEventA(SYNCHRONIZE, FALSE, "PelmuxUnitChecksDone");
    if (lock == nullptr || held == nullptr || done == nullptr ||
        ::WaitForSingleObject(lock, 5000) != WAIT_OBJECT_0)
        return 2;
    ::SetEvent(held);
    ::WaitForSingleObject(done, 20000);
    ::ReleaseSemaphore(lock, 1, nullptr);
    return 0;
}

void jobLockAcrossProcesses()
{
    HANDLE held = ::CreateEventA(nullptr, TRUE, FALSE, "PelmuxUnitChecksHeld");
    HANDLE done = ::CreateEventA(nullptr, TRUE, FALSE, "PelmuxUnitChecksDone");
    std::wstring command = L"\"" + checks::ownPath() + L"\" hold";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    const bool started = ::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                          nullptr, &startup, &process) != FALSE;
    check(started, "the second process starts");
    if (!started)
        return;
    check(::WaitForSingleObject(held, 20000) == WAIT_OBJECT_0, "the second process holds the job lock");
    void* upgrade = factoryByName("GetFirmwareUpgrade")();
    check(upgrade != nullptr, "GetFirmwareUpgrade gives an object");
    const char* image = "C:\\no-such-image.hex";
    for (int slot : {0, 1, 2, 3, 4, 5}) {
        if (upgrade == nullptr)
            break;
        const int code = callSlot(upgrade, slot, {reinterpret_cast<Word>(image), 1});
        check(code == Varnholt::ERR_FUNCTION_IN_PROGRESS,
              "FirmwareUpgrade slot " + std::to_string(slot) +
                  " while another process holds the lock: " + std::to_string(code));
    }
    ::SetEvent(done);
    check(::WaitForSingleObject(process.hProcess, 20000) == WAIT_OBJECT_0, "the second process ends");
    DWORD exitCode = 1;
    ::GetExitCodeProcess(process.hProcess, &exitCode);
    check(exitCode == 0, "the second process held and gave back the lock");
    if (upgrade == nullptr)
        return;
    const int code = callSlot(upgrade, 2, {reinterpret_cast<Word>(image), 1});
    check(code != Varnholt::ERR_FUNCTION_IN_PROGRESS,
          "FirmwareUpgrade slot 2 after the holder ended is not refused for the lock: " +
              std::to_string(code));
    releaseSlot(upgrade, 8);
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    ::CloseHandle(held);
    ::CloseHandle(done);
}

// PELMUX_UNIT is read each time an endpoint opens; anything but "tcp:IPv4:PORT" of a listening
// unit leaves the driver absent.
void unitAddresses()
{
    const std::string good = std::getenv("PELMUX_UNIT");
    const std::string port = good.substr(good.rfind(':') + 1);
    const struct {
        std::string address;
        int expected;
    } cases[] = {
        {"tcp:127.0.0.1:" + port, Varnholt::ERR_SUCCESS},
        {"127.0.0.1:" + port, Varnholt::ERR_OPEN_FAILED},     // no scheme
        {"udp:127.0.0.1:" + port, Varnholt::ERR_OPEN_FAILED}, // another scheme
        {"tcp:localhost:" + port, Varnholt::ERR_OPEN_FAILED}, // a name, not an address
        {"tcp:127.0.0.1:", Varnholt::ERR_OPEN_FAILED},        // no port
        {"tcp:127.0.0.1:70000", Varnholt::ERR_OPEN_FAILED},   // beyond 65535
        {"tcp:127.0.0.1:" + port + "x", Varnholt::ERR_OPEN_FAILED},
        {"", Varnholt::ERR_OPEN_FAILED},
    };
    for (const auto& c : cases) {
        _putenv(("PELMUX_UNIT=" + c.address).c_str());
        void* versions = factoryByName("GetAuxVersion")();
        unsigned char v[4];
        const int code = callSlot(versions, 0,
                                  {reinterpret_cast<Word>(&v[0]), reinterpret_cast<Word>(&v[1]),
                                   reinterpret_cast<Word>(&v[2]), reinterpret_cast<Word>(&v[3])});
        check(code == c.expected, "PELMUX_UNIT=" + c.address + " gives " + std::to_string(code));
        releaseSlot(versions, 6);
    }
    _putenv(("PELMUX_UNIT=" + good).c_str());
}

// A supervisor image written through wine's COM1, which run-sim.sh links to the unit's serial
// line, then verified against the bootloader's flash. The line runs without line time.
void supervisorUpgradeOverCom1()
{
    check(pelmux::shared::commandDone(unitLine.command(pelmux::shared::setState("/serial/timeScale", "0"))),
          "the serial line runs without line time");
    const char* image = "supervisor.hex";
    std::ofstream(image, std::ios::binary) << pelmux::test::hexText(pelmux::test::imageBytes(42 * 1024, 7));
    void* upgrade = factoryByName("GetFirmwareUpgrade")();
    check(upgrade != nullptr, "GetFirmwareUpgrade gives an object");
    if (upgrade == nullptr)
        return;
    int code = callSlot(upgrade, 2, {reinterpret_cast<Word>(image), 1});
    check(code == Varnholt::ERR_SUCCESS,
          "FirmwareUpgrade slot 2 writes the supervisor over COM1: " + std::to_string(code));
    Varnholt::UpgradeStatus status{};
    check(callSlot(upgrade, 6, {reinterpret_cast<Word>(&status), 0}) == Varnholt::ERR_SUCCESS &&
              status.currentAction == Varnholt::UPGRADE_COMPLETE && status.errorCode == Varnholt::ERR_SUCCESS,
          "FirmwareUpgrade slot 6 reports the job complete");
    code = callSlot(upgrade, 3, {reinterpret_cast<Word>(image), 1});
    check(code == Varnholt::ERR_SUCCESS,
          "FirmwareUpgrade slot 3 finds the image in the supervisor's flash: " + std::to_string(code));
    check(pelmux::shared::valueOf(unitLine.command(R"({"cmd":"get","path":"/serial/open"})")) == "false",
          "COM1 is closed after the jobs");
    releaseSlot(upgrade, 8);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc > 1 && std::strcmp(argv[1], "hold") == 0)
        return holdJobLock();
    if (argc > 2 && std::strcmp(argv[1], "oom-row") == 0)
        return checks::firstCallOnExhaustedMemory(unitFirstCalls, argv[2]);
    if (argc < 2) {
        std::printf("usage: pelmux_unit_checks.exe SNAPSHOT-FILE\n");
        return 2;
    }
    library = ::LoadLibraryW(L"Pelmux.dll");
    check(library != nullptr, "Pelmux.dll loads");
    const bool connected = unitLine.connect();
    check(connected, "the unit answers at PELMUX_UNIT");
    if (library == nullptr || !connected)
        return checks::summary();

    factories();
    unitAddresses();
    DllUnit env;
    pelmux::shared::runUnitCases(env);
    pelmux::shared::runNullSweep(env);
    videoSnapshot(argv[1]);
    checks::firstCallsOnExhaustedMemory(unitFirstCalls);
    supervisorUpgradeOverCom1();
    jobLockAcrossProcesses();
    checks::canChecks(library);
    return checks::summary();
}
