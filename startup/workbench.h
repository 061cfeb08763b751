#pragma once
// The one start-up of both programs: what a run talks to (the platform's USB, or a bench of
// simulated modules with its state file), how its links are made (trace, module locks, how long a
// search waits for a module in use), and the end of the run, which saves a simulated module that
// changed. The window and tarvenctl start through it alike; neither knows the simulator's session.

#include <chrono>
#include <memory>
#include <ostream>
#include <string>

#include "comport/comport.h"
#include "device/device.h"

namespace tarven::sim {
class SimBackend;
}

namespace tarven::startup {

struct WorkbenchOptions {
  // Simulated modules on the bench; 0 for the platform's USB.
  int simulated_modules = 0;
  // How long each report takes on the simulated wire.
  std::chrono::microseconds wire_time{0};
  // A file that keeps the (first) simulated module between runs; empty for a fresh one.
  std::string sim_state_path;
  // Check at once that the state file can be written at the end (the window, whose run is long).
  bool check_state_writable = false;
  // The name other programs are told when they find a module this run holds ("tarvenctl").
  std::string program;
  // How long a search waits for a module that another program holds.
  std::chrono::milliseconds lock_wait{0};
  // Every feature report in hex with its direction, when set.
  std::ostream* trace = nullptr;
};

class Workbench {
 public:
  // Starts the run. `simulator`, when given, is the simulated bench to use (tests inspect it).
  // Null, with a one-line reason in `error`, when the state file is in use, damaged or unreadable.
  static std::unique_ptr<Workbench> Open(const WorkbenchOptions& options, std::string& error,
                                         std::shared_ptr<sim::SimBackend> simulator = nullptr);
  ~Workbench();
  Workbench(const Workbench&) = delete;
  Workbench& operator=(const Workbench&) = delete;

  bool simulated() const;
  // How this run's links are made: one per module for a run over all of them.
  const device::LinkOptions& link_options() const;
  // A link to the module. With a selector (a hidraw path, a USB location or a serial number) it
  // is held to the device that names; null, with why and what is there in `error` (lines, each
  // ending in a newline), when there is none such.
  std::unique_ptr<device::Link> MakeLink(std::string& error,
                                         const std::string& selector = {}) const;

  // The serial ports a run offers: the system's (an empty source), and on a simulated bench also a simulated Modbus
  // slave on a pseudo-terminal, started when the ports are first listed (a failure to start it
  // is told once on `err`, after `program`'s name; the list then has no such port).
  comport::PortSource SerialPorts(std::ostream& err, const std::string& program) const;

  // Ends the run: saves a simulated module that changed to its state file. True when there was
  // nothing to save or it was saved; false with a one-line reason otherwise.
  bool Finish(std::string& error);

 private:
  Workbench();
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace tarven::startup
