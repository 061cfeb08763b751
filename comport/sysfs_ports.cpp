#include "comport/sysfs_ports.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>

namespace tarven::comport {
namespace {

namespace fs = std::filesystem;

// Attributes are one short line; a longer file is not an attribute we know.
constexpr std::size_t kLongestAttribute = 256;

// Runs of white space as one space, none at either end, and other control characters as "?":
// a USB device names itself, and its name ends up on a terminal.
std::string Simplified(std::string_view text) {
  std::string simple;
  bool space = false;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (std::isspace(byte) != 0 || byte == 0) {
      space = !simple.empty();
      continue;
    }
    if (space) simple += ' ';
    space = false;
    simple += byte < 0x20 || byte == 0x7F ? '?' : c;
  }
  return simple;
}

std::string ReadAttribute(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return {};
  std::string text(kLongestAttribute, '\0');
  in.read(text.data(), static_cast<std::streamsize>(text.size()));
  text.resize(static_cast<std::size_t>(in.gcount()));
  return Simplified(text);
}

// The last part of where a link points: a device's driver or subsystem by name.
std::string LinkName(const fs::path& link) {
  std::error_code error;
  const fs::path target = fs::read_symlink(link, error);
  return error ? std::string() : target.filename().string();
}

bool IsBelow(const fs::path& path, const fs::path& folder) {
  const auto [in_folder, in_path] =
      std::mismatch(folder.begin(), folder.end(), path.begin(), path.end());
  return in_folder == folder.end() && in_path != path.end();
}

// Terminals that serve as serial ports without a driver of their own.
bool IsDriverlessPort(std::string_view name) {
  constexpr std::string_view kRfcomm = "rfcomm";
  if (name.starts_with(kRfcomm)) {
    const std::string_view number = name.substr(kRfcomm.size());
    if (number.empty() || number.size() > 3 ||
        !std::all_of(number.begin(), number.end(),
                     [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; })) {
      return false;
    }
    return std::stoi(std::string(number)) <= 255;
  }
  return name.starts_with("tnt") || name.starts_with("ttyGS");
}

// Since Linux 6.5 a UART's terminal hangs below two devices of the serial core's own bus; the
// driver that found the UART is the one above them, as it was before.
fs::path PastSerialCore(fs::path device, const fs::path& devices) {
  while (LinkName(device / "subsystem") == "serial-base" &&
         IsBelow(device.parent_path(), devices)) {
    device = device.parent_path();
  }
  return device;
}

// The USB device, the one with vendor and product ids, that `device` belongs to.
std::optional<fs::path> UsbDeviceOf(fs::path device, const fs::path& devices) {
  for (; IsBelow(device, devices); device = device.parent_path()) {
    std::error_code error;
    if (fs::exists(device / "idVendor", error) && fs::exists(device / "idProduct", error)) {
      return device;
    }
  }
  return std::nullopt;
}

std::string UsbName(const fs::path& usb_device) {
  const std::string manufacturer = ReadAttribute(usb_device / "manufacturer");
  const std::string product = ReadAttribute(usb_device / "product");
  if (manufacturer.empty() || product.empty()) return manufacturer + product;
  return manufacturer + ' ' + product;
}

std::optional<PortInfo> PortOf(const fs::path& tty, const fs::path& devices) {
  PortInfo port{tty.filename().string(), {}};
  std::error_code error;
  const fs::path device = fs::canonical(tty / "device", error);
  if (error) {
    if (IsDriverlessPort(port.name)) return port;
    return std::nullopt;
  }
  const std::string driver = LinkName(PastSerialCore(device, devices) / "driver");
  if (driver.empty() && !IsDriverlessPort(port.name)) return std::nullopt;
  // A UART slot that the driver reserved but found no UART in.
  if (ReadAttribute(tty / "type") == "0") return std::nullopt;
  if (const auto usb = UsbDeviceOf(device, devices)) port.description = UsbName(*usb);
  if (port.description.empty()) port.description = driver;
  return port;
}

}  // namespace

std::vector<PortInfo> SysfsPorts(const fs::path& sysfs_root) {
  std::vector<PortInfo> ports;
  std::error_code error;
  const fs::path devices = fs::weakly_canonical(sysfs_root / "devices", error);
  for (fs::directory_iterator entry(sysfs_root / "class" / "tty", error);
       !error && entry != fs::directory_iterator(); entry.increment(error)) {
    if (auto port = PortOf(entry->path(), devices)) ports.push_back(std::move(*port));
  }
  return ports;
}

}  // namespace tarven::comport
