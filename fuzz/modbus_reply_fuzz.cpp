// Any bytes as a reply to a read of holding registers, for any register count: no crash, no
// undefined behaviour, and a reply is accepted only when it has exactly the expected length and a
// frame CRC that checks out, its registers being the bytes between header and CRC.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "comport/modbus_rtu.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  // The first byte picks the count (0 to 255, beyond what a request may carry); the rest is the
  // reply.
  const std::uint16_t count = data[0];
  const std::span<const std::uint8_t> reply(data + 1, size - 1);
  const auto registers = tarven::comport::CheckReadReply(reply, count);
  if (!registers) return 0;
  if (count < 1 || count > 125 || reply.size() != 2U * count + 5U) std::abort();
  // A frame followed by its own CRC, low byte first, has a CRC of zero.
  if (tarven::comport::ModbusCrc16(reply.data(), static_cast<std::uint16_t>(reply.size())) != 0) {
    std::abort();
  }
  if (registers->data() != reply.data() + 3 || registers->size() != 2U * count) std::abort();
  return 0;
}
