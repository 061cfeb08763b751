#include "comport/modbus_registers.h"

namespace tarven::comport {

std::uint16_t RegisterAt(std::span<const std::uint8_t, 2 * kNetworkRegisterCount> data,
                         std::size_t index) {
  return static_cast<std::uint16_t>((data[2 * index] << 8) | data[2 * index + 1]);
}

std::string NetworkVersionText(std::uint16_t version_register) {
  const unsigned major = (version_register >> 8) & 0xFU;
  const unsigned minor = ((version_register >> 4) & 0xFU) * 10U + (version_register & 0xFU);
  return std::to_string(major) + "." + std::to_string(minor);
}

NetworkStatus DecodeNetworkStatus(std::span<const std::uint8_t, 2 * kNetworkRegisterCount> data) {
  const auto counter = [&](std::size_t low) {
    return static_cast<std::uint32_t>(RegisterAt(data, low)) |
           (static_cast<std::uint32_t>(RegisterAt(data, low + 1)) << 16);
  };
  return {NetworkVersionText(RegisterAt(data, 9)), counter(3), counter(5)};
}

}  // namespace tarven::comport
