#include <cstdio>

#include "platform/usb_hint.h"

namespace tarven::platform {

std::string UsbDeviceListHint(std::uint16_t vendor_id, std::uint16_t product_id) {
  char ids[16];
  std::snprintf(ids, sizeof ids, "%04x:%04x", vendor_id, product_id);
  return std::string("'lsusb -d ") + ids + "' lists the module when the system sees it";
}

}  // namespace tarven::platform
