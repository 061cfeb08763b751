// The real hidapi backend against a module that the kernel believes in: a virtual HID device
// made through uhid, with the module's ids and descriptor, whose feature reports are answered
// by the simulated module. Everything between the link and the simulated firmware is the real
// thing: hidapi, hidraw, the kernel's HID core and the descriptor read from sysfs.
//
// Needs /dev/uhid open for reading and writing (root, or a udev rule) and hidraw in the kernel;
// skipped with the reason otherwise.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/input.h>
#include <linux/uhid.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "device/device.h"
#include "device/device_probe.h"
#include "device/hid.h"
#include "sim/simulated_module.h"

namespace {

using tarven::device::Handle;
using tarven::device::kInvalidHandle;
using tarven::device::TModuleId;

constexpr std::uint16_t kVendorId = 0x03EB;
constexpr std::uint16_t kProductId = 0x6202;
constexpr std::uint16_t kAppDeviceCode = 0x3B03;
constexpr std::uint8_t kStatusCode = 2;

// A vendor-defined device with one feature report of `payload` bytes and no report ids.
std::vector<std::uint8_t> VendorDescriptor(std::uint8_t payload) {
  // clang-format off
  return {
      0x06, 0x00, 0xFF,  // Usage Page (Vendor Defined 0xFF00)
      0x09, 0x01,        // Usage (0x01)
      0xA1, 0x01,        // Collection (Application)
      0x15, 0x00,        //   Logical Minimum (0)
      0x26, 0xFF, 0x00,  //   Logical Maximum (255)
      0x75, 0x08,        //   Report Size (8)
      0x95, payload,     //   Report Count
      0x09, 0x01,        //   Usage (0x01)
      0xB1, 0x02,        //   Feature (Data, Variable, Absolute)
      0xC0,              // End Collection
  };
  // clang-format on
}

// One virtual device on /dev/uhid, with a thread that answers the kernel's report requests from
// a simulated module.
class UhidModule {
 public:
  // Opens /dev/uhid; on failure ok() is false and reason() says why.
  UhidModule() {
    fd_ = ::open("/dev/uhid", O_RDWR | O_CLOEXEC);
    if (fd_ < 0) reason_ = std::string("cannot open /dev/uhid: ") + std::strerror(errno);
  }
  ~UhidModule() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    if (created_) {
      uhid_event event{};
      event.type = UHID_DESTROY;
      Write(event);
    }
    if (fd_ >= 0) ::close(fd_);
  }
  UhidModule(const UhidModule&) = delete;
  UhidModule& operator=(const UhidModule&) = delete;

  bool ok() const { return fd_ >= 0 && reason_.empty(); }
  const std::string& reason() const { return reason_; }
  // Before Create only: the thread owns the module afterwards.
  tarven::sim::SimulatedModule& module() { return module_; }
  int set_reports() const { return set_reports_; }

  bool Create(const std::vector<std::uint8_t>& descriptor) {
    uhid_event event{};
    event.type = UHID_CREATE2;
    std::snprintf(reinterpret_cast<char*>(event.u.create2.name), sizeof event.u.create2.name,
                  "tarven test module");
    std::snprintf(reinterpret_cast<char*>(event.u.create2.uniq), sizeof event.u.create2.uniq,
                  "UHID-0042");
    event.u.create2.rd_size = static_cast<std::uint16_t>(descriptor.size());
    event.u.create2.bus = BUS_USB;
    event.u.create2.vendor = kVendorId;
    event.u.create2.product = kProductId;
    std::memcpy(event.u.create2.rd_data, descriptor.data(), descriptor.size());
    if (!Write(event)) {
      reason_ = std::string("UHID_CREATE2 refused: ") + std::strerror(errno);
      return false;
    }
    created_ = true;
    thread_ = std::thread([this] { Serve(); });
    return true;
  }

 private:
  bool Write(const uhid_event& event) {
    return ::write(fd_, &event, sizeof event) == static_cast<ssize_t>(sizeof event);
  }

  void Serve() {
    while (!stop_) {
      pollfd poll_fd{fd_, POLLIN, 0};
      if (::poll(&poll_fd, 1, 50) <= 0) continue;
      uhid_event event{};
      if (::read(fd_, &event, sizeof event) <= 0) continue;
      if (event.type == UHID_GET_REPORT) AnswerGet(event.u.get_report);
      if (event.type == UHID_SET_REPORT) AnswerSet(event.u.set_report);
    }
  }

  // The kernel hands over and takes back reports with the report id in byte 0, as hidraw does.
  void AnswerGet(const uhid_get_report_req& request) {
    uhid_event reply{};
    reply.type = UHID_GET_REPORT_REPLY;
    reply.u.get_report_reply.id = request.id;
    if (request.rtype != UHID_FEATURE_REPORT || request.rnum != 0) {
      reply.u.get_report_reply.err = EIO;
    } else {
      reply.u.get_report_reply.data[0] = 0;
      module_.AnswerReport(reply.u.get_report_reply.data, tarven::hid::kReportLength);
      reply.u.get_report_reply.size = static_cast<std::uint16_t>(tarven::hid::kReportLength);
    }
    Write(reply);
  }

  void AnswerSet(const uhid_set_report_req& request) {
    ++set_reports_;
    uhid_event reply{};
    reply.type = UHID_SET_REPORT_REPLY;
    reply.u.set_report_reply.id = request.id;
    if (request.rtype != UHID_FEATURE_REPORT || request.size != tarven::hid::kReportLength) {
      reply.u.set_report_reply.err = EIO;
    } else {
      module_.ReceiveReport(request.data, request.size);
    }
    Write(reply);
  }

  int fd_ = -1;
  bool created_ = false;
  std::string reason_;
  tarven::sim::SimulatedModule module_;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::atomic<int> set_reports_{0};
};

class UhidModuleTest : public testing::Test {
 protected:
  void SetUp() override {
    if (!uhid_.ok()) GTEST_SKIP() << uhid_.reason() << "; the uhid driver is needed";
    if (!std::filesystem::exists("/sys/class/hidraw")) {
      GTEST_SKIP() << "the kernel has no hidraw, so hidapi cannot see any device";
    }
    link_ = std::make_unique<tarven::device::Link>(tarven::hid::MakePlatformBackend());
    ASSERT_NE(link_->backend(), nullptr) << "hidapi could not be initialised";
    std::vector<std::string> paths;
    ASSERT_TRUE(link_->backend()->Enumerate(kVendorId, kProductId, paths));
    if (!paths.empty()) {
      GTEST_SKIP() << "a device 03eb:6202 is already attached (" << paths.front()
                   << "); this test needs the ids to itself";
    }
  }
  void TearDown() override { link_.reset(); }

  // The kernel makes the hidraw node a little after the device is created.
  std::vector<std::string> WaitForPaths() {
    std::vector<std::string> paths;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (std::chrono::steady_clock::now() < deadline) {
      if (link_->backend()->Enumerate(kVendorId, kProductId, paths) && !paths.empty()) {
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return paths;
  }

  UhidModule uhid_;
  std::unique_ptr<tarven::device::Link> link_;
};

TEST_F(UhidModuleTest, OpenModuleFindsItAndStatusRoundTrips) {
  uhid_.module().firmware_version = 0x00012345;
  uhid_.module().cnc_running = true;
  ASSERT_TRUE(uhid_.Create(VendorDescriptor(64))) << uhid_.reason();
  ASSERT_FALSE(WaitForPaths().empty()) << "the virtual device never appeared in hidapi's list";

  TModuleId app{false, kVendorId, kProductId, kAppDeviceCode, 0, 0};
  Handle handle = link_->OpenModule(app);
  ASSERT_NE(handle, kInvalidHandle);
  tarven::device::HandleGuard guard(*link_, handle);
  EXPECT_TRUE(app.Found);

  std::uint16_t length = 0;
  ASSERT_TRUE(link_->backend()->GetFeatureReportLength(handle, length));
  EXPECT_EQ(length, 65);

  tarven::device::TModuleCommand status;
  status.Code = kStatusCode;
  ASSERT_TRUE(link_->SendCommand(handle, status));
  std::uint8_t answer[8] = {0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE};
  ASSERT_TRUE(link_->ReadData(handle, answer, sizeof answer));
  EXPECT_EQ(answer[0], 0x45);
  EXPECT_EQ(answer[1], 0x23);
  EXPECT_EQ(answer[2], 0x01);
  EXPECT_EQ(answer[3], 0x00);
  EXPECT_NE(answer[4], 0) << "run flag";
}

// The length comes from the device's own descriptor: one byte short of the module's, and the
// device is passed over before it is sent anything.
TEST_F(UhidModuleTest, SameIdsWithOtherFeatureLengthAreNeverSentAnything) {
  ASSERT_TRUE(uhid_.Create(VendorDescriptor(63))) << uhid_.reason();
  const std::vector<std::string> paths = WaitForPaths();
  ASSERT_FALSE(paths.empty()) << "the virtual device never appeared in hidapi's list";

  tarven::hid::Backend& backend = *link_->backend();
  const Handle handle = backend.Open(paths.front());
  ASSERT_NE(handle, kInvalidHandle);
  std::uint16_t length = 0;
  EXPECT_TRUE(backend.GetFeatureReportLength(handle, length));
  EXPECT_EQ(length, 64);
  backend.Close(handle);

  TModuleId app{true, kVendorId, kProductId, kAppDeviceCode, 0, 0};
  EXPECT_EQ(link_->OpenModule(app), kInvalidHandle);
  EXPECT_FALSE(app.Found);
  EXPECT_EQ(uhid_.set_reports(), 0);
}

// What tarvenctl devices shows, as hidapi and sysfs tell it of a device the kernel believes in.
TEST_F(UhidModuleTest, ProbeTellsPathSerialLengthAndPersonality) {
  uhid_.module().firmware_version = 0x00045400;
  ASSERT_TRUE(uhid_.Create(VendorDescriptor(64))) << uhid_.reason();
  const std::vector<std::string> paths = WaitForPaths();
  ASSERT_FALSE(paths.empty()) << "the virtual device never appeared in hidapi's list";

  std::vector<tarven::device::DeviceProbe> probes;
  ASSERT_TRUE(tarven::device::ProbeDevices(*link_, probes));
  ASSERT_EQ(probes.size(), 1u);
  const tarven::device::DeviceProbe& probe = probes.front();
  EXPECT_EQ(probe.info.path, paths.front());
  EXPECT_EQ(probe.info.serial_number, "UHID-0042");
  // A uhid device hangs off no USB port.
  EXPECT_EQ(probe.info.usb_location, "");
  EXPECT_TRUE(probe.opened);
  EXPECT_EQ(probe.feature_report_length, std::optional<std::uint16_t>(65));
  EXPECT_EQ(probe.personality, tarven::device::Personality::Application);
  EXPECT_EQ(probe.firmware_version, std::optional<std::uint32_t>(0x00045400));
}

}  // namespace
