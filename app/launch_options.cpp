#include "app/launch_options.h"

namespace tarven::app {

bool ParseLaunchOptions(const std::vector<std::string>& args, LaunchOptions& options,
                        std::string& error) {
  options = LaunchOptions{};
  bool state_given = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--simulate") {
      options.simulate = true;
    } else if (args[i] == "--trace") {
      options.trace = true;
    } else if (args[i] == "--sim-state") {
      if (i + 1 == args.size() || args[i + 1].empty()) {
        error = "--sim-state needs a file name";
        return false;
      }
      options.sim_state_path = args[++i];
      state_given = true;
    } else if (args[i] == "--firmware") {
      if (i + 1 == args.size() || args[i + 1].empty()) {
        error = "--firmware needs a file name";
        return false;
      }
      options.firmware_file = args[++i];
    }
  }
  if (state_given && !options.simulate) {
    error = "--sim-state is only meaningful with --simulate";
    return false;
  }
  return true;
}

}  // namespace tarven::app
