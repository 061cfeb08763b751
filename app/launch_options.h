#pragma once
// The command-line options that the entry point acts on before the window exists. The window
// itself looks only at the first argument ("-f"); everything here may stand anywhere.

#include <string>
#include <vector>

namespace tarven::app {

struct LaunchOptions {
  // Talk to the simulated module instead of USB.
  bool simulate = false;
  // Where the simulated module keeps its state between runs; empty for a fresh module each run.
  std::string sim_state_path;
  // Print every feature report in hex with its direction on standard error.
  bool trace = false;
  // The firmware image "Обновить" sends instead of the one the tool carries; empty when not given.
  std::string firmware_file;
};

// `args` are the arguments after the program name. Options this function does not know are left
// to the window and the toolkit. False, with a one-line reason in `error`, for a misused option.
bool ParseLaunchOptions(const std::vector<std::string>& args, LaunchOptions& options,
                        std::string& error);

}  // namespace tarven::app
