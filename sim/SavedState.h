// State of a simulated unit that survives a restart of `pelmux sim` (the identity EEPROMs): saved as
// a JSON merge patch in a file under the unit's root and laid over the profile at the next start.
#pragma once

#include "Unit.h"

#include <string>

namespace pelmux::sim {

// The file `pelmux sim` keeps it in: <root>/sim-state.json.
std::string savedStatePath(const std::string& root);

// The profile with the saved state at `path` laid over it; the profile alone when there is none.
// Throws std::runtime_error when the file exists but is not a JSON object.
Json withSavedState(Json profile, const std::string& path);

// Makes the unit save every persistent change to `path` (merged into what the file holds, replaced
// in one step so that a reader never sees half a file).
void saveStateTo(Unit& unit, const std::string& path);

} // namespace pelmux::sim
