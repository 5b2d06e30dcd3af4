// The serial port the micro-controllers' bootloaders answer on. The win32/ implementation makes
// the Windows calls themselves (CreateFileW, SetupComm, SetCommTimeouts, SetCommMask,
// GetCommState, SetCommState, PurgeComm, ReadFile, WriteFile, CloseHandle); the posix/ one opens
// PELMUX_ROOT/<name> (a tty, usually a link to a pseudo-terminal) with termios giving the same
// behaviour.
#pragma once

#include <cstdint>

namespace pelmux::platform {

// The port's name as the library opens it.
inline constexpr const wchar_t* bootloaderPortName = L"COM1";

// How long a read waits for its first byte. On Linux the time scale of platform/Time.h applies,
// never below a floor of real time so that a loaded machine does not lose answers.
inline constexpr std::uint32_t serialReadTimeoutMs = 3000;

// One open serial port: the handle, the settings found at open (written back at close), the
// working settings and whether they were applied. Not copyable; one thread at a time.
class SerialPort {
public:
    SerialPort() = default;
    ~SerialPort() { close(); }
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    // Opens the port for reading and writing, not shared, existing device, no overlapped I/O;
    // keeps the settings as found (on Windows with the time-outs and the event mask), sets
    // 4096-byte queues, the read time-out (a read returns once at least one byte arrived, or after
    // serialReadTimeoutMs with nothing), asks for line errors only and purges (abort transmit,
    // abort receive, clear transmit). Answers false, with nothing left open or changed, when the
    // port cannot be opened, what it was found with cannot be read or its time-outs cannot be set.
    // Opening an open port closes it first.
    bool open(const wchar_t* name = bootloaderPortName);

    // Sets 115200 baud, 8 data bits, even parity, 1 stop bit, no flow control in either direction,
    // no null stripping, no abort on error; on Windows also DTR and RTS on without handshaking, no
    // DSR sensitivity, transmission on after XOFF, no error character (a three-wire line: no flag
    // the last program left may stop or drop bytes); purges and applies them.
    // Answers false when the port is not open or refuses the settings; reads and writes fail
    // until this succeeded.
    bool configure();

    // Purges, writes what the port was found with back (on Windows the settings, time-outs and
    // event mask) and closes the port. Nothing when not open.
    void close();

    bool isOpen() const { return state_ != nullptr; }
    bool isConfigured() const;

    // Writes up to `size` bytes; `written` (may be null) tells how many went out. Answers false
    // when the port is not configured or refuses the write. May take fewer bytes than given:
    // callers loop.
    bool write(const void* data, std::uint32_t size, std::uint32_t* written);

    // Reads up to `capacity` bytes: returns once at least one byte arrived, or after the read
    // time-out with `bytesRead` 0 (still true). Answers false when the port is not configured or
    // the read fails (the line hung up included). Blocks for at most the time-out.
    bool read(void* buffer, std::uint32_t capacity, std::uint32_t* bytesRead);

private:
    struct State;
    State* state_ = nullptr;
};

} // namespace pelmux::platform
