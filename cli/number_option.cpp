#include "cli/number_option.h"

#include <charconv>
#include <cstdio>

#include "cli/context.h"
#include "model/integer_text.h"
#include "model/printable_text.h"

namespace tarven::cli {
namespace {

bool AllDigits(std::string_view text) {
  if (text.empty()) return false;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

// A number as the help writes it: 0.5, not 5.000000e-01.
std::string NumberText(double value) {
  char text[64];
  const auto [end, error] = std::to_chars(text, text + sizeof text, value);
  return error == std::errc() ? std::string(text, end) : std::to_string(value);
}

std::string Quoted(std::string_view text) {
  return "'" + Shorten(model::Printable(text)) + "'";
}

}  // namespace

std::optional<std::int64_t> ParseWholeNumber(std::string_view text, std::int64_t min,
                                             std::int64_t max) {
  if (!AllDigits(text) || (text.size() > 1 && text.front() == '0')) return std::nullopt;
  std::int64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  if (value < min || value > max) return std::nullopt;
  return value;
}

std::optional<double> ParseDecimalNumber(std::string_view text, double min, double max) {
  const std::size_t point = text.find('.');
  const std::string_view whole = text.substr(0, point);
  if (!AllDigits(whole) || (whole.size() > 1 && whole.front() == '0')) return std::nullopt;
  if (point != std::string_view::npos && !AllDigits(text.substr(point + 1))) return std::nullopt;
  double value = 0;
  const auto [end, error] =
      std::from_chars(text.data(), text.data() + text.size(), value, std::chars_format::fixed);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  if (!(value >= min && value <= max)) return std::nullopt;
  return value;
}

std::optional<std::int32_t> ParseIntegerWord(std::string_view text) {
  if (text.empty() || text.front() == ' ' || text.front() == '\t') return std::nullopt;
  return model::ParseInteger(text);
}

std::string WholeNumberError(std::string_view text, std::int64_t min, std::int64_t max) {
  if (ParseWholeNumber(text, min, max)) return {};
  return Quoted(text) + " is not a whole number from " + std::to_string(min) + " to " +
         std::to_string(max);
}

std::string DecimalNumberError(std::string_view text, double min, double max) {
  if (ParseDecimalNumber(text, min, max)) return {};
  return Quoted(text) + " is not a number from " + NumberText(min) + " to " + NumberText(max) +
         " (digits, and a point before a fraction)";
}

CLI::Validator WholeNumber(std::int64_t min, std::int64_t max) {
  return CLI::Validator([min, max](std::string& text) { return WholeNumberError(text, min, max); },
                        "");
}

CLI::Validator DecimalNumber(double min, double max) {
  return CLI::Validator(
      [min, max](std::string& text) { return DecimalNumberError(text, min, max); }, "");
}

CLI::Validator NotEmpty(std::string what) {
  return CLI::Validator(
      [what = std::move(what)](std::string& text) {
        return text.empty() ? what + " is empty" : std::string();
      },
      "");
}

}  // namespace tarven::cli
