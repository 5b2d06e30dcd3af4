// The tally of the Windows checks program, shared by its parts: one line per failed check, and
// the closing "N passed, M failed".
#pragma once

#include <string>

namespace checks {

void check(bool ok, const std::string& what);

// Prints the closing line; answers the program's exit code.
int summary();

// The Windows checks' own executable, to start it again with other arguments.
std::wstring ownPath();

// The parts that live in files of their own.
void settingsSwapChecks();
int holdSettingsFile(unsigned milliseconds); // the helper process of settingsSwapChecks
// Holders of the named locks killed while they hold them; last, since a lock that stays taken
// would hang every later check.
void lockRecoveryChecks();
int holdLock(unsigned row);   // a helper of lockRecoveryChecks: takes a lock and waits to be killed
int countUnderSettingsLock(); // a helper of lockRecoveryChecks: counts in settings cycles until told
void outOfMemoryChecks();
// Backlight, light sensor and the controller thread without the unit; `library` is Pelmux.dll.
void displayChecks(void* library);
// CAN settings in a parameter key the checks make and remove; `library` is Pelmux.dll.
void canChecks(void* library);

} // namespace checks
