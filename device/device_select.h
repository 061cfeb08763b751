#pragma once
// Choosing one module among several plugged in: by its hidraw path, its USB location or its USB
// serial number, as `tarvenctl devices` shows them; and the list of modules a run over all of
// them serves.

#include <string>
#include <vector>

#include "device/device.h"
#include "device/device_probe.h"

namespace tarven::device {

struct Selection {
  bool ok = false;
  // What the link is to be pinned to: the device's USB location where it has one (so that it is
  // followed through its boot loader), its path otherwise.
  DevicePin pin;
  DeviceProbe device;
  // Why nothing was chosen, with what is there, when not ok.
  std::string error;
};

// The one device with the module's ids whose path, USB location or serial number is `selector`
// and that answers as the module (either personality). A selector that matches nothing, more than
// one device (a serial number two modules share), or a device that is not a module gives an error
// that lists the devices present. Every device is probed as `devices` does.
Selection SelectDevice(Link& link, const std::string& selector);

// "PATH (location L, serial S): ANSWER" for each probed device, one per line, each indented by
// two spaces; "  none" when the list is empty.
std::string ListDevices(const std::vector<DeviceProbe>& probes);

// The pin that holds a link to a probed device (location where known, else path).
DevicePin PinFor(const hid::DeviceInfo& device);

}  // namespace tarven::device
