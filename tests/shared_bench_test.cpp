// tarvenctl on a bench it shares with other programs: a module another program holds is sent
// nothing, named with its holder, waited for up to --wait, listed as busy, and a module named by
// --device is chosen without asking the others.

#include <gtest/gtest.h>
#include <unistd.h>

#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "cli_fixture.h"
#include "device/module_lock.h"
#include "sim/sim_backend.h"

namespace tarven::testing {
namespace {

std::shared_ptr<sim::SimBackend> Bench(int count) {
  auto bus = std::make_shared<sim::SimBackend>();
  for (int n = 1; n < count; ++n) bus->AddModule(std::make_shared<sim::SimulatedModule>());
  return bus;
}

// Another program ("tarven") holding the module at `location` of the bench.
struct OtherProgram {
  std::shared_ptr<device::ModuleLocks> locks;
  std::unique_ptr<device::HeldLock> held;
  OtherProgram(sim::SimBackend& bus, const std::string& location)
      : locks(device::FolderModuleLocks(bus.module_locks()->folder(), "tarven", false)),
        held(locks->TryTake("location " + location).lock) {}
};

std::string Pid() {
  return std::to_string(::getpid());
}

// The reports that reached the device at `path` while the bus recorded.
std::size_t ReportsTo(const sim::SimBackend& bus, const std::string& path) {
  std::size_t count = 0;
  for (const sim::ReportRecord& record : bus.log()) count += record.path == path ? 1U : 0U;
  return count;
}

TEST(SharedBench, ACommandWaitsForAHeldModuleThenNamesItsHolderAndSendsNothing) {
  auto bus = Bench(1);
  OtherProgram window(*bus, "sim-1");
  ASSERT_TRUE(window.held);
  bus->StartRecording();
  const struct {
    std::vector<std::string> args;
    const char* what;
  } cases[] = {
      {{"--simulate", "--wait", "0.2", "status"}, "status"},
      {{"--simulate", "--wait", "0", "cnc", "stop"}, "cnc stop"},
      {{"--simulate", "--wait", "0", "image", "read", "rom", "/nonexistent/never-written.bin"},
       "image read"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const CtlResult result = RunCtl(c.args, bus);
    EXPECT_EQ(result.code, 1);
    EXPECT_NE(result.err.find(std::string(": the module at sim-1 is in use by tarven (pid ") +
                              Pid() + ")\n"),
              std::string::npos)
        << result.err;
  }
  EXPECT_TRUE(bus->log().empty()) << "a report reached the held module";
  EXPECT_EQ(RunCtl({"--simulate", "--wait", "0", "status"}, bus).out.substr(0, 12),
            "state: busy\n");

  // Let go: the same command goes through.
  window.held.reset();
  EXPECT_EQ(RunCtl({"--simulate", "--wait", "0", "status"}, bus).code, 0);
}

TEST(SharedBench, DevicesListsAHeldModuleAsBusyWithoutAskingIt) {
  auto bus = Bench(2);
  OtherProgram window(*bus, "sim-2");
  bus->StartRecording();
  const CtlResult text = RunCtl({"--simulate", "devices"}, bus);
  EXPECT_EQ(text.code, 0) << text.err;
  EXPECT_NE(text.out.find("  answers: in use by tarven (pid " + Pid() + ")\n"), std::string::npos)
      << text.out;
  EXPECT_NE(text.out.find("  answers: application, firmware 4.54\n"), std::string::npos);
  EXPECT_EQ(ReportsTo(*bus, bus->devices()[1].path), 0u);
  EXPECT_GT(ReportsTo(*bus, bus->devices()[0].path), 0u);

  const CtlResult json = RunCtl({"--simulate", "devices", "--json"}, bus);
  const auto list = nlohmann::json::parse(json.out);
  ASSERT_EQ(list.size(), 2u);
  EXPECT_TRUE(list[0]["busy"].is_null());
  EXPECT_EQ(list[1]["busy"], "tarven (pid " + Pid() + ")");
}

TEST(SharedBench, DeviceByPathOrLocationAsksOnlyTheOneNamed) {
  auto bus = Bench(3);
  for (const std::string& selector :
       std::vector<std::string>{"sim-2", bus->devices()[1].path, "SIM00002"}) {
    SCOPED_TRACE(selector);
    bus->ClearLog();
    bus->StartRecording();
    const CtlResult result = RunCtl({"--simulate", "--device", selector, "status"}, bus);
    bus->StopRecording();
    EXPECT_EQ(result.code, 0) << result.err;
    EXPECT_EQ(ReportsTo(*bus, bus->devices()[0].path), 0u);
    EXPECT_EQ(ReportsTo(*bus, bus->devices()[2].path), 0u);
    EXPECT_GT(ReportsTo(*bus, bus->devices()[1].path), 0u);
  }
}

TEST(SharedBench, DeviceNamingAHeldModuleWaitsForItAndNamesTheHolder) {
  auto bus = Bench(2);
  OtherProgram window(*bus, "sim-2");
  bus->StartRecording();
  const CtlResult result =
      RunCtl({"--simulate", "--wait", "0", "--device", "sim-2", "status"}, bus);
  EXPECT_EQ(result.code, 1);
  EXPECT_EQ(result.err,
            "tarvenctl: status: the module at sim-2 is in use by tarven (pid " + Pid() + ")\n");
  EXPECT_TRUE(bus->log().empty());
}

TEST(SharedBench, AllServesEveryModuleAndFailsOnlyTheHeldOne) {
  auto bus = Bench(3);
  OtherProgram window(*bus, "sim-2");
  bus->StartRecording();
  const CtlResult result = RunCtl({"--simulate", "--wait", "0", "--all", "status"}, bus);
  EXPECT_EQ(result.code, 1);
  EXPECT_NE(result.out.find("sim-2     SIM00002  "), std::string::npos) << result.out;
  EXPECT_NE(result.out.find("failed: status: the module at sim-2 is in use by tarven (pid " +
                            Pid() + ")"),
            std::string::npos)
      << result.out;
  EXPECT_EQ(ReportsTo(*bus, bus->devices()[1].path), 0u);
  EXPECT_GT(ReportsTo(*bus, bus->devices()[0].path), 0u);
  EXPECT_GT(ReportsTo(*bus, bus->devices()[2].path), 0u);
  EXPECT_NE(result.err.find("failed on 1 of 3 modules"), std::string::npos) << result.err;
}

}  // namespace
}  // namespace tarven::testing
