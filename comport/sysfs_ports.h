#pragma once
// The serial ports of a Linux system as sysfs shows them, from any root so that a test can hand
// it a tree of its own.

#include <filesystem>
#include <vector>

#include "comport/comport.h"

namespace tarven::comport {

// The terminals of `<sysfs_root>/class/tty` that are serial ports: those whose device has a
// driver (ttyS0, ttyUSB0, ttyACM0, ...), except a UART slot that the kernel found empty (its
// type reads 0), and the driverless Bluetooth (rfcomm0..255), null-modem (tnt*) and USB gadget
// (ttyGS*) terminals. Virtual consoles and pseudo-terminals have no device and are left out.
// Each comes with what is behind it: the USB device's manufacturer and product, or the driver.
// Unsorted; empty when the folder cannot be read.
std::vector<PortInfo> SysfsPorts(const std::filesystem::path& sysfs_root);

}  // namespace tarven::comport
