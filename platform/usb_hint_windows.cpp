#include <cstdio>

#include "platform/usb_hint.h"

namespace tarven::platform {

std::string UsbDeviceListHint(std::uint16_t vendor_id, std::uint16_t product_id) {
  char ids[32];
  std::snprintf(ids, sizeof ids, "VID_%04X&PID_%04X", vendor_id, product_id);
  return std::string("Device Manager lists the module under 'Human Interface Devices', with ") +
         ids + " in its hardware ids, when the system sees it";
}

}  // namespace tarven::platform
