#include <windows.h>

#include "platform/decimal_separator.h"
#include "platform/wide_text.h"

namespace tarven::platform {

// The user's regional settings (LOCALE_SDECIMAL of the user's default locale).
std::string UserDecimalSeparator() {
  wchar_t text[8] = {};
  const int n = ::GetLocaleInfoEx(LOCALE_NAME_USER_DEFAULT, LOCALE_SDECIMAL, text, 8);
  if (n <= 1) return ".";
  return Utf8FromWide(std::wstring(text, static_cast<std::size_t>(n - 1)));
}

}  // namespace tarven::platform
