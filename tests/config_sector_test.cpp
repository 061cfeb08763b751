// The configuration sector: its checksums, the eight values and the page's rules from byte to
// item and back.

#include "model/config_sector.h"

#include <gtest/gtest.h>

#include <array>
#include <optional>
#include <vector>

namespace tarven::testing {
namespace {

using model::ItemForByte;

std::array<std::uint8_t, 2048> Sector(std::uint8_t fill = 0) {
  std::array<std::uint8_t, 2048> sector;
  sector.fill(fill);
  return sector;
}

void PutLe32(std::array<std::uint8_t, 2048>& sector, std::size_t at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i)
    sector[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value >> (8 * i));
}

TEST(ConfigSector, ChecksumsOfGoldenSectors) {
  auto zeros = Sector(0);
  EXPECT_FALSE(model::ConfigChecksumMatches(zeros)) << "sum 0 counts as 1, stored 0";
  EXPECT_FALSE(model::EaChecksumMatches(zeros));

  PutLe32(zeros, 8, 1);
  PutLe32(zeros, 2044, 1);
  EXPECT_TRUE(model::ConfigChecksumMatches(zeros));
  EXPECT_TRUE(model::EaChecksumMatches(zeros));

  auto delivered = Sector(0xFF);
  model::WriteConfig(delivered, model::kDefaultConfig);
  const std::vector<std::uint8_t> head(delivered.begin(), delivered.begin() + 12);
  EXPECT_EQ(head, (std::vector<std::uint8_t>{4, 1, 1, 0, 1, 1, 6, 0, 14, 0, 0, 0}));
  EXPECT_EQ(delivered[12], 0xFF) << "only bytes 0..11 change";
  delivered[3] = 1;
  EXPECT_FALSE(model::ConfigChecksumMatches(delivered));
}

TEST(ConfigSector, ParametersLiveAtTheirOffsets) {
  auto sector = Sector(0);
  model::SetEaParam(sector, 1, -2);
  model::SetEaParam(sector, 255, 0x12345678);
  EXPECT_EQ(sector[1024], 0xFE);
  EXPECT_EQ(sector[1027], 0xFF);
  EXPECT_EQ(sector[2040], 0x78);
  EXPECT_EQ(sector[2043], 0x12);
  EXPECT_EQ(model::EaParam(sector, 1), -2);
  EXPECT_EQ(model::EaParam(sector, 255), 0x12345678);
  model::SealEaTable(sector);
  EXPECT_TRUE(model::EaChecksumMatches(sector));
  // 0xFE + 3 * 0xFF + 0x78 + 0x56 + 0x34 + 0x12
  EXPECT_EQ(sector[2044] | (sector[2045] << 8), 0xFE + 3 * 0xFF + 0x78 + 0x56 + 0x34 + 0x12);
  EXPECT_EQ(sector[0], 0) << "the configuration block is not touched";
}

TEST(ConfigSector, RowsInByteOrder) {
  const auto& rows = model::ConfigRows();
  std::string letters;
  for (const auto& row : rows) letters += row.letter;
  EXPECT_EQ(letters, "XZGMSTPF");
  EXPECT_EQ(rows[0].items.size(), 7u);
  EXPECT_EQ(rows[6].items[9].text, "10 - 1000200 бод.");
  EXPECT_EQ(rows[7].items[2].text, "2- 4,65В-4,70В");
  EXPECT_TRUE(rows[5].items.empty());
}

// Byte to item, for every row and every byte: the items by their values and each row's fallback.
TEST(ConfigSector, EveryByteShowsAsTheRowRuleSays) {
  using Rule = std::optional<std::size_t> (*)(int);
  const Rule rules[] = {
      [](int b) -> std::optional<std::size_t> {  // X: 1 and 2 the first item, 3..8 theirs, else 4
        if (b == 1 || b == 2) return 0;
        if (b >= 3 && b <= 8) return static_cast<std::size_t>(b - 2);
        return 2;
      },
      [](int b) -> std::optional<std::size_t> {  // Z
        return b >= 1 && b <= 4 ? static_cast<std::size_t>(b - 1) : 0;
      },
      [](int b) -> std::optional<std::size_t> {  // G
        return b >= 1 && b <= 4 ? static_cast<std::size_t>(b - 1) : 0;
      },
      [](int b) -> std::optional<std::size_t> { return b <= 1 ? static_cast<std::size_t>(b) : 0; },
      [](int b) -> std::optional<std::size_t> {  // S
        return b >= 1 && b <= 3 ? static_cast<std::size_t>(b - 1) : 0;
      },
      [](int) -> std::optional<std::size_t> { return std::nullopt; },  // T: an edit
      [](int b) -> std::optional<std::size_t> {                        // P
        return b >= 1 && b <= 10 ? static_cast<std::size_t>(b - 1) : 5;
      },
      [](int b) -> std::optional<std::size_t> {  // F: the index is the byte
        if (b <= 4) return static_cast<std::size_t>(b);
        return std::nullopt;
      },
  };
  for (std::size_t row = 0; row < 8; ++row) {
    for (int b = 0; b < 256; ++b) {
      EXPECT_EQ(ItemForByte(row, static_cast<std::uint8_t>(b)), rules[row](b))
          << "row " << row << " byte " << b;
    }
  }
}

TEST(ConfigSector, PickingAnItemStoresItsValue) {
  const struct {
    std::size_t row, item;
    std::uint8_t byte;
  } cases[] = {{0, 0, 2}, {0, 6, 8}, {1, 3, 4},  {2, 0, 1}, {3, 1, 1},
               {4, 2, 3}, {6, 0, 1}, {6, 9, 10}, {7, 0, 0}, {7, 4, 4}};
  for (const auto& c : cases) {
    EXPECT_EQ(model::ByteForItem(c.row, c.item), c.byte) << c.row << "/" << c.item;
  }
}

}  // namespace
}  // namespace tarven::testing
