// Which terminals sysfs shows as serial ports, and what it says is behind each, from trees laid out
// the way the kernel lays them out (devices under /sys/devices, the tty class as links to them).

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "comport/comport.h"
#include "comport/sysfs_ports.h"

namespace tarven::comport {
void PrintTo(const PortInfo& port, std::ostream* out) {
  *out << '{' << port.name << ", \"" << port.description << "\"}";
}
}  // namespace tarven::comport

namespace tarven::testing {
namespace {

namespace fs = std::filesystem;
using comport::PortInfo;
using Attributes = std::map<std::string, std::string>;

// A sysfs tree in a scratch folder, removed with the object.
class FakeSysfs {
 public:
  FakeSysfs() {
    char pattern[] = "/tmp/tarven-sysfs-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) throw std::runtime_error("mkdtemp");
    root_ = pattern;
    fs::create_directories(root_ / "class" / "tty");
    fs::create_directories(root_ / "devices");
  }
  ~FakeSysfs() {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }
  FakeSysfs(const FakeSysfs&) = delete;
  FakeSysfs& operator=(const FakeSysfs&) = delete;

  const fs::path& root() const { return root_; }

  // A device at `path` below devices/, with attribute files, bound to `driver` and on the bus
  // `subsystem` when they are given (as links named driver and subsystem, as sysfs has them).
  void Device(const std::string& path, const Attributes& attributes = {},
              const std::string& driver = "", const std::string& subsystem = "") {
    const fs::path folder = root_ / "devices" / path;
    fs::create_directories(folder);
    Write(folder, attributes);
    if (!subsystem.empty()) {
      fs::create_directories(root_ / "bus" / subsystem / "drivers");
      fs::create_directory_symlink(root_ / "bus" / subsystem, folder / "subsystem");
    }
    if (!driver.empty()) {
      const fs::path bus = root_ / "bus" / (subsystem.empty() ? "platform" : subsystem);
      fs::create_directories(bus / "drivers" / driver);
      fs::create_directory_symlink(bus / "drivers" / driver, folder / "driver");
    }
  }

  // The terminal `name` below the device at `device` (a virtual one without a device), linked
  // into the tty class.
  void Terminal(const std::string& name, const std::string& device,
                const Attributes& attributes = {}) {
    const fs::path parent = root_ / "devices" / (device.empty() ? "virtual" : device);
    const fs::path folder = parent / "tty" / name;
    fs::create_directories(folder);
    Write(folder, attributes);
    if (!device.empty()) fs::create_directory_symlink(parent, folder / "device");
    fs::create_directory_symlink(fs::relative(folder, root_ / "class" / "tty"),
                                 root_ / "class" / "tty" / name);
  }

 private:
  static void Write(const fs::path& folder, const Attributes& attributes) {
    for (const auto& [name, text] : attributes) std::ofstream(folder / name) << text << '\n';
  }

  fs::path root_;
};

std::vector<PortInfo> Sorted(std::vector<PortInfo> ports) {
  comport::SortPorts(ports);
  return ports;
}

TEST(SysfsPorts, SerialPortsAndWhatIsBehindThem) {
  FakeSysfs sysfs;
  const std::string hub = "pci0000:00/0000:00:14.0/usb1";
  // A USB adapter through usb-serial: its maker and product name it.
  sysfs.Device(hub, {{"idVendor", "1d6b"}, {"idProduct", "0002"}, {"product", "xHCI Host"}});
  sysfs.Device(hub + "/1-2",
               {{"idVendor", "0403"},
                {"idProduct", "6001"},
                {"manufacturer", "FTDI"},
                {"product", "FT232R  USB UART"}},
               "usb", "usb");
  sysfs.Device(hub + "/1-2/1-2:1.0", {{"bInterfaceClass", "ff"}}, "ftdi_sio", "usb");
  sysfs.Device(hub + "/1-2/1-2:1.0/ttyUSB0", {}, "ftdi_sio", "usb-serial");
  sysfs.Terminal("ttyUSB0", hub + "/1-2/1-2:1.0/ttyUSB0");
  // A CDC ACM device that gives only its product.
  sysfs.Device(hub + "/1-3", {{"idVendor", "2e8a"}, {"idProduct", "000a"}, {"product", "Pico"}},
               "usb", "usb");
  sysfs.Device(hub + "/1-3/1-3:1.0", {}, "cdc_acm", "usb");
  sysfs.Terminal("ttyACM0", hub + "/1-3/1-3:1.0");
  // An adapter that names nothing: its driver does.
  sysfs.Device(hub + "/1-4", {{"idVendor", "10c4"}, {"idProduct", "ea60"}}, "usb", "usb");
  sysfs.Device(hub + "/1-4/1-4:1.0", {}, "cp210x", "usb");
  sysfs.Device(hub + "/1-4/1-4:1.0/ttyUSB1", {}, "cp210x", "usb-serial");
  sysfs.Terminal("ttyUSB1", hub + "/1-4/1-4:1.0/ttyUSB1");
  // A PC's own port, found by Plug and Play, before Linux 6.5 and after (below the serial
  // core's port devices).
  sysfs.Device("pnp0/00:01", {}, "serial", "pnp");
  sysfs.Terminal("ttyS0", "pnp0/00:01", {{"type", "4"}});
  sysfs.Device("pnp0/00:02", {}, "serial", "pnp");
  sysfs.Device("pnp0/00:02/00:02:0", {}, "ctrl", "serial-base");
  sysfs.Device("pnp0/00:02/00:02:0/00:02:0.0", {}, "port", "serial-base");
  sysfs.Terminal("ttyS1", "pnp0/00:02/00:02:0/00:02:0.0", {{"type", "4"}});
  // UART slots the 8250 driver reserved and found empty, in both layouts.
  sysfs.Device("platform/serial8250", {}, "serial8250", "platform");
  sysfs.Terminal("ttyS2", "platform/serial8250", {{"type", "0"}});
  sysfs.Device("platform/serial8250/serial8250:0", {}, "ctrl", "serial-base");
  sysfs.Device("platform/serial8250/serial8250:0/serial8250:0.3", {}, "port", "serial-base");
  sysfs.Terminal("ttyS3", "platform/serial8250/serial8250:0/serial8250:0.3", {{"type", "0"}});
  // A platform UART that is there.
  sysfs.Terminal("ttyS4", "platform/serial8250", {{"type", "4"}});
  // Terminals that are no serial port: virtual consoles, a device without a driver.
  sysfs.Terminal("tty0", "");
  sysfs.Terminal("console", "");
  sysfs.Device("platform/unbound", {});
  sysfs.Terminal("ttyX0", "platform/unbound");
  // Serial terminals without a driver of their own: Bluetooth, null modem, USB gadget.
  sysfs.Terminal("rfcomm0", "");
  sysfs.Terminal("rfcomm256", "");
  sysfs.Terminal("rfcommA", "");
  sysfs.Terminal("tnt0", "");
  sysfs.Terminal("ttyGS0", "");

  EXPECT_EQ(Sorted(comport::SysfsPorts(sysfs.root())), (std::vector<PortInfo>{
                                                           {"rfcomm0", ""},
                                                           {"tnt0", ""},
                                                           {"ttyACM0", "Pico"},
                                                           {"ttyGS0", ""},
                                                           {"ttyS0", "serial"},
                                                           {"ttyS1", "serial"},
                                                           {"ttyS4", "serial8250"},
                                                           {"ttyUSB0", "FTDI FT232R USB UART"},
                                                           {"ttyUSB1", "cp210x"},
                                                       }));
}

TEST(SysfsPorts, WhatADeviceSaysOfItselfIsShownAsOneLine) {
  const struct {
    const char* name;
    Attributes usb;
    std::string shown;
  } cases[] = {
      {"maker and product",
       {{"manufacturer", "Prolific"}, {"product", "USB-Serial"}},
       "Prolific USB-Serial"},
      {"maker only", {{"manufacturer", "Prolific"}}, "Prolific"},
      {"white space", {{"manufacturer", "  A\tB "}, {"product", "C\n\nD"}}, "A B C D"},
      {"control characters", {{"product", "X\x1b[2JY\x7f"}}, "X?[2JY?"},
      {"empty strings", {{"manufacturer", ""}, {"product", " "}}, "pl2303"},
  };
  for (const auto& c : cases) {
    FakeSysfs sysfs;
    Attributes usb = c.usb;
    usb["idVendor"] = "067b";
    usb["idProduct"] = "2303";
    sysfs.Device("usb1/1-1", usb, "usb", "usb");
    sysfs.Device("usb1/1-1/1-1:1.0", {}, "pl2303", "usb");
    sysfs.Device("usb1/1-1/1-1:1.0/ttyUSB0", {}, "pl2303", "usb-serial");
    sysfs.Terminal("ttyUSB0", "usb1/1-1/1-1:1.0/ttyUSB0");
    EXPECT_EQ(comport::SysfsPorts(sysfs.root()), (std::vector<PortInfo>{{"ttyUSB0", c.shown}}))
        << c.name;
  }
}

TEST(SysfsPorts, NoTtyClassNoPorts) {
  FakeSysfs sysfs;
  fs::remove(sysfs.root() / "class" / "tty");
  EXPECT_TRUE(comport::SysfsPorts(sysfs.root()).empty());
  EXPECT_TRUE(comport::SysfsPorts(sysfs.root() / "nonexistent").empty());
}

TEST(SysfsPorts, ListedInTheSelectorsOrder) {
  FakeSysfs sysfs;
  for (const char* name : {"ttyUSB10", "ttyS0", "ttyUSB2", "ttyACM0"}) {
    sysfs.Device(std::string("platform/") + name, {}, "driver_of_" + std::string(name), "platform");
    sysfs.Terminal(name, std::string("platform/") + name);
  }
  std::vector<std::string> names{"COM1"};
  comport::ListComPorts(names, [&sysfs] { return comport::SysfsPorts(sysfs.root()); });
  EXPECT_EQ(names, (std::vector<std::string>{"ttyACM0", "ttyS0", "ttyUSB10", "ttyUSB2"}));
}

}  // namespace
}  // namespace tarven::testing
