#include "device/device.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "model/checksum.h"
#include "model/little_endian.h"

namespace tarven::device {
namespace {
using Report = std::array<std::uint8_t, hid::kReportLength>;
}  // namespace

Link::Link(std::shared_ptr<hid::Backend> backend) : backend_(std::move(backend)) {
  ResetModuleRecords();
}

Link::~Link() {
  CloseModule(hid_handle_);
}

void Link::ResetModuleRecords() {
  app_module_ = TModuleId{false, kModuleVendorId, kModuleProductId, kAppDeviceCode, 0, 0};
  boot_module_ = TModuleId{false, kModuleVendorId, kModuleProductId, kBootDeviceCode, 0, 0};
}

bool Link::Send(Handle handle, const std::uint8_t* report) {
  ++reports_exchanged_;
  return backend_->SetFeature(handle, report, hid::kReportLength);
}

bool Link::Fetch(Handle handle, std::uint8_t* report) {
  ++reports_exchanged_;
  return backend_->GetFeature(handle, report, hid::kReportLength);
}

// Runs the identity checks on one opened device; true when it is the wanted personality.
bool Link::IsPersonality(Handle handle, const TModuleId& module) {
  std::uint16_t vendor = 0;
  std::uint16_t product = 0;
  if (!backend_->GetAttributes(handle, vendor, product)) return false;
  if (vendor != module.VendorId || product != module.ProductId) return false;
  std::uint16_t feature_length = 0;
  if (!backend_->GetFeatureReportLength(handle, feature_length)) return false;
  if (feature_length != kModuleFeatureReportLength) return false;
  ++last_search_.identified;
  const std::optional<std::uint16_t> answer = Identify(handle);
  if (!answer) {
    ++last_search_.not_answering;
    return false;
  }
  const std::uint16_t code = *answer;
  if (code == kAppDeviceCode) {
    ++last_search_.applications;
  } else if (code == kBootDeviceCode) {
    ++last_search_.boot_loaders;
  } else {
    ++last_search_.not_answering;
  }
  return code == module.DeviceCode;
}

std::optional<std::uint16_t> Link::Identify(Handle handle) {
  TModuleCommand identify;
  identify.Code = CmdIdentify;
  std::uint8_t answer[2] = {0, 0};
  if (!SendCommand(handle, identify) || !ReadData(handle, answer, sizeof answer)) {
    return std::nullopt;
  }
  return model::ReadLe16(answer);
}

std::string DescribePin(const DevicePin& pin) {
  switch (pin.by) {
    case DevicePin::By::Location:
      return "location " + pin.value;
    case DevicePin::By::Serial:
      return "serial " + pin.value;
    case DevicePin::By::Path:
      break;
  }
  return "path " + pin.value;
}

namespace {

bool PinMatches(const DevicePin& pin, const hid::DeviceInfo& device) {
  switch (pin.by) {
    case DevicePin::By::Location:
      return device.usb_location == pin.value;
    case DevicePin::By::Serial:
      return device.serial_number == pin.value;
    case DevicePin::By::Path:
      break;
  }
  return device.path == pin.value;
}

}  // namespace

bool Link::Candidates(const TModuleId& module, std::vector<hid::DeviceInfo>& devices) {
  devices.clear();
  std::vector<hid::DeviceInfo> present;
  if (!backend_->EnumerateDevices(module.VendorId, module.ProductId, present)) return false;
  for (hid::DeviceInfo& device : present) {
    if (!pin_ || PinMatches(*pin_, device)) devices.push_back(std::move(device));
  }
  return true;
}

std::string LockKey(const hid::DeviceInfo& device) {
  if (!device.usb_location.empty()) return "location " + device.usb_location;
  return "path " + device.path;
}

Link::LockState Link::LockDevice(const hid::DeviceInfo& device,
                                 std::chrono::steady_clock::time_point deadline,
                                 LockHolder& holder) {
  if (!locks_) return LockState::Unlocked;
  const std::string key = LockKey(device);
  if (held_locks_.count(key) != 0) return LockState::AlreadyHeld;
  for (;;) {
    LockAttempt attempt = locks_->TryTake(key);
    if (attempt.lock) {
      held_locks_[key] = std::move(attempt.lock);
      return LockState::Taken;
    }
    if (!attempt.busy) return LockState::Unlocked;
    holder = attempt.holder;
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline) return LockState::Busy;
    std::this_thread::sleep_for(
        std::min<std::chrono::steady_clock::duration>(std::chrono::milliseconds(20), deadline - now));
  }
}

bool Link::PinToLastOpened() {
  if (!backend_ || last_opened_path_.empty()) return false;
  std::vector<hid::DeviceInfo> devices;
  if (backend_->EnumerateDevices(kModuleVendorId, kModuleProductId, devices)) {
    for (const hid::DeviceInfo& device : devices) {
      if (device.path == last_opened_path_ && !device.usb_location.empty()) {
        pin_ = DevicePin{DevicePin::By::Location, device.usb_location};
        return true;
      }
    }
  }
  pin_ = DevicePin{DevicePin::By::Path, last_opened_path_};
  return true;
}

Handle Link::OpenModule(TModuleId& module) {
  // A search that stops at a device another program holds learns nothing of it: the record
  // keeps what the last search found.
  const bool found_before = module.Found;
  module.Found = false;
  last_search_ = SearchReport{};
  last_opened_path_.clear();
  if (!backend_) return kInvalidHandle;
  std::vector<hid::DeviceInfo> devices;
  if (!Candidates(module, devices)) return kInvalidHandle;
  const auto deadline = std::chrono::steady_clock::now() + lock_wait_;
  for (const hid::DeviceInfo& device : devices) {
    if (device.path.empty()) continue;
    LockHolder holder;
    const LockState lock = LockDevice(device, deadline, holder);
    if (lock == LockState::Busy) {
      last_search_.busy = SearchReport::Busy{device.path, device.usb_location, holder};
      module.Found = found_before;
      if (busy_handler_) busy_handler_(*last_search_.busy);
      return kInvalidHandle;
    }
    Handle handle = backend_->Open(device.path);
    if (handle == kInvalidHandle) {
      last_search_.unopened.push_back(
          {device.path, backend_->OpenFailureReason(), backend_->OpenFailureIsPermission()});
    } else if (IsPersonality(handle, module)) {
      module.Found = true;
      last_opened_path_ = device.path;
      return handle;
    } else {
      backend_->Close(handle);
    }
    if (lock == LockState::Taken) UnlockDevice(device);
  }
  return kInvalidHandle;
}

void Link::CloseModule(Handle& handle) {
  if (handle != kInvalidHandle) {
    if (backend_) backend_->Close(handle);
    handle = kInvalidHandle;
  }
  if (hold_depth_ == 0) held_locks_.clear();
}

bool Link::SendCommand(Handle handle, const TModuleCommand& command) {
  if (handle == kInvalidHandle || !backend_) return false;
  Report frame{};
  frame[1] = kCommandMarker;
  frame[2] = command.Code;
  model::WriteLe32(&frame[3], command.Param1);
  model::WriteLe32(&frame[7], command.Param2);
  model::WriteLe32(&frame[11], command.Param3);
  return Send(handle, frame.data());
}

bool Link::ReadData(Handle handle, void* buffer, std::uint32_t count) {
  return ReadData(handle, buffer, count, {});
}

bool Link::ReadData(Handle handle, void* buffer, std::uint32_t count,
                    const std::function<void(std::uint32_t copied)>& after_fetch) {
  if (handle == kInvalidHandle) return true;
  if (!backend_) return false;
  auto* out = static_cast<std::uint8_t*>(buffer);
  Report report;
  std::uint32_t remaining = count;
  for (;;) {
    report[0] = 0;
    if (!Fetch(handle, report.data())) return false;
    const std::uint32_t n = std::min(kReportPayload, remaining);
    std::memcpy(out, &report[1], n);
    out += n;
    if (after_fetch) after_fetch(count - remaining + n);
    // The module sends one report more than the whole chunks when the count is a multiple of 64:
    // the exchange ends only after a report that was not full.
    if (remaining < kReportPayload) return true;
    remaining -= n;
  }
}

bool Link::WriteData(Handle handle, const void* data, std::uint32_t length) {
  if (handle == kInvalidHandle || length == 0) return true;
  if (!backend_) return false;
  const auto* in = static_cast<const std::uint8_t*>(data);
  Report report;
  report[0] = 0;
  for (std::uint32_t sent = 0; sent < length;) {
    const std::uint32_t n = std::min(kReportPayload, length - sent);
    std::memcpy(&report[1], in + sent, n);
    if (n < kReportPayload) std::memset(&report[1 + n], 0, kReportPayload - n);
    if (!Send(handle, report.data())) return false;
    sent += n;
  }
  return true;
}

bool Link::WriteBlock(Handle handle, const void* data, std::uint32_t length, std::uint32_t address,
                      std::uint64_t* first_refused) {
  const auto* in = static_cast<const std::uint8_t*>(data);
  bool all_accepted = true;
  auto step = [&](bool accepted) {
    if (!accepted && all_accepted && first_refused != nullptr) *first_refused = reports_exchanged_;
    all_accepted &= accepted;
  };
  TModuleCommand block;
  for (std::uint32_t offset = 0; offset < length;) {
    const std::uint32_t n = std::min(kMaxBlockLength, length - offset);
    block.Param1 = model::ModuleChecksum(in + offset, n);
    block.Param2 = address + offset;
    block.Param3 = n;
    block.Code = CmdBeginBlock;
    step(SendCommand(handle, block));
    step(WriteData(handle, in + offset, n));
    block.Code = CmdEndBlock;
    step(SendCommand(handle, block));
    offset += n;
  }
  return all_accepted;
}

}  // namespace tarven::device
