// The status poll and the run-control commands, as both front ends use them.

#include "device/operations.h"

#include <algorithm>
#include <array>
#include <functional>
#include <utility>
#include <vector>

#include "sim_fixture.h"

namespace tarven::testing {
namespace {

using device::Presence;

TEST_F(SimTest, PollStatusReadsTheApplicationAndRunsTheHookOnTheOpenHandle) {
  module().cnc_running = true;
  module().ext_dac = true;
  boot_record().Found = true;
  device::Handle seen = device::kInvalidHandle;
  int hook_calls = 0;
  const auto reading =
      device::PollStatus(link(), [&](device::Handle h, std::uint8_t run, std::uint8_t ext) {
        seen = h;
        ++hook_calls;
        EXPECT_EQ(run, 1);
        EXPECT_EQ(ext, 1);
        EXPECT_EQ(sim_->OpenHandleCount(), 1u);
      });
  EXPECT_EQ(reading.presence, Presence::Application);
  EXPECT_EQ(hook_calls, 1);
  EXPECT_NE(seen, device::kInvalidHandle);
  EXPECT_EQ(link().HidHandle(), device::kInvalidHandle);
  EXPECT_EQ(sim_->OpenHandleCount(), 0u);
  EXPECT_EQ(link().AppModule().FirmwareVersion, 0x00045400u);
  EXPECT_FALSE(link().BootModule().Found);  // cleared once the application answers
}

TEST_F(SimTest, PollStatusReadsTheBootLoaderWords) {
  module().personality = sim::Personality::BootLoader;
  module().boot_version = 0x00010203;
  module().firmware_version = 0x00045400;
  bool hook_ran = false;
  const auto reading = device::PollStatus(link(), [&](auto...) { hook_ran = true; });
  EXPECT_EQ(reading.presence, Presence::BootLoader);
  EXPECT_FALSE(hook_ran);
  EXPECT_EQ(reading.run_flag, 0);
  EXPECT_EQ(link().BootModule().BootVersion, 0x00010203u);
  EXPECT_EQ(link().BootModule().FirmwareVersion, 0x00045400u);
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
  auto reading = device::PollStatus(link());
  EXPECT_EQ(reading.presence, Presence::Application);
  EXPECT_EQ(link().AppModule().FirmwareVersion, 0u);
  EXPECT_EQ(reading.run_flag, 0);

  // The boot loader's reads fail: the words keep their previous values.
  module().personality = sim::Personality::BootLoader;
  boot_record().BootVersion = 0x00050607;
  boot_record().FirmwareVersion = 0x00012300;
  sim_->ClearLog();
  sim_->RefuseNthFetch(3);  // application identify and boot identify pass; status answer fails
  reading = device::PollStatus(link());
  EXPECT_EQ(reading.presence, Presence::BootLoader);
  EXPECT_EQ(link().BootModule().BootVersion, 0x00050607u);
  EXPECT_EQ(link().BootModule().FirmwareVersion, module().firmware_version);
}

TEST_F(SimTest, PollStatusFindsNothingWithoutAModule) {
  sim_->Unplug();
  app_record().Found = boot_record().Found = true;
  const auto reading = device::PollStatus(link());
  EXPECT_EQ(reading.presence, Presence::Absent);
  EXPECT_FALSE(link().AppModule().Found);
  EXPECT_FALSE(link().BootModule().Found);
  EXPECT_EQ(link().HidHandle(), device::kInvalidHandle);
}

TEST_F(SimTest, ApplicationCommandsReachTheModuleOnlyInTheApplication) {
  EXPECT_TRUE(device::SendApplicationCommand(link(), device::CmdStopCnc));
  EXPECT_FALSE(module().cnc_running);
  EXPECT_TRUE(device::SendApplicationCommand(link(), device::CmdStartCnc));
  EXPECT_TRUE(module().cnc_running);
  EXPECT_TRUE(device::SendApplicationCommand(link(), device::CmdRestart));
  EXPECT_EQ(module().restarts, 1u);
  EXPECT_EQ(link().HidHandle(), device::kInvalidHandle);

  module().personality = sim::Personality::BootLoader;
  sim_->ClearLog();
  EXPECT_EQ(device::SendApplicationCommand(link(), device::CmdStopCnc).failure,
            device::Failure::BootLoaderOnly);
  EXPECT_EQ(Sent().size(), 1u);  // only the identify command
  EXPECT_EQ(sim_->OpenHandleCount(), 0u);
}

// What a failed exchange reports: which report of the operation, and in which direction.
TEST_F(SimTest, OutcomesNameTheRefusedReport) {
  using device::Direction;
  using device::Failure;
  struct Case {
    const char* name;
    std::function<void(sim::SimBackend&)> arm;
    Failure failure;
    std::uint64_t report;
    Direction direction;
  };
  // The poll's reports: identify sent (1) and fetched (2), status sent (3) and fetched (4).
  const Case cases[] = {
      {"status fetch refused", [](auto& s) { s.RefuseNthFetch(2); }, Failure::NotAnswering, 4,
       Direction::Fetch},
      {"status send refused", [](auto& s) { s.RefuseNthSend(2); }, Failure::NotAnswering, 3,
       Direction::Send},
      {"all fine", [](auto&) {}, Failure::None, 0, Direction::Send},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    c.arm(*sim_);
    const auto reading = device::PollStatus(link());
    EXPECT_EQ(reading.presence, Presence::Application);
    EXPECT_EQ(reading.status_read, c.failure == Failure::None);
    EXPECT_EQ(reading.outcome.failure, c.failure);
    EXPECT_EQ(reading.outcome.report, c.report);
    if (c.failure != Failure::None) {
      EXPECT_EQ(reading.outcome.direction, c.direction);
    }
  }
}

TEST_F(SimTest, PollStatusTellsAbsenceFromASilentDevice) {
  sim_->SetSilent(true);  // the module enumerates but refuses every report
  auto reading = device::PollStatus(link());
  EXPECT_EQ(reading.presence, Presence::Absent);
  EXPECT_EQ(reading.outcome.failure, device::Failure::NoIdentify);

  sim_->SetSilent(false);
  sim_->Unplug();
  reading = device::PollStatus(link());
  EXPECT_EQ(reading.outcome.failure, device::Failure::NoModule);

  sim_->Replug();
  module().personality = sim::Personality::BootLoader;
  reading = device::PollStatus(link());
  EXPECT_TRUE(reading.outcome.ok());
  EXPECT_TRUE(reading.status_read);
  EXPECT_TRUE(reading.firmware_version_read);
  EXPECT_EQ(device::SendApplicationCommand(link(), device::CmdStopCnc).failure,
            device::Failure::BootLoaderOnly);
}

std::vector<std::uint8_t> Pattern(std::size_t size) {
  std::vector<std::uint8_t> bytes(size);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(i * 7 + 3);
  return bytes;
}

// The command frames sent, the data reports left out, as (code, Param1, Param2).
std::vector<std::array<std::uint32_t, 3>> CommandsOf(const std::vector<Bytes>& sent) {
  std::vector<std::array<std::uint32_t, 3>> commands;
  for (const Bytes& report : sent) {
    if (report[1] == 0x55 && report[2] != 1) {
      commands.push_back({report[2], Le32At(report, 3), Le32At(report, 7)});
    }
  }
  return commands;
}

TEST_F(SimTest, FlashAreaWriteAndReadWithProgress) {
  const auto image = Pattern(8192);
  std::vector<std::pair<std::uint64_t, std::uint64_t>> steps;
  const auto record = [&](std::uint64_t done, std::uint64_t total) {
    steps.emplace_back(done, total);
    return true;
  };
  auto outcome = device::WriteFlashArea(link(), model::AreaId::AmtRom, image, record);
  EXPECT_TRUE(outcome.ok()) << device::Describe(outcome);
  EXPECT_EQ(module().FlashAt(0x08039800, 8192), image);
  const std::vector<std::pair<std::uint64_t, std::uint64_t>> blocks = {
      {0, 8192}, {2048, 8192}, {4096, 8192}, {6144, 8192}, {8192, 8192}};
  EXPECT_EQ(steps, blocks);
  EXPECT_EQ(link().HidHandle(), device::kInvalidHandle);

  std::vector<std::uint8_t> back(8192, 0);
  steps.clear();
  outcome = device::ReadFlashArea(link(), model::AreaId::AmtRom, back, record);
  EXPECT_TRUE(outcome.ok()) << device::Describe(outcome);
  EXPECT_EQ(back, image);
  EXPECT_EQ(steps, blocks);
  EXPECT_EQ(sim_->OpenHandleCount(), 0u);
}

TEST_F(SimTest, FlashWriteStopsBetweenBlocksOnRequest) {
  const auto image = Pattern(16384);
  const auto before = module().FlashAt(0x08035800, 16384);
  sim_->ClearLog();
  const auto outcome =
      device::WriteFlashArea(link(), model::AreaId::MainRom, image,
                             [](std::uint64_t done, std::uint64_t) { return done < 4096; });
  EXPECT_EQ(outcome.failure, device::Failure::Cancelled);
  EXPECT_EQ(outcome.done, 4096u);
  EXPECT_EQ(device::Describe(outcome), "stopped on request after 4096 of 16384 bytes");
  // Identify, then two whole blocks of 34 reports each: nothing of a third block went out.
  EXPECT_EQ(Sent().size(), 1u + 2 * 34);
  const auto after = module().FlashAt(0x08035800, 16384);
  EXPECT_TRUE(std::equal(image.begin(), image.begin() + 4096, after.begin()));
  EXPECT_TRUE(std::equal(before.begin() + 4096, before.end(), after.begin() + 4096));
  EXPECT_EQ(sim_->OpenHandleCount(), 0u);
}

// The figures of a refused write say how far it got whole: the bytes before the first refused
// block (the blocks after it are still sent), or before the first refused report of the RAM.
TEST_F(SimTest, RefusedWritesCountTheBytesBeforeTheRefusal) {
  const auto image = Pattern(16384);
  // A refused data report leaves the module inside its stream: each case starts it in step.
  for (const std::uint32_t block : {0u, 2u, 7u}) {
    SCOPED_TRACE(block);
    module().ResetWire();
    // After identify: 34 sends a block (begin, 32 data reports, end); the 10th data report.
    sim_->RefuseNthSend(1 + 34 * block + 1 + 10);
    const auto outcome = device::WriteFlashArea(link(), model::AreaId::MainRom, image);
    EXPECT_EQ(outcome.failure, device::Failure::NotAnswering);
    EXPECT_EQ(outcome.done, 2048u * block);
    EXPECT_EQ(device::Describe(outcome),
              "the module did not answer (report " + std::to_string(2 + 34 * block + 1 + 10) +
                  ", send), after " + std::to_string(2048 * block) + " of 16384 bytes");
  }
  for (const std::uint32_t report : {1u, 5u, 33u, 256u}) {
    SCOPED_TRACE(report);
    module().ResetWire();
    // After identify, commands 12 and 18: the data reports of the RAM.
    sim_->RefuseNthSend(1 + 2 + report);
    const auto outcome = device::WriteRam(link(), image, device::RamBank::Main);
    EXPECT_EQ(outcome.failure, device::Failure::NotAnswering);
    EXPECT_EQ(outcome.done, 64u * (report - 1)) << device::Describe(outcome);
  }
}

TEST_F(SimTest, FlashTransfersReportTheFirstRefusedReport) {
  // Reports of a write: identify (1, 2), then block 0: begin (3), 32 data (4..35), end (36).
  sim_->RefuseNthSend(1 + 1 + 5);  // sends: identify, begin, then the fifth data report
  const auto image = Pattern(8192);
  auto outcome = device::WriteFlashArea(link(), model::AreaId::AmtRom, image);
  EXPECT_EQ(outcome.failure, device::Failure::NotAnswering);
  EXPECT_EQ(outcome.report, 8u);
  EXPECT_EQ(outcome.direction, device::Direction::Send);
  EXPECT_EQ(outcome.done, 0u) << "the first block was refused";
  const auto commands = CommandsOf(Sent());
  EXPECT_EQ(std::count_if(commands.begin(), commands.end(), [](const auto& c) { return c[0] == 9; }),
            4)
      << "every block is still announced";
  EXPECT_EQ(std::count_if(commands.begin(), commands.end(), [](const auto& c) { return c[0] == 8; }),
            4)
      << "and closed";

  // A read refused halfway leaves the caller's buffer as it was.
  std::vector<std::uint8_t> buffer(8192, 0xA5);
  sim_->RefuseNthFetch(1 + 40);
  outcome = device::ReadFlashArea(link(), model::AreaId::AmtRom, buffer);
  EXPECT_EQ(outcome.failure, device::Failure::NotAnswering);
  EXPECT_EQ(outcome.direction, device::Direction::Fetch);
  EXPECT_EQ(outcome.report, 2u + 1 + 40) << "identify 2, read command 1, 40th data fetch";
  EXPECT_EQ(outcome.done, 39u * 64);
  EXPECT_EQ(buffer, std::vector<std::uint8_t>(8192, 0xA5));

  // A stop asked for during a read takes the stream to its end and changes nothing.
  sim_->ClearLog();
  outcome = device::ReadFlashArea(link(), model::AreaId::AmtRom, buffer,
                                  [](std::uint64_t done, std::uint64_t) { return done == 0; });
  EXPECT_EQ(outcome.failure, device::Failure::Cancelled);
  EXPECT_EQ(Fetches(), 1u + 8192 / 64 + 1);
  EXPECT_EQ(buffer, std::vector<std::uint8_t>(8192, 0xA5));
}

TEST_F(SimTest, ConfigSectorReadModifyWriteKeepsWhatItDidNotChange) {
  auto sector = module().FlashAt(0x0803F800, 2048);
  sector[500] = 0x5A;  // a byte the tool never interprets
  sector[1024] = 7;    // parameter 1
  module().SetFlash(0x0803F800, sector);
  auto outcome = device::UpdateConfigSector(link(), [](model::Sector s) {
    s[0] = 8;
    return device::Outcome::Done();
  });
  EXPECT_TRUE(outcome.ok()) << device::Describe(outcome);
  sector[0] = 8;
  EXPECT_EQ(module().FlashAt(0x0803F800, 2048), sector);

  // A read that breaks off writes nothing at all.
  sim_->ClearLog();
  sim_->RefuseNthFetch(1 + 10);
  outcome = device::UpdateConfigSector(link(), [](model::Sector s) {
    s[0] = 2;
    return device::Outcome::Done();
  });
  EXPECT_EQ(outcome.failure, device::Failure::ReadBeforeWrite);
  EXPECT_EQ(device::Describe(outcome),
            "the module did not answer the read before the write (report 13, fetch); nothing was "
            "written");
  for (const Bytes& report : Sent()) EXPECT_NE(report[2], 9) << "no block was begun";
  EXPECT_EQ(module().FlashAt(0x0803F800, 1)[0], 8);
  EXPECT_EQ(sim_->OpenHandleCount(), 0u);
}

TEST_F(SimTest, RamReadStopsReadsAndStartsTheCncAgain) {
  module().cnc_running = false;  // started afterwards all the same
  const auto ram = Pattern(16384);
  module().ram = ram;
  std::vector<std::uint8_t> out(16384, 0);
  auto outcome = device::ReadRam(link(), out);
  EXPECT_TRUE(outcome.ok()) << device::Describe(outcome);
  EXPECT_EQ(out, ram);
  using C = std::array<std::uint32_t, 3>;
  EXPECT_EQ(CommandsOf(Sent()), (std::vector<C>{{12, 0, 0}, {17, 0, 16384}, {16, 0, 0}}));
  EXPECT_EQ(Fetches(), 1u + 16384 / 64 + 1);
  EXPECT_TRUE(module().cnc_running);

  // A read that breaks off changes nothing and still starts the CNC.
  sim_->ClearLog();
  std::vector<std::uint8_t> kept(16384, 0x5A);
  sim_->RefuseNthFetch(1 + 100);
  outcome = device::ReadRam(link(), kept);
  EXPECT_EQ(outcome.failure, device::Failure::NotAnswering);
  EXPECT_EQ(kept, std::vector<std::uint8_t>(16384, 0x5A));
  EXPECT_EQ(CommandsOf(Sent()).back(), (C{16, 0, 0}));
  EXPECT_EQ(sim_->OpenHandleCount(), 0u);

  // The RAM arrived whole and only the start was refused: the RAM is kept, and the outcome says
  // that the CNC stands. Identify (2), 12, 17, 257 fetches, then 16.
  module().ram = Pattern(16384);
  std::reverse(module().ram.begin(), module().ram.end());
  sim_->ArmFault(2 + 2 + 257 + 1, sim::SimBackend::Fault::Refuse);
  outcome = device::ReadRam(link(), kept);
  EXPECT_EQ(outcome.failure, device::Failure::CncLeftStopped) << device::Describe(outcome);
  EXPECT_EQ(outcome.report, 2u + 2 + 257 + 1);
  EXPECT_EQ(kept, module().ram);
  EXPECT_FALSE(module().cnc_running);
  EXPECT_EQ(device::Describe(outcome),
            "the RAM was read whole, but the module did not take the command to start the CNC "
            "again (report 262, send); the CNC was left stopped");
}

// The RAM read of tarvenctl's commands reads the run flag first, over the same handle, and starts
// the CNC afterwards only when it ran: a stopped machine stays stopped.
TEST_F(SimTest, RamReadAsFoundStartsTheCncOnlyWhenItRan) {
  using C = std::array<std::uint32_t, 3>;
  for (const bool running : {false, true}) {
    SCOPED_TRACE(running ? "running" : "stopped");
    sim_->ClearLog();
    module().cnc_running = running;
    module().ram = Pattern(16384);
    std::vector<std::uint8_t> out(16384, 0);
    device::CncFound found;
    const auto outcome = device::ReadRamAsFound(link(), out, found);
    EXPECT_TRUE(outcome.ok()) << device::Describe(outcome);
    EXPECT_EQ(out, module().ram);
    EXPECT_TRUE(found.read);
    EXPECT_EQ(found.was_running, running);
    std::vector<C> expected = {{2, 0, 0}, {12, 0, 0}, {17, 0, 16384}};
    if (running) expected.push_back({16, 0, 0});
    EXPECT_EQ(CommandsOf(Sent()), expected);
    EXPECT_EQ(module().cnc_running, running);
    EXPECT_EQ(sim_->OpenHandleCount(), 0u);
  }

  // The run flag does not arrive: nothing more is sent, the CNC is not touched, `out` is kept.
  // Identify (2), status (3), its answer (4).
  for (const bool running : {false, true}) {
    sim_->ClearLog();
    module().cnc_running = running;
    sim_->ArmFault(4, sim::SimBackend::Fault::Refuse);
    std::vector<std::uint8_t> kept(16384, 0x5A);
    device::CncFound found{true, true};
    const auto outcome = device::ReadRamAsFound(link(), kept, found);
    EXPECT_EQ(outcome.failure, device::Failure::NotAnswering);
    EXPECT_EQ(outcome.report, 4u);
    EXPECT_FALSE(found.read);
    EXPECT_EQ(CommandsOf(Sent()), (std::vector<C>{{2, 0, 0}}));
    EXPECT_EQ(module().cnc_running, running);
    EXPECT_EQ(kept, std::vector<std::uint8_t>(16384, 0x5A));
  }

  // A running CNC whose start is refused: the RAM is kept and the outcome says the CNC stands, as
  // for the window's read. Identify (2), status (2), 12, 17, 257 fetches, then 16.
  module().cnc_running = true;
  sim_->ArmFault(2 + 2 + 2 + 257 + 1, sim::SimBackend::Fault::Refuse);
  std::vector<std::uint8_t> out(16384, 0);
  device::CncFound found;
  const auto outcome = device::ReadRamAsFound(link(), out, found);
  EXPECT_EQ(outcome.failure, device::Failure::CncLeftStopped) << device::Describe(outcome);
  EXPECT_EQ(outcome.report, 264u);
  EXPECT_EQ(out, module().ram);
  EXPECT_FALSE(module().cnc_running);
}

TEST_F(SimTest, RamWriteToEachBank) {
  using C = std::array<std::uint32_t, 3>;
  const auto ram = Pattern(16384);
  auto outcome = device::WriteRam(link(), ram, device::RamBank::Reserve);
  EXPECT_TRUE(outcome.ok()) << device::Describe(outcome);
  const auto sent = Sent();
  ASSERT_EQ(sent.size(), 1u + 2 + 256 + 2);
  EXPECT_EQ(CommandsOf(sent),
            (std::vector<C>{{12, 0, 0}, {18, 0, 16384}, {19, 16384, 16384}, {13, 0, 0}}));
  EXPECT_EQ(sent[2], Frame(18, 0, 16384));
  EXPECT_EQ(module().ram_reserve_bank, ram);
  EXPECT_EQ(module().restarts, 1u);

  // A refused data report ends the stream; the store and the restart still go out, and the
  // outcome names the report.
  sim_->ClearLog();
  sim_->RefuseNthSend(1 + 2 + 5);
  outcome = device::WriteRam(link(), ram, device::RamBank::Main);
  EXPECT_EQ(outcome.failure, device::Failure::NotAnswering);
  EXPECT_EQ(outcome.report, 2u + 2 + 5);
  EXPECT_EQ(outcome.done, 4u * 64) << "four data reports went whole";
  EXPECT_EQ(CommandsOf(Sent()),
            (std::vector<C>{{12, 0, 0}, {18, 0, 16384}, {19, 0, 16384}, {13, 0, 0}}));
  EXPECT_EQ(sim_->OpenHandleCount(), 0u);
}

}  // namespace
}  // namespace tarven::testing
