// The serial port on Windows: the communications calls themselves.
#include "platform/SerialPort.h"

#include <windows.h>

namespace pelmux::platform {

struct SerialPort::State {
    HANDLE handle = INVALID_HANDLE_VALUE;
    DCB savedSettings{};
    DCB settings{};
    bool configured = false;
};

namespace {

constexpr DWORD queueBytes = 4096;
// Abort transmit, abort receive, clear transmit.
constexpr DWORD purgeFlags = PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR;

} // namespace

bool SerialPort::open(const wchar_t* name)
{
    close();
    if (name == nullptr)
        return false;
    const HANDLE handle =
        ::CreateFileW(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    auto* state = new State;
    state->handle = handle;
    // The queue sizes are a recommendation the driver may pass over; the event mask is only asked
    // for. Neither changes what a read or write does, so their answers are not judged.
    ::SetupComm(handle, queueBytes, queueBytes);
    // A read returns as soon as one byte arrived, and after the time-out with nothing.
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = MAXDWORD;
    timeouts.ReadTotalTimeoutMultiplier = MAXDWORD;
    timeouts.ReadTotalTimeoutConstant = serialReadTimeoutMs;
    timeouts.WriteTotalTimeoutMultiplier = 0;
    timeouts.WriteTotalTimeoutConstant = 0;
    const BOOL timeoutsSet = ::SetCommTimeouts(handle, &timeouts);
    ::SetCommMask(handle, EV_ERR);
    state->savedSettings.DCBlength = sizeof(DCB);
    state->settings.DCBlength = sizeof(DCB);
    // Without the settings as found the port could not be given back as it was; without the
    // time-outs a read could wait for ever.
    if (timeoutsSet == FALSE || ::GetCommState(handle, &state->savedSettings) == FALSE ||
        ::GetCommState(handle, &state->settings) == FALSE) {
        ::CloseHandle(handle);
        delete state;
        return false;
    }
    ::PurgeComm(handle, purgeFlags);
    state_ = state;
    return true;
}

bool SerialPort::configure()
{
    if (state_ == nullptr)
        return false;
    DCB& dcb = state_->settings;
    dcb.BaudRate = CBR_115200;
    dcb.ByteSize = 8;
    dcb.Parity = EVENPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fNull = FALSE;
    dcb.fAbortOnError = FALSE;
    ::PurgeComm(state_->handle, purgeFlags);
    if (::SetCommState(state_->handle, &dcb) == FALSE)
        return false;
    state_->configured = true;
    return true;
}

void SerialPort::close()
{
    if (state_ == nullptr)
        return;
    ::PurgeComm(state_->handle, purgeFlags);
    ::SetCommState(state_->handle, &state_->savedSettings);
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
