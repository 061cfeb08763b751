#pragma once
// The progress of a long transfer on a terminal, and Ctrl-C (or a polite kill) that stops it
// between blocks.

#include <csignal>
#include <cstdint>
#include <functional>
#include <ostream>
#include <string>
#include <string_view>

namespace tarven::cli {

// While one lives, the first Ctrl-C (SIGINT), SIGTERM (kill, a service manager's stop) or SIGHUP
// (a closed terminal or ssh session) does not end the process: it asks the transfer to stop at the
// next block boundary, so that the module is never left inside a block. A second one of the same
// signal ends the process as usual. SIGTERM or SIGHUP that the process was started with ignored
// (nohup) stays ignored. They nest, across threads too: while an outer one
// lives, an inner one sees the same request. Any thread may ask requested() at any time.
class InterruptRequest {
 public:
  InterruptRequest();
  ~InterruptRequest();
  InterruptRequest(const InterruptRequest&) = delete;
  InterruptRequest& operator=(const InterruptRequest&) = delete;

  bool requested() const;

  // The signals taken over: SIGINT, SIGTERM, SIGHUP.
  static constexpr int kSignalCount = 3;

 private:
  struct sigaction previous_[kSignalCount] {};
};

// Where the progress of the transfers on one thread goes instead of a line of their own: a run
// over several modules shows one line per module, each module on its own thread.
class ProgressBoard {
 public:
  virtual ~ProgressBoard() = default;
  // The line this thread's transfer would draw ("update  45%  12.0 KiB/s  1 s left").
  virtual void Show(const std::string& line) = 0;
};

// Sends the progress of the calling thread's transfers to `board` (null: to their own lines).
void SetThreadProgressBoard(ProgressBoard* board);

class ProgressLine {
 public:
  using Clock = std::function<double()>;  // seconds, from any fixed point

  // Draws on `err` only when `terminal` is true (a script's log gets no carriage returns).
  ProgressLine(std::ostream& err, bool terminal, std::string label,
               const InterruptRequest* interrupt = nullptr, Clock clock = {});

  // A progress callback for device operations: redraws the line now and then, and answers false
  // once Ctrl-C was pressed.
  bool operator()(std::uint64_t done, std::uint64_t total);
  // Ends the line, so that what follows starts on a line of its own.
  void Finish();

  // "read rom  45%  12.0 KiB/s  1 s left"; rate and time once something moved.
  static std::string Format(std::string_view label, std::uint64_t done, std::uint64_t total,
                            double seconds);

 private:
  std::ostream& err_;
  bool terminal_;
  std::string label_;
  const InterruptRequest* interrupt_;
  Clock clock_;
  double start_ = -1;
  double last_draw_ = -1;
  bool drawn_ = false;
};

// True when the stream is standard error and standard error is a terminal.
bool IsTerminal(const std::ostream& stream);

}  // namespace tarven::cli
