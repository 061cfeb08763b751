// The texts of the live signal pages: binary and octal words, octal input, encoder counts, DAC
// volts and the decoding of the module's register replies.

#include "model/signal_text.h"

#include <gtest/gtest.h>

#include <climits>
#include <optional>
#include <string>

namespace tarven::testing {
namespace {

using model::OctalError;

TEST(SignalText, BitsFromBit15DownEachFollowedByASpace) {
  EXPECT_EQ(model::BitsText(0x8001), "1 0 0 0 0 0 0 0 0 0 0 0 0 0 0 1 ");
  EXPECT_EQ(model::BitsText(0x8001).size(), 32u);
  EXPECT_EQ(model::BitsText(0), "0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 ");
  EXPECT_EQ(model::BitsText(0x00A5), "0 0 0 0 0 0 0 0 1 0 1 0 0 1 0 1 ");
}

TEST(SignalText, OctalWordsAndOctalNumbers) {
  const struct {
    std::uint16_t word;
    const char* six_digits;
    const char* number;
  } cases[] = {
      {0, "000000", "0"},           {1, "000001", "1"},           {8, "000010", "10"},
      {0x7FF, "003777", "3777"},    {0x8000, "100000", "100000"}, {0xFFFF, "177777", "177777"},
      {0xF131, "170461", "170461"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(model::OctalWordText(c.word), c.six_digits) << c.word;
    EXPECT_EQ(model::FormatOctal(c.word), c.number) << c.word;
  }
}

TEST(SignalText, CounterDeltasAreSigned16BitChanges) {
  const struct {
    std::uint32_t reply;
    std::int32_t delta;
  } cases[] = {
      {0x0000, 0},
      {0x0001, 1},
      {0xFFFF, -1},
      {0x7FFF, 32767},
      {0x8000, -32768},
      // A reply whose upper bytes repeat the sign still reports the 16-bit change.
      {0xFFFFFFFF, -1},
      {0xFFFF8000, -32768},
  };
  for (const auto& c : cases) EXPECT_EQ(model::CounterDelta(c.reply), c.delta) << c.reply;
}

TEST(SignalText, CountersWrapAroundPast32Bits) {
  EXPECT_EQ(model::AddCount(5, -7), -2);
  EXPECT_EQ(model::AddCount(INT32_MAX, 1), INT32_MIN);
  EXPECT_EQ(model::AddCount(INT32_MIN, -1), INT32_MAX);
  // Turning one way for long enough: 65540 reads of +32767 pass 2^31 once.
  std::int32_t counter = 0;
  for (int i = 0; i < 65540; ++i) counter = model::AddCount(counter, model::CounterDelta(0x7FFF));
  EXPECT_EQ(counter, static_cast<std::int32_t>(65540u * 32767u));
  EXPECT_LT(counter, 0);
}

TEST(SignalText, DacVoltsWithEitherDecimalSeparator) {
  const struct {
    std::uint32_t code;
    const char* volts;
  } cases[] = {
      {0, "0.000"},
      {1, "0.005"},
      {0x400, "5.002"},
      {0x7FF, "10.000"},
      {0x8000, "-10.005"},
      {0x8400, "-5.002"},
      {0x87FF, "-0.005"},
      // Bit 15 clear past the DAC's range: the rule still gives code × step.
      {0x800, "10.005"},
      // Bit 15 set past the negative range: no voltage.
      {0x8800, "—"},
      {0xFFFF, "—"},
      {0x18000, "—"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(model::DacVoltsText(c.code, "."), c.volts) << c.code;
    std::string comma = c.volts;
    if (const auto point = comma.find('.'); point != std::string::npos) comma[point] = ',';
    EXPECT_EQ(model::DacVoltsText(c.code, ","), comma) << c.code;
  }
  EXPECT_EQ(model::DacVolts(0x8800), std::nullopt);
  EXPECT_DOUBLE_EQ(*model::DacVolts(0x7FF), 2047 * 0.0048852);
}

TEST(SignalText, ParseOctalValuesAndFailures) {
  const struct {
    const char* text;
    OctalError error;
    std::uint16_t value;
    bool wrapped;
  } cases[] = {
      {"7", OctalError::None, 7, false},
      {"10", OctalError::None, 8, false},
      {"3777", OctalError::None, 0x7FF, false},
      {"100000", OctalError::None, 0x8000, false},
      {"177777", OctalError::None, 0xFFFF, false},
      {"200000", OctalError::None, 0, true},
      {"1000001", OctalError::None, 1, true},
      {"00000000177777", OctalError::None, 0xFFFF, false},
      {"8", OctalError::NotOctal, 0, false},
      {"19", OctalError::NotOctal, 0, false},
      {"-1", OctalError::NotANumber, 0, false},
      {"12 ", OctalError::NotANumber, 0, false},
      {" 12", OctalError::NotANumber, 0, false},
      {"+7", OctalError::NotANumber, 0, false},
      {"x7", OctalError::NotANumber, 0, false},
      {"7\xD0\x9E", OctalError::NotANumber, 0, false},
      {"", OctalError::Empty, 0, false},
  };
  for (const auto& c : cases) {
    const model::OctalValue parsed = model::ParseOctal(c.text);
    EXPECT_EQ(parsed.error, c.error) << '"' << c.text << '"';
    EXPECT_EQ(parsed.ok(), c.error == OctalError::None) << c.text;
    if (parsed.ok()) {
      EXPECT_EQ(parsed.value, c.value) << c.text;
      EXPECT_EQ(parsed.wrapped, c.wrapped) << c.text;
    }
  }
  EXPECT_EQ(model::OctalErrorText(OctalError::Empty), "Ошибка преобразования");
  EXPECT_EQ(model::OctalErrorText(OctalError::NotOctal), "Ошибка преобразования");
  EXPECT_NE(model::OctalErrorText(OctalError::NotANumber), "Ошибка преобразования");
}

TEST(SignalText, RegisterNumbersAreOctalAndAtMost16Bits) {
  EXPECT_EQ(model::ParseRegisterNumber("170461"), 0xF131);
  EXPECT_EQ(model::ParseRegisterNumber("170524"), 0xF154);
  EXPECT_EQ(model::ParseRegisterNumber("200000"), std::nullopt);
  EXPECT_EQ(model::ParseRegisterNumber("170468"), std::nullopt);
  EXPECT_EQ(model::ParseRegisterNumber(""), std::nullopt);
}

TEST(SignalText, RegisterAndEaRepliesAreLittleEndian) {
  const model::RegisterReply reply = {0x31, 0xF1, 0x02, 0x80, 0xAA, 0xBB, 0xCC, 0xDD};
  EXPECT_EQ(model::RegisterValue(reply), 0xF131);
  EXPECT_EQ(model::RegisterNumber(reply), 0x8002F131u);
  const std::array<std::uint16_t, 4> words = {0xF131, 0x8002, 0xBBAA, 0xDDCC};
  EXPECT_EQ(model::EaWords(reply), words);
}

}  // namespace
}  // namespace tarven::testing
