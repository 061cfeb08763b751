// Ctrl-C, Ctrl-Break and a closed console window as a request to stop, on Windows: the console's
// control handler. The system calls it on a thread of its own; it only asks the named requests.

#include <windows.h>

#include <atomic>
#include <cstdlib>
#include <mutex>

#include "cli/stop_request.h"

namespace tarven::cli {
namespace {

std::atomic<StopRequest*> asked_by_signal[StopOnSignals::kRequests];
std::mutex scopes_mutex;
int uses[StopOnSignals::kRequests] = {};
int scopes = 0;
// A second Ctrl-C (or Ctrl-Break) ends the process as the system does by default.
std::atomic<bool> asked_once{false};

BOOL WINAPI OnConsoleControl(DWORD event) {
  const bool again = asked_once.exchange(true);
  for (auto& request : asked_by_signal) {
    if (StopRequest* stop = request.load()) stop->Ask();
  }
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
      return again ? FALSE : TRUE;
    default:
      // The console window is closing, or the user logs off: the system ends the process a few
      // seconds after this returns, so the handler waits for the block in progress to finish
      // and the program to say how far it got.
      ::Sleep(4000);
      return FALSE;
  }
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
  if (scopes++ == 0) {
    asked_once.store(false);
    ::SetConsoleCtrlHandler(OnConsoleControl, TRUE);
  }
}

StopOnSignals::~StopOnSignals() {
  const std::lock_guard lock(scopes_mutex);
  for (int i = 0; i < kRequests; ++i) {
    if (asked_by_signal[i].load() == &stop_ && --uses[i] == 0) asked_by_signal[i].store(nullptr);
  }
  if (--scopes == 0) ::SetConsoleCtrlHandler(OnConsoleControl, FALSE);
}

}  // namespace tarven::cli
