#pragma once
// A look at every device with the module's USB ids, for people who want to know what is plugged
// in and why a module cannot be reached: where it is, whether it opens, its feature report
// length, and which personality answers the identify command.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "device/device.h"
#include "device/hid.h"

namespace tarven::device {

enum class Personality {
  NotAsked,     // not opened, or its feature report length is not the module's
  Application,  // answered identify as the application firmware
  BootLoader,   // answered identify as the boot loader
  Other,        // answered identify with another code
  Silent,       // refused the identify exchange
};

struct DeviceProbe {
  hid::DeviceInfo info;
  bool opened = false;
  std::string open_error;   // the system's reason when it did not open
  bool permission = false;  // it did not open for want of permission
  std::optional<std::uint16_t> feature_report_length;
  Personality personality = Personality::NotAsked;
  std::uint16_t device_code = 0;  // the identify answer, when there was one
  // Read from the personality that answered: the firmware version of either, and the boot
  // loader's own version.
  std::optional<std::uint32_t> firmware_version;
  std::optional<std::uint32_t> boot_version;
  // Another program held it: it was not opened, and who holds it.
  std::optional<LockHolder> busy;
};

// Probes every present device with the module's ids, in the platform's order. Each is locked,
// opened, asked, closed and let go again; only a device whose feature report length is the
// module's is sent a report, and none that another program holds (that one is listed as busy,
// with its holder). False when the platform cannot list its devices.
bool ProbeDevices(Link& link, std::vector<DeviceProbe>& probes);

// Probes one device the same way.
DeviceProbe ProbeDevice(Link& link, hid::DeviceInfo info);

const char* PersonalityName(Personality personality);

// What answered, in words: "application, firmware 4.54", "boot loader 1.2, firmware 4.54",
// "cannot be opened: REASON", "not the module (...)", "does not answer the identify command",
// "in use by tarven (pid 4711)".
std::string DescribeAnswer(const DeviceProbe& probe);

}  // namespace tarven::device
