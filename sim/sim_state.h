#pragma once
// Keeps the simulated module's memories, registers and flags in a file between runs, so that one
// command can write to the simulated module and the next one read it back.
//
// The file is text: a header line, one "key value" line for every field of ModuleState, and an
// end line. A file that lacks any of them (one cut short, say) is refused whole.

#include <cstddef>
#include <string>
#include <string_view>

#include "sim/simulated_module.h"

namespace tarven::sim {

// Larger files are refused unread; a module's state takes well under a megabyte.
inline constexpr std::size_t kMaxStateFileSize = std::size_t{4} << 20;

// The text a state file holds for `state`.
std::string SerializeState(const ModuleState& state);

// Decodes the text of a state file. On success `state` is the state the text holds; otherwise
// `state` is left as it was and `error` gets a one-line reason that begins with `source` (the
// file's name, for a person to find it). Decoding what SerializeState wrote gives the same state.
bool DecodeState(std::string_view text, const std::string& source, ModuleState& state,
                 std::string& error);

// Loads the state from `path` into `module`. A missing file is not an error: the module keeps
// its fresh state, the result is true and `existed` (when given) is set false. Only a regular
// file of at most kMaxStateFileSize bytes is read. A file that cannot be read or is not a whole,
// valid state leaves `module` untouched, puts a one-line reason that names the file into `error`
// and returns false.
bool LoadState(SimulatedModule& module, const std::string& path, std::string& error,
               bool* existed = nullptr);

// Writes the state to `path`: into a new file of a unique name beside the target, flushed to the
// disk, then renamed over the target, so that a failed write never leaves a half-written state
// behind. A symbolic link at `path` is written through (it stays a link) and the file keeps its
// mode. A file without write permission is not replaced. False with a one-line reason on failure.
bool SaveState(const ModuleState& state, const std::string& path, std::string& error);

// The file that `path` stands for: symbolic links followed to the end. The file itself need not
// exist. False with a reason when a link cannot be read or links go round in a loop.
bool ResolveStatePath(const std::string& path, std::string& target, std::string& error);

// Whether SaveState could replace the file at `path` (or create it, when it does not exist):
// false with a reason naming what cannot be written.
bool CheckStateWritable(const std::string& path, std::string& error);

}  // namespace tarven::sim
