#include "device/device_probe.h"

#include <chrono>
#include <cstdio>

#include "device/device.h"
#include "device/exchange.h"
#include "model/little_endian.h"
#include "model/version_text.h"

namespace tarven::device {
namespace {

using model::kNotAvailable;

std::optional<std::uint32_t> ReadWord(Link& link, Handle handle, std::uint8_t code) {
  std::uint8_t answer[8] = {};
  if (!link.SendCommand(handle, Command(code))) return std::nullopt;
  // The application's status is 8 bytes (version, run and DAC flags), the boot loader's words 4.
  if (!link.ReadData(handle, answer, code == CmdStatus ? 8 : 4)) return std::nullopt;
  return model::ReadLe32(answer);
}

void Ask(Link& link, Handle handle, DeviceProbe& probe) {
  std::uint16_t length = 0;
  if (!link.backend()->GetFeatureReportLength(handle, length)) return;
  probe.feature_report_length = length;
  if (length != kModuleFeatureReportLength) return;
  const std::optional<std::uint16_t> code = link.Identify(handle);
  if (!code) {
    probe.personality = Personality::Silent;
    return;
  }
  probe.device_code = *code;
  if (probe.device_code == kAppDeviceCode) {
    probe.personality = Personality::Application;
    probe.firmware_version = ReadWord(link, handle, CmdStatus);
  } else if (probe.device_code == kBootDeviceCode) {
    probe.personality = Personality::BootLoader;
    probe.boot_version = ReadWord(link, handle, CmdStatus);
    probe.firmware_version = ReadWord(link, handle, CmdFirmwareVersion);
  } else {
    probe.personality = Personality::Other;
  }
}

}  // namespace

namespace {

DeviceProbe Probe(Link& link, hid::DeviceInfo info,
                  std::chrono::steady_clock::time_point deadline) {
  DeviceProbe probe;
  probe.info = std::move(info);
  hid::Backend* hid = link.backend();
  LockHolder holder;
  const Link::LockState lock = link.LockDevice(probe.info, deadline, holder);
  if (lock == Link::LockState::Busy) {
    probe.busy = holder;
    return probe;
  }
  Handle& handle = LinkAccess::HidHandle(link);
  handle = hid->Open(probe.info.path);
  if (handle == kInvalidHandle) {
    probe.open_error = hid->OpenFailureReason();
    probe.permission = hid->OpenFailureIsPermission();
  } else {
    probe.opened = true;
    HandleGuard guard(link, handle);
    Ask(link, handle, probe);
  }
  if (lock == Link::LockState::Taken) link.UnlockDevice(probe.info);
  return probe;
}

}  // namespace

bool ProbeDevices(Link& link, std::vector<DeviceProbe>& probes) {
  probes.clear();
  hid::Backend* hid = link.backend();
  if (hid == nullptr) return false;
  std::vector<hid::DeviceInfo> devices;
  if (!hid->EnumerateDevices(kModuleVendorId, kModuleProductId, devices)) return false;
  const auto now = std::chrono::steady_clock::now();
  for (hid::DeviceInfo& info : devices) probes.push_back(Probe(link, std::move(info), now));
  return true;
}

DeviceProbe ProbeDevice(Link& link, hid::DeviceInfo info) {
  if (link.backend() == nullptr) {
    DeviceProbe probe;
    probe.info = std::move(info);
    return probe;
  }
  return Probe(link, std::move(info), std::chrono::steady_clock::now());
}

std::string DescribeAnswer(const DeviceProbe& probe) {
  switch (probe.personality) {
    case Personality::Application:
      return "application, firmware " + (probe.firmware_version
                                             ? model::FirmwareVersionText(*probe.firmware_version)
                                             : std::string(kNotAvailable));
    case Personality::BootLoader:
      return "boot loader " +
             (probe.boot_version ? model::BootVersionText(*probe.boot_version)
                                 : std::string(kNotAvailable)) +
             ", firmware " +
             (probe.firmware_version ? model::FirmwareVersionText(*probe.firmware_version)
                                     : std::string(kNotAvailable));
    case Personality::Other: {
      char code[8];
      std::snprintf(code, sizeof code, "%04x", probe.device_code);
      return std::string("not the module (identify answers 0x") + code + ")";
    }
    case Personality::Silent:
      return "does not answer the identify command";
    case Personality::NotAsked:
      break;
  }
  if (probe.busy) return "in use by " + DescribeHolder(*probe.busy);
  if (!probe.opened)
    return "cannot be opened: " +
           (probe.open_error.empty() ? std::string(kNotAvailable) : probe.open_error);
  if (!probe.feature_report_length) return "its report descriptor cannot be read";
  return "not the module (feature report of " + std::to_string(*probe.feature_report_length) +
         " bytes, the module's has 65)";
}

const char* PersonalityName(Personality personality) {
  switch (personality) {
    case Personality::Application:
      return "application";
    case Personality::BootLoader:
      return "bootloader";
    case Personality::Other:
      return "other";
    case Personality::Silent:
      return "silent";
    case Personality::NotAsked:
      break;
  }
  return "not asked";
}

}  // namespace tarven::device
