#include <langinfo.h>
#include <locale.h>

#include "platform/decimal_separator.h"

namespace tarven::platform {

// The environment's LC_NUMERIC (LC_ALL, LC_NUMERIC, LANG), without changing the program's locale.
std::string UserDecimalSeparator() {
  std::string point = ".";
  if (const locale_t user = ::newlocale(LC_NUMERIC_MASK, "", static_cast<locale_t>(nullptr))) {
    if (const char* radix = ::nl_langinfo_l(RADIXCHAR, user); radix != nullptr && *radix != 0) {
      point = radix;
    }
    ::freelocale(user);
  }
  return point;
}

}  // namespace tarven::platform
