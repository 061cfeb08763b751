// The options the entry point reads before the window exists.

#include "app/launch_options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tarven::app {
namespace {

TEST(LaunchOptions, ReadsSimulatorOptionsAnywhereAndRefusesMisuse) {
  const struct {
    std::vector<std::string> args;
    bool ok;
    bool simulate;
    std::string state;
    bool trace = false;
  } cases[] = {
      {{}, true, false, ""},
      {{"-f"}, true, false, ""},
      {{"-f", "--simulate"}, true, true, ""},
      {{"--simulate", "--sim-state", "module.state", "-f"}, true, true, "module.state"},
      {{"--sim-state", "module.state", "--simulate"}, true, true, "module.state"},
      {{"-f", "--trace"}, true, false, "", true},
      {{"--simulate", "--trace", "--sim-state", "--trace"}, true, true, "--trace", true},
      {{"--sim-state", "module.state"}, false, false, ""},
      {{"--simulate", "--sim-state"}, false, false, ""},
      {{"--simulate", "--sim-state", ""}, false, false, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    LaunchOptions options;
    std::string error;
    ASSERT_EQ(ParseLaunchOptions(c.args, options, error), c.ok);
    if (c.ok) {
      EXPECT_EQ(options.simulate, c.simulate);
      EXPECT_EQ(options.sim_state_path, c.state);
      EXPECT_EQ(options.trace, c.trace);
    } else {
      EXPECT_FALSE(error.empty());
      EXPECT_EQ(error.find('\n'), std::string::npos);
    }
  }
}

}  // namespace
}  // namespace tarven::app
