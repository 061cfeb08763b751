#pragma once
// Modbus RTU framing for reading holding registers (function 3), without any I/O: the CRC, the
// request, and the check of a reply. The serial exchange itself is in comport.h.
//
// On the wire every 16-bit field is sent high byte first, except the CRC, which is sent low byte
// first and covers every byte of the frame before it. A reply is accepted on its length and its
// CRC alone: a slave that answers from another address, or with another function code or byte
// count but the expected length, is taken at its word.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace tarven::comport {

inline constexpr std::uint8_t kReadHoldingRegisters = 0x03;
inline constexpr std::size_t kRequestLength = 8;
// One buffer holds the request and then the reply, which bounds a reply to 255 bytes.
inline constexpr std::size_t kFrameBufferSize = 256;
inline constexpr std::uint16_t kMaxRegistersPerRead = 125;

// CRC-16/MODBUS (initial value 0xFFFF, reflected polynomial 0xA001, no final inversion) of
// `length` bytes. Its low byte is the one sent first.
std::uint16_t ModbusCrc16(const std::uint8_t* data, std::uint16_t length);

// The 8-byte request for `count` registers from `first` at `slave`.
std::array<std::uint8_t, kRequestLength> BuildReadRequest(std::uint8_t slave, std::uint16_t first,
                                                          std::uint16_t count);

// Bytes in a complete reply carrying `count` registers: address, function, byte count, the
// registers, the CRC.
constexpr std::size_t ReadReplyLength(std::uint16_t count) {
  return 2 * static_cast<std::size_t>(count) + 5;
}

// Whether `count` registers can be asked for in one request.
constexpr bool ValidRegisterCount(std::uint16_t count) {
  return count >= 1 && count <= kMaxRegistersPerRead;
}

// The register bytes of `reply` (high byte first, as they came) when it is exactly
// ReadReplyLength(count) bytes long and its CRC is right; nothing otherwise, and nothing for a
// count that no request may carry.
std::optional<std::span<const std::uint8_t>> CheckReadReply(std::span<const std::uint8_t> reply,
                                                            std::uint16_t count);

}  // namespace tarven::comport
