#pragma once
// The command line of the window, read before the window exists and before anything opens a
// module: a misspelt option stops the program instead of being passed over (a misspelt
// --simulate would otherwise talk to a real module). The window itself looks only at the first
// argument ("-f"); the other options may stand anywhere.

#include <string>
#include <vector>

namespace tarven::app {

struct LaunchOptions {
  // Talk to the simulated module instead of USB.
  bool simulate = false;
  // How many simulated modules the bench has (--simulate=N, 1 to 64).
  int simulated_modules = 1;
  // Where the simulated module keeps its state between runs; empty for a fresh module each run.
  std::string sim_state_path;
  // Print every feature report in hex with its direction on standard error.
  bool trace = false;
  // The firmware image "Обновить" sends instead of the one the tool carries; empty when not given.
  std::string firmware_file;
  // The module to talk to when several are plugged in (hidraw path, USB location or serial
  // number); empty for the first one found.
  std::string device;
  // The journal the window records its changes in instead of the user's; empty for the user's.
  std::string journal_file;
  // Record no change at all.
  bool no_journal = false;
  // --help or --version was asked for: print it and end without a window.
  bool show_help = false;
  bool show_version = false;
};

// `args` are the arguments after the program name. Besides its own options it accepts the
// toolkit's (-platform NAME, -style NAME, ...), which the toolkit takes later, words that are not
// options and words with one dash that name no option ("-F", "-fx"): the window ignores them all
// (only a first "-f" shows its two hidden tabs). False, with a one-line reason that names the
// option in `error`, for an unknown option with two dashes or a misused option.
bool ParseLaunchOptions(const std::vector<std::string>& args, LaunchOptions& options,
                        std::string& error);

// What --help prints.
std::string LaunchHelpText();

}  // namespace tarven::app
