#include "platform/wide_text.h"

#include <cstdint>

namespace tarven::platform {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

void AppendUtf16(std::u16string& out, char32_t c) {
  if (c < 0x10000) {
    out += static_cast<char16_t>(c);
  } else {
    c -= 0x10000;
    out += static_cast<char16_t>(0xD800 + (c >> 10));
    out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
  }
}

// The code point that starts at `i`, moving `i` past it; kReplacement for a bad sequence (which
// is then passed over one byte at a time).
char32_t NextCodePoint(std::string_view text, std::size_t& i) {
  const auto lead = static_cast<unsigned char>(text[i++]);
  if (lead < 0x80) return lead;
  int length = 0;
  char32_t c = 0;
  char32_t least = 0;
  if ((lead & 0xE0) == 0xC0) {
    length = 1, c = lead & 0x1F, least = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 2, c = lead & 0x0F, least = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 3, c = lead & 0x07, least = 0x10000;
  } else {
    return kReplacement;
  }
  if (i + static_cast<std::size_t>(length) > text.size()) return kReplacement;
  for (int k = 0; k < length; ++k) {
    const auto next = static_cast<unsigned char>(text[i + static_cast<std::size_t>(k)]);
    if ((next & 0xC0) != 0x80) return kReplacement;
    c = (c << 6) | (next & 0x3F);
  }
  if (c < least || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return kReplacement;
  i += static_cast<std::size_t>(length);
  return c;
}

}  // namespace

std::u16string Utf16FromUtf8(std::string_view utf8) {
  std::u16string out;
  out.reserve(utf8.size());
  for (std::size_t i = 0; i < utf8.size();) AppendUtf16(out, NextCodePoint(utf8, i));
  return out;
}

std::string Utf8FromUtf16(std::u16string_view utf16) {
  std::string out;
  out.reserve(utf16.size());
  for (std::size_t i = 0; i < utf16.size(); ++i) {
    const char16_t unit = utf16[i];
    char32_t c = unit;
    if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < utf16.size() && utf16[i + 1] >= 0xDC00 &&
        utf16[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((static_cast<char32_t>(unit) - 0xD800) << 10) +
          (static_cast<char32_t>(utf16[i + 1]) - 0xDC00);
      ++i;
    } else if (unit >= 0xD800 && unit <= 0xDFFF) {
      c = kReplacement;
    }
    AppendUtf8(out, c);
  }
  return out;
}

std::wstring WideFromUtf8(std::string_view utf8) {
  std::wstring out;
  if constexpr (sizeof(wchar_t) == 2) {
    for (const char16_t unit : Utf16FromUtf8(utf8)) out += static_cast<wchar_t>(unit);
  } else {
    for (std::size_t i = 0; i < utf8.size();) {
      out += static_cast<wchar_t>(NextCodePoint(utf8, i));
    }
  }
  return out;
}

std::string Utf8FromWide(std::wstring_view wide) {
  if constexpr (sizeof(wchar_t) == 2) {
    std::u16string units;
    for (const wchar_t c : wide) units += static_cast<char16_t>(c);
    return Utf8FromUtf16(units);
  } else {
    std::string out;
    for (const wchar_t c : wide) {
      const auto code = static_cast<char32_t>(c);
      AppendUtf8(out, code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF) ? kReplacement : code);
    }
    return out;
  }
}

}  // namespace tarven::platform
