#include "model/checksum.h"

#include <algorithm>
#include <cstring>

namespace tarven::model {

std::uint32_t ModuleChecksum(const std::uint8_t* data, std::size_t length) {
  // Eight bytes at a time: the bytes are added in four 16-bit lanes, two bytes per lane per word.
  // A lane takes at most 510 per word, so 128 words fit before the lanes are folded into the sum.
  // Every block write sums its block before announcing it; this keeps that cost below the copy.
  constexpr std::uint64_t kLowBytes = 0x00FF00FF00FF00FFull;
  constexpr std::size_t kWordsPerFold = 128;
  std::uint32_t sum = 0;
  std::size_t i = 0;
  while (length - i >= 8) {
    const std::size_t words = std::min((length - i) / 8, kWordsPerFold);
    std::uint64_t lanes = 0;
    for (std::size_t w = 0; w < words; ++w, i += 8) {
      std::uint64_t word;
      std::memcpy(&word, data + i, sizeof word);
      lanes += (word & kLowBytes) + ((word >> 8) & kLowBytes);
    }
    sum += static_cast<std::uint32_t>((lanes & 0xFFFF) + ((lanes >> 16) & 0xFFFF) +
                                      ((lanes >> 32) & 0xFFFF) + (lanes >> 48));
  }
  for (; i < length; ++i) sum += data[i];
  return sum == 0 ? 1 : sum;
}

}  // namespace tarven::model
