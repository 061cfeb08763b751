#include <asm/termbits.h>
#include <sys/ioctl.h>

#include "comport/custom_baud.h"

namespace tarven::comport {

bool SetCustomBaudRate(int fd, int baud) {
  termios2 line{};
  if (::ioctl(fd, TCGETS2, &line) != 0) return false;
  line.c_cflag &= ~static_cast<tcflag_t>(CBAUD | (CBAUD << IBSHIFT));
  line.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
  line.c_ispeed = static_cast<speed_t>(baud);
  line.c_ospeed = static_cast<speed_t>(baud);
  return ::ioctl(fd, TCSETS2, &line) == 0;
}

}  // namespace tarven::comport
