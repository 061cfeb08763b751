#pragma once
// One tarvenctl command line run in the test's process: what a script would see on its streams
// and in the exit status.

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "cli/tarvenctl.h"
#include "sim/sim_backend.h"

namespace tarven::testing {

struct CtlResult {
  int code;
  std::string out, err;
};

inline CtlResult RunCtl(const std::vector<std::string>& args,
                        std::shared_ptr<sim::SimBackend> simulator = nullptr,
                        cli::Confirm confirm = {}, comport::PortSource serial_ports = {}) {
  std::ostringstream out, err;
  const int code =
      cli::Run(args, out, err, std::move(simulator), std::move(confirm), std::move(serial_ports));
  return {code, out.str(), err.str()};
}

}  // namespace tarven::testing
