#include "platform/local_time.h"

#include <cstdio>

namespace tarven::platform {

std::string OffsetText(long seconds) {
  const long minutes = (seconds < 0 ? -seconds : seconds) / 60;
  char text[8];
  std::snprintf(text, sizeof text, "%c%02ld%02ld", seconds < 0 ? '-' : '+', minutes / 60 % 100,
                minutes % 60);
  return text;
}

}  // namespace tarven::platform
