// One program per module at a time: the lock files themselves, across two links of one process,
// across processes, and a holder that is killed.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#include "device/device.h"
#include "device/module_lock.h"
#include "device/operations.h"
#include "sim/sim_backend.h"

namespace tarven::testing {
namespace {

namespace fs = std::filesystem;
using device::LockAttempt;
using device::ModuleLocks;

class LockFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "tarven-lock-test-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    folder_ = pattern;
  }
  void TearDown() override { fs::remove_all(folder_); }

  std::shared_ptr<ModuleLocks> Locks(const std::string& program) {
    return device::FolderModuleLocks(folder_, program, false);
  }

  std::string folder_;
};

TEST_F(LockFolder, OneHolderAtATimeNamedToTheOthersAndFreeAgainWhenLetGo) {
  const auto window = Locks("tarven");
  const auto script = Locks("tarvenctl");
  LockAttempt first = window->TryTake("location 1-2.3");
  ASSERT_TRUE(first.lock);
  EXPECT_FALSE(first.busy);

  // The same key from another taker in this process is held; another key is free.
  const LockAttempt second = script->TryTake("location 1-2.3");
  EXPECT_FALSE(second.lock);
  ASSERT_TRUE(second.busy);
  EXPECT_EQ(second.holder.program, "tarven");
  EXPECT_EQ(second.holder.pid, ::getpid());
  EXPECT_EQ(device::DescribeHolder(second.holder),
            "tarven (pid " + std::to_string(::getpid()) + ")");
  EXPECT_TRUE(script->TryTake("location 1-2.4").lock);
  // Keys that are not file names (paths, odd serial numbers) are locks all the same.
  const LockAttempt path = script->TryTake("path /dev/hidraw3");
  ASSERT_TRUE(path.lock);
  EXPECT_TRUE(window->TryTake("path /dev/hidraw3").busy);
  EXPECT_TRUE(window->TryTake("path /dev/hidraw3/../x").lock);

  first.lock.reset();
  LockAttempt again = script->TryTake("location 1-2.3");
  ASSERT_TRUE(again.lock);
  EXPECT_EQ(window->TryTake("location 1-2.3").holder.program, "tarvenctl");
}

TEST_F(LockFolder, AFolderThatCannotBeUsedLetsTheProgramGoOnUnlocked) {
  const auto locks = device::FolderModuleLocks(folder_ + "/missing/deeper", "tarvenctl", false);
  const LockAttempt attempt = locks->TryTake("location 1-2.3");
  EXPECT_FALSE(attempt.lock);
  EXPECT_FALSE(attempt.busy);
}

// A child process takes the lock and says so through a pipe, then waits to be killed.
TEST_F(LockFolder, AnotherProcessHoldsItUntilItIsKilled) {
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::close(ready[0]);
    const auto locks = device::FolderModuleLocks(folder_, "holder", false);
    const LockAttempt attempt = locks->TryTake("location 3-1");
    const char state = attempt.lock ? 'y' : 'n';
    [[maybe_unused]] const ssize_t written = ::write(ready[1], &state, 1);
    for (;;) ::pause();
  }
  ::close(ready[1]);
  char state = 0;
  ASSERT_EQ(::read(ready[0], &state, 1), 1);
  ::close(ready[0]);
  ASSERT_EQ(state, 'y');

  const auto locks = Locks("tarvenctl");
  const LockAttempt busy = locks->TryTake("location 3-1");
  EXPECT_FALSE(busy.lock);
  ASSERT_TRUE(busy.busy);
  EXPECT_EQ(busy.holder.program, "holder");
  EXPECT_EQ(busy.holder.pid, child);

  // SIGKILL leaves the holder no chance to let go: the kernel does.
  ASSERT_EQ(::kill(child, SIGKILL), 0);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  const LockAttempt after = locks->TryTake("location 3-1");
  EXPECT_TRUE(after.lock);
  EXPECT_FALSE(after.busy);
}

// Two links on one simulated bench, as two programs on one module.
struct TwoLinks {
  std::shared_ptr<sim::SimBackend> bus = std::make_shared<sim::SimBackend>();
  device::Link first{bus};
  device::Link second{bus};
  TwoLinks() {
    first.SetModuleLocks(bus->module_locks());
    second.SetModuleLocks(bus->module_locks());
  }
};

TEST(LinkLock, AHeldModuleIsSentNothingAndNamedAndServedWhenLetGo) {
  TwoLinks bench;
  std::optional<device::Link::Hold> hold;
  hold.emplace(bench.first);
  ASSERT_TRUE(device::PollStatus(bench.first).outcome.ok());

  bench.bus->StartRecording();
  const device::StatusReading busy = device::PollStatus(bench.second);
  EXPECT_EQ(busy.outcome.failure, device::Failure::ModuleBusy);
  EXPECT_EQ(busy.presence, device::Presence::Absent);
  EXPECT_EQ(device::Describe(busy.outcome),
            "the module at sim-1 is in use by " + device::ThisProgramName() + " (pid " +
                std::to_string(::getpid()) + ")");
  EXPECT_TRUE(bench.bus->log().empty()) << "a report reached the held module";
  EXPECT_EQ(bench.bus->OpenCount(), 1u) << "only the holder's own open";

  // Between the holder's exchanges the module stays held while the hold lives ...
  ASSERT_TRUE(device::PollStatus(bench.first).outcome.ok());
  EXPECT_EQ(device::PollStatus(bench.second).outcome.failure, device::Failure::ModuleBusy);
  // ... and is free once it ends.
  hold.reset();
  EXPECT_TRUE(device::PollStatus(bench.second).outcome.ok());
  // Without a hold, a link holds its module only while its handle is open.
  EXPECT_TRUE(device::PollStatus(bench.first).outcome.ok());
}

TEST(LinkLock, ASearchWaitsForTheHolderUpToItsWait) {
  TwoLinks bench;
  auto hold = std::make_unique<device::Link::Hold>(bench.first);
  ASSERT_TRUE(device::PollStatus(bench.first).outcome.ok());
  bench.second.SetLockWait(std::chrono::seconds(30));
  // The holder lets go while the second link waits; its poll then goes through.
  std::thread release([&hold] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    hold.reset();
  });
  const device::StatusReading reading = device::PollStatus(bench.second);
  release.join();
  EXPECT_TRUE(reading.outcome.ok()) << device::Describe(reading.outcome);
  EXPECT_EQ(reading.presence, device::Presence::Application);
}

TEST(LinkLock, AnUpdateKeepsItsModuleThroughTheBootLoaderByLocation) {
  TwoLinks bench;
  bench.bus->SetRenumberOnReattach(true);
  const device::Link::Hold hold(bench.first);
  ASSERT_TRUE(device::PollStatus(bench.first).outcome.ok());
  bench.bus->module().SwitchPersonality();
  // The module came back under another path at the same location: still held.
  const device::StatusReading reading = device::PollStatus(bench.second);
  EXPECT_EQ(reading.outcome.failure, device::Failure::ModuleBusy);
  EXPECT_EQ(device::PollStatus(bench.first).presence, device::Presence::BootLoader);
}

}  // namespace
}  // namespace tarven::testing
