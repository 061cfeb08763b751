#pragma once
// The one rule by which the tool's edits and grid cells turn text into a signed 32-bit integer.
//
// Leading spaces are skipped; an optional + or - follows; then either decimal digits whose value
// lies within the signed 32-bit range, or one of the prefixes $, x, X, 0x, 0X and one to eight
// significant hexadecimal digits (either case, leading zeros not counted), taken as a 32-bit
// two's-complement value and negated after a minus. Nothing may follow; the empty text fails.

#include <cstdint>
#include <optional>
#include <string_view>

namespace tarven::model {

std::optional<std::int32_t> ParseInteger(std::string_view text);

}  // namespace tarven::model
