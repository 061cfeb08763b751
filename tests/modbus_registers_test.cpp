// The network registers as the page shows them: the version word and the two 32-bit counters.

#include "comport/modbus_registers.h"

#include <gtest/gtest.h>

#include <array>

namespace tarven::testing {
namespace {

std::array<std::uint8_t, 20> Registers(const std::array<std::uint16_t, 10>& values) {
  std::array<std::uint8_t, 20> bytes{};
  for (std::size_t i = 0; i < values.size(); ++i) {
    bytes[2 * i] = static_cast<std::uint8_t>(values[i] >> 8);
    bytes[2 * i + 1] = static_cast<std::uint8_t>(values[i] & 0xFF);
  }
  return bytes;
}

TEST(NetworkRegisters, VersionWord) {
  const struct {
    std::uint16_t word;
    const char* text;
  } cases[] = {
      {0x0454, "4.54"},  {0x0405, "4.5"},   {0xF123, "1.23"},  // bits 12..15 are not shown
      {0x04AB, "4.111"},                                       // nibbles above 9 still count
      {0x0000, "0.0"},   {0x0F99, "15.99"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(comport::NetworkVersionText(c.word), c.text) << std::hex << c.word;
  }
}

TEST(NetworkRegisters, CountersAreLowHalfFirst) {
  const auto status = comport::DecodeNetworkStatus(
      Registers({0xAAAA, 0xBBBB, 0xCCCC, 0x0001, 0x0002, 0xFFFF, 0xFFFF, 0xDDDD, 0xEEEE, 0x0454}));
  EXPECT_EQ(status.packets, 131073U);
  EXPECT_EQ(status.errors, 4294967295U);
  EXPECT_EQ(status.version, "4.54");
  const auto swapped =
      comport::DecodeNetworkStatus(Registers({0, 0, 0, 0x0002, 0x0001, 0x0000, 0x8000, 0, 0, 0}));
  EXPECT_EQ(swapped.packets, 0x00010002U);
  EXPECT_EQ(swapped.errors, 0x80000000U);
}

}  // namespace
}  // namespace tarven::testing
