#include "sim/sim_backend.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <thread>
#include <utility>

#include "device/device.h"

namespace tarven::sim {
namespace {

// The wire time this thread's reports have taken and not yet spent waiting. It is waited off at
// least every kWireTimeBatch and at the end of every exchange: the same time in all, in a tenth
// of the sleeps (a thousand a second per module would cost the host more than the transfer).
// A sleep that runs long (the system wakes a sleeper late) leaves the excess as a credit against
// the next, so that a long transfer takes its wire time and not that plus every late wake-up;
// the host's own work between reports is never credited.
thread_local std::chrono::nanoseconds wire_time_owed{0};
constexpr std::chrono::microseconds kWireTimeBatch{10000};

void WaitOffWireTime() {
  if (wire_time_owed.count() <= 0) return;
  const auto start = std::chrono::steady_clock::now();
  std::this_thread::sleep_for(wire_time_owed);
  wire_time_owed -= std::chrono::steady_clock::now() - start;
  // A wake-up far too late (a suspended machine) is not paid back by a burst without any wait.
  wire_time_owed = std::max<std::chrono::nanoseconds>(wire_time_owed, -kWireTimeBatch);
}

}  // namespace

SimBackend::SimBackend() {
  SimDevice module;
  module.path = "sim:module";
  module.vendor_id = device::kModuleVendorId;
  module.product_id = device::kModuleProductId;
  module.feature_report_length = device::kModuleFeatureReportLength;
  module.serial_number = "SIM00001";
  module.usb_location = "sim-1";
  module.module = std::make_shared<SimulatedModule>();
  devices_.push_back(std::move(module));
}

std::string SimBackend::AddDecoy(std::uint16_t vendor_id, std::uint16_t product_id,
                                 std::uint16_t feature_report_length, bool front) {
  SimDevice decoy;
  decoy.path = "sim:decoy" + std::to_string(devices_.size());
  decoy.vendor_id = vendor_id;
  decoy.product_id = product_id;
  decoy.feature_report_length = feature_report_length;
  std::string path = decoy.path;
  // Handles refer to devices by index; keep the module at index 0 and order enumeration apart.
  devices_.push_back(std::move(decoy));
  enumeration_order_.push_back(devices_.size() - 1);
  if (front) {
    std::rotate(enumeration_order_.begin(), enumeration_order_.end() - 1, enumeration_order_.end());
  }
  return path;
}

std::string SimBackend::AddModule(std::shared_ptr<SimulatedModule> module) {
  SimDevice device;
  device.path = "sim:module" + std::to_string(devices_.size());
  device.vendor_id = device::kModuleVendorId;
  device.product_id = device::kModuleProductId;
  device.feature_report_length = device::kModuleFeatureReportLength;
  const std::string number = std::to_string(devices_.size() + 1);
  device.serial_number =
      "SIM" + std::string(number.size() < 5 ? 5 - number.size() : 0, '0') + number;
  device.usb_location = "sim-" + std::to_string(devices_.size() + 1);
  device.module = std::move(module);
  std::string path = device.path;
  devices_.push_back(std::move(device));
  enumeration_order_.push_back(devices_.size() - 1);
  return path;
}

void SimBackend::SetPresent(bool present) {
  SimDevice& module_device = devices_.front();
  if (module_device.present == present) return;
  module_device.present = present;
  // The USB side loses power: whatever was under way on the wire is gone, and handles die.
  module_device.module->ResetWire();
  for (auto& [handle, open] : handles_) {
    if (open.device == 0) open.dead = true;
  }
}

bool SimBackend::Enumerate(std::uint16_t vendor_id, std::uint16_t product_id,
                           std::vector<std::string>& paths) {
  const std::lock_guard lock(mutex_);
  RenumberReattached();
  paths.clear();
  if (enumeration_fails_) return false;
  for (std::size_t index : enumeration_order_) {
    const SimDevice& device = devices_[index];
    if (!device.present) continue;
    if (!list_all_ && vendor_id != 0 && device.vendor_id != vendor_id) continue;
    if (!list_all_ && product_id != 0 && device.product_id != product_id) continue;
    paths.push_back(device.path);
  }
  return true;
}

bool SimBackend::EnumerateDevices(std::uint16_t vendor_id, std::uint16_t product_id,
                                  std::vector<hid::DeviceInfo>& devices) {
  const std::lock_guard lock(mutex_);
  devices.clear();
  std::vector<std::string> paths;
  if (!Enumerate(vendor_id, product_id, paths)) return false;
  for (const std::string& path : paths) {
    const auto found = std::find_if(devices_.begin(), devices_.end(),
                                    [&](const SimDevice& d) { return d.path == path; });
    hid::DeviceInfo info;
    info.path = path;
    info.vendor_id = found->vendor_id;
    info.product_id = found->product_id;
    info.serial_number = found->serial_number;
    info.usb_location = found->usb_location;
    devices.push_back(std::move(info));
  }
  return true;
}

std::string SimBackend::OpenFailureReason() const {
  const std::lock_guard lock(mutex_);
  return open_error_ == 0 ? std::string() : std::string(std::strerror(open_error_));
}

bool SimBackend::OpenFailureIsPermission() const {
  const std::lock_guard lock(mutex_);
  return open_error_ == EACCES || open_error_ == EPERM;
}

hid::Handle SimBackend::Open(const std::string& path) {
  const std::lock_guard lock(mutex_);
  open_error_ = ENOENT;
  for (std::size_t index = 0; index < devices_.size(); ++index) {
    const SimDevice& device = devices_[index];
    if (device.path != path || !device.present) continue;
    if (device.open_error != 0) {
      open_error_ = device.open_error;
      return hid::kInvalidHandle;
    }
    open_error_ = 0;
    const hid::Handle handle = next_handle_++;
    OpenDevice open;
    open.device = index;
    open.generation = device.module ? device.module->Generation() : 0;
    handles_[handle] = open;
    ++opens_;
    return handle;
  }
  return hid::kInvalidHandle;
}

void SimBackend::Close(hid::Handle handle) {
  {
    const std::lock_guard lock(mutex_);
    handles_.erase(handle);
  }
  WaitOffWireTime();
}

SimDevice* SimBackend::Live(hid::Handle handle) {
  const auto found = handles_.find(handle);
  if (found == handles_.end() || found->second.dead) return nullptr;
  SimDevice& device = devices_[found->second.device];
  if (!device.present) return nullptr;
  if (device.module && device.module->Generation() != found->second.generation) return nullptr;
  return &device;
}

bool SimBackend::GetAttributes(hid::Handle handle, std::uint16_t& vendor_id,
                               std::uint16_t& product_id) {
  const std::lock_guard lock(mutex_);
  const SimDevice* device = Live(handle);
  if (device == nullptr) return false;
  vendor_id = device->vendor_id;
  product_id = device->product_id;
  return true;
}

bool SimBackend::GetFeatureReportLength(hid::Handle handle, std::uint16_t& length) {
  const std::lock_guard lock(mutex_);
  const SimDevice* device = Live(handle);
  if (device == nullptr) return false;
  length = device->feature_report_length;
  return true;
}

bool SimBackend::CountReport() {
  ++reports_;
  bool refuse = false;
  for (auto planned = planned_faults_.begin(); planned != planned_faults_.end();) {
    if (planned->at != reports_) {
      ++planned;
      continue;
    }
    switch (planned->fault) {
      case Fault::Refuse:
        refuse = true;
        break;
      case Fault::GoSilent:
        silent_ = true;
        break;
      case Fault::Unplug:
        SetPresent(false);
        break;
      case Fault::SwitchPersonality:
        devices_.front().module->SwitchPersonality();
        break;
    }
    planned = planned_faults_.erase(planned);
  }
  return refuse;
}

bool SimBackend::SetFeature(hid::Handle handle, const std::uint8_t* report, std::size_t length) {
  SpendWireTime();
  const std::lock_guard lock(mutex_);
  ++sends_;
  const bool planned_refusal = CountReport();
  SimDevice* device = Live(handle);
  const bool refused = planned_refusal || sends_ == refuse_send_at_ || device == nullptr ||
                       (silent_ && device->module) || length != device->feature_report_length;
  Record(ReportRecord::Direction::Sent, device, report, length, !refused);
  if (refused) return false;
  if (device->module) device->module->ReceiveReport(report, length);
  return true;
}

bool SimBackend::GetFeature(hid::Handle handle, std::uint8_t* report, std::size_t length) {
  SpendWireTime();
  const std::lock_guard lock(mutex_);
  ++fetches_;
  const bool planned_refusal = CountReport();
  SimDevice* device = Live(handle);
  const bool refused = planned_refusal || fetches_ == refuse_fetch_at_ || device == nullptr ||
                       (silent_ && device->module) || length != device->feature_report_length ||
                       length == 0 || report[0] != 0;
  if (!refused) {
    if (device->module) {
      device->module->AnswerReport(report, length);
    } else {
      std::memset(report + 1, 0, length - 1);
      const std::size_t n = std::min(device->decoy_answer.size(), length - 1);
      if (n > 0) std::memcpy(report + 1, device->decoy_answer.data(), n);
    }
  }
  Record(ReportRecord::Direction::Fetched, device, report, length, !refused);
  return !refused;
}

void SimBackend::SpendWireTime() const {
  // Outside the lock: the transfers of different modules overlap.
  if (wire_time_.count() <= 0) return;
  wire_time_owed += wire_time_;
  if (wire_time_owed >= kWireTimeBatch) WaitOffWireTime();
}

void SimBackend::RenumberReattached() {
  if (!renumber_) return;
  for (SimDevice& device : devices_) {
    if (!device.module || device.module->Generation() == device.listed_generation) continue;
    device.listed_generation = device.module->Generation();
    const std::size_t mark = device.path.find('#');
    device.path = device.path.substr(0, mark) + "#" + std::to_string(device.listed_generation);
  }
}

void SimBackend::Record(ReportRecord::Direction direction, const SimDevice* device,
                        const std::uint8_t* report, std::size_t length, bool accepted) {
  if (!recording_) return;
  if (log_.size() >= kLogLimit) {
    log_.erase(log_.begin(), log_.begin() + static_cast<std::ptrdiff_t>(kLogLimit / 2));
  }
  ReportRecord record;
  record.direction = direction;
  record.path = device ? device->path : std::string();
  record.bytes.assign(report, report + length);
  record.accepted = accepted;
  log_.push_back(std::move(record));
}

std::shared_ptr<device::ModuleLocks> SimBackend::module_locks() {
  const std::lock_guard lock(mutex_);
  if (!module_locks_) module_locks_ = device::PrivateModuleLocks(device::ThisProgramName());
  return module_locks_;
}

}  // namespace tarven::sim
