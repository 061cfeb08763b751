// The firmware operations against the simulated module: what the boot loader receives, what goes
// on the wire around it, the progress after each piece, and where a whole update stops.

#include "device/firmware_update.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <limits>
#include <numeric>
#include <vector>

#include "sim_fixture.h"
#include "status_losing_bus.h"

namespace tarven::testing {
namespace {

using sim::Personality;

Bytes Pattern(std::size_t size, std::uint8_t seed) {
  Bytes bytes(size);
  std::uint32_t state = seed * 2654435761u + 1;
  for (std::uint8_t& b : bytes) {
    state = state * 1103515245u + 12345u;
    b = static_cast<std::uint8_t>(state >> 23);
  }
  return bytes;
}

class FirmwareTest : public SimTest {
 protected:
  void InBootLoader() { module().personality = Personality::BootLoader; }

  // The reports sent after the boot loader's identify exchange: command 6 and the data.
  std::vector<Bytes> StreamReports() const {
    std::vector<Bytes> sent = Sent();
    // The first sent report is the identify frame of the search.
    if (!sent.empty()) sent.erase(sent.begin());
    return sent;
  }
};

TEST(FirmwareProgress, RoundsTheFloatingPercentageHalfToEven) {
  const struct {
    std::uint64_t sent, size;
    int percent;
  } cases[] = {
      {512, 206728, 0},                    // 0.248
      {1024, 206728, 0},                   // 0.495
      {1536, 206728, 1},                   // 0.743
      {206336, 206728, 100},               // 99.81
      {206728, 206728, 100}, {1, 200, 0},  // 0.5: to the even 0
      {3, 200, 2},                         // 1.5: to the even 2
      {5, 200, 2},                         // 2.5: to the even 2
      {7, 200, 4},                         // 3.5
      {0, 1000, 0},          {5, 0, 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(device::FirmwareProgressPercent(c.sent, c.size), c.percent)
        << c.sent << " of " << c.size;
  }
}

TEST_F(FirmwareTest, ShippedSizeIsAnnouncedStreamedInPiecesAndReceivedWhole) {
  InBootLoader();
  const Bytes image = Pattern(206728, 1);
  std::vector<std::pair<std::uint64_t, std::uint64_t>> progress;

  const device::Outcome outcome =
      device::SendFirmware(link(), image, [&](std::uint64_t done, std::uint64_t total) {
        progress.emplace_back(done, total);
        return true;
      });

  ASSERT_TRUE(outcome.ok()) << device::Describe(outcome);
  EXPECT_EQ(module().received_image, image);
  EXPECT_EQ(module().images_received, 1u);
  const std::vector<Bytes> reports = StreamReports();
  ASSERT_EQ(reports.size(), 1u + 3231u);
  EXPECT_EQ(reports[0], Frame(6, 206728, 3));
  for (std::size_t r = 1; r < reports.size(); ++r) {
    const std::size_t offset = (r - 1) * 64;
    const std::size_t n = std::min<std::size_t>(64, image.size() - offset);
    ASSERT_EQ(Bytes(reports[r].begin() + 1, reports[r].begin() + 1 + static_cast<long>(n)),
              Bytes(image.begin() + static_cast<long>(offset),
                    image.begin() + static_cast<long>(offset + n)))
        << "report " << r;
  }
  EXPECT_EQ(reports.back()[0], 0);
  // Once before the announcement, then after each of 403 pieces of 512 and one of 392.
  ASSERT_EQ(progress.size(), 1u + 404u);
  EXPECT_EQ(progress.front(), std::make_pair(std::uint64_t{0}, std::uint64_t{206728}));
  EXPECT_EQ(progress[1].first, 512u);
  EXPECT_EQ(progress[403].first, 403u * 512u);
  EXPECT_EQ(progress.back().first, 206728u);
  EXPECT_EQ(link().HidHandle(), device::kInvalidHandle);
  EXPECT_EQ(sim_->OpenHandleCount(), 0u);
}

TEST_F(FirmwareTest, PieceCountFollowsTheSize) {
  const struct {
    std::size_t size;
    std::size_t data_reports;
    std::size_t progress_calls;  // the first one (0) included
    std::uint32_t blocks_of_64k;
  } cases[] = {
      {1, 1, 2, 0},
      {100, 2, 2, 0},              // under 512: one piece, then the loop ends
      {512, 8, 3, 0},              // one full piece, then the empty one that sends nothing
      {1536, 24, 5, 0},            // three full pieces and the empty one
      {65536, 1024, 130, 1},       // 128 pieces, the empty one, and the first call
      {65536 + 64, 1025, 130, 1},  // 128 full pieces and one of 64
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.size);
    sim_->ClearLog();
    InBootLoader();
    const Bytes image = Pattern(c.size, 2);
    std::vector<std::uint64_t> done;
    const device::Outcome outcome =
        device::SendFirmware(link(), image, [&](std::uint64_t d, std::uint64_t) {
          done.push_back(d);
          return true;
        });
    ASSERT_TRUE(outcome.ok());
    EXPECT_EQ(module().received_image, image);
    const std::vector<Bytes> reports = StreamReports();
    ASSERT_EQ(reports.size(), 1 + c.data_reports);
    EXPECT_EQ(reports[0], Frame(6, static_cast<std::uint32_t>(c.size), c.blocks_of_64k));
    EXPECT_EQ(done.size(), c.progress_calls);
    EXPECT_EQ(done.back(), c.size);
  }
}

// The module counts bytes: slices that carry the command marker and code are image bytes too.
TEST_F(FirmwareTest, BytesThatLookLikeCommandFramesArriveWhole) {
  InBootLoader();
  Bytes image(4096);
  for (std::size_t slice = 0; slice < image.size() / 64; ++slice) {
    const Bytes frame = Frame(slice % 2 == 0 ? 6 : 1, 0x08000000, 5);  // update, identify
    std::copy(frame.begin() + 1, frame.end(), image.begin() + static_cast<long>(slice * 64));
  }
  ASSERT_TRUE(device::SendFirmware(link(), image).ok());
  EXPECT_EQ(module().received_image, image);
  EXPECT_EQ(module().images_received, 1u);
}

TEST_F(FirmwareTest, RefusedReportStopsTheStreamAndNamesIt) {
  InBootLoader();
  const Bytes image = Pattern(206728, 3);
  // Identify (send, fetch), command 6, then data: the 100th data report is report 103.
  sim_->ArmFault(103, sim::SimBackend::Fault::Unplug);
  std::uint64_t last_done = 0;
  const device::Outcome outcome =
      device::SendFirmware(link(), image, [&](std::uint64_t done, std::uint64_t) {
        last_done = done;
        return true;
      });
  EXPECT_EQ(outcome.failure, device::Failure::NotAnswering);
  EXPECT_EQ(outcome.report, 103u);
  EXPECT_EQ(outcome.direction, device::Direction::Send);
  EXPECT_EQ(outcome.done, 12u * 512u);  // twelve whole pieces before the one that broke off
  EXPECT_EQ(outcome.total, 206728u);
  EXPECT_EQ(last_done, 12u * 512u);
  EXPECT_EQ(StreamReports().size(), 1u + 100u) << "nothing after the refused report";
  EXPECT_EQ(module().images_received, 0u);
  EXPECT_EQ(link().HidHandle(), device::kInvalidHandle);
  EXPECT_EQ(sim_->OpenHandleCount(), 0u);
}

TEST_F(FirmwareTest, RefusedAnnouncementSendsNoData) {
  InBootLoader();
  sim_->RefuseNthSend(2);  // the identify frame, then command 6
  const device::Outcome outcome = device::SendFirmware(link(), Pattern(2000, 4));
  EXPECT_EQ(outcome.failure, device::Failure::NotAnswering);
  EXPECT_EQ(outcome.report, 3u);
  EXPECT_EQ(outcome.done, 0u);
  EXPECT_EQ(StreamReports().size(), 1u);
}

TEST_F(FirmwareTest, NothingIsSentWithoutABootLoaderOrWithoutAnImage) {
  // The application answers, not the boot loader.
  EXPECT_EQ(device::SendFirmware(link(), Pattern(600, 5)).failure, device::Failure::NoModule);
  InBootLoader();
  EXPECT_EQ(device::SendFirmware(link(), Bytes{}).failure, device::Failure::InvalidRequest);
  sim_->Unplug();
  EXPECT_EQ(device::SendFirmware(link(), Pattern(600, 5)).failure, device::Failure::NoModule);
  for (const Bytes& report : Sent()) EXPECT_EQ(report[2], 1) << "only identify frames";
  EXPECT_EQ(module().images_received, 0u);
}

TEST_F(FirmwareTest, StopAskedForFallsBetweenPieces) {
  InBootLoader();
  const Bytes image = Pattern(5000, 6);
  int calls = 0;
  const device::Outcome outcome =
      device::SendFirmware(link(), image, [&](std::uint64_t, std::uint64_t) {
        return ++calls < 3;  // the first call and the first piece go on; the second piece stops
      });
  EXPECT_EQ(outcome.failure, device::Failure::Cancelled);
  EXPECT_EQ(outcome.done, 1024u);
  EXPECT_EQ(StreamReports().size(), 1u + 16u);
}

TEST_F(FirmwareTest, ApplicationIsAskedToGiveWayWithABareCommand6) {
  ASSERT_TRUE(device::RequestBootLoader(link()).ok());
  std::vector<Bytes> sent = Sent();
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[1], Frame(6));
  EXPECT_EQ(module().personality, Personality::BootLoader);
}

// A whole update, both stages and the return, as tarvenctl runs it.
TEST_F(FirmwareTest, UpdateRunsBothStagesAndSeesTheApplicationReturn) {
  const Bytes image = Pattern(206728, 7);
  int sleeps = 0;
  const device::UpdateResult result =
      device::UpdateFirmware(link(), image, {}, {}, [&](std::chrono::milliseconds) { ++sleeps; });
  EXPECT_EQ(result.stage, device::UpdateStage::Done) << device::Describe(result.outcome);
  EXPECT_FALSE(result.was_boot_loader);
  EXPECT_EQ(result.after.presence, device::Presence::Application);
  EXPECT_EQ(module().received_image, image);
  EXPECT_EQ(sleeps, 0) << "the simulated module changes personality at once";
  EXPECT_EQ(sim_->OpenHandleCount(), 0u);
}

TEST_F(FirmwareTest, UpdateStartingInTheBootLoaderSendsNoGiveWay) {
  InBootLoader();
  const Bytes image = Pattern(3000, 8);
  const device::UpdateResult result = device::UpdateFirmware(link(), image);
  EXPECT_EQ(result.stage, device::UpdateStage::Done);
  EXPECT_TRUE(result.was_boot_loader);
  for (const Bytes& report : Sent()) {
    EXPECT_NE(report, Frame(6)) << "no command 6 without parameters";
  }
  EXPECT_EQ(module().received_image, image);
}

TEST_F(FirmwareTest, UpdateSaysWhereItStopped) {
  const device::UpdateTiming timing{std::chrono::milliseconds(1000), std::chrono::milliseconds(500),
                                    std::chrono::milliseconds(100)};
  const struct {
    const char* name;
    std::function<void(sim::SimBackend&)> arrange;
    device::UpdateStage stage;
    int sleeps;
  } cases[] = {
      {"no module", [](sim::SimBackend& s) { s.Unplug(); }, device::UpdateStage::FindModule, 0},
      // The poll's identify and status (4 reports), the give-way search's identify (2), command 6.
      {"give-way refused",
       [](sim::SimBackend& s) { s.ArmFault(7, sim::SimBackend::Fault::Refuse); },
       device::UpdateStage::GiveWay, 0},
      // The module takes command 6 but vanishes at the first search for its boot loader.
      {"boot loader never appears",
       [](sim::SimBackend& s) { s.ArmFault(8, sim::SimBackend::Fault::Unplug); },
       device::UpdateStage::WaitBootLoader, 10},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    sim_ = std::make_shared<sim::SimBackend>();
    link_ = std::make_shared<device::Link>(sim_);
    c.arrange(*sim_);
    int sleeps = 0;
    const device::UpdateResult result = device::UpdateFirmware(
        link(), Pattern(1000, 9), {}, timing, [&](std::chrono::milliseconds wait) {
          EXPECT_EQ(wait, std::chrono::milliseconds(100));
          ++sleeps;
        });
    EXPECT_EQ(result.stage, c.stage);
    EXPECT_FALSE(result.outcome.ok());
    EXPECT_EQ(sleeps, c.sleeps);
    EXPECT_EQ(sim_->module().images_received, 0u);
  }
}

// The image went, but the module stays in its boot loader (it refused what it got): the update
// waits for the application as long as it was told to, then says so.
TEST_F(FirmwareTest, UpdateWhoseModuleDoesNotReturnSaysSo) {
  InBootLoader();
  const Bytes image = Pattern(1000, 10);
  // The poll (identify twice, two words: 8 reports), the search (2), command 6, 16 data reports.
  // The boot loader then starts the application, which falls back to the boot loader at once:
  // the module drops off at the next report and comes back as its boot loader.
  sim_->ArmFault(28, sim::SimBackend::Fault::SwitchPersonality);
  int sleeps = 0;
  const device::UpdateResult result =
      device::UpdateFirmware(link(), image, {},
                             {std::chrono::milliseconds(1000), std::chrono::milliseconds(300),
                              std::chrono::milliseconds(100)},
                             [&](std::chrono::milliseconds) { ++sleeps; });
  EXPECT_EQ(result.stage, device::UpdateStage::Return) << device::Describe(result.outcome);
  EXPECT_TRUE(result.outcome.ok());
  EXPECT_EQ(result.after.presence, device::Presence::BootLoader);
  EXPECT_EQ(sleeps, 3);
}

// Only a status that arrives confirms the update: an application that comes back but whose answer
// is lost is asked again, and one that never answers within the wait is not taken for done.
TEST_F(FirmwareTest, UpdateIsDoneOnlyOnceTheReturnedApplicationAnswers) {
  const device::UpdateTiming timing{std::chrono::milliseconds(1000), std::chrono::milliseconds(300),
                                    std::chrono::milliseconds(100)};
  const struct {
    const char* name;
    std::uint64_t losses;
    device::UpdateStage stage;
    bool status_read;
    int sleeps;
  } cases[] = {
      {"two answers lost", 2, device::UpdateStage::Done, true, 2},
      {"every answer lost", std::numeric_limits<std::uint64_t>::max(),
       device::UpdateStage::Return, false, 3},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto bus = std::make_shared<StatusLosingBus>(c.losses);
    sim_ = bus;
    link_ = std::make_shared<device::Link>(sim_);
    int sleeps = 0;
    const device::UpdateResult result = device::UpdateFirmware(
        link(), Pattern(1000, 11), {}, timing, [&](std::chrono::milliseconds) { ++sleeps; });
    EXPECT_EQ(result.stage, c.stage) << device::Describe(result.outcome);
    EXPECT_EQ(result.after.presence, device::Presence::Application);
    EXPECT_EQ(result.after.status_read, c.status_read);
    EXPECT_EQ(sleeps, c.sleeps);
    EXPECT_EQ(bus->module().images_received, 1u);
    EXPECT_EQ(sim_->OpenHandleCount(), 0u);
  }
}

}  // namespace
}  // namespace tarven::testing
