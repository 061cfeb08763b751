// tarvenctl against the simulated module: what a script sees on its streams and in the exit code.

#include "cli/tarvenctl.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "sim/sim_backend.h"

namespace tarven::testing {
namespace {

struct Result {
  int code;
  std::string out, err;
};

Result Ctl(std::vector<std::string> args, std::shared_ptr<sim::SimBackend> sim = nullptr) {
  std::ostringstream out, err;
  const int code = cli::Run(args, out, err, std::move(sim));
  return {code, out.str(), err.str()};
}

TEST(Tarvenctl, StatusOfEachPersonality) {
  auto sim = std::make_shared<sim::SimBackend>();
  Result r = Ctl({"--simulate", "status"}, sim);
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out,
            "state: application\nfirmware: 4.54\nbootloader: н/д\ncnc: running\next-dac: off\n");

  sim->module().cnc_running = false;
  sim->module().ext_dac = true;
  r = Ctl({"--simulate", "status", "--json"}, sim);
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.out,
            "{\"state\": \"application\", \"firmware\": \"4.54\", \"bootloader\": \"н/д\", "
            "\"cnc\": \"stopped\", \"ext-dac\": \"on\"}\n");

  sim->module().personality = sim::Personality::BootLoader;
  sim->module().boot_version = 0x00010203;
  r = Ctl({"--simulate", "status"}, sim);
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.out,
            "state: bootloader\nfirmware: 4.54\nbootloader: 1.2.3.\ncnc: н/д\next-dac: н/д\n");

  sim->Unplug();
  r = Ctl({"--simulate", "status"}, sim);
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.out, "state: absent\nfirmware: н/д\nbootloader: н/д\ncnc: н/д\next-dac: н/д\n");
  EXPECT_EQ(r.err, "tarvenctl: no module found\n");
}

TEST(Tarvenctl, RunControlCommands) {
  auto sim = std::make_shared<sim::SimBackend>();
  EXPECT_EQ(Ctl({"--simulate", "cnc", "stop"}, sim).code, 0);
  EXPECT_FALSE(sim->module().cnc_running);
  EXPECT_EQ(Ctl({"--simulate", "cnc", "start"}, sim).code, 0);
  EXPECT_TRUE(sim->module().cnc_running);
  EXPECT_EQ(Ctl({"--simulate", "restart"}, sim).code, 0);
  EXPECT_EQ(sim->module().restarts, 1u);

  sim->module().personality = sim::Personality::BootLoader;
  Result r = Ctl({"--simulate", "cnc", "stop"}, sim);
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err, "tarvenctl: cnc stop: the module runs its boot loader\n");

  sim->Unplug();
  r = Ctl({"--simulate", "restart"}, sim);
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err, "tarvenctl: restart: no module found\n");

  sim->Replug();
  sim->module().personality = sim::Personality::Application;
  sim->RefuseNthSend(2);  // identify passes, the stop command is refused
  r = Ctl({"--simulate", "cnc", "stop"}, sim);
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err, "tarvenctl: cnc stop: the module refused the command\n");
}

TEST(Tarvenctl, StateFileCarriesTheModuleFromOneRunToTheNext) {
  const auto path =
      std::filesystem::temp_directory_path() / ("tarvenctl-state-" + std::to_string(::getpid()));
  std::filesystem::remove(path);
  EXPECT_EQ(Ctl({"--simulate", "--sim-state", path.string(), "cnc", "stop"}).code, 0);
  Result r = Ctl({"--sim-state", path.string(), "--simulate", "status"});
  EXPECT_NE(r.out.find("cnc: stopped\n"), std::string::npos) << r.out;

  std::ofstream(path) << "garbage\n";
  r = Ctl({"--simulate", "--sim-state", path.string(), "status"});
  EXPECT_EQ(r.code, 2);
  EXPECT_NE(r.err.find("not a simulator state file"), std::string::npos) << r.err;
  EXPECT_TRUE(r.out.empty());
  std::filesystem::remove(path);
}

TEST(Tarvenctl, UsageErrorsExitWithTwoAndOneLine) {
  const std::vector<std::vector<std::string>> cases = {
      {},
      {"--simulate"},
      {"frobnicate"},
      {"cnc"},
      {"cnc", "pause"},
      {"status", "--colour"},
      {"--sim-state", "x", "status"},
  };
  for (const auto& args : cases) {
    const Result r = Ctl(args);
    std::string joined;
    for (const auto& a : args) joined += a + " ";
    EXPECT_EQ(r.code, 2) << joined;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << joined << ": " << r.err;
    EXPECT_EQ(r.err.rfind("tarvenctl: ", 0), 0u) << joined;
  }
  const Result help = Ctl({"--help"});
  EXPECT_EQ(help.code, 0);
  EXPECT_NE(help.out.find("status"), std::string::npos);
}

TEST(Tarvenctl, TracePrintsEveryReportWithItsDirection) {
  const Result r = Ctl({"--simulate", "--trace", "cnc", "stop"});
  EXPECT_EQ(r.code, 0);
  // Identify out and its answer back, then the stop command.
  const std::string zeros50 = [] {
    std::string s;
    for (int i = 0; i < 50; ++i) s += " 00";
    return s;
  }();
  EXPECT_NE(r.err.find("-> 00 55 01 00 00 00 00 00 00 00 00 00 00 00 00" + zeros50 + "\n"),
            std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("<- 00 03 3b 00"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("-> 00 55 0c 00"), std::string::npos) << r.err;
}

}  // namespace
}  // namespace tarven::testing
