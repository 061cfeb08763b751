// The operations note every change they make on the link's recorder: the window's (which reads
// nothing more than its own sequence) and tarvenctl's (which reads what a write replaces first,
// for the reports of that read and nothing more).

#include <gtest/gtest.h>

#include <functional>
#include <mutex>
#include <vector>

#include "device/change_journal.h"
#include "device/device.h"
#include "device/firmware_update.h"
#include "device/operations.h"
#include "device/register_operations.h"
#include "sim/sim_backend.h"

namespace tarven::testing {
namespace {

constexpr std::uint32_t kRom = 0x08035800;
constexpr std::uint32_t kSector = 0x0803F800;
// A read of 16384 bytes: its command, then 16384 / 64 + 1 fetches.
constexpr std::uint64_t kReadOf16KiB = 1 + 16384 / 64 + 1;

class NoteKeeper : public device::ChangeRecorder {
 public:
  explicit NoteKeeper(bool read_before, bool asks_version = false)
      : read_before_(read_before), asks_version_(asks_version) {}
  bool ReadsBeforeState() const override { return read_before_; }
  bool AsksFirmwareVersion() const override { return asks_version_; }
  void Record(const device::ChangeNote& note) override { notes.push_back(note); }
  std::vector<device::ChangeNote> notes;

 private:
  bool read_before_;
  bool asks_version_;
};

struct Change {
  const char* name;
  std::function<device::Outcome(device::Link&)> run;
  const char* operation;
  // What the module held in the written part before, for the note's before-state (empty: none).
  std::function<std::vector<std::uint8_t>(sim::SimulatedModule&)> held;
  std::uint64_t before_read_reports;
};

const std::vector<std::uint8_t> kImage(16384, 0x5A);

const Change kChanges[] = {
    {"rom", [](device::Link& l) { return device::WriteFlashArea(l, model::AreaId::MainRom, kImage); },
     "image write", [](sim::SimulatedModule& m) { return m.FlashAt(kRom, 16384); }, kReadOf16KiB},
    {"ram",
     [](device::Link& l) { return device::WriteRam(l, kImage, device::RamBank::Reserve); },
     "ram write", [](sim::SimulatedModule& m) { return m.ram; }, kReadOf16KiB},
    // The sector is read before every write anyway: its before-state costs nothing more.
    {"config",
     [](device::Link& l) {
       return device::UpdateConfigSector(l, [](model::Sector s) {
         s[1024] = 9;
         return device::Outcome::Done();
       });
     },
     "config write", [](sim::SimulatedModule& m) { return m.FlashAt(kSector, 2048); }, 0},
    {"cnc_stop", [](device::Link& l) { return device::SendApplicationCommand(l, device::CmdStopCnc); },
     "cnc stop", nullptr, 0},
    {"restart", [](device::Link& l) { return device::SendApplicationCommand(l, device::CmdRestart); },
     "restart", nullptr, 0},
    {"registers",
     [](device::Link& l) {
       const device::RegisterWrite writes[] = {{0xF132, 0xFFFF}};
       return device::WriteRegisters(l, writes);
     },
     "register write", nullptr, 0},
    // The switch into the boot loader that starts an update.
    {"boot_loader", [](device::Link& l) { return device::RequestBootLoader(l, nullptr); },
     "boot loader request", nullptr, 0},
};

// The reports one run of `change` takes on a fresh module, with `recorder` on the link.
std::uint64_t ReportsOf(const Change& change, std::shared_ptr<NoteKeeper> recorder,
                        std::vector<std::uint8_t>* held = nullptr) {
  auto bus = std::make_shared<sim::SimBackend>();
  bus->module().ram.assign(bus->module().ram.size(), 0x21);
  if (held != nullptr && change.held) *held = change.held(bus->module());
  device::Link link(bus);
  link.SetChangeRecorder(std::move(recorder));
  EXPECT_TRUE(change.run(link).ok()) << change.name;
  return link.ReportsExchanged();
}

TEST(ChangeHook, EveryChangeIsNotedAndOnlyTheBeforeReadIsAdded) {
  for (const Change& change : kChanges) {
    SCOPED_TRACE(change.name);
    const std::uint64_t bare = ReportsOf(change, nullptr);

    auto window = std::make_shared<NoteKeeper>(false);
    std::vector<std::uint8_t> held;
    EXPECT_EQ(ReportsOf(change, window, &held), bare);
    ASSERT_EQ(window->notes.size(), 1u);
    const device::ChangeNote& note = window->notes.front();
    EXPECT_EQ(note.operation, change.operation);
    EXPECT_EQ(note.device.serial_number, "SIM00001");
    EXPECT_EQ(note.device.usb_location, "sim-1");
    EXPECT_TRUE(note.outcome.ok());
    if (change.held) {
      ASSERT_EQ(note.parts.size(), 1u);
      // Only the sector that was read anyway comes with its before-state.
      EXPECT_EQ(note.parts[0].before.has_value(), change.before_read_reports == 0);
    }

    auto ctl = std::make_shared<NoteKeeper>(true);
    EXPECT_EQ(ReportsOf(change, ctl, &held), bare + change.before_read_reports);
    ASSERT_EQ(ctl->notes.size(), 1u);
    if (change.held) {
      ASSERT_TRUE(ctl->notes[0].parts[0].before.has_value());
      EXPECT_EQ(*ctl->notes[0].parts[0].before, held);
      EXPECT_NE(ctl->notes[0].parts[0].written, held);
    }

    // Asked for the firmware it names, a change costs one status request (its command and its
    // answer) when the link does not know the version yet.
    auto asking = std::make_shared<NoteKeeper>(false, true);
    EXPECT_EQ(ReportsOf(change, asking), bare + 2);
    ASSERT_EQ(asking->notes.size(), 1u);
    EXPECT_EQ(asking->notes[0].firmware_version, sim::SimulatedModule().firmware_version);
    EXPECT_NE(asking->notes[0].firmware_version, 0u);
    EXPECT_EQ(window->notes[0].firmware_version, 0u) << "the window's link asked nothing";
  }
}

TEST(ChangeHook, ReadsAndAbsentModulesAreNotNoted) {
  auto bus = std::make_shared<sim::SimBackend>();
  auto keeper = std::make_shared<NoteKeeper>(true);
  device::Link link(bus);
  link.SetChangeRecorder(keeper);
  std::vector<std::uint8_t> rom(16384);
  EXPECT_TRUE(device::ReadFlashArea(link, model::AreaId::MainRom, rom).ok());
  EXPECT_TRUE(device::PollStatus(link).outcome.ok());
  device::Link nowhere(nullptr);
  nowhere.SetChangeRecorder(keeper);
  EXPECT_FALSE(device::WriteFlashArea(nowhere, model::AreaId::MainRom, kImage).ok());
  EXPECT_TRUE(keeper->notes.empty());
}

TEST(ChangeHook, AReadBeforeTheWriteThatFailsWritesNothing) {
  struct Case {
    const char* name;
    std::function<device::Outcome(device::Link&)> run;
    std::function<std::vector<std::uint8_t>(sim::SimulatedModule&)> held;
  };
  const Case cases[] = {
      {"rom", kChanges[0].run, kChanges[0].held},
      {"ram", kChanges[1].run, kChanges[1].held},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto bus = std::make_shared<sim::SimBackend>();
    bus->module().ram.assign(bus->module().ram.size(), 0x21);
    const std::vector<std::uint8_t> held = c.held(bus->module());
    auto keeper = std::make_shared<NoteKeeper>(true);
    device::Link link(bus);
    link.SetChangeRecorder(keeper);
    // The first fetch answers the identify command; the second is the read's first data.
    bus->RefuseNthFetch(2);
    EXPECT_EQ(c.run(link).failure, device::Failure::ReadBeforeWrite);
    EXPECT_EQ(c.held(bus->module()), held);
    // A RAM write stops the CNC and would have restarted the module: it runs again.
    EXPECT_TRUE(bus->module().cnc_running);
    EXPECT_TRUE(keeper->notes.empty());
  }
}

}  // namespace
}  // namespace tarven::testing
