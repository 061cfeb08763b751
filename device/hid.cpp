#include "device/hid.h"

#include <algorithm>
#include <cctype>
#include <string_view>
#include <utility>

namespace tarven::hid {
bool Backend::EnumerateDevices(std::uint16_t vendor_id, std::uint16_t product_id,
                               std::vector<DeviceInfo>& devices) {
  devices.clear();
  std::vector<std::string> paths;
  if (!Enumerate(vendor_id, product_id, paths)) return false;
  for (std::string& path : paths) {
    DeviceInfo info;
    info.path = std::move(path);
    devices.push_back(std::move(info));
  }
  return true;
}

namespace {

// A USB device's name in sysfs: bus number, a dash, the hub ports joined by points ("1-2.3").
bool IsUsbDeviceName(std::string_view name) {
  const std::size_t dash = name.find('-');
  if (dash == 0 || dash == std::string_view::npos || dash + 1 == name.size()) return false;
  for (std::size_t i = 0; i < name.size(); ++i) {
    const char c = name[i];
    const bool digit = std::isdigit(static_cast<unsigned char>(c)) != 0;
    const bool point = c == '.' && i > dash + 1 && name[i - 1] != '.' && i + 1 < name.size();
    if (!digit && !point && i != dash) return false;
  }
  return true;
}

}  // namespace

std::string UsbLocationFromSysfsPath(const std::string& sysfs_path) {
  // The device nearest the interface wins: a hub's own name is a prefix further up the path.
  std::string location;
  std::size_t start = 0;
  while (start <= sysfs_path.size()) {
    std::size_t end = sysfs_path.find('/', start);
    if (end == std::string::npos) end = sysfs_path.size();
    const std::string_view part(sysfs_path.data() + start, end - start);
    if (IsUsbDeviceName(part)) location = part;
    start = end + 1;
  }
  return location;
}

std::string UsbLocationFromLocationPath(const std::string& location_path) {
  constexpr std::string_view kRoot = "#USBROOT(";
  const std::size_t root = location_path.find(kRoot);
  if (root == std::string::npos || root == 0) return {};
  std::string ports;
  std::size_t start = location_path.find('#', root + 1);
  while (start != std::string::npos) {
    const std::size_t end = location_path.find('#', start + 1);
    const std::string_view part(
        location_path.data() + start + 1,
        (end == std::string::npos ? location_path.size() : end) - start - 1);
    if (part.starts_with("USBMI(")) break;  // an interface of the device found so far
    constexpr std::string_view kPort = "USB(";
    if (!part.starts_with(kPort) || !part.ends_with(")")) return {};
    const std::string_view number = part.substr(kPort.size(), part.size() - kPort.size() - 1);
    if (number.empty() || !std::all_of(number.begin(), number.end(), [](char c) {
          return std::isdigit(static_cast<unsigned char>(c)) != 0;
        })) {
      return {};
    }
    if (!ports.empty()) ports += '.';
    ports += number;
    start = end;
  }
  if (ports.empty()) return {};
  return location_path.substr(0, root) + "-" + ports;
}

namespace {

// The four hexadecimal digits after `key` ("vid_") in the lower-case `path`.
bool HexAfter(const std::string& path, std::string_view key, std::uint16_t& value) {
  const std::size_t at = path.find(key);
  if (at == std::string::npos || at + key.size() + 4 > path.size()) return false;
  unsigned result = 0;
  for (std::size_t i = at + key.size(); i < at + key.size() + 4; ++i) {
    const char c = path[i];
    const int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
    if (digit < 0) return false;
    result = result * 16 + static_cast<unsigned>(digit);
  }
  value = static_cast<std::uint16_t>(result);
  return true;
}

}  // namespace

bool IdsFromWindowsHidPath(const std::string& path, std::uint16_t& vendor_id,
                           std::uint16_t& product_id) {
  std::string lower = path;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  // The ids belong to the part after "hid#"; a path's tail (an instance, a class) never holds
  // "#vid_" again.
  const std::size_t start = lower.find("hid#");
  if (start == std::string::npos) return false;
  const std::string ids = lower.substr(start, lower.find('#', start + 4) - start);
  std::uint16_t vendor = 0;
  std::uint16_t product = 0;
  if (!HexAfter(ids, "vid_", vendor) || !HexAfter(ids, "pid_", product)) return false;
  vendor_id = vendor;
  product_id = product;
  return true;
}

}  // namespace tarven::hid
