#pragma once
// The binding of the platform's HID access: one small interface that every backend implements
// (hidapi for real USB, the simulated module for tests and demonstrations).
//
// Quirks of the wire that every backend keeps:
//  - A feature report carries its report id in byte 0. The module uses report id 0, so byte 0 is
//    always 0 and bytes 1..64 are the payload; hidapi's hid_send_feature_report and
//    hid_get_feature_report, like Windows' HidD_SetFeature and HidD_GetFeature, take the id in
//    byte 0 the same way.
//  - Open asks for no read or write access and claims nothing: other programs may hold the device.
//  - Send and fetch block until the device has taken or delivered the report. There is no time-out
//    of our own; the platform's control-transfer time-out is the only one.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tarven::hid {

// Platform handle of an open HID device, pointer-sized. All ones is the invalid handle.
using Handle = std::uintptr_t;
inline constexpr Handle kInvalidHandle = ~Handle{0};

// Every report the module exchanges: report id byte and 64 payload bytes.
inline constexpr std::size_t kReportLength = 65;

// What the platform tells of one present HID interface without opening it.
struct DeviceInfo {
  std::string path;
  std::uint16_t vendor_id = 0;
  std::uint16_t product_id = 0;
  // The USB serial number; empty when the device has none or the platform does not say.
  std::string serial_number;
  // Where it is plugged in: the bus and the chain of hub ports, as "1-2.3". The same for whatever
  // is plugged into that port, across replugs and restarts. Empty when not on USB, or not known.
  std::string usb_location;
};

class Backend {
 public:
  virtual ~Backend() = default;

  // Paths of the present HID interfaces whose ids match (0 matches any id), in the platform's
  // enumeration order. False when the list cannot be obtained at all.
  virtual bool Enumerate(std::uint16_t vendor_id, std::uint16_t product_id,
                         std::vector<std::string>& paths) = 0;
  // The same search with what the platform tells of each device. By default only the paths.
  virtual bool EnumerateDevices(std::uint16_t vendor_id, std::uint16_t product_id,
                                std::vector<DeviceInfo>& devices);
  // kInvalidHandle when the path cannot be opened.
  virtual Handle Open(const std::string& path) = 0;
  // Why the last Open that failed did so, in the system's words ("Permission denied"); empty
  // when it is not known.
  virtual std::string OpenFailureReason() const { return {}; }
  // True when the last failed Open was refused for want of permission, which a udev rule mends.
  virtual bool OpenFailureIsPermission() const { return false; }
  virtual void Close(Handle handle) = 0;
  virtual bool GetAttributes(Handle handle, std::uint16_t& vendor_id,
                             std::uint16_t& product_id) = 0;
  // Length in bytes of the device's largest feature report, the report id byte included.
  virtual bool GetFeatureReportLength(Handle handle, std::uint16_t& length) = 0;
  // True when the device accepted the report.
  virtual bool SetFeature(Handle handle, const std::uint8_t* report, std::size_t length) = 0;
  // Fetches the report whose id is report[0]. True when a report came back.
  virtual bool GetFeature(Handle handle, std::uint8_t* report, std::size_t length) = 0;
};

// The USB location ("1-2.3") in a sysfs device path, as /sys/class/hidraw/hidrawN/device leads to
// (".../usb1/1-2/1-2.3/1-2.3:1.0/0003:03EB:6202.0005" gives "1-2.3"). Empty when the path holds
// no USB device, as for a virtual one.
std::string UsbLocationFromSysfsPath(const std::string& sysfs_path);

// The USB location in a Windows device location path, as the device-setup API tells it for a USB
// device ("PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(2)#USB(3)" gives "PCIROOT(0)#PCI(1400)-2.3": the
// host controller, then the chain of hub ports; a composite device's "#USBMI(1)" is passed over).
// Empty when the path runs through no USB port.
std::string UsbLocationFromLocationPath(const std::string& location_path);

// The vendor and product ids in a Windows HID device path
// ("\\?\hid#vid_03eb&pid_6202#7&1a2b3c4d&0&0000#{4d1e55b2-...}", either case), for a device
// that cannot be opened to ask. False when the path names none.
bool IdsFromWindowsHidPath(const std::string& path, std::uint16_t& vendor_id,
                           std::uint16_t& product_id);

// The platform backend, unbound. Null where the platform has none.
std::shared_ptr<Backend> MakePlatformBackend();

}  // namespace tarven::hid
