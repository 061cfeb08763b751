#include "device/device_select.h"

#include <algorithm>

namespace tarven::device {
namespace {

bool IsModule(const DeviceProbe& probe) {
  return probe.personality == Personality::Application ||
         probe.personality == Personality::BootLoader;
}

std::string WithList(const std::string& reason, const std::vector<DeviceProbe>& probes) {
  return reason + "; devices with the module's USB ids:\n" + ListDevices(probes);
}

}  // namespace

DevicePin PinFor(const hid::DeviceInfo& device) {
  if (!device.usb_location.empty()) return {DevicePin::By::Location, device.usb_location};
  return {DevicePin::By::Path, device.path};
}

std::string ListDevices(const std::vector<DeviceProbe>& probes) {
  if (probes.empty()) return "  none\n";
  std::string list;
  for (const DeviceProbe& probe : probes) {
    list += "  " + probe.info.path + " (location " +
            (probe.info.usb_location.empty() ? "unknown" : probe.info.usb_location) + ", serial " +
            (probe.info.serial_number.empty() ? "none" : probe.info.serial_number) +
            "): " + DescribeAnswer(probe) + "\n";
  }
  return list;
}

Selection SelectDevice(Link& link, const std::string& selector) {
  Selection selection;
  std::vector<hid::DeviceInfo> devices;
  if (link.backend() == nullptr ||
      !link.backend()->EnumerateDevices(kModuleVendorId, kModuleProductId, devices)) {
    selection.error = "the system's list of HID devices cannot be read";
    return selection;
  }
  // The choice is made from what the system tells of each device, before any of them is sent a
  // report: only the chosen one is asked. A path names one device; a location or a serial number
  // may be shared (two modules may carry one serial number).
  std::vector<const hid::DeviceInfo*> matches;
  for (const auto field :
       {&hid::DeviceInfo::path, &hid::DeviceInfo::usb_location, &hid::DeviceInfo::serial_number}) {
    for (const hid::DeviceInfo& device : devices) {
      if (!(device.*field).empty() && device.*field == selector) matches.push_back(&device);
    }
    if (!matches.empty()) break;
  }
  // What is there, for a choice that cannot be made (devices another program holds are listed
  // as busy, not asked).
  const auto present = [&link] {
    std::vector<DeviceProbe> probes;
    ProbeDevices(link, probes);
    return probes;
  };
  const std::string quoted = "'" + selector + "'";
  if (matches.empty()) {
    selection.error = WithList("no device matches " + quoted, present());
    return selection;
  }
  if (matches.size() > 1) {
    std::string places;
    for (const hid::DeviceInfo* device : matches) {
      places += (places.empty() ? "" : ", ") +
                (device->usb_location.empty() ? device->path : device->usb_location);
    }
    selection.error = WithList(quoted + " matches " + std::to_string(matches.size()) +
                                   " devices (" + places + "); choose one by its location or path",
                               present());
    return selection;
  }
  const DeviceProbe chosen = ProbeDevice(link, *matches.front());
  // One that another program holds cannot be asked now: the link is held to it, and the
  // command's own search waits for it and says who holds it when it does not come free.
  if (!chosen.busy && !IsModule(chosen)) {
    selection.error =
        WithList(quoted + " is " + chosen.info.path +
                     ", which is not a module that answers: " + DescribeAnswer(chosen),
                 present());
    return selection;
  }
  selection.ok = true;
  selection.device = chosen;
  selection.pin = PinFor(chosen.info);
  return selection;
}

}  // namespace tarven::device
