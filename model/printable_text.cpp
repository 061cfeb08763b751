#include "model/printable_text.h"

#include <cstdio>

namespace tarven::model {
namespace {

void AppendEscape(std::string& out, unsigned char byte) {
  switch (byte) {
    case 0x00:
      out += "\\0";
      return;
    case 0x07:
      out += "\\a";
      return;
    case 0x09:
      out += "\\t";
      return;
    case 0x0A:
      out += "\\n";
      return;
    case 0x0D:
      out += "\\r";
      return;
    case 0x1B:
      out += "\\e";
      return;
    default:
      break;
  }
  char hex[8];
  std::snprintf(hex, sizeof hex, "\\x%02X", byte);
  out += hex;
}

// The length of the well-formed UTF-8 sequence at the start of `text` (no overlong forms, no
// surrogates, nothing above U+10FFFF), or 0.
std::size_t Utf8Length(std::string_view text) {
  const auto at = [&text](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = at(0);
  std::size_t length = 0;
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (text.size() < length) return 0;
  if (at(1) < low || at(1) > high) return 0;
  for (std::size_t i = 2; i < length; ++i) {
    if (at(i) < 0x80 || at(i) > 0xBF) return 0;
  }
  return length;
}

std::string Escaped(std::string_view text, bool keep_newlines) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte >= 0x20 && byte < 0x7F) {
      out += static_cast<char>(byte);
      ++i;
      continue;
    }
    if (byte == '\n' && keep_newlines) {
      out += '\n';
      ++i;
      continue;
    }
    if (byte < 0x80) {  // C0 controls and DEL
      AppendEscape(out, byte);
      ++i;
      continue;
    }
    const std::size_t length = Utf8Length(text.substr(i));
    // U+0080..U+009F, the C1 controls, are C2 80..C2 9F.
    const bool c1 = length == 2 && byte == 0xC2 && static_cast<unsigned char>(text[i + 1]) < 0xA0;
    if (length == 0 || c1) {
      const std::size_t count = c1 ? 2 : 1;
      for (std::size_t k = 0; k < count; ++k) {
        AppendEscape(out, static_cast<unsigned char>(text[i + k]));
      }
      i += count;
      continue;
    }
    out.append(text.substr(i, length));
    i += length;
  }
  return out;
}

}  // namespace

std::string Printable(std::string_view text) {
  return Escaped(text, false);
}

std::string PrintableLines(std::string_view text) {
  return Escaped(text, true);
}

}  // namespace tarven::model
