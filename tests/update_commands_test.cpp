// tarvenctl update against the simulated module: what a script sees on its streams and in the
// exit status, for the whole update and for each place where it can stop.

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "cli/tarvenctl.h"
#include "cli_fixture.h"
#include "firmware/carried_image.h"
#include "firmware/firmware_image.h"
#include "sim/sim_backend.h"
#include "status_losing_bus.h"

namespace tarven::testing {
namespace {

namespace fs = std::filesystem;

using Result = CtlResult;

// An update asks first, as every write does; these runs answer yes.
Result Ctl(const std::vector<std::string>& args, std::shared_ptr<sim::SimBackend> sim = nullptr) {
  return RunCtl(args, std::move(sim), [](std::string_view) { return true; });
}

std::string TempFile(const std::string& name, const std::vector<std::uint8_t>& bytes) {
  const fs::path path =
      fs::temp_directory_path() / ("tarven-update-" + std::to_string(::getpid()) + "-" + name);
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
  return path.string();
}

TEST(UpdateCommand, SimulatedModuleTakesTheStandInAndComesBack) {
  auto sim = std::make_shared<sim::SimBackend>();
  const Result r = Ctl({"--simulate", "update"}, sim);
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out, "sent: 206728 bytes\nstate: application\nfirmware: 4.54\n");
  EXPECT_EQ(r.err, "") << "no progress line when standard error is not a terminal";
  EXPECT_EQ(sim->module().received_image, firmware::SyntheticImage().bytes);
  EXPECT_EQ(sim->module().images_received, 1u);
}

// The update asks before anything goes to the module; with nobody to ask (no terminal) it needs
// --yes, and --yes does not ask.
TEST(UpdateCommand, AsksFirstAndWithoutATerminalNeedsYes) {
  const struct {
    const char* name;
    std::vector<std::string> args;
    std::optional<bool> answer;  // none: nobody to ask
    int code;
    const char* err;
    std::vector<std::string> asked;
  } cases[] = {
      {"no terminal, no --yes", {"--simulate", "update"}, std::nullopt, 2,
       "tarvenctl: update: no terminal to ask on; give --yes to write without asking; nothing was "
       "written\n", {}},
      {"answered no", {"--simulate", "update"}, false, 1,
       "tarvenctl: update: not confirmed; nothing was written\n", {"Обновить прошивку Тарвен?"}},
      {"answered yes", {"--simulate", "update"}, true, 0, "", {"Обновить прошивку Тарвен?"}},
      {"--yes", {"--simulate", "update", "--yes"}, std::nullopt, 0, "", {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto sim = std::make_shared<sim::SimBackend>();
    sim->StartRecording();
    std::vector<std::string> asked;
    cli::Confirm confirm;
    if (c.answer) {
      confirm = [&asked, answer = *c.answer](std::string_view question) {
        asked.emplace_back(question);
        return answer;
      };
    }
    const Result r = RunCtl(c.args, sim, confirm);
    EXPECT_EQ(r.code, c.code);
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(asked, c.asked);
    EXPECT_EQ(sim->module().images_received, c.code == 0 ? 1u : 0u);
    if (c.code != 0) {
      EXPECT_TRUE(sim->log().empty()) << "nothing went on the wire";
    }
  }
}

// An answer lost after the transfer is no confirmation: the status is asked again until the
// returned application tells its firmware version.
TEST(UpdateCommand, LostAnswerAfterTheTransferIsAskedAgain) {
  auto sim = std::make_shared<StatusLosingBus>(1);
  const Result r = Ctl({"--simulate", "update"}, sim);
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out, "sent: 206728 bytes\nstate: application\nfirmware: 4.54\n");
  EXPECT_EQ(sim->lost(), 1u);
  EXPECT_EQ(sim->module().images_received, 1u);
}

TEST(UpdateCommand, NamedFileGoesByteForByteFromEitherPersonality) {
  std::vector<std::uint8_t> bytes(1536);
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i * 13);
  const std::string file = TempFile("image.bin", bytes);
  for (const auto personality : {sim::Personality::Application, sim::Personality::BootLoader}) {
    auto sim = std::make_shared<sim::SimBackend>();
    sim->module().personality = personality;
    const Result r = Ctl({"--simulate", "update", "--firmware", file}, sim);
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "sent: 1536 bytes\nstate: application\nfirmware: 4.54\n");
    EXPECT_EQ(sim->module().received_image, bytes);
  }
  fs::remove(file);
}

TEST(UpdateCommand, EachFailureIsOneLineAndExitStatusOne) {
  using Fault = sim::SimBackend::Fault;
  const struct {
    const char* name;
    std::function<void(sim::SimBackend&)> arrange;
    const char* out;
    const char* err;
  } cases[] = {
      {"no module", [](auto& s) { s.Unplug(); }, "",
       "tarvenctl: update: no module found; check the module's USB cable and power ('lsusb -d "
       "03eb:6202' lists the module when the system sees it)\n"},
      // The poll (identify, status: 4 reports), the search's identify (2), then command 6.
      {"give-way refused", [](auto& s) { s.ArmFault(7, Fault::Refuse); }, "",
       "tarvenctl: update: the application did not take the update command: the module did not "
       "answer (report 3, send)\n"},
      // Already in the boot loader: the poll (8 reports), the search (2), command 6, data.
      {"stream broken off",
       [](auto& s) {
         s.module().personality = sim::Personality::BootLoader;
         s.ArmFault(11 + 100, Fault::Unplug);
       },
       "",
       "tarvenctl: update: the image did not reach the boot loader: the module did not answer "
       "(report 103, send), after 6144 of 206728 bytes; the module waits in its boot loader for a "
       "whole image\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto sim = std::make_shared<sim::SimBackend>();
    c.arrange(*sim);
    const Result r = Ctl({"--simulate", "update"}, sim);
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(sim->module().images_received, 0u);
  }
}

TEST(UpdateCommand, ImageProblemsAreToldBeforeAnythingIsSent) {
  const std::string empty = TempFile("empty.bin", {});
  const std::string stand_in = TempFile("stand-in.bin", firmware::SyntheticImage().bytes);
  const struct {
    std::vector<std::string> args;
    int code;
    std::string err;
  } cases[] = {
      {{"--simulate", "update", "--firmware", empty},
       1,
       "tarvenctl: update: " + empty + ": the file is empty\n"},
      // The stand-in saved as a file may go to the simulator, never to the USB module.
      {{"update", "--firmware", stand_in},
       1,
       "tarvenctl: update: " + stand_in +
           ": the simulator's stand-in image is not firmware and is never sent to a real module\n"},
      {{"--simulate", "update", "--firmware"},
       2,
       "tarvenctl: --firmware: 1 required FILE missing (try --help)\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    auto sim = std::make_shared<sim::SimBackend>();
    sim->StartRecording();
    const Result r = Ctl(c.args, sim);
    EXPECT_EQ(r.code, c.code);
    EXPECT_EQ(r.err, c.err);
    EXPECT_TRUE(sim->log().empty()) << "nothing went on the wire";
  }
  fs::remove(empty);
  fs::remove(stand_in);
}

TEST(UpdateCommand, StandInIsOnlyForTheSimulatedModule) {
  // Without --simulate and without an image built in or installed there is nothing to send.
  if (!firmware::CarriedImage().empty()) GTEST_SKIP() << "this build carries an image";
  const Result r = Ctl({"update"});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("tarvenctl: update: no firmware image"), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find("stand-in"), std::string::npos) << r.err;
}

}  // namespace
}  // namespace tarven::testing
