// How version words are written in the status panel and by tarvenctl.

#include <gtest/gtest.h>

#include "model/checksum.h"
#include "model/version_text.h"

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
  for (const Case& c : cases) EXPECT_EQ(model::FirmwareVersionText(c.word), c.text) << std::hex << c.word;
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
}

}  // namespace
}  // namespace tarven::testing
