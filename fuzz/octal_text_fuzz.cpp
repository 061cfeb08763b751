// Any text through the octal parser: no crash, no undefined behaviour; it accepts exactly the
// non-empty texts of octal digits, its value is the octal number modulo 65536, and every value it
// accepts without wrapping reads back the same when written by FormatOctal.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "model/signal_text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const tarven::model::OctalValue parsed = tarven::model::ParseOctal(text);
  bool octal = !text.empty();
  std::uint64_t value = 0;
  bool wrapped = false;
  for (char c : text) {
    if (c < '0' || c > '7') {
      octal = false;
      break;
    }
    value = value * 8 + static_cast<std::uint64_t>(c - '0');
    if (value > 0xFFFF) wrapped = true;
    value &= 0xFFFF;
  }
  if (parsed.ok() != octal) std::abort();
  if (!parsed.ok()) return 0;
  if (parsed.value != value || parsed.wrapped != wrapped) std::abort();
  const auto again = tarven::model::ParseOctal(tarven::model::FormatOctal(parsed.value));
  if (!again.ok() || again.value != parsed.value || again.wrapped) std::abort();
  return 0;
}
