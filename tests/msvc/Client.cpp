// An application as a Visual Studio developer builds it: C++14 in Microsoft's ABI from the public
// headers alone, linked against Pelmux.lib with the linker's x86 defaults (/SAFESEH included) and
// no C runtime: what it prints goes to the standard output handle through kernel32. Against the
// simulated unit (`pelmux sim --tcp`) it obtains all twenty interfaces through their factories,
// calls operations through the headers' own declarations (so a slot or a calling convention the
// headers get wrong calls the wrong code), and compares every result with what the Linux build
// gives for the same unit state: the shared expectation table, written out as ExpectedRows.h, and
// the Linux build's message texts.
//
// Usage: pelmux_msvc_client.exe   (PELMUX_UNIT names the unit: "tcp:127.0.0.1:PORT")
// Prints one line per failed check and closes with "N passed, M failed"; exits 0 when none failed.
// winsock2.h before windows.h, which would otherwise bring the older winsock.h.
#include <winsock2.h>

#include <windows.h>

#include <pelmux/Pelmux.h>

#include "ExpectedRows.h"

using pelmux::msvc::ExpectedRow;
using pelmux::msvc::expectedRows;
using pelmux::msvc::expectedTexts;

namespace {

// ---- Bytes and text, without a C runtime

void fill(void* target, unsigned char value, size_t size)
{
    unsigned char* p = static_cast<unsigned char*>(target);
    while (size-- > 0)
        *p++ = value;
}

size_t length(const char* text)
{
    size_t n = 0;
    while (text[n] != '\0')
        ++n;
    return n;
}

bool same(const char* a, const char* b)
{
    while (*a != '\0' && *a == *b) {
        ++a;
        ++b;
    }
    return *a == *b;
}

bool startsWith(const char* text, const char* prefix)
{
    while (*prefix != '\0')
        if (*text++ != *prefix++)
            return false;
    return true;
}

// One line of output, built up and written to the standard output handle at once.
class Line {
public:
    Line& operator<<(const char* text)
    {
        while (*text != '\0' && size_ < sizeof text_ - 2)
            text_[size_++] = *text++;
        text_[size_] = '\0';
        return *this;
    }
    Line& operator<<(long value)
    {
        char digits[12];
        int n = 0;
        const bool negative = value < 0;
        unsigned long rest =
            negative ? 0ul - static_cast<unsigned long>(value) : static_cast<unsigned long>(value);
        do {
            digits[n++] = static_cast<char>('0' + rest % 10);
            rest /= 10;
        } while (rest != 0);
        if (negative)
            *this << "-";
        while (n > 0) {
            const char digit[2] = {digits[--n], '\0'};
            *this << digit;
        }
        return *this;
    }
    Line& operator<<(int value) { return *this << static_cast<long>(value); }
    Line& operator<<(const Line& other) { return *this << other.text(); }
    // Three decimals are enough to tell a wrong value in a message.
    Line& operator<<(double value)
    {
        const bool negative = value < 0;
        const double magnitude = negative ? -value : value;
        const long whole = static_cast<long>(magnitude);
        const long thousandths = static_cast<long>((magnitude - whole) * 1000 + 0.5);
        *this << (negative ? "-" : "") << whole << ".";
        if (thousandths < 100)
            *this << "0";
        if (thousandths < 10)
            *this << "0";
        return *this << thousandths;
    }
    const char* text() const { return text_; }
    void print()
    {
        text_[size_++] = '\n';
        DWORD written = 0;
        ::WriteFile(::GetStdHandle(STD_OUTPUT_HANDLE), text_, static_cast<DWORD>(size_), &written, nullptr);
        size_ = 0;
        text_[0] = '\0';
    }

private:
    char text_[512] = {};
    size_t size_ = 0;
};

int passed = 0;
int failed = 0;

// Counts one expectation; a failed one is printed with what was found.
void check(bool ok, Line& what)
{
    if (ok) {
        ++passed;
        return;
    }
    ++failed;
    Line failure;
    (failure << "FAILED: " << what).print();
}

// ---- The simulated unit, steered as `pelmux simctl` does: `u32 length`, op 64, JSON; the reply
// carries no op.

class UnitLine {
public:
    bool connect()
    {
        char address[64];
        const DWORD size = ::GetEnvironmentVariableA("PELMUX_UNIT", address, sizeof address);
        if (size == 0 || size >= sizeof address || !startsWith(address, "tcp:"))
            return false;
        const char* host = address + 4;
        char* colon = address + 4;
        while (*colon != '\0' && *colon != ':')
            ++colon;
        if (*colon != ':')
            return false;
        *colon = '\0';
        unsigned port = 0;
        for (const char* p = colon + 1; *p >= '0' && *p <= '9'; ++p)
            port = port * 10 + static_cast<unsigned>(*p - '0');
        WSADATA data;
        if (::WSAStartup(MAKEWORD(2, 2), &data) != 0)
            return false;
        sockaddr_in peer;
        fill(&peer, 0, sizeof peer);
        peer.sin_family = AF_INET;
        peer.sin_port = ::htons(static_cast<u_short>(port));
        peer.sin_addr.s_addr = ::inet_addr(host);
        socket_ = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        return socket_ != INVALID_SOCKET &&
               ::connect(socket_, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) == 0;
    }

    // One unit command; answers the JSON answer (valid until the next command), or "" when the
    // line broke.
    const char* command(const char* json)
    {
        const size_t size = length(json);
        unsigned char header[5];
        const unsigned long frameLength = static_cast<unsigned long>(size + 1);
        for (int i = 0; i < 4; ++i)
            header[i] = static_cast<unsigned char>(frameLength >> (8 * i));
        header[4] = 64;
        unsigned char replyHeader[4];
        if (!sendAll(reinterpret_cast<const char*>(header), 5) || !sendAll(json, size) ||
            !receiveAll(reinterpret_cast<char*>(replyHeader), 4))
            return "";
        const unsigned long replySize = replyHeader[0] | (replyHeader[1] << 8) | (replyHeader[2] << 16) |
                                        (static_cast<unsigned long>(replyHeader[3]) << 24);
        if (replySize == 0 || replySize >= sizeof reply_ || !receiveAll(reply_, replySize))
            return "";
        reply_[replySize] = '\0';
        return reply_ + 1; // the status byte before the JSON
    }

private:
    bool sendAll(const char* data, size_t size)
    {
        while (size > 0) {
            const int n = ::send(socket_, data, static_cast<int>(size), 0);
            if (n <= 0)
                return false;
            data += n;
            size -= static_cast<size_t>(n);
        }
        return true;
    }
    bool receiveAll(char* data, size_t size)
    {
        while (size > 0) {
            const int n = ::recv(socket_, data, static_cast<int>(size), 0);
            if (n <= 0)
                return false;
            data += n;
            size -= static_cast<size_t>(n);
        }
        return true;
    }
    SOCKET socket_ = INVALID_SOCKET;
    char reply_[16384];
};

UnitLine unit;

bool commandDone(const char* answer)
{
    for (; *answer != '\0'; ++answer)
        if (startsWith(answer, "\"ok\":true"))
            return true;
    return false;
}

// The unit's value at `path`, as compact JSON: the V of {"ok":true,"value":V}, or "".
void unitValue(const char* path, char* value, size_t capacity)
{
    char request[128];
    size_t n = 0;
    for (const char* p = "{\"cmd\":\"get\",\"path\":\""; *p != '\0' && n < sizeof request - 1;)
        request[n++] = *p++;
    for (const char* p = path; *p != '\0' && n < sizeof request - 3;)
        request[n++] = *p++;
    request[n++] = '"';
    request[n++] = '}';
    request[n] = '\0';
    const char* answer = unit.command(request);
    value[0] = '\0';
    for (; *answer != '\0'; ++answer) {
        if (startsWith(answer, "\"value\":")) {
            answer += 8;
            size_t size = length(answer);
            size = size > 0 ? size - 1 : 0; // the closing brace of the answer
            size = size < capacity - 1 ? size : capacity - 1;
            for (size_t i = 0; i < size; ++i)
                value[i] = answer[i];
            value[size] = '\0';
            return;
        }
    }
}

// ---- The interfaces, obtained and given back through the headers' declarations

struct Interface {
    const char* factory;
    void* (*make)();
    void (*release)(void*);
};

#define PELMUX_INTERFACE(Name)                                                                               \
    {                                                                                                        \
        "Get" #Name, []() -> void* { return Get##Name(); },                                                  \
            [](void* object) { static_cast<Varnholt::Name*>(object)->release(); }                            \
    }

const Interface interfaces[] = {
    PELMUX_INTERFACE(About),
    PELMUX_INTERFACE(Adc),
    PELMUX_INTERFACE(AuxVersion),
    PELMUX_INTERFACE(Backlight),
    PELMUX_INTERFACE(Battery),
    PELMUX_INTERFACE(Buzzer),
    PELMUX_INTERFACE(CanSetting),
    PELMUX_INTERFACE(Config),
    PELMUX_INTERFACE(Diagnostic),
    PELMUX_INTERFACE(DigIO),
    PELMUX_INTERFACE(FirmwareUpgrade),
    PELMUX_INTERFACE(FrontLED),
    PELMUX_INTERFACE(Lightsensor),
    PELMUX_INTERFACE(PelmuxPrivate),
    PELMUX_INTERFACE(Power),
    PELMUX_INTERFACE(PowerMgr),
    PELMUX_INTERFACE(Telematics),
    PELMUX_INTERFACE(TouchScreen),
    PELMUX_INTERFACE(TouchScreenCalib),
    PELMUX_INTERFACE(Video),
};
constexpr int interfaceCount = sizeof interfaces / sizeof interfaces[0];
static_assert(interfaceCount == 20, "every interface of the library");

int interfaceIndex(const char* factory)
{
    for (int i = 0; i < interfaceCount; ++i)
        if (same(interfaces[i].factory, factory))
            return i;
    return -1;
}

// ---- The operations the table's rows call, each through its header's declaration

constexpr unsigned char sentinel = 0xA5;

// The outputs of one call: eight bytes a value (any of the table's kinds fits), a 64-byte text.
struct Outputs {
    union Zone {
        double alignment;
        unsigned char bytes[8];
    } zones[6];
    char text[64];

    template <class T> T* at(int i) { return reinterpret_cast<T*>(zones[i].bytes); }
    unsigned char* B(int i) { return at<unsigned char>(i); }
    unsigned short* H(int i) { return at<unsigned short>(i); }
    short* h(int i) { return at<short>(i); }
    int* i32(int i) { return at<int>(i); }
    unsigned* u32(int i) { return at<unsigned>(i); }
    double* d(int i) { return at<double>(i); }
    bool* b(int i) { return at<bool>(i); }
};

int word(const ExpectedRow& row, int i)
{
    return static_cast<int>(row.in[i]);
}

using Call = int (*)(void* object, const ExpectedRow& row, Outputs& out);

struct Operation {
    const char* factory;
    int slot;
    Call call;
};

#define PELMUX_OPERATION(Name, slot, ...)                                                                    \
    {                                                                                                        \
        "Get" #Name, slot, [](void* object, const ExpectedRow& row, Outputs& out) -> int {                   \
            Varnholt::Name* it = static_cast<Varnholt::Name*>(object);                                       \
            (void)row;                                                                                       \
            (void)out;                                                                                       \
            return __VA_ARGS__;                                                                              \
        }                                                                                                    \
    }

using u8 = unsigned char;
using u16 = unsigned short;

// clang-format off
const Operation operations[] = {
    PELMUX_OPERATION(AuxVersion, 0, it->getFpgaVersion(out.B(0), out.B(1), out.B(2), out.B(3))),
    PELMUX_OPERATION(AuxVersion, 1, it->getSupervisorVersion(out.B(0), out.B(1), out.B(2), out.B(3))),
    PELMUX_OPERATION(AuxVersion, 2, it->getFrontVersion(out.B(0), out.B(1), out.B(2), out.B(3))),
    PELMUX_OPERATION(AuxVersion, 3, it->getLibraryVersion(out.B(0), out.B(1), out.B(2), out.B(3))),
    PELMUX_OPERATION(AuxVersion, 5, it->getExtraVersion(out.B(0), out.B(1), out.B(2), out.B(3))),
    PELMUX_OPERATION(About, 0, it->getPcbSerial(out.text, sizeof out.text - 1)),
    PELMUX_OPERATION(About, 1, it->getUnitSerial(out.text, sizeof out.text - 1)),
    PELMUX_OPERATION(About, 16, it->hasWlan(out.b(0))),
    PELMUX_OPERATION(Diagnostic, 0, it->getWord1(out.H(0))),
    PELMUX_OPERATION(Diagnostic, 1, it->getWord2(out.H(0))),
    PELMUX_OPERATION(Diagnostic, 2, it->getTemperature(static_cast<u8>(word(row, 0)), out.h(0), out.i32(1))),
    PELMUX_OPERATION(Diagnostic, 3, it->getWord3(out.H(0))),
    PELMUX_OPERATION(Diagnostic, 4, it->getWord4(out.H(0))),
    PELMUX_OPERATION(Diagnostic, 5, it->getWord5(out.H(0))),
    PELMUX_OPERATION(Diagnostic, 8, it->getWord6(out.H(0))),
    PELMUX_OPERATION(Adc, 0, it->getVoltage(static_cast<Varnholt::VoltageChannel>(word(row, 0)), out.d(0))),
    PELMUX_OPERATION(DigIO, 0, it->getDigitalInputs(out.B(0))),
    PELMUX_OPERATION(Backlight, 0, it->getIntensity(out.B(0))),
    PELMUX_OPERATION(Backlight, 1, it->setIntensity(static_cast<u8>(word(row, 0)))),
    PELMUX_OPERATION(Backlight, 2, it->getStatus(out.B(0))),
    PELMUX_OPERATION(Lightsensor, 1, it->getIlluminance(out.H(0))),
    PELMUX_OPERATION(Lightsensor, 5, it->getOperatingRange(out.i32(0))),
    PELMUX_OPERATION(Lightsensor, 6, it->setOperatingRange(word(row, 0))),
    PELMUX_OPERATION(Config, 0, it->getSelector1(out.i32(0))),
    PELMUX_OPERATION(Config, 5, it->getLongSetting(out.u32(0))),
    PELMUX_OPERATION(Config, 9, it->getWordSetting(out.i32(0))),
    PELMUX_OPERATION(Config, 10, it->getVoltageSetting(out.d(0))),
    PELMUX_OPERATION(Config, 11, it->getTemperatureSetting(out.h(0))),
    PELMUX_OPERATION(Config, 13, it->setSelector1(word(row, 0))),
    PELMUX_OPERATION(Config, 23, it->setVoltageSetting(row.in[0])),
    PELMUX_OPERATION(Power, 0, it->getDisplayPowerStatus(out.i32(0))),
    PELMUX_OPERATION(Power, 2, it->getVideoPowerStatus(out.B(0))),
    PELMUX_OPERATION(Power, 4, it->setDisplayPowerStatus(word(row, 0))),
    PELMUX_OPERATION(Power, 8, it->getPowerStateCode(out.i32(0))),
    PELMUX_OPERATION(Power, 9, it->sendPowerCommand()),
    PELMUX_OPERATION(Battery, 0, it->getBatteryPresent(out.B(0))),
    PELMUX_OPERATION(Battery, 1, it->getChargeLevel(out.B(0))),
    PELMUX_OPERATION(Battery, 7, it->getTemperatures(out.h(0), out.h(1))),
    PELMUX_OPERATION(PowerMgr, 0, it->setConfiguration(word(row, 0))),
    PELMUX_OPERATION(FrontLED, 0, it->getSignal(*out.d(0), *out.B(1))),
    PELMUX_OPERATION(FrontLED, 1, it->getOnTime(*out.B(0))),
    PELMUX_OPERATION(FrontLED, 6, it->getColor(*out.B(0), *out.B(1), *out.B(2))),
    PELMUX_OPERATION(FrontLED, 8, it->setSignal(row.in[0], static_cast<u8>(word(row, 1)))),
    PELMUX_OPERATION(FrontLED, 14, it->setColor(static_cast<u8>(word(row, 0)), static_cast<u8>(word(row, 1)),
                                                static_cast<u8>(word(row, 2)))),
    PELMUX_OPERATION(Buzzer, 0, it->getFrequency(*out.H(0))),
    PELMUX_OPERATION(Buzzer, 1, it->getVolume(*out.H(0))),
    PELMUX_OPERATION(Buzzer, 3, it->setFrequency(static_cast<u16>(word(row, 0)))),
    PELMUX_OPERATION(TouchScreen, 0, it->getTouchMode(out.i32(0))),
    PELMUX_OPERATION(TouchScreen, 4, it->setTouchParameter(word(row, 0), static_cast<u16>(word(row, 1)))),
    PELMUX_OPERATION(TouchScreen, 5, it->getTouchParameter(word(row, 0), out.H(0))),
    PELMUX_OPERATION(TouchScreenCalib, 1, it->getCalibrationMode(out.i32(0))),
    PELMUX_OPERATION(Telematics, 0, it->getTelematicsAvailable(out.i32(0))),
    PELMUX_OPERATION(Telematics, 1, it->getGPRSPowerStatus(out.i32(0))),
    PELMUX_OPERATION(Telematics, 3, it->getWLANPowerStatus(out.i32(0))),
    PELMUX_OPERATION(Telematics, 5, it->getGPSInputStatus(out.i32(0))),
    PELMUX_OPERATION(Telematics, 8, it->setWLANPowerStatus(word(row, 0))),
    PELMUX_OPERATION(Video, 0, it->init(static_cast<u8>(word(row, 0)))),
    PELMUX_OPERATION(Video, 3, it->getLineMode(out.i32(0))),
    PELMUX_OPERATION(CanSetting, 0, it->getBaudRate(static_cast<u8>(word(row, 0)), out.H(0))),
    PELMUX_OPERATION(CanSetting, 2, it->setBaudRate(static_cast<u8>(word(row, 0)), static_cast<u16>(word(row, 1)))),
    PELMUX_OPERATION(FirmwareUpgrade, 7, it->notifyService()),
    PELMUX_OPERATION(PelmuxPrivate, 2, it->readSupervisorRegister(static_cast<signed char>(word(row, 0)), out.H(0))),
};
// clang-format on

const Operation* operationFor(const ExpectedRow& row)
{
    for (const Operation& operation : operations)
        if (operation.slot == row.slot && same(operation.factory, row.factory))
            return &operation;
    return nullptr;
}

// An output's value, read as the kind its letter names.
double outputValue(char kind, Outputs& out, int i)
{
    switch (kind) {
    case 'b':
        return *out.b(i) ? 1 : 0;
    case 'B':
        return *out.B(i);
    case 'h':
        return *out.h(i);
    case 'H':
        return *out.H(i);
    case 'i':
        return *out.i32(i);
    case 'I':
        return *out.u32(i);
    case 'd':
        return *out.d(i);
    default:
        return *out.at<float>(i);
    }
}

bool untouched(const unsigned char* bytes, size_t size)
{
    for (size_t i = 0; i < size; ++i)
        if (bytes[i] != sentinel)
            return false;
    return true;
}

// The outputs against the row: the expected values on success, untouched bytes otherwise.
void checkOutputs(const ExpectedRow& row, Outputs& out)
{
    for (int i = 0; row.outs[i] != '\0'; ++i) {
        Line what;
        what << row.factory << " slot " << row.slot << " (" << row.what << "): output " << i;
        const char kind = row.outs[i];
        if (row.code != Varnholt::ERR_SUCCESS) {
            const bool clean = kind == 's'
                                   ? untouched(reinterpret_cast<unsigned char*>(out.text), sizeof out.text)
                                   : untouched(out.zones[i].bytes, sizeof out.zones[i].bytes);
            check(clean, what << " untouched");
        } else if (kind == 's') {
            out.text[sizeof out.text - 1] = '\0';
            check(same(out.text, row.text),
                  what << " is '" << out.text << "', expected '" << row.text << "'");
        } else if (i < row.expectedCount) {
            const double got = outputValue(kind, out, i);
            const double difference = got > row.expected[i] ? got - row.expected[i] : row.expected[i] - got;
            check(difference <= row.tolerance, what << " is " << got << ", expected " << row.expected[i]);
        }
    }
}

// One row: the unit set up, the call through the header, its code, outputs and the unit afterwards.
void runRow(const ExpectedRow& row, const Operation& operation, const Interface& api)
{
    unit.command("{\"cmd\":\"clear\"}");
    for (int i = 0; i < 4 && row.setup[i] != nullptr; ++i) {
        Line what;
        check(commandDone(unit.command(row.setup[i])), what << row.what << ": set-up " << row.setup[i]);
    }
    void* object = api.make();
    Line made;
    check(object != nullptr, made << row.factory << " gives an object");
    if (object == nullptr)
        return;
    Outputs out;
    fill(&out, sentinel, sizeof out);
    const int code = operation.call(object, row, out);
    Line what;
    check(code == row.code, what << row.factory << " slot " << row.slot << " (" << row.what << "): code "
                                 << code << ", expected " << row.code);
    checkOutputs(row, out);
    api.release(object);
    if (row.statePath[0] != '\0') {
        char value[256];
        unitValue(row.statePath, value, sizeof value);
        Line state;
        check(same(value, row.state), state << row.what << ": unit " << row.statePath << " is " << value
                                            << ", expected " << row.state);
    }
}

// Every row the client has a call for; each of the twenty interfaces must be among them.
void runRows()
{
    bool exercised[interfaceCount] = {};
    int skipped = 0;
    for (const ExpectedRow& row : expectedRows) {
        const Operation* operation = operationFor(row);
        const int index = interfaceIndex(row.factory);
        if (operation == nullptr || index < 0) {
            ++skipped;
            continue;
        }
        runRow(row, *operation, interfaces[index]);
        exercised[index] = true;
    }
    for (int i = 0; i < interfaceCount; ++i) {
        Line what;
        check(exercised[i], what << interfaces[i].factory << ": an operation called and compared");
    }
    if (skipped > 0) {
        Line note;
        (note << "note: " << skipped << " rows of the table have no call here").print();
    }
}

// The message functions, narrow and wide, against the Linux build's texts.
bool sameWide(const wchar_t* wide, const char* text)
{
    for (; *text != '\0'; ++wide, ++text)
        if (*wide != static_cast<wchar_t>(static_cast<unsigned char>(*text)))
            return false;
    return *wide == L'\0';
}

void messageTexts()
{
    for (const auto& expected : expectedTexts) {
        const unsigned code = expected.code;
        const auto result = static_cast<Varnholt::ResultCode>(code);
        const char* function = expected.function;
        bool ok = false;
        if (same(function, "GetErrorStringA"))
            ok = same(Varnholt::GetErrorStringA(result), expected.text);
        else if (same(function, "GetErrorStringW"))
            ok = sameWide(Varnholt::GetErrorStringW(result), expected.text);
        else if (same(function, "GetHwErrorStatusStringA"))
            ok = same(Varnholt::GetHwErrorStatusStringA(code), expected.text);
        else if (same(function, "GetHwErrorStatusStringW"))
            ok = sameWide(Varnholt::GetHwErrorStatusStringW(code), expected.text);
        else if (same(function, "GetStartupReasonStringA"))
            ok = same(Varnholt::GetStartupReasonStringA(code), expected.text);
        else if (same(function, "GetStartupReasonStringW"))
            ok = sameWide(Varnholt::GetStartupReasonStringW(code), expected.text);
        Line what;
        check(ok, what << function << "(" << static_cast<long>(code) << ") is \"" << expected.text << "\"");
    }
}

} // namespace

// The process starts here: there is no C runtime to call a main.
extern "C" void __cdecl clientMain()
{
    Line connected;
    check(unit.connect(), connected << "the unit answers at PELMUX_UNIT");
    if (failed == 0) {
        runRows();
        messageTexts();
    }
    Line summary;
    (summary << passed << " passed, " << failed << " failed").print();
    ::ExitProcess(failed == 0 ? 0 : 1);
}
