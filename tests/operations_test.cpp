// The status poll and the run-control commands, as both front ends use them.

#include "device/operations.h"

#include "sim_fixture.h"

namespace tarven::testing {
namespace {

using device::Presence;

TEST_F(SimTest, PollStatusReadsTheApplicationAndRunsTheHookOnTheOpenHandle) {
  module().cnc_running = true;
  module().ext_dac = true;
  device::BootModule.Found = true;
  device::Handle seen = device::kInvalidHandle;
  int hook_calls = 0;
  const auto reading =
      device::PollStatus(handle_, [&](device::Handle h, std::uint8_t run, std::uint8_t ext) {
        seen = h;
        ++hook_calls;
        EXPECT_EQ(run, 1);
        EXPECT_EQ(ext, 1);
        EXPECT_EQ(sim_->OpenHandleCount(), 1u);
      });
  EXPECT_EQ(reading.presence, Presence::Application);
  EXPECT_EQ(hook_calls, 1);
  EXPECT_NE(seen, device::kInvalidHandle);
  EXPECT_EQ(handle_, device::kInvalidHandle);
  EXPECT_EQ(sim_->OpenHandleCount(), 0u);
  EXPECT_EQ(device::AppModule.FirmwareVersion, 0x00045400u);
  EXPECT_FALSE(device::BootModule.Found);  // cleared once the application answers
}

TEST_F(SimTest, PollStatusReadsTheBootLoaderWords) {
  module().personality = sim::Personality::BootLoader;
  module().boot_version = 0x00010203;
  module().firmware_version = 0x00045400;
  bool hook_ran = false;
  const auto reading = device::PollStatus(handle_, [&](auto...) { hook_ran = true; });
  EXPECT_EQ(reading.presence, Presence::BootLoader);
  EXPECT_FALSE(hook_ran);
  EXPECT_EQ(reading.run_flag, 0);
  EXPECT_EQ(device::BootModule.BootVersion, 0x00010203u);
  EXPECT_EQ(device::BootModule.FirmwareVersion, 0x00045400u);
  const auto sent = Sent();
  // Identify to the application, identify to the boot loader, status, firmware version.
  ASSERT_EQ(sent.size(), 4u);
  EXPECT_EQ(sent[2], Frame(2));
  EXPECT_EQ(sent[3], Frame(7));
  EXPECT_EQ(sim_->OpenHandleCount(), 0u);
}

TEST_F(SimTest, PollStatusWithFailedReads) {
  // The application's status read fails: firmware word 0 and run flag 0.
  module().cnc_running = true;
  sim_->RefuseNthFetch(2);  // the identify answer passes, the status answer does not
  auto reading = device::PollStatus(handle_);
  EXPECT_EQ(reading.presence, Presence::Application);
  EXPECT_EQ(device::AppModule.FirmwareVersion, 0u);
  EXPECT_EQ(reading.run_flag, 0);

  // The boot loader's reads fail: the words keep their previous values.
  module().personality = sim::Personality::BootLoader;
  device::BootModule.BootVersion = 0x00050607;
  device::BootModule.FirmwareVersion = 0x00012300;
  sim_->ClearLog();
  sim_->RefuseNthFetch(3);  // application identify and boot identify pass; status answer fails
  reading = device::PollStatus(handle_);
  EXPECT_EQ(reading.presence, Presence::BootLoader);
  EXPECT_EQ(device::BootModule.BootVersion, 0x00050607u);
  EXPECT_EQ(device::BootModule.FirmwareVersion, module().firmware_version);
}

TEST_F(SimTest, PollStatusFindsNothingWithoutAModule) {
  sim_->Unplug();
  device::AppModule.Found = device::BootModule.Found = true;
  const auto reading = device::PollStatus(handle_);
  EXPECT_EQ(reading.presence, Presence::Absent);
  EXPECT_FALSE(device::AppModule.Found);
  EXPECT_FALSE(device::BootModule.Found);
  EXPECT_EQ(handle_, device::kInvalidHandle);
}

TEST_F(SimTest, ApplicationCommandsReachTheModuleOnlyInTheApplication) {
  EXPECT_TRUE(device::SendApplicationCommand(handle_, device::CmdStopCnc));
  EXPECT_FALSE(module().cnc_running);
  EXPECT_TRUE(device::SendApplicationCommand(handle_, device::CmdStartCnc));
  EXPECT_TRUE(module().cnc_running);
  EXPECT_TRUE(device::SendApplicationCommand(handle_, device::CmdRestart));
  EXPECT_EQ(module().restarts, 1u);
  EXPECT_EQ(handle_, device::kInvalidHandle);

  module().personality = sim::Personality::BootLoader;
  sim_->ClearLog();
  EXPECT_FALSE(device::SendApplicationCommand(handle_, device::CmdStopCnc));
  EXPECT_EQ(Sent().size(), 1u);  // only the identify command
  EXPECT_EQ(sim_->OpenHandleCount(), 0u);
}

}  // namespace
}  // namespace tarven::testing
