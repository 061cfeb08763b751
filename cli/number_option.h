#pragma once
// Numbers on tarvenctl's command line, read strictly: only the forms the help shows, inside the
// option's range, or a usage error that names the option. A word that merely begins with a number
// ("2x", "3.9" for a count, "1e3", "0x10", " 5") is refused rather than read as something else.

#include <CLI/CLI.hpp>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tarven::cli {

// Decimal digits without a sign or a leading zero ("0" itself is fine), from `min` to `max`.
std::optional<std::int64_t> ParseWholeNumber(std::string_view text, std::int64_t min,
                                             std::int64_t max);

// Decimal digits with at most one point and digits on both sides of it ("0.5", "12", not ".5",
// "5.", "1e3", "-1", "inf"), from `min` to `max`.
std::optional<double> ParseDecimalNumber(std::string_view text, double min, double max);

// A signed 32-bit integer as the tool's edits take it (decimal, or hexadecimal as $F8, x0F8 or
// 0xF8; see model::ParseInteger), but with nothing before it: the edits' leading spaces are no form
// a command line needs.
std::optional<std::int32_t> ParseIntegerWord(std::string_view text);

// Why `text` is not a whole number from `min` to `max` ("'2x' is not a whole number from 1 to
// 64"), or "" when it is one.
std::string WholeNumberError(std::string_view text, std::int64_t min, std::int64_t max);
std::string DecimalNumberError(std::string_view text, double min, double max);

// Validators for CLI11 options of these kinds; they add nothing to the help.
CLI::Validator WholeNumber(std::int64_t min, std::int64_t max);
CLI::Validator DecimalNumber(double min, double max);
// An option's value that must not be empty: "" names no file, device or part, and must not come
// to mean "all of them" or "the first one".
// `what` names the value in the message ("the value is empty").
CLI::Validator NotEmpty(std::string what = "the value");

}  // namespace tarven::cli
