#include "model/signal_text.h"

#include <charconv>
#include <system_error>

#include "model/integer_text.h"
#include "model/little_endian.h"

namespace tarven::model {

std::string BitsText(std::uint16_t word) {
  std::string text;
  text.reserve(32);
  for (int bit = 15; bit >= 0; --bit) {
    text += ((word >> bit) & 1) != 0 ? '1' : '0';
    text += ' ';
  }
  return text;
}

std::string OctalWordText(std::uint16_t word) {
  std::string text(6, '0');
  unsigned rest = word;
  for (std::size_t i = 6; i-- > 0;) {
    text[i] = static_cast<char>('0' + (rest & 7u));
    rest >>= 3;
  }
  return text;
}

std::string FormatOctal(std::uint16_t word) {
  const std::string text = OctalWordText(word);
  const std::size_t first = text.find_first_not_of('0');
  return first == std::string::npos ? std::string("0") : text.substr(first);
}

OctalValue ParseOctal(std::string_view text) {
  OctalValue result;
  if (text.empty()) {
    result.error = OctalError::Empty;
    return result;
  }
  std::uint32_t value = 0;
  for (const char& c : text) {
    // Each character on its own through the integer conversion, which takes only a digit alone.
    const std::optional<std::int32_t> digit = ParseInteger(std::string_view(&c, 1));
    if (!digit) {
      result.error = OctalError::NotANumber;
      return result;
    }
    if (*digit > 7) {
      result.error = OctalError::NotOctal;
      return result;
    }
    value = value * 8 + static_cast<std::uint32_t>(*digit);
    if (value > 0xFFFF) result.wrapped = true;
    value &= 0xFFFF;
  }
  result.value = static_cast<std::uint16_t>(value);
  return result;
}

std::string OctalErrorText(OctalError error) {
  switch (error) {
    case OctalError::None:
      return {};
    case OctalError::Empty:
    case OctalError::NotOctal:
      return "Ошибка преобразования";
    case OctalError::NotANumber:
      return "not a valid integer value";
  }
  return {};
}

std::optional<std::uint16_t> ParseRegisterNumber(std::string_view text) {
  const OctalValue parsed = ParseOctal(text);
  if (!parsed.ok() || parsed.wrapped) return std::nullopt;
  return parsed.value;
}

std::int32_t CounterDelta(std::uint32_t reply_number) {
  return static_cast<std::int16_t>(static_cast<std::uint16_t>(reply_number & 0xFFFFu));
}

std::int32_t AddCount(std::int32_t counter, std::int32_t delta) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(counter) +
                                   static_cast<std::uint32_t>(delta));
}

std::optional<double> DacVolts(std::uint32_t code) {
  constexpr std::uint32_t kSign = 0x8000;
  constexpr std::uint32_t kNegativeEnd = 0x8800;
  if ((code & kSign) == 0) return static_cast<double>(code) * kDacVoltsPerStep;
  if (code >= kNegativeEnd) return std::nullopt;
  return -(static_cast<double>(kNegativeEnd - code) * kDacVoltsPerStep);
}

std::string DacVoltsText(std::uint32_t code, std::string_view decimal_point) {
  const std::optional<double> volts = DacVolts(code);
  if (!volts) return kNoVoltage;
  // to_chars writes the point whatever the process's C locale says; the caller's separator
  // replaces it.
  char buffer[64];
  const auto [end, error] =
      std::to_chars(buffer, buffer + sizeof buffer, *volts, std::chars_format::fixed, 3);
  if (error != std::errc()) return kNoVoltage;
  std::string text(buffer, end);
  if (const std::size_t point = text.find('.'); point != std::string::npos) {
    text.replace(point, 1, decimal_point);
  }
  return text;
}

std::uint16_t RegisterValue(const RegisterReply& reply) {
  return ReadLe16(reply.data());
}

std::uint32_t RegisterNumber(const RegisterReply& reply) {
  return ReadLe32(reply.data());
}

std::array<std::uint16_t, 4> EaWords(const RegisterReply& reply) {
  std::array<std::uint16_t, 4> words{};
  for (std::size_t i = 0; i < words.size(); ++i) {
    words[i] = ReadLe16(reply.data() + 2 * i);
  }
  return words;
}

}  // namespace tarven::model
