// The USB backend on Windows: the system's HID library (hid.dll) bound at run time, the
// device-setup API for the present HID interfaces, each opened without read or write access and
// sharing reading and writing, so that the module is never taken from another program.
//
// A backend is used from one thread, like the rest of its link. The library stays loaded while any
// backend lives.

#include <windows.h>
// After windows.h: the device-setup API, the configuration manager, and the HID library's types
// (its functions are bound at run time). mingw-w64's HID headers need NTSTATUS (winternl.h) and
// hidusage.h first and do not say extern "C" themselves.
#include <cfgmgr32.h>
#include <setupapi.h>
#include <winternl.h>
extern "C" {
// clang-format off
#include <hidusage.h>
#include <hidpi.h>
#include <hidsdi.h>
// clang-format on
}

#include <algorithm>
#include <array>
#include <mutex>
#include <string>
#include <vector>

#include "device/hid.h"
#include "platform/wide_text.h"

namespace tarven::hid {
namespace {

// The HID library's functions that the backend uses, bound once.
struct HidLibrary {
  HMODULE module = nullptr;
  void(WINAPI* GetHidGuid)(LPGUID) = nullptr;
  BOOLEAN(WINAPI* GetAttributes)(HANDLE, PHIDD_ATTRIBUTES) = nullptr;
  BOOLEAN(WINAPI* GetPreparsedData)(HANDLE, PHIDP_PREPARSED_DATA*) = nullptr;
  BOOLEAN(WINAPI* FreePreparsedData)(PHIDP_PREPARSED_DATA) = nullptr;
  NTSTATUS(WINAPI* GetCaps)(PHIDP_PREPARSED_DATA, PHIDP_CAPS) = nullptr;
  BOOLEAN(WINAPI* SetFeature)(HANDLE, PVOID, ULONG) = nullptr;
  BOOLEAN(WINAPI* GetFeature)(HANDLE, PVOID, ULONG) = nullptr;
  BOOLEAN(WINAPI* GetSerialNumberString)(HANDLE, PVOID, ULONG) = nullptr;
};

std::mutex library_mutex;
int library_users = 0;
HidLibrary library;

template <typename Function>
bool Bind(HMODULE module, const char* name, Function& function) {
  // GetProcAddress hands every function out as one type; the library's own type is named above.
  function = reinterpret_cast<Function>(reinterpret_cast<void*>(::GetProcAddress(module, name)));
  return function != nullptr;
}

// Loads hid.dll from the system folder only (never a planted copy beside the program) and binds
// every function; false, with nothing bound, when the library or any function is missing.
bool AcquireLibrary() {
  const std::lock_guard lock(library_mutex);
  if (library_users > 0) {
    ++library_users;
    return true;
  }
  HidLibrary bound;
  bound.module = ::LoadLibraryExW(L"hid.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (bound.module == nullptr) return false;
  const bool all = Bind(bound.module, "HidD_GetHidGuid", bound.GetHidGuid) &&
                   Bind(bound.module, "HidD_GetAttributes", bound.GetAttributes) &&
                   Bind(bound.module, "HidD_GetPreparsedData", bound.GetPreparsedData) &&
                   Bind(bound.module, "HidD_FreePreparsedData", bound.FreePreparsedData) &&
                   Bind(bound.module, "HidP_GetCaps", bound.GetCaps) &&
                   Bind(bound.module, "HidD_SetFeature", bound.SetFeature) &&
                   Bind(bound.module, "HidD_GetFeature", bound.GetFeature) &&
                   Bind(bound.module, "HidD_GetSerialNumberString", bound.GetSerialNumberString);
  if (!all) {
    ::FreeLibrary(bound.module);
    return false;
  }
  library = bound;
  library_users = 1;
  return true;
}

void ReleaseLibrary() {
  const std::lock_guard lock(library_mutex);
  if (--library_users > 0) return;
  ::FreeLibrary(library.module);
  library = HidLibrary{};
}

// "WHAT: the system's message", without the message's line break.
std::string SystemMessage(DWORD error) {
  wchar_t* message = nullptr;
  ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, 0, reinterpret_cast<LPWSTR>(&message), 0, nullptr);
  std::string text = message != nullptr ? platform::Utf8FromWide(message)
                                        : "system error " + std::to_string(error);
  ::LocalFree(message);
  while (!text.empty() &&
         (text.back() == '\n' || text.back() == '\r' || text.back() == ' ' || text.back() == '.')) {
    text.pop_back();
  }
  return text;
}

// A property of a device node as text (the first string of a list); empty when it has none.
std::wstring NodeProperty(DEVINST node, ULONG property) {
  std::array<wchar_t, 512> text{};
  ULONG size = sizeof text - sizeof(wchar_t);
  if (::CM_Get_DevNode_Registry_PropertyW(node, property, nullptr, text.data(), &size, 0) !=
      CR_SUCCESS) {
    return {};
  }
  return text.data();
}

// The USB location of the HID interface's device: from the nearest node above it that tells a
// location path through USB ports; failing that, its location information as the system words it.
std::string UsbLocation(DEVINST node) {
  for (int level = 0; level < 4; ++level) {
    const std::string location = UsbLocationFromLocationPath(
        platform::Utf8FromWide(NodeProperty(node, CM_DRP_LOCATION_PATHS)));
    if (!location.empty()) return location;
    DEVINST parent = 0;
    if (::CM_Get_Parent(&parent, node, 0) != CR_SUCCESS) break;
    node = parent;
  }
  return {};
}

struct Interface {
  std::wstring path;
  DEVINST node = 0;
};

// The present HID interfaces, in the system's order. False when the list cannot be had.
bool PresentInterfaces(std::vector<Interface>& interfaces) {
  interfaces.clear();
  GUID hid_class{};
  library.GetHidGuid(&hid_class);
  const HDEVINFO set =
      ::SetupDiGetClassDevsW(&hid_class, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  if (set == INVALID_HANDLE_VALUE) return false;
  SP_DEVICE_INTERFACE_DATA data{};
  data.cbSize = sizeof data;
  for (DWORD index = 0; ::SetupDiEnumDeviceInterfaces(set, nullptr, &hid_class, index, &data);
       ++index) {
    DWORD size = 0;
    ::SetupDiGetDeviceInterfaceDetailW(set, &data, nullptr, 0, &size, nullptr);
    if (size < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)) continue;
    std::vector<std::uint8_t> buffer(size);
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(buffer.data());
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    if (!::SetupDiGetDeviceInterfaceDetailW(set, &data, detail, size, nullptr, &device)) continue;
    interfaces.push_back({detail->DevicePath, device.DevInst});
  }
  ::SetupDiDestroyDeviceInfoList(set);
  return true;
}

HANDLE OpenShared(const std::wstring& path) {
  // No read or write access: the feature reports need none, and nothing is claimed.
  return ::CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                       0, nullptr);
}

class WindowsBackend final : public Backend {
 public:
  WindowsBackend() = default;
  WindowsBackend(const WindowsBackend&) = delete;
  WindowsBackend& operator=(const WindowsBackend&) = delete;

  ~WindowsBackend() override {
    for (HANDLE device : open_) ::CloseHandle(device);
    ReleaseLibrary();
  }

  bool Enumerate(std::uint16_t vendor_id, std::uint16_t product_id,
                 std::vector<std::string>& paths) override {
    paths.clear();
    std::vector<DeviceInfo> devices;
    if (!EnumerateDevices(vendor_id, product_id, devices)) return false;
    for (DeviceInfo& device : devices) paths.push_back(std::move(device.path));
    return true;
  }

  // The ids are read through a handle without access; an interface that cannot even be opened so
  // (another program holds it exclusively) is known by the ids in its path.
  bool EnumerateDevices(std::uint16_t vendor_id, std::uint16_t product_id,
                        std::vector<DeviceInfo>& devices) override {
    devices.clear();
    std::vector<Interface> interfaces;
    if (!PresentInterfaces(interfaces)) return false;
    for (const Interface& found : interfaces) {
      const HANDLE device = OpenShared(found.path);
      if (device == INVALID_HANDLE_VALUE) {
        // Held by another program without sharing, or refused: listed by the ids its path names,
        // so that opening it says why.
        DeviceInfo info;
        info.path = platform::Utf8FromWide(found.path);
        if (IdsFromWindowsHidPath(info.path, info.vendor_id, info.product_id) &&
            (vendor_id == 0 || info.vendor_id == vendor_id) &&
            (product_id == 0 || info.product_id == product_id)) {
          info.usb_location = UsbLocation(found.node);
          devices.push_back(std::move(info));
        }
        continue;
      }
      HIDD_ATTRIBUTES attributes{};
      attributes.Size = sizeof attributes;
      const bool known = library.GetAttributes(device, &attributes) != 0;
      if (known && (vendor_id == 0 || attributes.VendorID == vendor_id) &&
          (product_id == 0 || attributes.ProductID == product_id)) {
        DeviceInfo info;
        info.path = platform::Utf8FromWide(found.path);
        info.vendor_id = attributes.VendorID;
        info.product_id = attributes.ProductID;
        info.serial_number = SerialNumber(device);
        info.usb_location = UsbLocation(found.node);
        devices.push_back(std::move(info));
      }
      ::CloseHandle(device);
    }
    return true;
  }

  Handle Open(const std::string& path) override {
    const HANDLE device = OpenShared(platform::WideFromUtf8(path));
    if (device == INVALID_HANDLE_VALUE) {
      open_error_ = ::GetLastError();
      return kInvalidHandle;
    }
    open_error_ = 0;
    open_.push_back(device);
    return reinterpret_cast<Handle>(device);
  }

  std::string OpenFailureReason() const override {
    if (open_error_ == 0) return {};
    if (open_error_ == ERROR_SHARING_VIOLATION) {
      return "another program holds it open (sharing violation)";
    }
    return SystemMessage(open_error_);
  }

  void Close(Handle handle) override {
    const auto it = std::find(open_.begin(), open_.end(), Device(handle));
    if (it == open_.end()) return;
    ::CloseHandle(*it);
    open_.erase(it);
  }

  bool GetAttributes(Handle handle, std::uint16_t& vendor_id, std::uint16_t& product_id) override {
    const HANDLE device = Lookup(handle);
    if (device == nullptr) return false;
    HIDD_ATTRIBUTES attributes{};
    attributes.Size = sizeof attributes;
    if (!library.GetAttributes(device, &attributes)) return false;
    vendor_id = attributes.VendorID;
    product_id = attributes.ProductID;
    return true;
  }

  // The top-level collection's feature report length, the report id byte included.
  bool GetFeatureReportLength(Handle handle, std::uint16_t& length) override {
    const HANDLE device = Lookup(handle);
    if (device == nullptr) return false;
    PHIDP_PREPARSED_DATA preparsed = nullptr;
    if (!library.GetPreparsedData(device, &preparsed)) return false;
    HIDP_CAPS caps{};
    const bool read = library.GetCaps(preparsed, &caps) == HIDP_STATUS_SUCCESS;
    library.FreePreparsedData(preparsed);
    if (!read) return false;
    length = caps.FeatureReportByteLength;
    return true;
  }

  bool SetFeature(Handle handle, const std::uint8_t* report, std::size_t length) override {
    const HANDLE device = Lookup(handle);
    if (device == nullptr || report == nullptr || length == 0) return false;
    // The library takes a writable buffer; a copy keeps the caller's report as it was.
    std::vector<std::uint8_t> copy(report, report + length);
    return library.SetFeature(device, copy.data(), static_cast<ULONG>(copy.size())) != 0;
  }

  bool GetFeature(Handle handle, std::uint8_t* report, std::size_t length) override {
    const HANDLE device = Lookup(handle);
    if (device == nullptr || report == nullptr || length == 0) return false;
    return library.GetFeature(device, report, static_cast<ULONG>(length)) != 0;
  }

 private:
  static HANDLE Device(Handle handle) { return reinterpret_cast<HANDLE>(handle); }

  // Only handles this backend opened and has not closed reach the library.
  HANDLE Lookup(Handle handle) const {
    const auto it = std::find(open_.begin(), open_.end(), Device(handle));
    return it == open_.end() ? nullptr : *it;
  }

  static std::string SerialNumber(HANDLE device) {
    // The USB string descriptor's limit: 126 UTF-16 units and the null.
    std::array<wchar_t, 127> text{};
    if (!library.GetSerialNumberString(device, text.data(),
                                       static_cast<ULONG>(sizeof text - sizeof(wchar_t)))) {
      return {};
    }
    return platform::Utf8FromWide(text.data());
  }

  std::vector<HANDLE> open_;
  DWORD open_error_ = 0;
};

}  // namespace

std::shared_ptr<Backend> MakePlatformBackend() {
  if (!AcquireLibrary()) return nullptr;
  return std::make_shared<WindowsBackend>();
}

}  // namespace tarven::hid
