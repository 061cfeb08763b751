// The integer text conversion shared by every edit and grid cell.

#include "model/integer_text.h"

#include <gtest/gtest.h>

#include <optional>

namespace tarven::testing {
namespace {

TEST(ParseInteger, TableOfTexts) {
  const struct {
    const char* text;
    std::optional<std::int32_t> value;
  } cases[] = {
      {"0", 0},
      {"12", 12},
      {"  12", 12},
      {"+7", 7},
      {"-5", -5},
      {"007", 7},
      {"2147483647", 2147483647},
      {"-2147483648", INT32_MIN},
      {"$F8", 248},
      {"$f8", 248},
      {"xFF", 255},
      {"XFF", 255},
      {"0x1F", 31},
      {"0X1f", 31},
      {"-$1", -1},
      {"0xFFFFFFFF", -1},
      {"-0x80000000", INT32_MIN},
      {"0x7FFFFFFF", INT32_MAX},
      {"0x000000001", 1},  // nine digits, eight of them leading zeros
      {"  -0x10", -16},
      // Failures.
      {"", std::nullopt},
      {"   ", std::nullopt},
      {"+", std::nullopt},
      {"-", std::nullopt},
      {"2147483648", std::nullopt},
      {"-2147483649", std::nullopt},
      {"99999999999999999999", std::nullopt},
      {"12a", std::nullopt},
      {"12 ", std::nullopt},
      {"1 2", std::nullopt},
      {"$", std::nullopt},
      {"0x", std::nullopt},
      {"0x100000000", std::nullopt},  // nine significant digits
      {"$G", std::nullopt},
      {"--1", std::nullopt},
      {"+-1", std::nullopt},
      {"- 1", std::nullopt},
      {"\t1", std::nullopt},
      {"00x1", std::nullopt},
      {"1e3", std::nullopt},
      {"٣", std::nullopt},  // a digit of another script
  };
  for (const auto& c : cases) {
    EXPECT_EQ(model::ParseInteger(c.text), c.value) << '"' << c.text << '"';
  }
}

}  // namespace
}  // namespace tarven::testing
