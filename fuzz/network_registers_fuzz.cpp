// Any ten registers through the network page's decoding: no crash, no undefined behaviour; the
// version reads "major.minor" with the major number below 16 and the minor one at most 165, and
// the counters put their high register above their low one.

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>

#include "comport/modbus_registers.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::array<std::uint8_t, 20> bytes{};
  for (std::size_t i = 0; i < bytes.size() && i < size; ++i) bytes[i] = data[i];
  const auto status = tarven::comport::DecodeNetworkStatus(bytes);
  const std::size_t point = status.version.find('.');
  if (point == std::string::npos || point == 0 || point + 1 == status.version.size()) std::abort();
  const unsigned long major = std::stoul(status.version.substr(0, point));
  const unsigned long minor = std::stoul(status.version.substr(point + 1));
  if (major > 15 || minor > 165) std::abort();
  const auto word = [&bytes](std::size_t at) {
    return static_cast<std::uint32_t>((bytes[at] << 8) | bytes[at + 1]);
  };
  if (status.packets != ((word(8) << 16) | word(6))) std::abort();
  if (status.errors != ((word(12) << 16) | word(10))) std::abort();
  return 0;
}
