// What the platform files share on every system: UTF-8 and UTF-16 text, the offset text, the USB
// location in a Windows location path, the lock files' names and holders.

#include <gtest/gtest.h>

#include <string>

#include "device/hid.h"
#include "device/module_lock.h"
#include "platform/local_time.h"
#include "platform/wide_text.h"

namespace tarven::testing {
namespace {

TEST(WideText, RoundTripsEveryPlaneAndReplacesWhatIsNoUtf8) {
  const struct {
    std::string utf8;
    std::u16string utf16;
    std::string back;  // UTF-8 of the UTF-16 form
  } cases[] = {
      {"", u"", ""},
      {"COM3", u"COM3", "COM3"},
      {"образ.bin", u"образ.bin", "образ.bin"},
      {"\xE2\x82\xAC", u"\u20AC", "\xE2\x82\xAC"},                // three bytes
      {"\xF0\x9F\x98\x80", u"\xD83D\xDE00", "\xF0\x9F\x98\x80"},  // a surrogate pair
      {"a\x80z", u"a\uFFFDz", "a\xEF\xBF\xBDz"},                  // a stray continuation byte
      {"\xD0", u"\uFFFD", "\xEF\xBF\xBD"},                        // a cut sequence
      {"\xC0\xAF", u"\uFFFD\uFFFD", "\xEF\xBF\xBD\xEF\xBF\xBD"},  // an overlong '/'
      {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},  // surrogate
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.utf8);
    EXPECT_EQ(platform::Utf16FromUtf8(c.utf8), c.utf16);
    EXPECT_EQ(platform::Utf8FromUtf16(c.utf16), c.back);
    EXPECT_EQ(platform::Utf8FromWide(platform::WideFromUtf8(c.utf8)), c.back);
  }
  // An unpaired surrogate in UTF-16 (a name Windows allows) is no UTF-8 either.
  EXPECT_EQ(platform::Utf8FromUtf16(std::u16string(1, u'\xD800') + u"x"), "\xEF\xBF\xBDx");
}

TEST(LocalTime, OffsetTextAsIsoWritesIt) {
  const struct {
    long seconds;
    const char* text;
  } cases[] = {{0, "+0000"},
               {3 * 3600, "+0300"},
               {-(4 * 3600 + 30 * 60), "-0430"},
               {5 * 3600 + 45 * 60, "+0545"},
               {-59, "-0000"},
               {14 * 3600, "+1400"}};
  for (const auto& c : cases) EXPECT_EQ(platform::OffsetText(c.seconds), c.text) << c.seconds;
  // The offset of now is one of these forms, whatever the zone of the machine.
  const std::string now = platform::UtcOffsetText(std::time(nullptr));
  ASSERT_EQ(now.size(), 5u) << now;
  EXPECT_TRUE(now[0] == '+' || now[0] == '-') << now;
}

TEST(UsbLocation, FromAWindowsLocationPath) {
  const struct {
    const char* path;
    const char* location;
  } cases[] = {
      {"PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(2)", "PCIROOT(0)#PCI(1400)-2"},
      {"PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(2)#USB(3)", "PCIROOT(0)#PCI(1400)-2.3"},
      {"PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(2)#USB(3)#USBMI(1)", "PCIROOT(0)#PCI(1400)-2.3"},
      {"PCIROOT(0)#PCI(1D00)#USBROOT(1)#USB(11)", "PCIROOT(0)#PCI(1D00)-11"},
      {"PCIROOT(0)#PCI(1400)#USBROOT(0)", ""},       // the root hub itself
      {"PCIROOT(0)#PCI(1F02)#SATA(C00T00L00)", ""},  // no USB port
      {"PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(x)", ""},
      {"#USBROOT(0)#USB(1)", ""},
      {"", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(hid::UsbLocationFromLocationPath(c.path), c.location) << c.path;
  }
}

TEST(WindowsHidPath, IdsOfADeviceThatCannotBeOpened) {
  const struct {
    const char* path;
    bool named;
    std::uint16_t vendor;
    std::uint16_t product;
  } cases[] = {
      {R"(\\?\hid#vid_03eb&pid_6202#7&1a2b3c4d&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030})",
       true, 0x03EB, 0x6202},
      {R"(\\?\HID#VID_03EB&PID_6202&MI_00#8&2f&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030})",
       true, 0x03EB, 0x6202},
      {R"(\\?\hid#vid_046d&pid_c52b&mi_01&col02#8&x#{4d1e55b2})", true, 0x046D, 0xC52B},
      {R"(\\?\hid#vid_03eb#7&x#{4d1e55b2})", false, 0, 0},       // no product id
      {R"(\\?\hid#vid_03eg&pid_6202#7&x)", false, 0, 0},        // not hexadecimal
      {R"(\\?\hid#vid_03&pid_6202#7&x)", false, 0, 0},          // too short
      {R"(\\?\hid#acpi0c50#7&vid_03eb&pid_6202)", false, 0, 0},  // ids only in the instance
      {"/dev/hidraw3", false, 0, 0},
  };
  for (const auto& c : cases) {
    std::uint16_t vendor = 0;
    std::uint16_t product = 0;
    EXPECT_EQ(hid::IdsFromWindowsHidPath(c.path, vendor, product), c.named) << c.path;
    EXPECT_EQ(vendor, c.vendor) << c.path;
    EXPECT_EQ(product, c.product) << c.path;
  }
}

TEST(ModuleLockFiles, NamesAndHolders) {
  EXPECT_EQ(device::LockFileName("1-2.3"), "module-1-2.3.lock");
  EXPECT_EQ(device::LockFileName("PCIROOT(0)#PCI(1400)-2.3"),
            "module-PCIROOT%280%29%23PCI%281400%29-2.3.lock");
  const std::string a = device::LockFileName(std::string(300, 'a'));
  const std::string b = device::LockFileName(std::string(299, 'a') + "b");
  EXPECT_LE(a.size(), 210u);
  EXPECT_NE(a, b);

  const device::LockHolder holder = device::ParseHolder("tarvenctl 4711\n");
  EXPECT_EQ(holder.program, "tarvenctl");
  EXPECT_EQ(holder.pid, 4711);
  EXPECT_EQ(device::DescribeHolder(device::ParseHolder("tar\x1b[2Jven -5")), "tar[2Jven");
  EXPECT_EQ(device::DescribeHolder(device::ParseHolder("")), "another program");
}

}  // namespace
}  // namespace tarven::testing
