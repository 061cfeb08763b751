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
  std::vector<DeviceProbe> probes;
  if (!ProbeDevices(link, probes)) {
    selection.error = "the system's list of HID devices cannot be read";
    return selection;
  }
  // A path names one device; a location or a serial number may be shared (a hub's port answers
  // for whatever is behind it only once, but two modules may carry one serial number).
  std::vector<const DeviceProbe*> matches;
  for (const auto field :
       {&hid::DeviceInfo::path, &hid::DeviceInfo::usb_location, &hid::DeviceInfo::serial_number}) {
    for (const DeviceProbe& probe : probes) {
      if (!(probe.info.*field).empty() && probe.info.*field == selector) matches.push_back(&probe);
    }
    if (!matches.empty()) break;
  }
  const std::string quoted = "'" + selector + "'";
  if (matches.empty()) {
    selection.error = WithList("no device matches " + quoted, probes);
    return selection;
  }
  if (matches.size() > 1) {
    std::string places;
    for (const DeviceProbe* probe : matches) {
      places += (places.empty() ? "" : ", ") +
                (probe->info.usb_location.empty() ? probe->info.path : probe->info.usb_location);
    }
    selection.error = WithList(quoted + " matches " + std::to_string(matches.size()) +
                                   " devices (" + places + "); choose one by its location or path",
                               probes);
    return selection;
  }
  const DeviceProbe& chosen = *matches.front();
  if (!IsModule(chosen)) {
    selection.error =
        WithList(quoted + " is " + chosen.info.path +
                     ", which is not a module that answers: " + DescribeAnswer(chosen),
                 probes);
    return selection;
  }
  selection.ok = true;
  selection.device = chosen;
  selection.pin = PinFor(chosen.info);
  return selection;
}

}  // namespace tarven::device
