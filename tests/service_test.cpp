// The shared whole-module work on its own: the names a backup is proposed under, and a restore's
// progress and its stop between parts.

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "device/device.h"
#include "service/module_backup.h"
#include "sim/sim_backend.h"

namespace tarven::testing {
namespace {

TEST(ProposedBackupName, SerialAndDateInAName_NothingThatLeavesTheFolder) {
  const struct {
    const char* serial;
    const char* pattern;
  } cases[] = {
      {"SIM00001", R"(tarven-SIM00001-\d{4}-\d{2}-\d{2}\.tar)"},
      {"", R"(tarven-\d{4}-\d{2}-\d{2}\.tar)"},
      {"../etc/x y", R"(tarven-_\._etc_x_y-\d{4}-\d{2}-\d{2}\.tar)"},
      {"T\x1b[2J", R"(tarven-T__2J-\d{4}-\d{2}-\d{2}\.tar)"},
  };
  for (const auto& c : cases) {
    const std::string name = service::ProposedBackupName(c.serial);
    EXPECT_TRUE(std::regex_match(name, std::regex(c.pattern))) << c.serial << " gave " << name;
  }
}

TEST(Restore, ProgressGoesOverAllPartsAndAStopComesBetweenParts) {
  auto bus = std::make_shared<sim::SimBackend>();
  device::Link link(bus);
  model::Backup backup;
  ASSERT_TRUE(service::ReadModule(link, backup).whole());
  service::RestoreRequest request;
  request.parts = {model::BackupPart::Config, model::BackupPart::Params, model::BackupPart::Rom,
                   model::BackupPart::Amt};

  std::vector<std::uint64_t> seen;
  std::uint64_t total = 0;
  const service::RestoreReport whole =
      service::Restore(link, backup, request, [&](std::uint64_t done, std::uint64_t all) {
        seen.push_back(done);
        total = all;
        return true;
      });
  EXPECT_TRUE(whole.all_done());
  EXPECT_FALSE(whole.stopped);
  // The sector, the main ROM and AMT, each written and read back.
  EXPECT_EQ(total, 2u * (2048 + 16384 + 8192));
  ASSERT_FALSE(seen.empty());
  EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
  EXPECT_EQ(seen.back(), total);

  // Asked to stop once the sector is back: the images are not begun.
  bus->StartRecording();
  const service::RestoreReport stopped =
      service::Restore(link, backup, request, [](std::uint64_t done, std::uint64_t) {
        return done < 2 * 2048;
      });
  EXPECT_TRUE(stopped.stopped);
  ASSERT_EQ(stopped.parts.size(), 1u);
  EXPECT_EQ(stopped.parts[0].state, service::PartResult::State::Verified);
  for (const auto& record : bus->log()) {
    if (record.direction == sim::ReportRecord::Direction::Sent && record.bytes[1] == 0x55 &&
        record.bytes[2] == 9) {
      // Param2, the block's module address.
      const std::uint32_t address = static_cast<std::uint32_t>(record.bytes[7]) |
                                    (static_cast<std::uint32_t>(record.bytes[8]) << 8) |
                                    (static_cast<std::uint32_t>(record.bytes[9]) << 16) |
                                    (static_cast<std::uint32_t>(record.bytes[10]) << 24);
      EXPECT_EQ(address, 0x0803F800u) << "only the sector's block was begun";
    }
  }
}

}  // namespace
}  // namespace tarven::testing
