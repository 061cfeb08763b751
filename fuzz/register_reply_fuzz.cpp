// Any module answer through the register reply decoding and the texts the live pages make of it:
// no crash, no undefined behaviour, and the texts agree with the numbers they stand for.

#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "model/signal_text.h"

namespace model = tarven::model;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  model::RegisterReply reply{};
  std::memcpy(reply.data(), data, size < reply.size() ? size : reply.size());
  const std::uint16_t value = model::RegisterValue(reply);
  const std::uint32_t number = model::RegisterNumber(reply);
  if (value != (number & 0xFFFF) || model::EaWords(reply)[0] != value) std::abort();

  const std::string bits = model::BitsText(value);
  if (bits.size() != 32 || (bits[0] == '1') != ((value & 0x8000) != 0)) std::abort();
  const auto octal = model::ParseOctal(model::OctalWordText(value));
  if (!octal.ok() || octal.value != value) std::abort();

  const std::int32_t delta = model::CounterDelta(number);
  if (delta < -32768 || delta > 32767 || static_cast<std::uint16_t>(delta) != value) std::abort();
  // Adding and taking away the same change gives the counter back, however far it wrapped.
  const auto counter = static_cast<std::int32_t>(number);
  if (model::AddCount(model::AddCount(counter, delta), -delta) != counter) std::abort();

  const std::string volts = model::DacVoltsText(number, ",");
  const auto expected = model::DacVolts(number);
  if (!expected) {
    if (volts != model::kNoVoltage) std::abort();
    return 0;
  }
  std::string point = volts;
  const std::size_t comma = point.find(',');
  if (comma == std::string::npos || point.size() - comma != 4) std::abort();
  point[comma] = '.';
  double shown = 0;
  const auto [end, error] = std::from_chars(point.data(), point.data() + point.size(), shown);
  if (error != std::errc() || end != point.data() + point.size()) std::abort();
  if (std::fabs(shown - *expected) > 0.0005 + 1e-9 * std::fabs(*expected)) std::abort();
  return 0;
}
