#pragma once
// One run of a front end (the window or one tarvenctl command) against the simulated module, when
// it asked for one: the module's bus and, for a module kept in a state file, the file's lock, load
// and save. The window and tarvenctl both start their run through it, so that the two behave
// alike; they make their link over the bus it gives (or over USB when it gives none).

#include <chrono>
#include <memory>
#include <ostream>
#include <string>

#include "sim/sim_backend.h"

namespace tarven::sim {

struct SessionOptions {
  bool simulate = false;
  // How many simulated modules the bus carries (a bench of them), each with its own state. The
  // state file keeps the first one.
  int modules = 1;
  // How long each report takes on the simulated wire; 0 for no time at all.
  std::chrono::microseconds wire_time{0};
  // A file that keeps the simulated module between runs; empty for a fresh module each run.
  std::string sim_state_path;
  // How long to wait for another process that holds the state file before giving up.
  std::chrono::milliseconds lock_wait{3000};
  // Check at once that the state file can be written at the end (the window, whose run is long).
  bool check_writable = false;
};

class Session {
 public:
  // Starts the run. With a state file: takes its lock (failing with "FILE: in
  // use by another process" when another process holds it past `lock_wait`), loads it, and
  // keeps the lock until the session ends. The lock is the file "TARGET.lock" beside the file
  // that FILE leads to (links followed); it is left in place afterwards. `simulator`, when given,
  // is the simulated module to use (tests inspect it afterwards). Null, with a one-line reason in
  // `error`, on failure; then the state file was not touched (the lock file
  // may have been created).
  static std::unique_ptr<Session> Start(const SessionOptions& options,
                                        std::shared_ptr<SimBackend> simulator, std::string& error);
  // Releases the lock. Does not save: call Finish for that.
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // Writes the simulated module back to its state file when it changed since the load, or when
  // the file did not exist yet. True when there is nothing to save or the save succeeded; false
  // with a one-line reason otherwise.
  bool Finish(std::string& error);

  // The simulated module's bus, or null when the run talks to USB.
  SimBackend* simulator() const;
  std::shared_ptr<SimBackend> simulator_shared() const;

 private:
  Session();
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace tarven::sim
