#pragma once
// Keeps the simulated module's memories, registers and flags in a file between runs, so that one
// command can write to the simulated module and the next one read it back.

#include <string>

#include "sim/simulated_module.h"

namespace tarven::sim {

// Loads the state from `path` into `module`. A missing file is not an error: the module keeps
// its fresh state and the result is true. A file that cannot be read or is not a valid state
// leaves `module` untouched, puts a one-line reason into `error` and returns false.
bool LoadState(SimulatedModule& module, const std::string& path, std::string& error);

// Writes the state to `path` (through a temporary file, so that a failed write never leaves a
// half-written state behind). False with a one-line reason on failure.
bool SaveState(const SimulatedModule& module, const std::string& path, std::string& error);

}  // namespace tarven::sim
