#include "device/report_descriptor.h"

#include <algorithm>
#include <array>
#include <limits>
#include <vector>

namespace tarven::hid {
namespace {

// The Linux HID core refuses descriptors beyond these; a value past them means a broken
// descriptor, not a big device.
constexpr std::uint32_t kMaxReportSizeBits = 256;
constexpr std::uint32_t kMaxReportCount = 12288;
constexpr std::uint32_t kMaxReportId = 255;

constexpr std::uint8_t kLongItemPrefix = 0xFE;
constexpr std::array<std::size_t, 4> kShortItemDataSize = {0, 1, 2, 4};

enum class ItemType : std::uint8_t { Main = 0, Global = 1, Local = 2, Reserved = 3 };

constexpr std::uint8_t kMainFeature = 0xB;
constexpr std::uint8_t kGlobalReportSize = 0x7;
constexpr std::uint8_t kGlobalReportId = 0x8;
constexpr std::uint8_t kGlobalReportCount = 0x9;
constexpr std::uint8_t kGlobalPush = 0xA;
constexpr std::uint8_t kGlobalPop = 0xB;

// The part of the global item state that decides a report's length.
struct Globals {
  std::uint32_t report_size = 0;
  std::uint32_t report_count = 0;
  std::uint8_t report_id = 0;
};

// Applies one global item; false when it makes the descriptor malformed.
bool ApplyGlobal(std::uint8_t tag, std::uint32_t value, Globals& globals,
                 std::vector<Globals>& stack) {
  switch (tag) {
    case kGlobalReportSize:
      globals.report_size = value;
      return value <= kMaxReportSizeBits;
    case kGlobalReportCount:
      globals.report_count = value;
      return value <= kMaxReportCount;
    case kGlobalReportId:
      // Id 0 is reserved: it is what a report without an id byte is known by.
      if (value == 0 || value > kMaxReportId) return false;
      globals.report_id = static_cast<std::uint8_t>(value);
      return true;
    case kGlobalPush:
      stack.push_back(globals);
      return true;
    case kGlobalPop:
      if (stack.empty()) return false;
      globals = stack.back();
      stack.pop_back();
      return true;
    default:
      return true;
  }
}

std::uint32_t LittleEndian(const std::uint8_t* bytes, std::size_t count) {
  std::uint32_t value = 0;
  for (std::size_t i = 0; i < count; ++i) value |= std::uint32_t{bytes[i]} << (8 * i);
  return value;
}

}  // namespace

std::optional<std::uint16_t> FeatureReportLength(const std::uint8_t* descriptor,
                                                 std::size_t length) {
  if (descriptor == nullptr && length != 0) return std::nullopt;
  Globals globals;
  std::vector<Globals> stack;
  std::array<std::uint64_t, kMaxReportId + 1> feature_bits{};

  for (std::size_t pos = 0; pos < length;) {
    const std::uint8_t prefix = descriptor[pos];
    const std::size_t left = length - pos - 1;  // bytes after the prefix
    if (prefix == kLongItemPrefix) {
      // Long items carry vendor data that says nothing about report layout: skip the size
      // byte, the tag byte and the data.
      if (left < 2) return std::nullopt;
      const std::size_t data_size = descriptor[pos + 1];
      if (left - 2 < data_size) return std::nullopt;
      pos += 3 + data_size;
      continue;
    }
    const std::size_t data_size = kShortItemDataSize[prefix & 0x3u];
    if (left < data_size) return std::nullopt;
    const std::uint32_t value = LittleEndian(&descriptor[pos + 1], data_size);
    pos += 1 + data_size;

    const auto type = static_cast<ItemType>((prefix >> 2) & 0x3u);
    const auto tag = static_cast<std::uint8_t>(prefix >> 4);
    if (type == ItemType::Main && tag == kMainFeature) {
      feature_bits[globals.report_id] += std::uint64_t{globals.report_size} * globals.report_count;
    } else if (type == ItemType::Global && !ApplyGlobal(tag, value, globals, stack)) {
      return std::nullopt;
    }
  }

  const std::uint64_t bits = *std::max_element(feature_bits.begin(), feature_bits.end());
  if (bits == 0) return std::uint16_t{0};
  // The report id byte goes over the wire even for a device that declares no ids.
  const std::uint64_t bytes = (bits + 7) / 8 + 1;
  if (bytes > std::numeric_limits<std::uint16_t>::max()) return std::nullopt;
  return static_cast<std::uint16_t>(bytes);
}

}  // namespace tarven::hid
