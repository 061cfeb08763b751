#pragma once
// The module's checksum rule: the unsigned 32-bit sum of the covered bytes, where a sum of 0 is
// stored or sent as 1 (so an all-zero area never passes as checked).

#include <cstddef>
#include <cstdint>

namespace tarven::model {

std::uint32_t ModuleChecksum(const std::uint8_t* data, std::size_t length);

}  // namespace tarven::model
