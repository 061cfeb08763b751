// Any text through the integer conversion: no crash, no undefined behaviour, and every value it
// accepts reads back the same when written in decimal.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "model/integer_text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const auto value = tarven::model::ParseInteger(text);
  if (value) {
    const auto again = tarven::model::ParseInteger(std::to_string(*value));
    if (!again || *again != *value) std::abort();
  }
  return 0;
}
