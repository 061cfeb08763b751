#include "device/device.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "model/checksum.h"
#include "model/little_endian.h"

namespace tarven::device {

TModuleId AppModule;
TModuleId BootModule;

void ResetModuleRecords() {
  AppModule = TModuleId{false, kModuleVendorId, kModuleProductId, kAppDeviceCode, 0, 0};
  BootModule = TModuleId{false, kModuleVendorId, kModuleProductId, kBootDeviceCode, 0, 0};
}

namespace {

using Report = std::array<std::uint8_t, hid::kReportLength>;

// Runs the identity checks on one opened device; true when it is the wanted personality.
bool IsPersonality(hid::Backend& hid, Handle handle, const TModuleId& module) {
  std::uint16_t vendor = 0;
  std::uint16_t product = 0;
  if (!hid.GetAttributes(handle, vendor, product)) return false;
  if (vendor != module.VendorId || product != module.ProductId) return false;
  std::uint16_t feature_length = 0;
  if (!hid.GetFeatureReportLength(handle, feature_length)) return false;
  if (feature_length != kModuleFeatureReportLength) return false;
  TModuleCommand identify;
  identify.Code = CmdIdentify;
  if (!SendCommand(handle, identify)) return false;
  std::uint8_t answer[2] = {0, 0};
  if (!ReadData(handle, answer, sizeof answer)) return false;
  const auto code = static_cast<std::uint16_t>(answer[0] | (answer[1] << 8));
  return code == module.DeviceCode;
}

}  // namespace

Handle OpenModule(TModuleId& module) {
  module.Found = false;
  hid::Backend* hid = hid::BoundBackend();
  if (hid == nullptr) return kInvalidHandle;
  std::vector<std::string> paths;
  if (!hid->Enumerate(module.VendorId, module.ProductId, paths)) return kInvalidHandle;
  for (const std::string& path : paths) {
    if (path.empty()) continue;
    Handle handle = hid->Open(path);
    if (handle == kInvalidHandle) continue;
    if (IsPersonality(*hid, handle, module)) {
      module.Found = true;
      return handle;
    }
    hid->Close(handle);
  }
  return kInvalidHandle;
}

void CloseModule(Handle& handle) {
  if (handle == kInvalidHandle) return;
  if (hid::Backend* hid = hid::BoundBackend()) hid->Close(handle);
  handle = kInvalidHandle;
}

bool SendCommand(Handle handle, const TModuleCommand& command) {
  if (handle == kInvalidHandle) return false;
  hid::Backend* hid = hid::BoundBackend();
  if (hid == nullptr) return false;
  Report frame{};
  frame[1] = kCommandMarker;
  frame[2] = command.Code;
  model::WriteLe32(&frame[3], command.Param1);
  model::WriteLe32(&frame[7], command.Param2);
  model::WriteLe32(&frame[11], command.Param3);
  return hid->SetFeature(handle, frame.data(), frame.size());
}

bool ReadData(Handle handle, void* buffer, std::uint32_t count) {
  if (handle == kInvalidHandle) return true;
  hid::Backend* hid = hid::BoundBackend();
  if (hid == nullptr) return false;
  auto* out = static_cast<std::uint8_t*>(buffer);
  Report report;
  std::uint32_t remaining = count;
  for (;;) {
    report[0] = 0;
    if (!hid->GetFeature(handle, report.data(), report.size())) return false;
    const std::uint32_t n = std::min(kReportPayload, remaining);
    std::memcpy(out, &report[1], n);
    out += n;
    // The module sends one report more than the whole chunks when the count is a multiple of 64:
    // the exchange ends only after a report that was not full.
    if (remaining < kReportPayload) return true;
    remaining -= n;
  }
}

bool WriteData(Handle handle, const void* data, std::uint32_t length) {
  if (handle == kInvalidHandle || length == 0) return true;
  hid::Backend* hid = hid::BoundBackend();
  if (hid == nullptr) return false;
  const auto* in = static_cast<const std::uint8_t*>(data);
  Report report;
  report[0] = 0;
  for (std::uint32_t sent = 0; sent < length;) {
    const std::uint32_t n = std::min(kReportPayload, length - sent);
    std::memcpy(&report[1], in + sent, n);
    if (n < kReportPayload) std::memset(&report[1 + n], 0, kReportPayload - n);
    if (!hid->SetFeature(handle, report.data(), report.size())) return false;
    sent += n;
  }
  return true;
}

bool WriteBlock(Handle handle, const void* data, std::uint32_t length, std::uint32_t address) {
  const auto* in = static_cast<const std::uint8_t*>(data);
  bool all_accepted = true;
  TModuleCommand block;
  for (std::uint32_t offset = 0; offset < length;) {
    const std::uint32_t n = std::min(kMaxBlockLength, length - offset);
    block.Param1 = model::ModuleChecksum(in + offset, n);
    block.Param2 = address + offset;
    block.Param3 = n;
    block.Code = CmdBeginBlock;
    all_accepted &= SendCommand(handle, block);
    all_accepted &= WriteData(handle, in + offset, n);
    block.Code = CmdEndBlock;
    all_accepted &= SendCommand(handle, block);
    offset += n;
  }
  return all_accepted;
}

}  // namespace tarven::device
