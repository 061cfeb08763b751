// The real USB backend, on hidapi.
//
// hidapi keeps process-wide state, so hid_init runs with the first backend and hid_exit with
// the last. A backend is used from one thread, like the rest of its link; links on other threads
// (one per module) have backends of their own. hidapi's enumeration and open keep a process-wide
// error text that each call frees and replaces, so those calls take turns across backends; the
// reports to an open device keep their errors with the device and go in parallel.

#include <fcntl.h>
#include <hidapi/hidapi.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include "platform/wide_text.h"
#include "device/hid.h"
#include "device/report_descriptor.h"

namespace tarven::hid {
namespace {

std::mutex library_mutex;
int library_users = 0;

bool AcquireLibrary() {
  std::lock_guard lock(library_mutex);
  if (library_users == 0 && hid_init() != 0) return false;
  ++library_users;
  return true;
}

void ReleaseLibrary() {
  std::lock_guard lock(library_mutex);
  if (--library_users == 0) hid_exit();
}

bool ReadReportDescriptor(hid_device* device, std::vector<std::uint8_t>& descriptor) {
#if HID_API_VERSION >= HID_API_MAKE_VERSION(0, 14, 0)
  descriptor.resize(HID_API_MAX_REPORT_DESCRIPTOR_SIZE);
  const int read = hid_get_report_descriptor(device, descriptor.data(), descriptor.size());
  if (read < 0) return false;
  descriptor.resize(static_cast<std::size_t>(read));
  return true;
#else
  // Older hidapi cannot give the descriptor, but the hidraw node's sysfs entry can. The hidapi
  // path on Linux is the node's device file, e.g. /dev/hidraw3.
  const hid_device_info* info = hid_get_device_info(device);
  if (info == nullptr || info->path == nullptr) return false;
  const std::string path = info->path;
  const std::string node = path.substr(path.find_last_of('/') + 1);
  if (node.empty()) return false;
  std::ifstream file("/sys/class/hidraw/" + node + "/device/report_descriptor", std::ios::binary);
  if (!file) return false;
  // The kernel caps a report descriptor at 4096 bytes; one byte more shows a longer file.
  constexpr std::size_t kMaxDescriptorSize = 4096;
  descriptor.resize(kMaxDescriptorSize + 1);
  file.read(reinterpret_cast<char*>(descriptor.data()),
            static_cast<std::streamsize>(descriptor.size()));
  if (file.bad()) return false;
  descriptor.resize(static_cast<std::size_t>(file.gcount()));
  return descriptor.size() <= kMaxDescriptorSize;
#endif
}

class HidapiBackend final : public Backend {
 public:
  HidapiBackend() = default;
  HidapiBackend(const HidapiBackend&) = delete;
  HidapiBackend& operator=(const HidapiBackend&) = delete;

  // A handle left open by a caller would keep its file descriptor past hid_exit.
  ~HidapiBackend() override {
    for (hid_device* device : open_) hid_close(device);
    ReleaseLibrary();
  }

  bool Enumerate(std::uint16_t vendor_id, std::uint16_t product_id,
                 std::vector<std::string>& paths) override {
    paths.clear();
    // hidapi answers "none found" and "could not look" alike (a null list); both mean that no
    // module can be opened, so both give an empty list here.
    const std::lock_guard lock(library_mutex);
    hid_device_info* list = hid_enumerate(vendor_id, product_id);
    for (const hid_device_info* info = list; info != nullptr; info = info->next) {
      if (info->path == nullptr) continue;
      // hidraw lists a device once per top-level collection, all under one path; the device is
      // still one interface to open.
      if (std::find(paths.begin(), paths.end(), info->path) != paths.end()) continue;
      paths.emplace_back(info->path);
    }
    hid_free_enumeration(list);
    return true;
  }

  bool EnumerateDevices(std::uint16_t vendor_id, std::uint16_t product_id,
                        std::vector<DeviceInfo>& devices) override {
    devices.clear();
    const std::lock_guard lock(library_mutex);
    hid_device_info* list = hid_enumerate(vendor_id, product_id);
    for (const hid_device_info* info = list; info != nullptr; info = info->next) {
      if (info->path == nullptr) continue;
      const bool listed = std::any_of(devices.begin(), devices.end(),
                                      [&](const DeviceInfo& d) { return d.path == info->path; });
      if (listed) continue;
      DeviceInfo device;
      device.path = info->path;
      device.vendor_id = info->vendor_id;
      device.product_id = info->product_id;
      device.serial_number =
          info->serial_number != nullptr ? platform::Utf8FromWide(info->serial_number) : std::string();
      device.usb_location = UsbLocation(device.path);
      devices.push_back(std::move(device));
    }
    hid_free_enumeration(list);
    return true;
  }

  Handle Open(const std::string& path) override {
    hid_device* device = nullptr;
    {
      const std::lock_guard lock(library_mutex);
      device = hid_open_path(path.c_str());
    }
    if (device == nullptr) {
      RecordOpenFailure(path);
      return kInvalidHandle;
    }
    open_error_ = 0;
    open_.push_back(device);
    return reinterpret_cast<Handle>(device);
  }

  std::string OpenFailureReason() const override {
    return open_error_ == 0 ? std::string() : std::string(std::strerror(open_error_));
  }
  bool OpenFailureIsPermission() const override {
    return open_error_ == EACCES || open_error_ == EPERM;
  }

  void Close(Handle handle) override {
    const auto it = std::find(open_.begin(), open_.end(), Device(handle));
    if (it == open_.end()) return;
    hid_close(*it);
    open_.erase(it);
  }

  bool GetAttributes(Handle handle, std::uint16_t& vendor_id, std::uint16_t& product_id) override {
    hid_device* device = Lookup(handle);
    if (device == nullptr) return false;
    const hid_device_info* info = hid_get_device_info(device);
    if (info == nullptr) return false;
    vendor_id = info->vendor_id;
    product_id = info->product_id;
    return true;
  }

  bool GetFeatureReportLength(Handle handle, std::uint16_t& length) override {
    hid_device* device = Lookup(handle);
    if (device == nullptr) return false;
    std::vector<std::uint8_t> descriptor;
    if (!ReadReportDescriptor(device, descriptor)) return false;
    const auto parsed = FeatureReportLength(descriptor.data(), descriptor.size());
    if (!parsed) return false;
    length = *parsed;
    return true;
  }

  bool SetFeature(Handle handle, const std::uint8_t* report, std::size_t length) override {
    hid_device* device = Lookup(handle);
    if (device == nullptr || report == nullptr || length == 0) return false;
    return hid_send_feature_report(device, report, length) >= 0;
  }

  bool GetFeature(Handle handle, std::uint8_t* report, std::size_t length) override {
    hid_device* device = Lookup(handle);
    if (device == nullptr || report == nullptr || length == 0) return false;
    const int read = hid_get_feature_report(device, report, length);
    if (read < 0) return false;
    // A short answer must not leave the previous report's bytes to be taken for fresh data.
    const auto got = std::min(static_cast<std::size_t>(read), length);
    std::memset(report + got, 0, length - got);
    return true;
  }

 private:
  static hid_device* Device(Handle handle) { return reinterpret_cast<hid_device*>(handle); }

  // Only handles this backend opened and has not closed reach hidapi: a stale or foreign one
  // fails instead of touching freed memory.
  hid_device* Lookup(Handle handle) const {
    const auto it = std::find(open_.begin(), open_.end(), Device(handle));
    return it == open_.end() ? nullptr : *it;
  }

  // hidapi says only that the open failed; the system's reason comes from opening the node as it
  // does (read and write), which changes nothing on the device.
  void RecordOpenFailure(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd >= 0) {
      ::close(fd);
      open_error_ = EIO;  // the node opens, but hidapi could not take it
    } else {
      open_error_ = errno;
    }
  }

  // The USB location of a hidraw node, from where its sysfs entry leads.
  static std::string UsbLocation(const std::string& path) {
    const std::string node = path.substr(path.find_last_of('/') + 1);
    if (node.empty()) return {};
    const std::string link = "/sys/class/hidraw/" + node + "/device";
    char resolved[PATH_MAX];
    if (::realpath(link.c_str(), resolved) == nullptr) return {};
    return UsbLocationFromSysfsPath(resolved);
  }

  std::vector<hid_device*> open_;
  int open_error_ = 0;
};

}  // namespace

std::shared_ptr<Backend> MakePlatformBackend() {
  if (!AcquireLibrary()) return nullptr;
  return std::make_shared<HidapiBackend>();
}

}  // namespace tarven::hid
