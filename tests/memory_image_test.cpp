// Image imports and the hex preview, on the images as the window starts them.

#include "model/memory_image.h"

#include <gtest/gtest.h>

#include <vector>

namespace tarven::testing {
namespace {

using Bytes = std::vector<std::uint8_t>;
using model::AreaId;

Bytes Image(AreaId id) {
  const auto& area = model::Area(id);
  return Bytes(area.size, area.startup_fill);
}

Bytes Pattern(std::size_t size, std::uint8_t seed) {
  Bytes bytes(size);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(i * 13 + seed);
  return bytes;
}

std::string Repeat(const char* text, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) out += text;
  return out;
}

TEST(ImageListing, StartUpPreviewsOfEveryList) {
  const struct {
    AreaId id;
    std::size_t listing;
    const char* byte;
    int per_line;
  } lists[] = {{AreaId::MainRom, 0, " FF", 16},
               {AreaId::AmtRom, 0, " FF", 8},
               {AreaId::AmtRom, 1, " FF", 8},
               {AreaId::Kvp, 0, " FF", 16},
               {AreaId::Ram, 0, " 00", 16}};
  for (const auto& list : lists) {
    const auto& geometry = model::Area(list.id).listings[list.listing];
    const auto lines =
        model::ImageListing(Image(list.id), geometry.first_word, geometry.bytes_per_line);
    for (const std::string& line : lines) EXPECT_EQ(line, Repeat(list.byte, list.per_line));
  }
}

TEST(ImageListing, LinesShowTheirBytesInAddressOrder) {
  Bytes rom = Pattern(16384, 0);
  rom[0] = 0xAB;
  rom[1] = 0x12;
  auto lines = model::ImageListing(rom, 0, 16);
  EXPECT_EQ(lines[0].substr(0, 6), " AB 12");
  EXPECT_EQ(lines[0].size(), 48u);
  std::string line7;
  for (std::size_t i = 112; i < 128; ++i) {
    char text[4];
    std::snprintf(text, sizeof text, " %02X", rom[i]);
    line7 += text;
  }
  EXPECT_EQ(lines[7], line7);

  // Byte 128 is past the preview.
  Bytes changed = rom;
  changed[128] ^= 0xFF;
  EXPECT_EQ(model::ImageListing(changed, 0, 16), lines);

  // The AMT second half starts at word 2048: byte 4096.
  Bytes amt = Image(AreaId::AmtRom);
  amt[4096] = 0x01;
  amt[4103] = 0x08;
  amt[64] = 0x00;  // past the first half's preview
  const auto second = model::ImageListing(amt, 2048, 8);
  EXPECT_EQ(second[0], " 01 FF FF FF FF FF FF 08");
  EXPECT_EQ(model::ImageListing(amt, 0, 8)[7], Repeat(" FF", 8));
}

TEST(ImageImport, WholeFilesTakeTheirFirstBytesAndKeepTheRest) {
  Bytes rom = Image(AreaId::MainRom);
  const Bytes longer = Pattern(20000, 1);
  EXPECT_EQ(model::ImportWholeImage(rom, longer), 16384u);
  EXPECT_EQ(rom, Bytes(longer.begin(), longer.begin() + 16384));

  Bytes fresh = Image(AreaId::MainRom);
  const Bytes hundred = Pattern(100, 2);
  EXPECT_EQ(model::ImportWholeImage(fresh, hundred), 100u);
  EXPECT_EQ(Bytes(fresh.begin(), fresh.begin() + 100), hundred);
  EXPECT_EQ(Bytes(fresh.begin() + 100, fresh.end()), Bytes(16284, 0xFF));
  const auto lines = model::ImageListing(fresh, 0, 16);
  std::string line6;
  for (std::size_t i = 96; i < 100; ++i) {
    char text[4];
    std::snprintf(text, sizeof text, " %02X", hundred[i]);
    line6 += text;
  }
  EXPECT_EQ(lines[6], line6 + Repeat(" FF", 12));

  Bytes untouched = Image(AreaId::Kvp);
  EXPECT_EQ(model::ImportWholeImage(untouched, Bytes{}), 0u);
  EXPECT_EQ(untouched, Image(AreaId::Kvp));
}

TEST(ImageImport, ChipLanesInterleaveInEitherOrder) {
  const auto& rom_area = model::Area(AreaId::MainRom);
  const auto* low = model::LaneByChip(rom_area, "D83");
  const auto* high = model::LaneByChip(rom_area, "D82");
  ASSERT_NE(low, nullptr);
  ASSERT_NE(high, nullptr);
  EXPECT_EQ(model::LaneByChip(rom_area, "D76"), nullptr);
  const Bytes a = Pattern(8192, 3);
  const Bytes b = Pattern(8192, 100);

  Bytes first = Image(AreaId::MainRom);
  model::ImportChipLane(first, *low, a);
  model::ImportChipLane(first, *high, b);
  Bytes second = Image(AreaId::MainRom);
  model::ImportChipLane(second, *high, b);
  model::ImportChipLane(second, *low, a);
  EXPECT_EQ(first, second);
  for (std::size_t i = 0; i < 8192; ++i) {
    ASSERT_EQ(first[2 * i], a[i]) << i;
    ASSERT_EQ(first[2 * i + 1], b[i]) << i;
  }

  // Only a high-byte file after start-up: the low bytes stay 0xFF.
  Bytes only_high = Image(AreaId::MainRom);
  model::ImportChipLane(only_high, *high, b);
  for (std::size_t i = 0; i < 8192; ++i) {
    ASSERT_EQ(only_high[2 * i], 0xFF);
    ASSERT_EQ(only_high[2 * i + 1], b[i]);
  }
}

TEST(ImageImport, AmtLanesAndShortChipFilesTouchOnlyTheirBytes) {
  const auto& amt_area = model::Area(AreaId::AmtRom);
  const Bytes before = Pattern(8192, 7);
  Bytes amt = before;
  const Bytes chip = Pattern(2048, 50);
  EXPECT_EQ(model::ImportChipLane(amt, *model::LaneByChip(amt_area, "D74"), chip), 2048u);
  for (std::size_t i = 0; i < 8192; ++i) {
    const bool lane = i >= 4096 && i % 2 == 0;
    ASSERT_EQ(amt[i], lane ? chip[(i - 4096) / 2] : before[i]) << i;
  }

  // A short file changes only its first n words; a longer one is cut at the lane.
  Bytes rom = Image(AreaId::MainRom);
  const auto* low = model::LaneByChip(model::Area(AreaId::MainRom), "D83");
  EXPECT_EQ(model::ImportChipLane(rom, *low, Bytes{1, 2, 3}), 3u);
  EXPECT_EQ(Bytes(rom.begin(), rom.begin() + 8), (Bytes{1, 0xFF, 2, 0xFF, 3, 0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(model::ImportChipLane(rom, *low, Pattern(9000, 0)), 8192u);
}

}  // namespace
}  // namespace tarven::testing
