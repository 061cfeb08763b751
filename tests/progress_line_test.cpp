// The progress line of long transfers and the Ctrl-C that stops them between blocks.

#include "cli/progress_line.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <sstream>

namespace tarven::testing {
namespace {

using cli::ProgressLine;

TEST(ProgressLine, FormatsPercentageRateAndTimeLeft) {
  const struct {
    std::uint64_t done, total;
    double seconds;
    const char* line;
  } cases[] = {
      {0, 16384, 0.0, "write rom   0%"},
      {4096, 16384, 0.5, "write rom  25%  8.0 KiB/s  2 s left"},
      {16383, 16384, 2.0, "write rom  99%  8.0 KiB/s  1 s left"},
      {16384, 16384, 2.0, "write rom 100%  8.0 KiB/s  2.0 s"},
      {206728, 206728, 0.1, "write rom 100%  2.0 MiB/s  0.1 s"},
      {100, 1000, 1.0, "write rom  10%  100 B/s  9 s left"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ProgressLine::Format("write rom", c.done, c.total, c.seconds), c.line);
  }
}

TEST(ProgressLine, DrawsOnlyOnATerminalAndAtMostTenTimesASecond) {
  double now = 0;
  std::ostringstream terminal, log;
  ProgressLine drawn(terminal, true, "read", nullptr, nullptr, [&] { return now; });
  ProgressLine quiet(log, false, "read", nullptr, nullptr, [&] { return now; });
  for (std::uint64_t done = 0; done <= 8192; done += 2048, now += 0.05) {
    EXPECT_TRUE(drawn(done, 8192));
    EXPECT_TRUE(quiet(done, 8192));
  }
  drawn.Finish();
  quiet.Finish();
  EXPECT_TRUE(log.str().empty());
  const std::string text = terminal.str();
  // At 0.00 s (0), 0.10 s (4096) and the last one (8192); 0.05 and 0.15 s fall in between.
  EXPECT_EQ(std::count(text.begin(), text.end(), '\r'), 3) << text;
  EXPECT_NE(text.find("read 100%"), std::string::npos) << text;
  EXPECT_EQ(text.back(), '\n');
}

// Ctrl-C, a kill's SIGTERM and a hang-up's SIGHUP all ask to stop; without the request in place
// each of them would end the test program.
TEST(ProgressLine, CtrlCTermAndHangUpAskToStopInsteadOfEndingTheProcess) {
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
    SCOPED_TRACE(signal);
    std::ostringstream err;
    {
      cli::StopRequest stop;
      const cli::StopOnSignals signals(stop);
      ProgressLine line(err, false, "write", &stop);
      EXPECT_TRUE(line(0, 100));
      std::raise(signal);
      EXPECT_TRUE(stop.requested());
      EXPECT_FALSE(line(50, 100));
    }
    // Outside the scope the previous disposition is back; a new request starts clear.
    cli::StopRequest again;
    const cli::StopOnSignals signals(again);
    EXPECT_FALSE(again.requested());
  }
}

// A program started under nohup keeps ignoring the hang-up, during a transfer and after it.
TEST(ProgressLine, AnIgnoredHangUpStaysIgnored) {
  struct sigaction ignore {};
  struct sigaction before {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  ASSERT_EQ(sigaction(SIGHUP, &ignore, &before), 0);
  {
    cli::StopRequest stop;
    const cli::StopOnSignals signals(stop);
    std::raise(SIGHUP);
    EXPECT_FALSE(stop.requested());
  }
  struct sigaction after {};
  sigaction(SIGHUP, &before, &after);
  EXPECT_EQ(after.sa_handler, SIG_IGN);
}

}  // namespace
}  // namespace tarven::testing
