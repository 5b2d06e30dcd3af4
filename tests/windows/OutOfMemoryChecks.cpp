// Pelmux.dll with the process's memory used up: first every free range of the address space is
// reserved, then the heap is filled with small blocks until it refuses. Each factory must then
// answer null (an exception would end the process at the module boundary) and work again once the
// memory is given back; every operation must answer a result code as the first call of its object,
// each in a process of its own, and the library's worker threads must carry on or end, never the
// process. A run of its own (argument "oom"): it wrecks the heap.
#include "Checks.h"

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

using Factory = void*(__stdcall*)();
using ReleaseSlot = void(__fastcall*)(void*, int);

using checks::slotCall;

// The whole 32-bit address space in the smallest pieces reserved.
constexpr std::size_t maxReservations = std::size_t(1) << 16;
void* reservations[maxReservations];
std::size_t reservationCount = 0;

void reserveAddressSpace()
{
    for (SIZE_T chunk = SIZE_T(1) << 30; chunk >= 64 * 1024; chunk /= 2) {
        while (reservationCount < maxReservations) {
            void* range = ::VirtualAlloc(nullptr, chunk, MEM_RESERVE, PAGE_NOACCESS);
            if (range == nullptr)
                break;
            reservations[reservationCount++] = range;
        }
    }
}

void releaseAddressSpace()
{
    while (reservationCount > 0)
        ::VirtualFree(reservations[--reservationCount], 0, MEM_RELEASE);
}

// Fills the heap; each block holds the address of the one before, so that the blocks themselves
// keep the list. Answers the last block.
void* fillHeap()
{
    void* last = nullptr;
    for (std::size_t size : {std::size_t(4096), std::size_t(256), sizeof(void*)}) {
        for (;;) {
            void** block = static_cast<void**>(std::malloc(size));
            if (block == nullptr)
                break;
            *block = last;
            last = block;
        }
    }
    return last;
}

void emptyHeap(void* last)
{
    while (last != nullptr) {
        void* before = *static_cast<void**>(last);
        std::free(last);
        last = before;
    }
}

struct FactoryCase {
    const char* name;
    int releaseSlot;
    Factory factory = nullptr;
    void* object = reinterpret_cast<void*>(1); // what the call gave while memory was exhausted
};

void release(void* object, int slot)
{
    reinterpret_cast<ReleaseSlot>((*reinterpret_cast<void***>(object))[slot])(object, 0);
}

// Holds the memory of the process used up for its lifetime; with `hole` bytes of address space
// left free in one range.
class Exhausted {
public:
    explicit Exhausted(std::size_t hole = 0)
    {
        void* kept = hole != 0 ? ::VirtualAlloc(nullptr, hole, MEM_RESERVE, PAGE_NOACCESS) : nullptr;
        reserveAddressSpace();
        blocks_ = fillHeap();
        refused_ = std::malloc(16) == nullptr && std::malloc(1) == nullptr && (hole == 0 || kept != nullptr);
        if (kept != nullptr)
            ::VirtualFree(kept, 0, MEM_RELEASE);
    }
    ~Exhausted()
    {
        emptyHeap(blocks_);
        releaseAddressSpace();
    }
    Exhausted(const Exhausted&) = delete;
    Exhausted& operator=(const Exhausted&) = delete;
    bool refused() const { return refused_; }

private:
    void* blocks_ = nullptr;
    bool refused_ = false;
};

unsigned char bytes[8];
char text[64];
std::uint16_t word;
std::int32_t number;
double volts;
short temperature;
int sensorType;

// Two calls at once: a settings cycle on a thread of its own is held inside its guard (at the
// library's first file open, through its import table) while the memory is used up; meanwhile a
// factory on the main thread runs out of memory too, and the host takes whatever that left free.
// The held cycle, let go, must still answer 32: its reserve was its own.
struct HeldCycle {
    using CreateFileFn = HANDLE(WINAPI*)(LPCWSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE);
    CreateFileFn realCreateFile = nullptr;
    DWORD thread = 0;
    HANDLE held = nullptr;
    HANDLE go = nullptr;
    HANDLE done = nullptr;
    HANDLE worker = nullptr;
    Factory otherFactory = nullptr;
    int answered = -1;
} heldCycle;

HANDLE WINAPI holdingCreateFile(LPCWSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                                DWORD disposition, DWORD flags, HANDLE pattern)
{
    if (::GetCurrentThreadId() == heldCycle.thread && heldCycle.held != nullptr) {
        HANDLE held = heldCycle.held;
        heldCycle.held = nullptr;
        ::SetEvent(held);
        ::WaitForSingleObject(heldCycle.go, INFINITE);
    }
    return heldCycle.realCreateFile(name, access, share, security, disposition, flags, pattern);
}

// The thread stays until the process ends: a thread that ends while the address space is
// reserved ends wine itself.
DWORD WINAPI setSettingHeld(LPVOID object)
{
    heldCycle.answered = slotCall(object, 5, "OutOfMemoryKey", "2");
    ::SetEvent(heldCycle.done);
    ::WaitForSingleObject(heldCycle.worker, INFINITE);
    return 0;
}

void holdASettingsCycle(void* privateInterface)
{
    HMODULE library = ::GetModuleHandleW(L"Pelmux.dll");
    heldCycle.otherFactory =
        reinterpret_cast<Factory>(reinterpret_cast<void*>(::GetProcAddress(library, "GetAdc")));
    heldCycle.realCreateFile = reinterpret_cast<HeldCycle::CreateFileFn>(
        checks::patchImport(library, "CreateFileW", reinterpret_cast<void*>(&holdingCreateFile)));
    HANDLE held = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    heldCycle.go = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    heldCycle.done = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    heldCycle.held = held;
    // Started once its id is known to the stand-in.
    heldCycle.worker =
        ::CreateThread(nullptr, 0, setSettingHeld, privateInterface, CREATE_SUSPENDED, &heldCycle.thread);
    if (heldCycle.realCreateFile != nullptr && heldCycle.worker != nullptr &&
        ::ResumeThread(heldCycle.worker) != static_cast<DWORD>(-1))
        ::WaitForSingleObject(held, INFINITE);
}

int letTheHeldCycleGo(void*)
{
    if (heldCycle.realCreateFile == nullptr || heldCycle.worker == nullptr ||
        heldCycle.otherFactory == nullptr)
        return -1;
    void* other = heldCycle.otherFactory();
    void* leftOver = fillHeap();
    ::SetEvent(heldCycle.go);
    ::WaitForSingleObject(heldCycle.done, INFINITE);
    emptyHeap(leftOver);
    if (other != nullptr)
        release(other, 1);
    return heldCycle.answered;
}

// One operation of every interface: the code of its Part for the failure (a gate that cannot read
// a version, a thread that cannot be created), or ERR_MEMORY_ALLOCATION_FAILED (32) where the Part
// has none (the oom run has no driver and no vendor library).
const checks::FirstCall operationCases[] = {
    {"PelmuxPrivate::setSetting (settings cycle)", "GetPelmuxPrivate", 8,
     [](void* o) { return slotCall(o, 5, "OutOfMemoryKey", "1"); }, 32},
    {"PelmuxPrivate::getSetting (settings cycle)", "GetPelmuxPrivate", 8,
     [](void* o) { return slotCall(o, 6, "OutOfMemoryKey", text, int(sizeof text)); }, 32},
    {"PelmuxPrivate::setSetting held in its cycle while another call runs out (its own reserve)",
     "GetPelmuxPrivate", 8, letTheHeldCycleGo, 32, -1, holdASettingsCycle},
    {"PelmuxPrivate::readSupervisorRegisterExt (gate)", "GetPelmuxPrivate", 8,
     [](void* o) { return slotCall(o, 9, std::uint16_t(1), &word); }, 25},
    {"PelmuxPrivate::startBacklightController (its light sensor)", "GetPelmuxPrivate", 8,
     [](void* o) { return slotCall(o, 4); }, 32, 10},
    {"Video::setScaling (gate)", "GetVideo", 29, [](void* o) { return slotCall(o, 15, 1.0f, 1.0f); }, 1},
    {"Video::saveSnapshot (file name)", "GetVideo", 29,
     [](void* o) { return slotCall(o, 18, "C:\\snapshot.bmp", static_cast<unsigned char>(0)); }, 1},
    {"Backlight::enableAutomaticBacklight (settings cycle)", "GetBacklight", 12,
     [](void* o) { return slotCall(o, 3); }, 32},
    {"PowerMgr::getRequest (settings cycle)", "GetPowerMgr", 5,
     [](void* o) { return slotCall(o, 2, &number); }, 32},
    {"Telematics::getGPRSPowerAtStartup (module probe)", "GetTelematics", 10,
     [](void* o) { return slotCall(o, 2, &number); }, 28},
    {"Battery::getBatteryPresent (gate)", "GetBattery", 11, [](void* o) { return slotCall(o, 0, bytes); },
     25},
    {"Buzzer::buzz, not blocking (thread start)", "GetBuzzer", 7,
     [](void* o) { return slotCall(o, 6, std::uint32_t(100), false); }, 10},
    {"Lightsensor::startAverageCalc (its rings)", "GetLightsensor", 7,
     [](void* o) { return slotCall(o, 3, std::uint32_t(5), std::uint32_t(5), std::uint32_t(50), 0); }, 13, 1},
    {"FirmwareUpgrade::startSSUpgrade (image check)", "GetFirmwareUpgrade", 8,
     [](void* o) { return slotCall(o, 2, "C:\\image.hex", false); }, 32},
    {"Diagnostic::getTemperature (vendor library)", "GetDiagnostic", 10,
     [](void* o) { return slotCall(o, 2, static_cast<unsigned char>(0), &temperature, &sensorType); }, 19},
    {"About::getPcbSerial", "GetAbout", 20, [](void* o) { return slotCall(o, 0, text, int(sizeof text)); },
     18},
    {"AuxVersion::getOsImageVersion (fixed path)", "GetAuxVersion", 6,
     [](void* o) { return slotCall(o, 4, bytes, bytes + 1, bytes + 2, bytes + 3); }, 1},
    {"CanSetting::getBaudRate (key name)", "GetCanSetting", 4,
     [](void* o) { return slotCall(o, 0, static_cast<unsigned char>(1), &word); }, 32},
    {"CanSetting::setFrameType (key name, value text)", "GetCanSetting", 4,
     [](void* o) { return slotCall(o, 3, static_cast<unsigned char>(4), 1); }, 32},
    {"Config::getSelector1", "GetConfig", 26, [](void* o) { return slotCall(o, 0, &number); }, 1},
    {"Adc::getVoltage", "GetAdc", 1, [](void* o) { return slotCall(o, 0, 0, &volts); }, 1},
    {"DigIO::getDigitalInputs", "GetDigIO", 1, [](void* o) { return slotCall(o, 0, bytes); }, 1},
    {"FrontLED::getOnTime", "GetFrontLED", 17, [](void* o) { return slotCall(o, 1, bytes); }, 1},
    {"FrontLED::setSignal (timing lock)", "GetFrontLED", 17,
     [](void* o) { return slotCall(o, 8, 1.0, static_cast<unsigned char>(50)); }, 1},
    {"FrontLED::setOnTime (timing lock)", "GetFrontLED", 17,
     [](void* o) { return slotCall(o, 9, static_cast<unsigned char>(5)); }, 1},
    {"FrontLED::setOff (timing lock)", "GetFrontLED", 17, [](void* o) { return slotCall(o, 15); }, 1},
    {"Power::getDisplayPowerStatus", "GetPower", 10, [](void* o) { return slotCall(o, 0, &number); }, 1},
    {"TouchScreen::getTouchMode", "GetTouchScreen", 6, [](void* o) { return slotCall(o, 0, &number); }, 1},
    {"TouchScreenCalib::getCalibrationMode", "GetTouchScreenCalib", 6,
     [](void* o) { return slotCall(o, 1, &number); }, 1},
};

// A row's process answers firstCallExit + the operation's code, or rowNotRun when it could not
// make its object or use up the memory.
constexpr int firstCallExit = 100;
constexpr int rowNotRun = 99;

Factory factoryOf(HMODULE library, const char* name)
{
    return reinterpret_cast<Factory>(reinterpret_cast<void*>(::GetProcAddress(library, name)));
}

} // namespace

void checks::firstCallsOnExhaustedMemory(std::span<const FirstCall> rows)
{
    for (std::size_t i = 0; i < rows.size(); ++i) {
        std::wstring command = L"\"" + ownPath() + L"\" oom-row " + std::to_wstring(i);
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process{};
        DWORD code = 0;
        if (::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                             &process) != FALSE) {
            ::WaitForSingleObject(process.hProcess, INFINITE);
            ::GetExitCodeProcess(process.hProcess, &code);
            ::CloseHandle(process.hThread);
            ::CloseHandle(process.hProcess);
        }
        const FirstCall& row = rows[i];
        const int answered = static_cast<int>(code) - firstCallExit;
        const bool ok = answered == row.expected || (row.orElse >= 0 && answered == row.orElse);
        char ended[64];
        std::snprintf(ended, sizeof ended, "its process ended with 0x%lX", static_cast<unsigned long>(code));
        check(ok, std::string(row.what) + " answers " + std::to_string(row.expected) +
                      (row.orElse >= 0 ? " or " + std::to_string(row.orElse) : std::string()) +
                      " on exhausted memory as the first call of its object; " +
                      (code >= firstCallExit && code <= firstCallExit + 32
                           ? "it answered " + std::to_string(answered)
                           : std::string(ended)));
    }
}

int checks::firstCallOnExhaustedMemory(std::span<const FirstCall> rows, const char* index)
{
    const std::size_t i = std::strtoul(index, nullptr, 10);
    HMODULE library = ::LoadLibraryW(L"Pelmux.dll");
    const Factory factory =
        library != nullptr && i < rows.size() ? factoryOf(library, rows[i].factory) : nullptr;
    void* object = factory != nullptr ? factory() : nullptr;
    if (object == nullptr)
        return rowNotRun;
    const FirstCall& row = rows[i];
    if (row.prepare != nullptr)
        row.prepare(object);
    int answered = -1;
    {
        const Exhausted memory(row.hole);
        if (!memory.refused())
            return rowNotRun;
        answered = row.call(object);
    }
    release(object, row.releaseSlot);
    return firstCallExit + answered;
}

namespace {

// The automatic backlight controller's thread reads its settings on exhausted memory: it waits for
// the next notification instead of ending the process, and its object still stops and joins it.
void controllerThreadOnExhaustedMemory(HMODULE library)
{
    const Factory factory = factoryOf(library, "GetPelmuxPrivate");
    void* privateInterface = factory != nullptr ? factory() : nullptr;
    HANDLE notify = ::CreateSemaphoreA(nullptr, 0, 1, "Global\\PELMUX_BACKLIGHT_NEW_SETTINGS_TO_READ");
    if (privateInterface == nullptr || notify == nullptr) {
        checks::check(false, "controller and its semaphore");
        return;
    }
    checks::check(slotCall(privateInterface, 4) == 0, "the controller starts");
    // A notification can be posted only once the controller has taken the last one, which it does
    // only while it waits: the third of three posts proves one whole settings read between the first
    // two takes. Polled with a generous bound, no fixed wait.
    const auto post = [notify] {
        for (int poll = 0; poll < 60000; ++poll) {
            if (::ReleaseSemaphore(notify, 1, nullptr) != FALSE)
                return true;
            ::Sleep(1);
        }
        return false;
    };
    const auto readsOnce = [&post] { return post() && post() && post(); };
    checks::check(readsOnce(), "the controller reads its settings");
    bool readOnExhausted = false;
    {
        const Exhausted memory;
        readOnExhausted = readsOnce();
    }
    checks::check(readOnExhausted, "the controller reads its settings on exhausted memory and waits again");
    release(privateInterface, 8); // stops and joins the thread
    ::CloseHandle(notify);
}

} // namespace

int checks::outOfMemoryRow(const char* row)
{
    return firstCallOnExhaustedMemory(operationCases, row);
}

void checks::outOfMemoryChecks()
{
    HMODULE library = ::LoadLibraryW(L"Pelmux.dll");
    checks::check(library != nullptr, "Pelmux.dll loads");
    if (library == nullptr)
        return;
    FactoryCase cases[] = {{"GetAdc", 1},
                           {"GetAuxVersion", 6},
                           {"GetDiagnostic", 10},
                           {"GetBacklight", 12},
                           {"GetLightsensor", 7}};
    for (FactoryCase& c : cases) {
        c.factory = reinterpret_cast<Factory>(reinterpret_cast<void*>(::GetProcAddress(library, c.name)));
        checks::check(c.factory != nullptr, std::string("export ") + c.name);
        if (c.factory == nullptr)
            return;
    }
    std::printf("exhausting the address space and the heap\n");
    std::fflush(stdout); // the stream's buffer exists before the heap is full

    reserveAddressSpace();
    void* blocks = fillHeap();
    // Not new (std::nothrow): this run-time's nothrow form throws inside, and with the heap used up
    // that throw ends the process.
    const bool exhausted = std::malloc(16) == nullptr && std::malloc(1) == nullptr;
    for (FactoryCase& c : cases)
        c.object = c.factory();
    emptyHeap(blocks);
    releaseAddressSpace();

    checks::check(exhausted, "the heap refuses even small blocks");
    for (const FactoryCase& c : cases) {
        checks::check(c.object == nullptr, std::string(c.name) + " answers null on exhausted memory");
        if (c.object != nullptr)
            release(c.object, c.releaseSlot);
    }
    for (const FactoryCase& c : cases) {
        void* object = c.factory();
        checks::check(object != nullptr, std::string(c.name) + " works again once memory is back");
        if (object != nullptr)
            release(object, c.releaseSlot);
    }
    firstCallsOnExhaustedMemory(operationCases);
    controllerThreadOnExhaustedMemory(library);
    ::FreeLibrary(library);
}
