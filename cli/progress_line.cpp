#include "cli/progress_line.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <iostream>

#include "platform/console.h"

namespace tarven::cli {
namespace {

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

ProgressLine::ProgressLine(std::ostream& err, bool terminal, std::string label,
                           const StopRequest* stop, ProgressBoard* board, Clock clock)
    : err_(err),
      terminal_(terminal),
      label_(std::move(label)),
      stop_(stop),
      board_(board),
      clock_(clock ? std::move(clock) : Clock(SteadySeconds)) {}

bool ProgressLine::operator()(std::uint64_t done, std::uint64_t total) {
  const double now = clock_();
  if (start_ < 0) start_ = now;
  if (board_ != nullptr) {
    board_->Show(Format(label_, done, total, now - start_));
    return stop_ == nullptr || !stop_->requested();
  }
  // A terminal redraw ten times a second is plenty; the first and the last always show.
  if (terminal_ && (last_draw_ < 0 || now - last_draw_ >= 0.1 || done == total)) {
    err_ << '\r' << Format(label_, done, total, now - start_) << "\x1b[K" << std::flush;
    last_draw_ = now;
    drawn_ = true;
  }
  return stop_ == nullptr || !stop_->requested();
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
  return &stream == &std::cerr && platform::IsTerminal(platform::StandardStream::Error);
}

}  // namespace tarven::cli
