#pragma once
// Stopping a long command at its next safe point: between blocks of a transfer, between polls.

#include <atomic>

namespace tarven::cli {

// One per run, carried in the command's context: every module's thread of a run over several
// modules reads the same one, so it is atomic, and lock-free so that a signal handler may ask it.
class StopRequest {
 public:
  bool requested() const { return asked_.load(); }
  void Ask() { asked_.store(true); }

 private:
  std::atomic<bool> asked_{false};
  static_assert(std::atomic<bool>::is_always_lock_free);
};

// While one lives, the first Ctrl-C (SIGINT), SIGTERM (kill, a service manager's stop) or SIGHUP
// (a closed terminal or ssh session) does not end the process: it asks `stop`, so that the module
// is never left inside a block. A second one of the same signal ends the process as usual.
// SIGTERM or SIGHUP that the process was started with ignored (nohup) stays ignored. They nest,
// across threads too: a signal asks every request that one of them names, and only the outermost
// takes the signals over and gives them back.
class StopOnSignals {
 public:
  explicit StopOnSignals(StopRequest& stop);
  ~StopOnSignals();
  StopOnSignals(const StopOnSignals&) = delete;
  StopOnSignals& operator=(const StopOnSignals&) = delete;

  // How many different requests may be named at once (a run names one; a test may name another).
  static constexpr int kRequests = 8;

 private:
  StopRequest& stop_;
};

}  // namespace tarven::cli
