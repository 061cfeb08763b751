// The feature report length read from a HID report descriptor: the number a device must show
// (65) before it is sent anything, so a parser that miscounts hides the module or admits a
// stranger.

#include "device/report_descriptor.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

struct DescriptorCase {
  std::string name;
  Bytes descriptor;
  std::optional<std::uint16_t> expected;
};

void PrintTo(const DescriptorCase& c, std::ostream* os) {
  *os << c.name;
}

// A vendor-defined device with 64-byte input, output and feature reports and no report ids:
// the shape of the module's descriptor.
const Bytes kVendor64 = {
    0x06, 0x00, 0xFF,  // Usage Page (Vendor Defined 0xFF00)
    0x09, 0x01,        // Usage (0x01)
    0xA1, 0x01,        // Collection (Application)
    0x15, 0x00,        //   Logical Minimum (0)
    0x26, 0xFF, 0x00,  //   Logical Maximum (255)
    0x75, 0x08,        //   Report Size (8)
    0x95, 0x40,        //   Report Count (64)
    0x09, 0x01,        //   Usage (0x01)
    0x81, 0x02,        //   Input (Data, Variable, Absolute)
    0x09, 0x01,        //   Usage (0x01)
    0x91, 0x02,        //   Output (Data, Variable, Absolute)
    0x09, 0x01,        //   Usage (0x01)
    0xB1, 0x02,        //   Feature (Data, Variable, Absolute)
    0xC0,              // End Collection
};

// The boot keyboard as printed in the HID class definition's appendix: inputs and LED outputs,
// no feature report.
const Bytes kBootKeyboard = {
    0x05, 0x01, 0x09, 0x06, 0xA1, 0x01, 0x05, 0x07, 0x19, 0xE0, 0x29, 0xE7, 0x15, 0x00, 0x25, 0x01,
    0x75, 0x01, 0x95, 0x08, 0x81, 0x02, 0x95, 0x01, 0x75, 0x08, 0x81, 0x01, 0x95, 0x05, 0x75, 0x01,
    0x05, 0x08, 0x19, 0x01, 0x29, 0x05, 0x91, 0x02, 0x95, 0x01, 0x75, 0x03, 0x91, 0x01, 0x95, 0x06,
    0x75, 0x08, 0x15, 0x00, 0x25, 0x65, 0x05, 0x07, 0x19, 0x00, 0x29, 0x65, 0x81, 0x00, 0xC0,
};

// Several report ids; id 2 is the largest only once its two feature items are added up, and
// id 4's nine bits round up to two bytes. Largest: id 2, 40 + 30 bytes.
const Bytes kSeveralIds = {
    0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01,        // vendor page, application collection
    0x75, 0x08,                                      // Report Size (8)
    0x85, 0x01, 0x95, 0x3F, 0xB1, 0x02,              // id 1: Report Count (63), Feature
    0x85, 0x02, 0x95, 0x28, 0xB1, 0x02,              // id 2: Report Count (40), Feature
    0x85, 0x03, 0x95, 0x50, 0x81, 0x02,              // id 3: an 80-byte Input, not a feature
    0x85, 0x02, 0x95, 0x1E, 0xB1, 0x02,              // id 2 again: Report Count (30), Feature
    0x85, 0x04, 0x75, 0x01, 0x95, 0x09, 0xB1, 0x02,  // id 4: 9 bits
    0xC0,
};

// Push keeps id 1 with 10-byte counts; Pop must bring back both the id and the count, or id 1
// or id 2 grows to 74 bytes.
const Bytes kPushPop = {
    0x75, 0x08, 0x85, 0x01, 0x95, 0x0A, 0xB1, 0x02,  // id 1: 10 bytes
    0xA4,                                            // Push
    0x85, 0x02, 0x95, 0x40, 0xB1, 0x02,              // id 2: 64 bytes
    0xB4,                                            // Pop
    0xB1, 0x02,                                      // id 1: 10 more bytes
};

// A long item whose data, read as short items from any byte after the prefix, would add a
// 32-byte feature.
const Bytes kLongItem = {
    0x75, 0x08, 0x95, 0x04,                    // 4 bytes
    0xFE, 0x04, 0x10, 0x95, 0x20, 0xB1, 0x02,  // long item: 4 data bytes, tag 0x10
    0xB1, 0x02,
};

std::vector<DescriptorCase> Cases() {
  return {
      {"Vendor64FeatureReport", kVendor64, 65},
      {"BootKeyboardHasNoFeatureReport", kBootKeyboard, 0},
      {"SeveralIdsTakeTheLargest", kSeveralIds, 71},
      {"PushPopRestoreIdAndCount", kPushPop, 65},
      {"LongItemIsSkippedWhole", kLongItem, 5},
      {"PartialByteRoundsUp", {0x75, 0x01, 0x95, 0x09, 0xB1, 0x02}, 3},
      {"BitsAddUpBeforeRounding", {0x75, 0x04, 0x95, 0x01, 0xB1, 0x02, 0xB1, 0x02}, 2},
      {"FourByteData", {0x75, 0x08, 0x97, 0x40, 0x00, 0x00, 0x00, 0xB1, 0x02}, 65},
      // A zero-size item (Report Count with no data) must not take the next byte as its data.
      {"ZeroByteData", {0x75, 0x08, 0x95, 0x40, 0x94, 0xB1, 0x02}, 0},
      {"EmptyDescriptor", {}, 0},
      {"LargestLegalItem", {0x76, 0x00, 0x01, 0x95, 0x80, 0xB1, 0x02}, 4097},

      {"ShortItemRunsPastEnd", {0x75, 0x08, 0x95}, std::nullopt},
      {"TwoByteItemRunsPastEnd", {0x06, 0x00}, std::nullopt},
      {"FourByteItemRunsPastEnd", {0x75, 0x08, 0x97, 0x40, 0x00, 0x00}, std::nullopt},
      {"LongItemPrefixAlone", {0xFE}, std::nullopt},
      {"LongItemWithoutTag", {0xFE, 0x00}, std::nullopt},
      {"LongItemDataRunsPastEnd", {0xFE, 0x05, 0x10, 0x01, 0x02}, std::nullopt},
      {"PopWithoutPush", {0x75, 0x08, 0xB4}, std::nullopt},
      {"MorePopsThanPushes", {0xA4, 0xB4, 0xB4}, std::nullopt},
      {"ReportIdZero", {0x85, 0x00, 0x75, 0x08, 0x95, 0x01, 0xB1, 0x02}, std::nullopt},
      {"ReportIdAbove255", {0x86, 0x00, 0x01}, std::nullopt},
      {"AbsurdReportSize", {0x77, 0x00, 0x00, 0x01, 0x00, 0x95, 0x01, 0xB1, 0x02}, std::nullopt},
      {"AbsurdReportCount", {0x75, 0x08, 0x97, 0xFF, 0xFF, 0xFF, 0xFF, 0xB1, 0x02}, std::nullopt},
      // Each item is within bounds, but the report is longer than any length can say.
      {"ReportTooLongForAnyLength", {0x76, 0x00, 0x01, 0x96, 0x00, 0x30, 0xB1, 0x02}, std::nullopt},
  };
}

class FeatureReportLengthTest : public testing::TestWithParam<DescriptorCase> {};

TEST_P(FeatureReportLengthTest, MatchesExpectedLength) {
  const DescriptorCase& c = GetParam();
  EXPECT_EQ(tarven::hid::FeatureReportLength(c.descriptor.data(), c.descriptor.size()), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Descriptors, FeatureReportLengthTest, testing::ValuesIn(Cases()),
                         [](const auto& test) { return test.param.name; });

// A malformed item at the very end must be caught from the length, not from a terminator: the
// parser is handed a view into a larger buffer whose next byte would complete the item.
TEST(FeatureReportLength, StopsAtTheGivenLength) {
  const Bytes buffer = {0x75, 0x08, 0x95, 0x40, 0xB1, 0x02, 0x95};
  EXPECT_EQ(tarven::hid::FeatureReportLength(buffer.data(), buffer.size() - 1), 65);
  EXPECT_EQ(tarven::hid::FeatureReportLength(buffer.data(), 5), std::nullopt);
}

}  // namespace
