#include "cli/progress_line.h"

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <iostream>
#include <mutex>

namespace tarven::cli {
namespace {

// Written by the signal handler and read by every module's thread of a run over several modules:
// an atomic, so that the threads see the request without a data race, and lock-free, so that the
// handler may store it.
std::atomic<bool> interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free);
constexpr int kSignals[InterruptRequest::kSignalCount] = {SIGINT, SIGTERM, SIGHUP};
// The requests alive, from every thread: only the outermost installs and restores the handler,
// so that the threads of a run over several modules all see one Ctrl-C.
std::mutex nesting_mutex;
int nesting = 0;

thread_local ProgressBoard* thread_board = nullptr;

extern "C" void OnInterrupt(int) {
  interrupted.store(true);
}

double SteadySeconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

std::string Fixed(double value, int decimals) {
  char text[32];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

std::string Rate(double bytes_per_second) {
  if (bytes_per_second >= 1024.0 * 1024.0) {
    return Fixed(bytes_per_second / (1024.0 * 1024.0), 1) + " MiB/s";
  }
  if (bytes_per_second >= 1024.0) return Fixed(bytes_per_second / 1024.0, 1) + " KiB/s";
  return Fixed(bytes_per_second, 0) + " B/s";
}

}  // namespace

InterruptRequest::InterruptRequest() {
  const std::lock_guard lock(nesting_mutex);
  if (nesting++ > 0) return;  // an outer one (a run over several modules) holds Ctrl-C already
  interrupted.store(false);
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  // Restart interrupted transfers, and fall back to the default after the first signal.
  action.sa_flags = static_cast<int>(static_cast<unsigned>(SA_RESTART) | SA_RESETHAND);
  for (int i = 0; i < kSignalCount; ++i) {
    sigaction(kSignals[i], nullptr, &previous_[i]);
    // A hang-up or a kill ignored when we came (nohup) stays ignored: whoever started us asked for
    // that. Ctrl-C is taken whatever it was, as a shell starts background jobs with it ignored
    // and a script stops such a job with kill -INT.
    if (kSignals[i] == SIGINT || previous_[i].sa_handler != SIG_IGN) {
      sigaction(kSignals[i], &action, nullptr);
    }
  }
}

InterruptRequest::~InterruptRequest() {
  const std::lock_guard lock(nesting_mutex);
  if (--nesting > 0) return;
  for (int i = 0; i < kSignalCount; ++i) sigaction(kSignals[i], &previous_[i], nullptr);
  interrupted.store(false);
}

bool InterruptRequest::requested() const {
  return interrupted.load();
}

ProgressLine::ProgressLine(std::ostream& err, bool terminal, std::string label,
                           const InterruptRequest* interrupt, Clock clock)
    : err_(err),
      terminal_(terminal),
      label_(std::move(label)),
      interrupt_(interrupt),
      clock_(clock ? std::move(clock) : Clock(SteadySeconds)) {}

void SetThreadProgressBoard(ProgressBoard* board) {
  thread_board = board;
}

bool ProgressLine::operator()(std::uint64_t done, std::uint64_t total) {
  const double now = clock_();
  if (start_ < 0) start_ = now;
  if (thread_board != nullptr) {
    thread_board->Show(Format(label_, done, total, now - start_));
    return interrupt_ == nullptr || !interrupt_->requested();
  }
  // A terminal redraw ten times a second is plenty; the first and the last always show.
  if (terminal_ && (last_draw_ < 0 || now - last_draw_ >= 0.1 || done == total)) {
    err_ << '\r' << Format(label_, done, total, now - start_) << "\x1b[K" << std::flush;
    last_draw_ = now;
    drawn_ = true;
  }
  return interrupt_ == nullptr || !interrupt_->requested();
}

void ProgressLine::Finish() {
  if (drawn_) err_ << '\n' << std::flush;
  drawn_ = false;
}

std::string ProgressLine::Format(std::string_view label, std::uint64_t done, std::uint64_t total,
                                 double seconds) {
  const double fraction = total == 0 ? 1.0 : static_cast<double>(done) / static_cast<double>(total);
  std::string percent = std::to_string(static_cast<int>(std::floor(fraction * 100.0))) + "%";
  percent.insert(0, 4 - std::min<std::size_t>(4, percent.size()), ' ');
  std::string line = std::string(label) + " " + percent;
  if (done == 0 || seconds <= 0) return line;
  const double rate = static_cast<double>(done) / seconds;
  line += "  " + Rate(rate);
  if (done < total) {
    const double left = static_cast<double>(total - done) / rate;
    line += "  " + Fixed(std::ceil(left), 0) + " s left";
  } else {
    line += "  " + Fixed(seconds, 1) + " s";
  }
  return line;
}

bool IsTerminal(const std::ostream& stream) {
  return &stream == &std::cerr && ::isatty(STDERR_FILENO) == 1;
}

}  // namespace tarven::cli
