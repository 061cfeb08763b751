#pragma once
// Where the user sees whether the system found a USB device, in the system's own tools.

#include <cstdint>
#include <string>

namespace tarven::platform {

// "'lsusb -d 03eb:6202' lists the module when the system sees it", or the Windows equivalent.
std::string UsbDeviceListHint(std::uint16_t vendor_id, std::uint16_t product_id);

}  // namespace tarven::platform
