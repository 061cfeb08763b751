#pragma once
// The progress of a long transfer on a terminal.

#include <cstdint>
#include <functional>
#include <ostream>
#include <string>
#include <string_view>

#include "cli/stop_request.h"

namespace tarven::cli {

// Where the progress of a command's transfers goes instead of a line of their own: a run over
// several modules shows one line per module, each module on its own thread.
class ProgressBoard {
 public:
  virtual ~ProgressBoard() = default;
  // The line the transfer would draw ("update  45%  12.0 KiB/s  1 s left").
  virtual void Show(const std::string& line) = 0;
};

class ProgressLine {
 public:
  using Clock = std::function<double()>;  // seconds, from any fixed point

  // Draws on `err` only when `terminal` is true (a script's log gets no carriage returns), or on
  // `board` when there is one. Answers false once `stop` (when given) is asked.
  ProgressLine(std::ostream& err, bool terminal, std::string label,
               const StopRequest* stop = nullptr, ProgressBoard* board = nullptr, Clock clock = {});

  // A progress callback for device operations: redraws the line now and then, and answers false
  // once a stop was asked (Ctrl-C).
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
  const StopRequest* stop_;
  ProgressBoard* board_;
  Clock clock_;
  double start_ = -1;
  double last_draw_ = -1;
  bool drawn_ = false;
};

// True when the stream is standard error and standard error is a terminal.
bool IsTerminal(const std::ostream& stream);

}  // namespace tarven::cli
