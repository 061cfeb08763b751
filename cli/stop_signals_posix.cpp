// Ctrl-C, SIGTERM and SIGHUP as a request to stop, on POSIX systems.

#include <csignal>
#include <cstdlib>
#include <mutex>

#include "cli/stop_request.h"

namespace tarven::cli {
namespace {

constexpr int kSignalCount = 3;
constexpr int kSignals[kSignalCount] = {SIGINT, SIGTERM, SIGHUP};

// The requests that a signal asks. The handler only reads these atomic pointers; everything else
// is changed under the mutex, by the scopes that name the requests.
std::atomic<StopRequest*> asked_by_signal[StopOnSignals::kRequests];
std::mutex scopes_mutex;
int uses[StopOnSignals::kRequests] = {};
int scopes = 0;
struct sigaction previous[kSignalCount];

extern "C" void OnStopSignal(int) {
  for (auto& request : asked_by_signal) {
    if (StopRequest* stop = request.load()) stop->Ask();
  }
}

void TakeSignals() {
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  // Restart interrupted transfers, and fall back to the default after the first signal.
  action.sa_flags = static_cast<int>(static_cast<unsigned>(SA_RESTART) | SA_RESETHAND);
  for (int i = 0; i < kSignalCount; ++i) {
    sigaction(kSignals[i], nullptr, &previous[i]);
    // A hang-up or a kill ignored when we came (nohup) stays ignored: whoever started us asked for
    // that. Ctrl-C is taken whatever it was, as a shell starts background jobs with it ignored
    // and a script stops such a job with kill -INT.
    if (kSignals[i] == SIGINT || previous[i].sa_handler != SIG_IGN) {
      sigaction(kSignals[i], &action, nullptr);
    }
  }
}

void GiveSignalsBack() {
  for (int i = 0; i < kSignalCount; ++i) sigaction(kSignals[i], &previous[i], nullptr);
}

}  // namespace

StopOnSignals::StopOnSignals(StopRequest& stop) : stop_(stop) {
  const std::lock_guard lock(scopes_mutex);
  int free = -1;
  int slot = -1;
  for (int i = 0; i < kRequests; ++i) {
    if (asked_by_signal[i].load() == &stop) slot = i;
    if (free < 0 && uses[i] == 0) free = i;
  }
  if (slot < 0) {
    // More different requests at once than a run and its tests ever name.
    if (free < 0) std::abort();
    slot = free;
    asked_by_signal[slot].store(&stop);
  }
  ++uses[slot];
  if (scopes++ == 0) TakeSignals();
}

StopOnSignals::~StopOnSignals() {
  const std::lock_guard lock(scopes_mutex);
  for (int i = 0; i < kRequests; ++i) {
    if (asked_by_signal[i].load() == &stop_ && --uses[i] == 0) asked_by_signal[i].store(nullptr);
  }
  if (--scopes == 0) GiveSignalsBack();
}

}  // namespace tarven::cli
