// Modbus RTU framing: the CRC against known answers and a bitwise reckoning, the request bytes,
// and which replies pass the length-and-CRC check.

#include "comport/modbus_rtu.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "modbus_peers.h"

namespace tarven::testing {
namespace {

using comport::ModbusCrc16;
using Bytes = std::vector<std::uint8_t>;

std::uint16_t Crc(const Bytes& bytes) {
  return ModbusCrc16(bytes.data(), static_cast<std::uint16_t>(bytes.size()));
}

TEST(ModbusCrc16, KnownAnswers) {
  const std::string check = "123456789";
  EXPECT_EQ(ModbusCrc16(reinterpret_cast<const std::uint8_t*>(check.data()), 9), 0x4B37);
  EXPECT_EQ(ModbusCrc16(nullptr, 0), 0xFFFF);
  // The CRC of a frame followed by its own CRC, low byte first, is zero.
  EXPECT_EQ(Crc({0x01, 0x03, 0x00, 0x00, 0x00, 0x0A, 0xC5, 0xCD}), 0x0000);
}

TEST(ModbusCrc16, AgreesWithTheBitwiseMethodOnRandomFrames) {
  std::mt19937 random(20241210);
  std::uniform_int_distribution<int> length(0, 300);
  std::uniform_int_distribution<int> byte(0, 255);
  for (int frame = 0; frame < 2000; ++frame) {
    Bytes bytes(static_cast<std::size_t>(length(random)));
    for (auto& b : bytes) b = static_cast<std::uint8_t>(byte(random));
    const Bytes reference = WithCrc(bytes);  // bitwise, low byte first
    const std::uint16_t expected =
        static_cast<std::uint16_t>(reference[bytes.size()] | (reference[bytes.size() + 1] << 8));
    ASSERT_EQ(Crc(bytes), expected) << "frame " << frame << " of " << bytes.size() << " bytes";
  }
}

TEST(ModbusRequest, TenRegistersFromZero) {
  const auto request = comport::BuildReadRequest(1, 0, 10);
  EXPECT_EQ(Bytes(request.begin(), request.end()),
            (Bytes{0x01, 0x03, 0x00, 0x00, 0x00, 0x0A, 0xC5, 0xCD}));
  const auto other = comport::BuildReadRequest(0xFF, 0x1234, 125);
  EXPECT_EQ(Bytes(other.begin(), other.end()), WithCrc({0xFF, 0x03, 0x12, 0x34, 0x00, 0x7D}));
  EXPECT_EQ(comport::ReadReplyLength(10), 25U);
}

TEST(ModbusReply, OnlyLengthAndCrcDecide) {
  const Bytes good = TenRegisterReply({0, 1, 2, 3, 4, 5, 6, 7, 8, 0x0454});
  const auto flipped = [&good](std::size_t at, std::uint8_t bits) {
    Bytes copy(good.begin(), good.end());
    copy.at(at) = static_cast<std::uint8_t>(copy.at(at) ^ bits);
    return copy;
  };
  const Bytes bad_crc = flipped(24, 0x01);
  const Bytes flipped_data = flipped(10, 0x80);
  Bytes with_extra = good;
  with_extra.push_back(0x00);
  const struct {
    const char* name;
    Bytes reply;
    std::uint16_t count;
    bool accepted;
  } cases[] = {
      {"good", good, 10, true},
      {"from another slave", TenRegisterReply({0, 1, 2, 3, 4, 5, 6, 7, 8, 9}, 0x11), 10, true},
      {"another function code and byte count",
       WithCrc({0x01, 0x04, 0x99, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}), 10,
       true},
      {"bad CRC", bad_crc, 10, false},
      {"a data bit flipped", flipped_data, 10, false},
      {"24 bytes", Bytes(good.begin(), good.end() - 1), 10, false},
      {"26 bytes", with_extra, 10, false},
      {"exception reply", WithCrc({0x01, 0x83, 0x02}), 10, false},
      {"one register", WithCrc({0x01, 0x03, 0x02, 0xAB, 0xCD}), 1, true},
      {"no register asked for", WithCrc({0x01, 0x03, 0x00}), 0, false},
      {"126 registers asked for", Bytes(257, 0), 126, false},
  };
  for (const auto& c : cases) {
    const auto registers = comport::CheckReadReply(c.reply, c.count);
    EXPECT_EQ(registers.has_value(), c.accepted) << c.name;
    if (registers && c.accepted) {
      EXPECT_EQ(Bytes(registers->begin(), registers->end()),
                Bytes(c.reply.begin() + 3, c.reply.end() - 2))
          << c.name;
    }
  }
}

}  // namespace
}  // namespace tarven::testing
