// How version words are written in the status panel and by tarvenctl.

#include "model/version_text.h"

#include <gtest/gtest.h>

#include <vector>

#include "model/checksum.h"

namespace tarven::testing {
namespace {

TEST(VersionText, FirmwareWordShowsThreeNibbles) {
  struct Case {
    std::uint32_t word;
    const char* text;
  };
  const Case cases[] = {
      {0x00045400, "4.54"},
      {0x000A1B00, "10.111"},  // no separator between the last two, even past 9
      {0, "0.00"},
      {0xFFF454FF, "4.54"},  // bits 0..7 and 20..31 are not shown
  };
  for (const Case& c : cases)
    EXPECT_EQ(model::FirmwareVersionText(c.word), c.text) << std::hex << c.word;
}

TEST(VersionText, BootWordShowsThreeBytesEachWithAPoint) {
  EXPECT_EQ(model::BootVersionText(0x00010203), "1.2.3.");
  EXPECT_EQ(model::BootVersionText(0xFFFFFFFF), "255.255.255.");
  EXPECT_EQ(model::BootVersionText(0), "0.0.0.");
}

TEST(Checksum, SumOfBytesWithZeroSentAsOne) {
  const std::uint8_t erased[4] = {0xFF, 0xFF, 0xFF, 0xFF};
  const std::uint8_t zeros[4] = {};
  EXPECT_EQ(model::ModuleChecksum(erased, 4), 4u * 255u);
  EXPECT_EQ(model::ModuleChecksum(zeros, 4), 1u);
  EXPECT_EQ(model::ModuleChecksum(zeros, 0), 1u);

  // Every length and alignment against a plain byte sum, with all-0xFF runs long enough to fill
  // the wide accumulator to its limit.
  std::vector<std::uint8_t> data(4200, 0xFF);
  for (std::size_t i = 3000; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 37);
  for (std::size_t start : {0u, 1u, 3u, 7u}) {
    for (std::size_t length : {1u, 7u, 8u, 9u, 1023u, 1024u, 1025u, 2048u, 4193u}) {
      std::uint32_t plain = 0;
      for (std::size_t i = 0; i < length; ++i) plain += data[start + i];
      EXPECT_EQ(model::ModuleChecksum(data.data() + start, length), plain)
          << "start " << start << " length " << length;
    }
  }
}

}  // namespace
}  // namespace tarven::testing
