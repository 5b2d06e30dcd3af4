// The tally of the Windows checks program, shared by its parts: one line per failed check, and
// the closing "N passed, M failed".
#pragma once

#include <cstddef>
#include <span>
#include <string>

namespace checks {

void check(bool ok, const std::string& what);

// Prints the closing line; answers the program's exit code.
int summary();

// The Windows checks' own executable, to start it again with other arguments.
std::wstring ownPath();

// Points the import of a function by `module` (a loaded module's handle; null: this program) at
// `replacement`; answers the entry it had, null when the module imports no such function.
void* patchImport(void* module, const char* function, void* replacement);

// The parts that live in files of their own.
void settingsSwapChecks();
int holdSettingsFile(unsigned milliseconds); // the helper process of settingsSwapChecks
// Holders of the named locks killed while they hold them; last, since a lock that stays taken
// would hang every later check.
void lockRecoveryChecks();
int holdLock(unsigned row);   // a helper of lockRecoveryChecks: takes a lock and waits to be killed
int countUnderSettingsLock(); // a helper of lockRecoveryChecks: counts in settings cycles until told
void outOfMemoryChecks();
int outOfMemoryRow(const char* row); // one process of outOfMemoryChecks

// An operation called by slot: `this` in ECX, the callee removes the arguments. Allocates nothing,
// for calls made while the memory is used up.
template <class... Args> int slotCall(void* object, int slot, Args... arguments)
{
    using Slot = int(__fastcall*)(void*, int, Args...);
    return reinterpret_cast<Slot>((*reinterpret_cast<void***>(object))[slot])(object, 0, arguments...);
}

// One operation on exhausted memory as the first call of its object: the object is made (and
// prepared) while there is memory, then the address space is reserved and the heap filled, then
// the operation runs. `expected` is the code it must answer, or `orElse`. With `hole` bytes, that
// much address space stays free in one range: room for large blocks, too little for the heap to grow.
struct FirstCall {
    const char* what;
    const char* factory;
    int releaseSlot;
    int (*call)(void* object);
    int expected;
    int orElse = -1;
    void (*prepare)(void* object) = nullptr;
    std::size_t hole = 0;
};
// Runs each row in a process of its own, this program started again with "oom-row N", so that
// nothing an earlier call left behind (a lock set up, a static made, memory given back) helps it;
// a process that ends any other way fails its row.
void firstCallsOnExhaustedMemory(std::span<const FirstCall> rows);
// The process of one row: answers its exit code.
int firstCallOnExhaustedMemory(std::span<const FirstCall> rows, const char* row);
// Backlight, light sensor and the controller thread without the unit; `library` is Pelmux.dll.
void displayChecks(void* library);
// CAN settings in a parameter key the checks make and remove; `library` is Pelmux.dll.
void canChecks(void* library);

} // namespace checks
