// tarvenctl against the simulated module: what a script sees on its streams and in the exit code.

#include "cli/tarvenctl.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include "cli_fixture.h"
#include "sim/sim_backend.h"

namespace tarven::testing {
namespace {

using Result = CtlResult;

Result Ctl(const std::vector<std::string>& args, std::shared_ptr<sim::SimBackend> sim = nullptr) {
  return RunCtl(args, std::move(sim));
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
            "{\"state\":\"application\",\"firmware\":\"4.54\",\"bootloader\":null,"
            "\"cnc\":\"stopped\",\"ext-dac\":\"on\"}\n");

  sim->module().personality = sim::Personality::BootLoader;
  sim->module().boot_version = 0x00010203;
  r = Ctl({"--simulate", "status"}, sim);
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.out,
            "state: bootloader\nfirmware: 4.54\nbootloader: 1.2.3.\ncnc: н/д\next-dac: н/д\n");
  r = Ctl({"--simulate", "status", "--json"}, sim);
  EXPECT_EQ(r.out,
            "{\"state\":\"bootloader\",\"firmware\":\"4.54\",\"bootloader\":\"1.2.3.\","
            "\"cnc\":null,\"ext-dac\":null}\n");

  sim->Unplug();
  r = Ctl({"--simulate", "status"}, sim);
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.out, "state: absent\nfirmware: н/д\nbootloader: н/д\ncnc: н/д\next-dac: н/д\n");
  // Nothing there: what to try is said on the same line.
  EXPECT_EQ(r.err,
            "tarvenctl: status: no module found; check the module's USB cable and power ('lsusb "
            "-d 03eb:6202' lists the module when the system sees it)\n");
  r = Ctl({"--simulate", "status", "--json"}, sim);
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.out,
            "{\"state\":\"absent\",\"firmware\":null,\"bootloader\":null,\"cnc\":null,"
            "\"ext-dac\":null}\n");
}

// A status exchange that breaks off is a failure: what was not read shows as н/д, never as a
// value a script could take for the module's ("cnc: stopped" while the CNC runs).
TEST(Tarvenctl, StatusWhoseAnswerIsLostSaysSoAndFails) {
  const struct {
    const char* name;
    std::function<void(sim::SimBackend&)> arm;
    const char* out;
    const char* err;
  } cases[] = {
      {"status fetch refused", [](auto& s) { s.RefuseNthFetch(2); },
       "state: application\nfirmware: н/д\nbootloader: н/д\ncnc: н/д\next-dac: н/д\n",
       "tarvenctl: status: the module did not answer (report 4, fetch)\n"},
      {"status send refused", [](auto& s) { s.RefuseNthSend(2); },
       "state: application\nfirmware: н/д\nbootloader: н/д\ncnc: н/д\next-dac: н/д\n",
       "tarvenctl: status: the module did not answer (report 3, send)\n"},
      {"boot loader's firmware word lost",
       [](auto& s) {
         s.module().personality = sim::Personality::BootLoader;
         s.RefuseNthFetch(4);  // identify twice, boot version, then the firmware version
       },
       "state: bootloader\nfirmware: н/д\nbootloader: 1.0.2.\ncnc: н/д\next-dac: н/д\n",
       "tarvenctl: status: the module did not answer (report 8, fetch)\n"},
      {"device with the module's ids that does not identify", [](auto& s) { s.SetSilent(true); },
       "state: absent\nfirmware: н/д\nbootloader: н/д\ncnc: н/д\next-dac: н/д\n",
       "tarvenctl: status: a device with the module's USB ids (03eb:6202) does not answer the "
       "identify command\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto sim = std::make_shared<sim::SimBackend>();
    sim->module().cnc_running = true;
    c.arm(*sim);
    const Result r = Ctl({"--simulate", "status"}, sim);
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.err, c.err);
  }
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
  EXPECT_EQ(r.err.rfind("tarvenctl: restart: no module found; check the module's USB cable", 0), 0u)
      << r.err;

  sim->Replug();
  sim->module().personality = sim::Personality::Application;
  sim->RefuseNthSend(2);  // identify passes, the stop command is refused
  r = Ctl({"--simulate", "cnc", "stop"}, sim);
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err, "tarvenctl: cnc stop: the module did not answer (report 3, send)\n");
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
  EXPECT_EQ(r.code, 1) << "a damaged state file is a failure, not a usage error";
  EXPECT_NE(r.err.find("not a simulator state file"), std::string::npos) << r.err;
  EXPECT_TRUE(r.out.empty());
  std::filesystem::remove(path);
}

TEST(Tarvenctl, UsageErrorsNameTheBadWordInOneLine) {
  const std::string long_word(300, 'x');
  const struct {
    std::vector<std::string> args;
    const char* err;  // null: any one line
  } cases[] = {
      {{}, "tarvenctl: no command given (try --help)\n"},
      {{"--simulate"}, "tarvenctl: no command given (try --help)\n"},
      {{"bogus"}, "tarvenctl: unknown command 'bogus' (try --help)\n"},
      {{"cnc"}, "tarvenctl: 'cnc' needs a command (try --help)\n"},
      {{"cnc", "pause"}, "tarvenctl: unknown command 'pause' for 'cnc' (try --help)\n"},
      {{"status", "--colour"}, "tarvenctl: unknown option '--colour' for 'status' (try --help)\n"},
      {{"--sim-state", "x", "status"}, "tarvenctl: --sim-state needs --simulate\n"},
      {{long_word},
       "tarvenctl: unknown command 'xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx…' (try --help)\n"},
  };
  for (const auto& c : cases) {
    const Result r = Ctl(c.args);
    std::string joined;
    for (const auto& a : c.args) joined += a.substr(0, 20) + " ";
    EXPECT_EQ(r.code, 2) << joined;
    EXPECT_EQ(r.err, c.err) << joined;
    EXPECT_TRUE(r.out.empty()) << joined;
  }
  const Result help = Ctl({"--help"});
  EXPECT_EQ(help.code, 0);
  // Every command is listed.
  for (const char* command : {"status", "cnc", "restart", "devices", "config", "params", "image",
                              "modbus", "ports", "io", "reg", "dac", "update", "backup", "restore",
                              "diff"}) {
    EXPECT_NE(help.out.find("\n  " + std::string(command) + " "), std::string::npos) << command;
  }
}

TEST(Tarvenctl, ShortenCutsLongTextByCharacters) {
  EXPECT_EQ(cli::Shorten("short"), "short");
  EXPECT_EQ(cli::Shorten(std::string(40, 'a')), std::string(40, 'a'));
  EXPECT_EQ(cli::Shorten(std::string(41, 'a')), std::string(39, 'a') + "…");
  // Cyrillic letters take two bytes each; the cut falls between letters.
  std::string cyrillic;
  for (int i = 0; i < 50; ++i) cyrillic += "ж";
  std::string expected;
  for (int i = 0; i < 9; ++i) expected += "ж";
  EXPECT_EQ(cli::Shorten(cyrillic, 10), expected + "…");
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
