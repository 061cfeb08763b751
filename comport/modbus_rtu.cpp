#include "comport/modbus_rtu.h"

namespace tarven::comport {
namespace {

constexpr std::uint16_t kReflectedPolynomial = 0xA001;

// The CRC register after shifting the byte `index` through it bitwise from zero: the value that
// one table step stands for.
constexpr std::uint16_t TableEntry(std::uint8_t index) {
  std::uint16_t crc = index;
  for (int bit = 0; bit < 8; ++bit) {
    crc = (crc & 1U) != 0 ? static_cast<std::uint16_t>((crc >> 1) ^ kReflectedPolynomial)
                          : static_cast<std::uint16_t>(crc >> 1);
  }
  return crc;
}

// One table for each byte of the CRC register, so that a data byte costs two byte lookups.
struct CrcTables {
  std::array<std::uint8_t, 256> low{};  // becomes the low byte, after the old high byte is mixed in
  std::array<std::uint8_t, 256> high{};  // becomes the high byte
};

constexpr CrcTables MakeTables() {
  CrcTables tables;
  for (unsigned i = 0; i < 256; ++i) {
    const std::uint16_t entry = TableEntry(static_cast<std::uint8_t>(i));
    tables.low[i] = static_cast<std::uint8_t>(entry & 0xFFU);
    tables.high[i] = static_cast<std::uint8_t>(entry >> 8);
  }
  return tables;
}

constexpr CrcTables kTables = MakeTables();
static_assert(kTables.low[1] == 0xC1 && kTables.low[2] == 0x81 && kTables.low[3] == 0x40);
static_assert(kTables.high[1] == 0xC0 && kTables.high[2] == 0xC1 && kTables.high[3] == 0x01);

}  // namespace

std::uint16_t ModbusCrc16(const std::uint8_t* data, std::uint16_t length) {
  std::uint8_t low = 0xFF;
  std::uint8_t high = 0xFF;
  for (const std::uint8_t* const end = data + length; data != end; ++data) {
    const std::uint8_t index = static_cast<std::uint8_t>(*data ^ low);
    low = static_cast<std::uint8_t>(kTables.low[index] ^ high);
    high = kTables.high[index];
  }
  return static_cast<std::uint16_t>((high << 8) | low);
}

std::array<std::uint8_t, kRequestLength> BuildReadRequest(std::uint8_t slave, std::uint16_t first,
                                                          std::uint16_t count) {
  std::array<std::uint8_t, kRequestLength> request{slave,
                                                   kReadHoldingRegisters,
                                                   static_cast<std::uint8_t>(first >> 8),
                                                   static_cast<std::uint8_t>(first & 0xFFU),
                                                   static_cast<std::uint8_t>(count >> 8),
                                                   static_cast<std::uint8_t>(count & 0xFFU),
                                                   0,
                                                   0};
  const std::uint16_t crc = ModbusCrc16(request.data(), 6);
  request[6] = static_cast<std::uint8_t>(crc & 0xFFU);
  request[7] = static_cast<std::uint8_t>(crc >> 8);
  return request;
}

std::optional<std::span<const std::uint8_t>> CheckReadReply(std::span<const std::uint8_t> reply,
                                                            std::uint16_t count) {
  if (!ValidRegisterCount(count) || reply.size() != ReadReplyLength(count)) return std::nullopt;
  const auto covered = static_cast<std::uint16_t>(reply.size() - 2);
  const std::uint16_t crc = ModbusCrc16(reply.data(), covered);
  if (reply[covered] != (crc & 0xFFU) || reply[covered + 1U] != (crc >> 8)) return std::nullopt;
  return reply.subspan(3, 2 * static_cast<std::size_t>(count));
}

}  // namespace tarven::comport
