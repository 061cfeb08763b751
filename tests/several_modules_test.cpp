// Several modules on one bus: choosing one with --device, an update that follows its module
// through the boot loader by USB location, and --all over a simulated bench.

#include <gtest/gtest.h>
#include <pthread.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "cli/progress_line.h"
#include "cli_fixture.h"
#include "device/device.h"
#include "device/device_select.h"
#include "firmware/firmware_image.h"
#include "sim/sim_backend.h"

namespace tarven::testing {
namespace {

namespace fs = std::filesystem;
using sim::Personality;

// A bench of `count` modules: "sim:module" at sim-1 with serial SIM00001, then "sim:module1" at
// sim-2 with SIM00002, and so on.
std::shared_ptr<sim::SimBackend> Bench(int count) {
  auto bus = std::make_shared<sim::SimBackend>();
  for (int n = 1; n < count; ++n) bus->AddModule(std::make_shared<sim::SimulatedModule>());
  return bus;
}

sim::SimulatedModule& ModuleAt(sim::SimBackend& bus, std::size_t index) {
  return *bus.devices()[index].module;
}

CtlResult Yes(const std::vector<std::string>& args, std::shared_ptr<sim::SimBackend> bus) {
  return RunCtl(args, std::move(bus), [](std::string_view) { return true; });
}

TEST(SelectDevice, ByPathLocationOrSerialAndSaysWhatIsThereOtherwise) {
  auto bus = Bench(3);
  bus->devices()[2].serial_number = "SIM00002";  // two modules share a serial number
  const std::string decoy = bus->AddDecoy(0x03EB, 0x6202, 64, /*front=*/false);
  bus->devices().back().usb_location = "sim-9";
  const struct {
    std::string selector;
    bool ok;
    const char* pinned_to;  // location, or the start of the error
  } cases[] = {
      {"sim:module1", true, "location sim-2"},
      {"sim-3", true, "location sim-3"},
      {"SIM00001", true, "location sim-1"},
      {"SIM00002", false,
       "'SIM00002' matches 2 devices (sim-2, sim-3); choose one by its location"},
      {"nothing", false,
       "no device matches 'nothing'; devices with the module's USB ids:\n"
       "  sim:module (location sim-1, serial SIM00001): application, firmware "
       "4.54\n"},
      {"sim-9", false,
       "'sim-9' is sim:decoy3, which is not a module that answers: not the module "
       "(feature report of 64 bytes"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.selector);
    device::Link link(bus);
    const device::Selection selection = device::SelectDevice(link, c.selector);
    ASSERT_EQ(selection.ok, c.ok) << selection.error;
    if (c.ok) {
      EXPECT_EQ(device::DescribePin(selection.pin), c.pinned_to);
    } else {
      EXPECT_EQ(selection.error.rfind(c.pinned_to, 0), 0u) << selection.error;
    }
  }
  EXPECT_EQ(bus->OpenHandleCount(), 0u);
  (void)decoy;
}

// A pinned link finds only its own module, whichever comes first on the bus.
TEST(SelectDevice, PinnedLinkTalksOnlyToItsModule) {
  auto bus = Bench(3);
  ModuleAt(*bus, 1).cnc_running = false;
  const CtlResult chosen = RunCtl({"--simulate", "--device", "sim-2", "status"}, bus);
  EXPECT_EQ(chosen.code, 0) << chosen.err;
  EXPECT_NE(chosen.out.find("cnc: stopped"), std::string::npos) << chosen.out;
  const CtlResult first = RunCtl({"--simulate", "status"}, bus);
  EXPECT_NE(first.out.find("cnc: running"), std::string::npos) << "the default search is kept";

  const CtlResult missing = RunCtl({"--simulate", "--device", "1-9", "status"}, bus);
  EXPECT_EQ(missing.code, 1);
  EXPECT_NE(missing.err.find("tarvenctl: --device: no device matches '1-9'"), std::string::npos);
  EXPECT_NE(missing.err.find("sim:module2 (location sim-3, serial SIM00003)"), std::string::npos)
      << missing.err;
}

// The module to update is the second on the bus; the first is another module's boot loader,
// waiting for an image of its own. The updated module comes back under a new path each time it
// drops off, as a hidraw node may: it is followed by its location, and the other boot loader is
// never sent a byte.
TEST(FollowByLocation, UpdateGoesToTheModuleThatAskedNeverAnotherBootLoader) {
  for (const bool chosen_by_device : {true, false}) {
    SCOPED_TRACE(chosen_by_device ? "--device sim-2" : "first application found");
    auto bus = Bench(2);
    bus->SetRenumberOnReattach(true);
    ModuleAt(*bus, 0).SwitchPersonality();  // sim-1: a boot loader, first in the search
    std::vector<std::string> args = {"--simulate", "update", "--yes"};
    if (chosen_by_device) args.insert(args.begin() + 1, {"--device", "sim-2"});
    const CtlResult r = Yes(args, bus);
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(ModuleAt(*bus, 1).received_image, firmware::SyntheticImage().bytes);
    EXPECT_EQ(ModuleAt(*bus, 1).personality, Personality::Application);
    EXPECT_TRUE(ModuleAt(*bus, 0).received_image.empty());
    EXPECT_EQ(ModuleAt(*bus, 0).personality, Personality::BootLoader);
    EXPECT_NE(bus->devices()[1].path, "sim:module1") << "the path changed on the way";
  }
}

TEST(AllModules, EveryModuleBlockAndSummaryAndOneFailureStaysAlone) {
  auto bus = Bench(3);
  bus->devices()[1].serial_number = "SIM00001";       // the same serial as the first
  ModuleAt(*bus, 2).SwitchPersonality();              // a boot loader: listed, left alone
  bus->ArmFault(40, sim::SimBackend::Fault::Unplug);  // sim-1 goes away mid-run
  const CtlResult r = Yes({"--simulate", "--all", "image", "read", "kvp",
                           (fs::temp_directory_path() /
                            ("tarven-all-" + std::to_string(::getpid()) + "-{location}.bin"))
                               .string(),
                           "--force"},
                          bus);
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.out.find("== sim-1  serial SIM00001  sim:module =="), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("== sim-2  serial SIM00001  sim:module1 =="), std::string::npos);
  EXPECT_NE(r.out.find("sim-1     SIM00001  "), std::string::npos);
  EXPECT_NE(r.out.find("failed: image read: "), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("sim-3     SIM00003  -        left alone: boot loader"), std::string::npos)
      << r.out;
  EXPECT_NE(r.err.find("tarvenctl: image: failed on 1 of 2 modules"), std::string::npos) << r.err;
  const fs::path second =
      fs::temp_directory_path() / ("tarven-all-" + std::to_string(::getpid()) + "-sim-2.bin");
  const fs::path first =
      fs::temp_directory_path() / ("tarven-all-" + std::to_string(::getpid()) + "-sim-1.bin");
  EXPECT_TRUE(fs::exists(second)) << "the other module's read went on";
  EXPECT_EQ(fs::file_size(second), 16384u);
  EXPECT_FALSE(fs::exists(first)) << "a broken read writes no file";
  fs::remove(second);
}

TEST(AllModules, UpdateAllAtOnceAndJsonPerModule) {
  auto bus = Bench(4);
  const CtlResult r = Yes({"--simulate", "--all", "--json", "update"}, bus);
  EXPECT_EQ(r.code, 0) << r.err;
  for (std::size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(ModuleAt(*bus, i).received_image, firmware::SyntheticImage().bytes) << i;
  }
  const auto list = nlohmann::json::parse(r.out);
  ASSERT_EQ(list.size(), 4u);
  EXPECT_EQ(list[3]["location"], "sim-4");
  EXPECT_EQ(list[3]["serial"], "SIM00004");
  EXPECT_EQ(list[3]["exit"], 0);
  EXPECT_EQ(list[3]["output"], "sent: 206728 bytes\nstate: application\nfirmware: 4.54\n");
}

// One backup file per module, named by its serial number.
TEST(AllModules, BackupWritesOneFilePerModule) {
  auto bus = Bench(3);
  const fs::path dir =
      fs::temp_directory_path() / ("tarven-all-backup-" + std::to_string(::getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir);
  const CtlResult r =
      RunCtl({"--simulate", "--all", "backup", (dir / "{serial}.tar").string()}, bus);
  EXPECT_EQ(r.code, 0) << r.err;
  for (const char* serial : {"SIM00001", "SIM00002", "SIM00003"}) {
    EXPECT_TRUE(fs::exists(dir / (std::string(serial) + ".tar"))) << serial;
  }
  const CtlResult same = RunCtl({"--simulate", "--all", "backup", (dir / "one.tar").string()}, bus);
  EXPECT_EQ(same.code, 2);
  fs::remove_all(dir);
}

// A bench of three modules that holds every report from the `at`th on until the test lets it go.
class HoldingBench final : public sim::SimBackend {
 public:
  explicit HoldingBench(std::uint64_t at) : at_(at) {
    for (int n = 1; n < 3; ++n) AddModule(std::make_shared<sim::SimulatedModule>());
  }
  bool SetFeature(hid::Handle handle, const std::uint8_t* report, std::size_t length) override {
    Hold();
    return SimBackend::SetFeature(handle, report, length);
  }
  bool GetFeature(hid::Handle handle, std::uint8_t* report, std::size_t length) override {
    Hold();
    return SimBackend::GetFeature(handle, report, length);
  }
  bool Reached() const { return reports_.load() >= at_; }
  void LetGo() {
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      let_go_ = true;
    }
    released_.notify_all();
  }

 private:
  // The held threads sleep until they are let go: they do not poll, which under Valgrind (one
  // thread at a time) would keep the thread that takes the signal from running.
  void Hold() {
    if (++reports_ < at_) return;
    std::unique_lock<std::mutex> lock(mutex_);
    released_.wait_for(lock, std::chrono::seconds(60), [this] { return let_go_; });
  }
  std::uint64_t at_;
  std::atomic<std::uint64_t> reports_{0};
  std::mutex mutex_;
  std::condition_variable released_;
  bool let_go_ = false;
};

// Ctrl-C, SIGTERM or SIGHUP during a write to a whole bench: every module stops at a block
// boundary and says so; no module's image is cut inside a block. The signal comes from outside
// the modules' threads, to the thread that waits for them, as a kill does: the stop request it
// sets is read by every module's thread, which ThreadSanitizer checks for a data race (the tsan
// preset).
TEST(AllModules, ASignalStopsEveryModuleBetweenBlocks) {
  const fs::path file =
      fs::temp_directory_path() / ("tarven-all-signal-" + std::to_string(::getpid()) + ".bin");
  std::ofstream(file, std::ios::binary) << std::string(16384, '\x5A');
  const pthread_t waiting = ::pthread_self();
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
    SCOPED_TRACE(signal);
    auto bus = std::make_shared<HoldingBench>(150);
    // Outermost, so that the signals stay taken over between the run's own scopes; the signal
    // asks this request as well as the run's.
    cli::StopRequest request;
    const cli::StopOnSignals signals(request);
    std::thread signaller([&] {
      const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
      while (!bus->Reached() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
      ::pthread_kill(waiting, signal);
      while (!request.requested() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
      bus->LetGo();
    });
    const CtlResult r =
        Yes({"--simulate", "--all", "image", "write", "kvp", file.string(), "--yes"}, bus);
    signaller.join();
    EXPECT_EQ(r.code, 1) << r.out << r.err;
    for (std::size_t i = 0; i < 3; ++i) {
      const std::string location = "sim-" + std::to_string(i + 1);
      const auto at = r.out.find("\n" + location + " ");
      ASSERT_NE(at, std::string::npos) << r.out;
      const std::string summary = r.out.substr(at + 1, r.out.find('\n', at + 1) - at - 1);
      EXPECT_NE(summary.find("failed: image write: stopped on request after "),
                std::string::npos)
          << summary;
      // Whole blocks of 2048 bytes only: the rest of the KVP as it was.
      const std::vector<std::uint8_t> kvp = ModuleAt(*bus, i).FlashAt(device::kKvpAddress, 16384);
      const auto written = static_cast<std::size_t>(
          std::find_if(kvp.begin(), kvp.end(), [](std::uint8_t b) { return b != 0x5A; }) -
          kvp.begin());
      EXPECT_EQ(written % 2048, 0u) << location;
      EXPECT_LT(written, 16384u) << location;
      EXPECT_TRUE(std::all_of(kvp.begin() + static_cast<std::ptrdiff_t>(written), kvp.end(),
                              [](std::uint8_t b) { return b == 0xFF; }))
          << location;
    }
  }
  fs::remove(file);
}

TEST(AllModules, MisuseIsToldBeforeAnythingRuns) {
  const struct {
    std::vector<std::string> args;
    const char* err;
  } cases[] = {
      {{"--simulate=2", "--all", "image", "read", "rom", "rom.bin"},
       "tarvenctl: --all: every module needs a file of its own: put {serial} or {location} in "
       "the file name (as in rom-{serial}.bin)\n"},
      {{"--simulate=2", "--all", "devices"}, "tarvenctl: --all serves status, cnc, restart, "},
      {{"--simulate=2", "--all", "--device", "sim-1", "status"},
       "tarvenctl: --all and --device exclude each other\n"},
      {{"--simulate=2", "--json", "status"},
       "tarvenctl: --json before the command goes with --all\n"},
      {{"--sim-wire-time", "1", "status"}, "tarvenctl: --sim-wire-time needs --simulate\n"},
      {{"--simulate=0", "status"},
       "tarvenctl: --simulate: '0' is not a whole number from 1 to 64 (try --help)\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args.back());
    const CtlResult r = RunCtl(c.args);
    EXPECT_EQ(r.code, 2);
    EXPECT_EQ(r.err.rfind(c.err, 0), 0u) << r.err;
    EXPECT_EQ(r.out, "");
  }
}

// One question for the whole bench; with no, no module is written.
TEST(AllModules, AsksOnceForEveryModule) {
  auto bus = Bench(3);
  std::vector<std::vector<std::uint8_t>> flash_before;
  for (std::size_t i = 0; i < 3; ++i) flash_before.push_back(ModuleAt(*bus, i).flash);
  std::vector<std::string> questions;
  const CtlResult r =
      RunCtl({"--simulate", "--all", "config", "set", "X=5"}, bus, [&](std::string_view question) {
        questions.emplace_back(question);
        return false;
      });
  EXPECT_EQ(r.code, 1);
  ASSERT_EQ(questions.size(), 1u);
  EXPECT_NE(questions[0].find("(3 modules)"), std::string::npos) << questions[0];
  for (std::size_t i = 0; i < 3; ++i) EXPECT_EQ(ModuleAt(*bus, i).flash, flash_before[i]) << i;
}

}  // namespace
}  // namespace tarven::testing
