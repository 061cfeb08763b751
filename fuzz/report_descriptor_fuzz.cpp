// Any bytes as a HID report descriptor. The feature report length is nullopt, 0, or a length of
// at least two bytes (the report id byte and a payload), and it agrees with a second reading
// written here another way: first the bytes are cut into items, then the items are played. Two
// changes must not move the answer of a well-formed descriptor: a long item appended (vendor data
// says nothing about the layout), and every Feature item turned into an Input item (which leaves
// no feature report: 0).

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <optional>
#include <vector>

#include "device/report_descriptor.h"

namespace {

// The limits past which the parser calls a descriptor malformed (those of the Linux HID core).
constexpr std::uint64_t kMaxReportSize = 256;
constexpr std::uint64_t kMaxReportCount = 12288;

struct Item {
  std::size_t offset = 0;  // of the prefix byte
  bool is_long = false;
  unsigned type = 0;  // 0 main, 1 global, 2 local
  unsigned tag = 0;
  std::uint32_t value = 0;
};

// The bytes as items; nullopt when the last one runs past the end.
std::optional<std::vector<Item>> CutItems(const std::vector<std::uint8_t>& bytes) {
  std::vector<Item> items;
  std::size_t at = 0;
  while (at < bytes.size()) {
    Item item;
    item.offset = at;
    const std::uint8_t prefix = bytes[at];
    if (prefix == 0xFE) {
      // Long item: prefix, data size, tag, data.
      if (bytes.size() - at < 3 || bytes.size() - at - 3 < bytes[at + 1]) return std::nullopt;
      item.is_long = true;
      at += 3u + bytes[at + 1];
    } else {
      const unsigned size_code = prefix & 3u;
      const std::size_t data = size_code == 3 ? 4 : size_code;
      if (bytes.size() - at - 1 < data) return std::nullopt;
      for (std::size_t i = data; i > 0; --i) item.value = item.value << 8 | bytes[at + i];
      item.type = (prefix >> 2) & 3u;
      item.tag = prefix >> 4;
      at += 1 + data;
    }
    items.push_back(item);
  }
  return items;
}

struct Layout {
  std::uint64_t size = 0;
  std::uint64_t count = 0;
  std::uint64_t id = 0;
};

std::optional<std::uint16_t> PlayItems(const std::vector<Item>& items) {
  Layout now;
  std::vector<Layout> pushed;
  std::map<std::uint64_t, std::uint64_t> feature_bits;  // by report id
  for (const Item& item : items) {
    if (item.is_long) continue;
    if (item.type == 0 && item.tag == 0xB) {
      feature_bits[now.id] += now.size * now.count;
    } else if (item.type == 1) {
      switch (item.tag) {
        case 0x7:
          now.size = item.value;
          if (now.size > kMaxReportSize) return std::nullopt;
          break;
        case 0x8:
          now.id = item.value;
          if (now.id < 1 || now.id > 255) return std::nullopt;
          break;
        case 0x9:
          now.count = item.value;
          if (now.count > kMaxReportCount) return std::nullopt;
          break;
        case 0xA:
          pushed.push_back(now);
          break;
        case 0xB:
          if (pushed.empty()) return std::nullopt;
          now = pushed.back();
          pushed.pop_back();
          break;
        default:
          break;
      }
    }
  }
  std::uint64_t largest = 0;
  for (const auto& [id, bits] : feature_bits) largest = bits > largest ? bits : largest;
  if (largest == 0) return 0;
  const std::uint64_t bytes = 1 + largest / 8 + (largest % 8 != 0 ? 1 : 0);
  if (bytes > 0xFFFF) return std::nullopt;
  return static_cast<std::uint16_t>(bytes);
}

std::optional<std::uint16_t> Length(const std::vector<std::uint8_t>& bytes) {
  return tarven::hid::FeatureReportLength(bytes.data(), bytes.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // An exact-size copy, so that AddressSanitizer sees any read past the end.
  const std::vector<std::uint8_t> descriptor(data, data + size);
  const std::optional<std::uint16_t> length = Length(descriptor);
  if (length && *length == 1) std::abort();  // an id byte with nothing after it

  const std::optional<std::vector<Item>> items = CutItems(descriptor);
  const std::optional<std::uint16_t> expected = items ? PlayItems(*items) : std::nullopt;
  if (length != expected) std::abort();
  if (!length) return 0;

  std::vector<std::uint8_t> with_long_item = descriptor;
  with_long_item.insert(with_long_item.end(), {0xFE, 0x02, 0xF0, 0xB1, 0x02});
  if (Length(with_long_item) != length) std::abort();

  std::vector<std::uint8_t> inputs_only = descriptor;
  for (const Item& item : *items) {
    if (!item.is_long && item.type == 0 && item.tag == 0xB) {
      inputs_only[item.offset] = static_cast<std::uint8_t>(0x80 | (descriptor[item.offset] & 3u));
    }
  }
  if (Length(inputs_only) != 0) std::abort();
  return 0;
}
