// Faults planned for a given report of the wire, and the simulator's report record.

#include <array>

#include "device/operations.h"
#include "sim_fixture.h"

namespace tarven::testing {
namespace {

using Fault = sim::SimBackend::Fault;

class FaultPlanTest : public SimTest {
 protected:
  // Three status exchanges on the open handle: six reports, send and fetch in turn.
  void ThreeStatusExchanges() {
    device::TModuleCommand status;
    status.Code = device::CmdStatus;
    for (int i = 0; i < 3; ++i) {
      std::uint8_t answer[8] = {};
      link().SendCommand(handle_, status);
      link().ReadData(handle_, answer, sizeof answer);
    }
  }
  std::vector<bool> Accepted() const {
    std::vector<bool> accepted;
    for (const auto& record : sim_->log()) accepted.push_back(record.accepted);
    return accepted;
  }
  bool Enumerated() {
    std::vector<std::string> paths;
    sim_->Enumerate(0, 0, paths);
    return !paths.empty();
  }
};

TEST_F(FaultPlanTest, EachFaultStrikesAtItsReport) {
  const struct {
    const char* what;
    Fault fault;
    std::vector<bool> accepted;
    bool enumerated;
    sim::Personality personality;
  } cases[] = {
      {"refuse",
       Fault::Refuse,
       {true, true, false, true, true, true},
       true,
       sim::Personality::Application},
      {"silent",
       Fault::GoSilent,
       {true, true, false, false, false, false},
       true,
       sim::Personality::Application},
      {"unplug",
       Fault::Unplug,
       {true, true, false, false, false, false},
       false,
       sim::Personality::Application},
      {"switch",
       Fault::SwitchPersonality,
       {true, true, false, false, false, false},
       true,
       sim::Personality::BootLoader},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    SetUp();
    OpenApplication();
    sim_->ArmFault(3, c.fault);
    ThreeStatusExchanges();
    EXPECT_EQ(Accepted(), c.accepted);
    EXPECT_EQ(Enumerated(), c.enumerated);
    EXPECT_EQ(module().personality, c.personality);
    TearDown();
  }
}

TEST_F(FaultPlanTest, SeveralFaultsCountFromWhenTheyWereArmed) {
  OpenApplication();
  ThreeStatusExchanges();  // reports before the plan do not count
  sim_->ClearLog();
  sim_->ArmFault(4, Fault::Refuse);
  sim_->ArmFault(1, Fault::Refuse);
  ThreeStatusExchanges();
  EXPECT_EQ(Accepted(), (std::vector<bool>{false, true, true, false, true, true}));

  // A switch of personality armed for later: the boot loader answers the search after it.
  sim_->ClearLog();
  sim_->ArmFault(2, Fault::SwitchPersonality);
  sim_->ArmFault(100, Fault::Unplug);
  ThreeStatusExchanges();
  link().CloseModule(handle_);
  handle_ = link().OpenModule(boot_record());
  EXPECT_NE(handle_, device::kInvalidHandle);
  sim_->DisarmFaults();
  for (int i = 0; i < 50; ++i) ThreeStatusExchanges();
  EXPECT_TRUE(Enumerated()) << "a disarmed fault struck";
}

// An operation names its refused report counting the same way from its own start: the search's
// identify exchange is reports 1 and 2; then the read command and its 33 answer reports, or the
// block's command 9, 32 data reports and command 8.
TEST_F(FaultPlanTest, OperationNamesTheReportThePlanRefused) {
  const struct {
    std::uint64_t report;
    bool write;
    device::Direction direction;
  } cases[] = {
      {3, false, device::Direction::Send},   {5, false, device::Direction::Fetch},
      {36, false, device::Direction::Fetch}, {5, true, device::Direction::Send},
      {36, true, device::Direction::Send},
  };
  std::array<std::uint8_t, 2048> sector{};
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.report << (c.write ? " write" : " read"));
    // A fresh module each time: one that lost a report of a block is still counting it.
    SetUp();
    sim_->ArmFault(c.report, Fault::Refuse);
    const device::Outcome outcome =
        c.write ? device::WriteFlashArea(link(), model::AreaId::ConfigSector, sector)
                : device::ReadFlashArea(link(), model::AreaId::ConfigSector, sector);
    EXPECT_EQ(outcome.failure, device::Failure::NotAnswering);
    EXPECT_EQ(outcome.report, c.report);
    EXPECT_EQ(outcome.direction, c.direction);
    TearDown();
  }
}

// A simulator nobody records keeps nothing per report: a window left running stays small.
TEST(SimBackendRecording, RecordsOnlyWhenAsked) {
  auto sim = std::make_shared<sim::SimBackend>();
  device::Link link(sim);
  for (int i = 0; i < 100; ++i) device::PollStatus(link);
  EXPECT_TRUE(sim->log().empty());
  sim->StartRecording();
  device::PollStatus(link);
  EXPECT_EQ(sim->log().size(), 4u);  // identify and status, each sent and fetched
  sim->StopRecording();
  device::PollStatus(link);
  EXPECT_EQ(sim->log().size(), 4u);
}

}  // namespace
}  // namespace tarven::testing
