// The serial port on Windows: the communications calls themselves. The port is given back as it was
// found: its settings, time-outs and event mask.
#include "platform/SerialPort.h"

#include <windows.h>

#include <new>

namespace pelmux::platform {

// The port as it was found, given back at close: every program that uses the port after the job
// (a terminal, the vendor's tools) finds what it left.
struct FoundSettings {
    DCB settings{};
    COMMTIMEOUTS timeouts{};
    DWORD eventMask = 0;
};

struct SerialPort::State {
    HANDLE handle = INVALID_HANDLE_VALUE;
    FoundSettings saved;
    DCB settings{};
    bool configured = false;
};

namespace {

constexpr DWORD queueBytes = 4096;
// Abort transmit, abort receive, clear transmit.
constexpr DWORD purgeFlags = PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR;

bool readFound(HANDLE handle, FoundSettings& found)
{
    found.settings.DCBlength = sizeof(DCB);
    return ::GetCommState(handle, &found.settings) != FALSE &&
           ::GetCommTimeouts(handle, &found.timeouts) != FALSE &&
           ::GetCommMask(handle, &found.eventMask) != FALSE;
}

void restoreFound(HANDLE handle, FoundSettings& found)
{
    ::SetCommState(handle, &found.settings);
    ::SetCommTimeouts(handle, &found.timeouts);
    ::SetCommMask(handle, found.eventMask);
}

// A read returns as soon as one byte arrived, and after the time-out with nothing.
bool setReadTimeouts(HANDLE handle)
{
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = MAXDWORD;
    timeouts.ReadTotalTimeoutMultiplier = MAXDWORD;
    timeouts.ReadTotalTimeoutConstant = serialReadTimeoutMs;
    timeouts.WriteTotalTimeoutMultiplier = 0;
    timeouts.WriteTotalTimeoutConstant = 0;
    return ::SetCommTimeouts(handle, &timeouts) != FALSE;
}

// The bootloader's line: 115200 baud, 8 data bits, even parity, 1 stop bit, three wires. Every
// flag that can stop or drop bytes is set, never left as the last program left it: a port left
// sensitive to DSR drops every received byte while DSR is low, which it always is on three wires;
// one left with CTS or DSR flow control, or RTS handshaking, waits for a line that is not there.
void setBootloaderLine(DCB& dcb)
{
    dcb.BaudRate = CBR_115200;
    dcb.ByteSize = 8;
    dcb.Parity = EVENPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fBinary = TRUE;
    dcb.fParity = TRUE;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fTXContinueOnXoff = TRUE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fErrorChar = FALSE;
    dcb.fNull = FALSE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    dcb.fAbortOnError = FALSE;
}

} // namespace

bool SerialPort::open(const wchar_t* name)
{
    close();
    if (name == nullptr)
        return false;
    // Made before the port is opened: a failed allocation leaves nothing open.
    auto* state = new (std::nothrow) State;
    if (state == nullptr)
        return false;
    state->handle = ::CreateFileW(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    // Without the settings as found the port could not be given back as it was; without the
    // time-outs a read could wait for ever.
    const bool found = state->handle != INVALID_HANDLE_VALUE && readFound(state->handle, state->saved);
    if (!found || !setReadTimeouts(state->handle)) {
        if (found)
            restoreFound(state->handle, state->saved);
        if (state->handle != INVALID_HANDLE_VALUE)
            ::CloseHandle(state->handle);
        delete state;
        return false;
    }
    // The queue sizes are a recommendation the driver may pass over; the event mask is only asked
    // for. Neither changes what a read or write does, so their answers are not judged.
    ::SetupComm(state->handle, queueBytes, queueBytes);
    ::SetCommMask(state->handle, EV_ERR);
    state->settings = state->saved.settings;
    ::PurgeComm(state->handle, purgeFlags);
    state_ = state;
    return true;
}

bool SerialPort::configure()
{
    if (state_ == nullptr)
        return false;
    setBootloaderLine(state_->settings);
    ::PurgeComm(state_->handle, purgeFlags);
    if (::SetCommState(state_->handle, &state_->settings) == FALSE)
        return false;
    state_->configured = true;
    return true;
}

void SerialPort::close()
{
    if (state_ == nullptr)
        return;
    ::PurgeComm(state_->handle, purgeFlags);
    restoreFound(state_->handle, state_->saved);
    ::CloseHandle(state_->handle);
    delete state_;
    state_ = nullptr;
}

bool SerialPort::isConfigured() const
{
    return state_ != nullptr && state_->configured;
}

bool SerialPort::write(const void* data, std::uint32_t size, std::uint32_t* written)
{
    DWORD count = 0;
    const BOOL ok = isConfigured() ? ::WriteFile(state_->handle, data, size, &count, nullptr) : FALSE;
    if (written != nullptr)
        *written = ok != FALSE ? count : 0;
    return ok != FALSE;
}

bool SerialPort::read(void* buffer, std::uint32_t capacity, std::uint32_t* bytesRead)
{
    DWORD count = 0;
    const BOOL ok = isConfigured() ? ::ReadFile(state_->handle, buffer, capacity, &count, nullptr) : FALSE;
    if (bytesRead != nullptr)
        *bytesRead = ok != FALSE ? count : 0;
    return ok != FALSE;
}

} // namespace pelmux::platform
