#pragma once
// tarvenctl: the module's command-line front end, for scripts and production lines.

#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "cli/context.h"

namespace tarven::sim {
class SimBackend;
}

namespace tarven::cli {

// Runs one tarvenctl command line (args without the program name). With --simulate it talks to
// `simulator` when one is given (tests inspect it afterwards), or to a fresh simulated module.
// Questions before writes go to `confirm`; without one they are asked on the terminal when
// standard input and standard error are one. With nobody to ask, a write needs its --yes. The
// serial ports are listed from `serial_ports`, or from the system without one.
int Run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
        std::shared_ptr<sim::SimBackend> simulator = nullptr, Confirm confirm = {},
        comport::PortSource serial_ports = {});

}  // namespace tarven::cli
