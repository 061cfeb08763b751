#pragma once
// SHA-256 (FIPS 180-4): the digest a backup's manifest gives for each of its parts.

#include <array>
#include <cstdint>
#include <span>
#include <string>

namespace tarven::model {

using Sha256Digest = std::array<std::uint8_t, 32>;

Sha256Digest Sha256(std::span<const std::uint8_t> bytes);
// The digest as 64 lowercase hexadecimal digits, as sha256sum prints it.
std::string Sha256Hex(std::span<const std::uint8_t> bytes);

}  // namespace tarven::model
