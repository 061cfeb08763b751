#include "model/integer_text.h"

namespace tarven::model {
namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The length of a hexadecimal prefix at the start of `text`, or 0.
std::size_t HexPrefix(std::string_view text) {
  if (text.empty()) return 0;
  if (text[0] == '$' || text[0] == 'x' || text[0] == 'X') return 1;
  if (text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) return 2;
  return 0;
}

std::optional<std::uint32_t> ParseHex(std::string_view digits) {
  if (digits.empty()) return std::nullopt;
  std::uint32_t value = 0;
  int significant = 0;
  for (char c : digits) {
    const int digit = HexValue(c);
    if (digit < 0) return std::nullopt;
    if (significant > 0 || digit != 0) ++significant;
    if (significant > 8) return std::nullopt;
    value = (value << 4) | static_cast<std::uint32_t>(digit);
  }
  return value;
}

// Decimal digits as a magnitude; fails past 2^31 (the largest a negative number may reach).
std::optional<std::uint32_t> ParseDecimal(std::string_view digits) {
  if (digits.empty()) return std::nullopt;
  std::uint64_t value = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<std::uint64_t>(c - '0');
    if (value > 0x80000000u) return std::nullopt;
  }
  return static_cast<std::uint32_t>(value);
}

}  // namespace

std::optional<std::int32_t> ParseInteger(std::string_view text) {
  std::size_t at = 0;
  while (at < text.size() && text[at] == ' ') ++at;
  bool negative = false;
  if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
    negative = text[at] == '-';
    ++at;
  }
  const std::string_view rest = text.substr(at);
  if (const std::size_t prefix = HexPrefix(rest); prefix > 0) {
    const auto bits = ParseHex(rest.substr(prefix));
    if (!bits) return std::nullopt;
    // Two's complement in 32 bits: the negation wraps, as the hardware's arithmetic does.
    const std::uint32_t value = negative ? 0u - *bits : *bits;
    return static_cast<std::int32_t>(value);
  }
  const auto magnitude = ParseDecimal(rest);
  if (!magnitude) return std::nullopt;
  if (negative) return static_cast<std::int32_t>(0u - *magnitude);
  if (*magnitude > 0x7FFFFFFFu) return std::nullopt;
  return static_cast<std::int32_t>(*magnitude);
}

}  // namespace tarven::model
