#pragma once
// What the network page makes of the ten holding registers a module's network interface holds.
//
// Register 3 and 4 are the packet counter (low, high half), 5 and 6 the error counter, 9 the
// version: bits 8..11 the major number, bits 4..7 and 0..3 the tens and units of the minor
// number. Registers 0, 1, 2, 7, 8 and bits 12..15 of register 9 are read and not shown.

#include <cstdint>
#include <span>
#include <string>

namespace tarven::comport {

inline constexpr std::uint16_t kNetworkFirstRegister = 0;
inline constexpr std::uint16_t kNetworkRegisterCount = 10;

struct NetworkStatus {
  std::string version;  // "4.54"
  std::uint32_t packets = 0;
  std::uint32_t errors = 0;
};

// Register `index` of `data` (high byte first, as the reply carries it).
std::uint16_t RegisterAt(std::span<const std::uint8_t, 2 * kNetworkRegisterCount> data,
                         std::size_t index);

// "4.54" for 0x0454, "4.5" for 0x0405, "1.23" for 0xF123, "4.111" for 0x04AB: the minor number
// is tens × 10 + units, whatever the nibbles hold.
std::string NetworkVersionText(std::uint16_t version_register);

NetworkStatus DecodeNetworkStatus(std::span<const std::uint8_t, 2 * kNetworkRegisterCount> data);

}  // namespace tarven::comport
