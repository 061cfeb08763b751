#pragma once
// The module's checksum rule: the unsigned 32-bit sum of the covered bytes, where a sum of 0 is
// stored or sent as 1 (so an all-zero area never passes as checked).

#include <cstddef>
#include <cstdint>

namespace tarven::model {

inline std::uint32_t ModuleChecksum(const std::uint8_t* data, std::size_t length) {
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i < length; ++i) sum += data[i];
  return sum == 0 ? 1 : sum;
}

}  // namespace tarven::model
