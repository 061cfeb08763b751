#pragma once
// One command on every module plugged in, at once: each module on a thread of its own with a
// link of its own, its output kept apart and shown as one block, then a summary line per module.

#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "cli/context.h"
#include "device/device.h"

namespace tarven::cli {

struct AllModules {
  // The command and its words, as given ("image", "read", "rom", "rom-{serial}.bin"). In every
  // word "{serial}", "{location}" and "{n}" (the module's place in the list, from 1) are replaced
  // by the module's own before the words are parsed for it.
  std::vector<std::string> command;
  // How each module's link is made (its trace goes into the module's own block).
  device::LinkOptions link_options;
  bool simulated = false;
  bool trace = false;
  bool json = false;
  // Asked once for all modules, when the command asks at all; null when there is nobody to ask.
  Confirm confirm;
  // Parses one module's words into its action; the exit status when they do not parse.
  std::function<std::optional<int>(const std::vector<std::string>& words, std::ostream& out,
                                   std::ostream& err, Action& action)>
      parse;
};

// The commands a run over all modules serves: "status", "backup", "config show", "image write", ...
bool ServesAllModules(const std::vector<std::string>& command);

// Runs the command on every module that answers as its application (a boot loader is listed as
// such and left alone) and gives 0 only when it succeeded on every one, or the highest status
// of any. One module's failure does not stop another's; Ctrl-C stops each at its next safe point.
int RunOnAllModules(const AllModules& run, std::ostream& out, std::ostream& err);

}  // namespace tarven::cli
