// devices: every HID device with the module's ids, where it is, and whether and as what it answers.

#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "cli/access_hint.h"
#include "cli/context.h"
#include "device/device.h"
#include "device/device_probe.h"
#include "model/printable_text.h"
#include "model/version_text.h"

namespace tarven::cli {
namespace {

namespace dev = tarven::device;
using model::kNotAvailable;

// A device's own words (its path, serial number, the system's reason) as the terminal may show
// them.
std::string OrUnknown(const std::string& text) {
  return text.empty() ? std::string(kNotAvailable) : model::Printable(text);
}

nlohmann::ordered_json Json(const dev::DeviceProbe& probe) {
  const auto or_null = [](const std::string& text) {
    return text.empty() ? nlohmann::ordered_json(nullptr) : nlohmann::ordered_json(text);
  };
  nlohmann::ordered_json object;
  object["path"] = probe.info.path;
  object["location"] = or_null(probe.info.usb_location);
  object["serial"] = or_null(probe.info.serial_number);
  object["opened"] = probe.opened;
  object["open_error"] = or_null(probe.open_error);
  object["feature_report_length"] = probe.feature_report_length
                                        ? nlohmann::ordered_json(*probe.feature_report_length)
                                        : nlohmann::ordered_json(nullptr);
  const bool asked = probe.personality != dev::Personality::NotAsked;
  object["personality"] = asked ? nlohmann::ordered_json(dev::PersonalityName(probe.personality))
                                : nlohmann::ordered_json(nullptr);
  object["firmware"] =
      probe.firmware_version
          ? nlohmann::ordered_json(model::FirmwareVersionText(*probe.firmware_version))
          : nlohmann::ordered_json(nullptr);
  object["bootloader"] = probe.boot_version
                             ? nlohmann::ordered_json(model::BootVersionText(*probe.boot_version))
                             : nlohmann::ordered_json(nullptr);
  object["busy"] = probe.busy ? nlohmann::ordered_json(dev::DescribeHolder(*probe.busy))
                              : nlohmann::ordered_json(nullptr);
  object["fix"] =
      probe.permission ? nlohmann::ordered_json(AccessHint()) : nlohmann::ordered_json(nullptr);
  return object;
}

bool IsModule(const dev::DeviceProbe& probe) {
  return probe.personality == dev::Personality::Application ||
         probe.personality == dev::Personality::BootLoader;
}

// The versions a module was asked for and did not tell ("" when it told them all): a listing
// with н/д where a version belongs is no clean bill of health.
std::string UntoldVersions(const dev::DeviceProbe& probe) {
  const bool firmware = !probe.firmware_version.has_value();
  const bool boot = probe.personality == dev::Personality::BootLoader && !probe.boot_version;
  if (!IsModule(probe) || (!firmware && !boot)) return {};
  if (firmware && boot) return "boot loader and firmware versions";
  return firmware ? "firmware version" : "boot loader version";
}

int Devices(Context& context, bool json) {
  std::vector<dev::DeviceProbe> probes;
  if (!dev::ProbeDevices(context.link, probes)) {
    return context.Fail("devices", "the system's list of HID devices cannot be read");
  }
  bool any_module = false;
  bool hinted = false;
  std::string untold;
  nlohmann::ordered_json list = nlohmann::ordered_json::array();
  for (const dev::DeviceProbe& probe : probes) {
    // One that another program holds was not asked, but is in use as a module.
    any_module |= IsModule(probe) || probe.busy.has_value();
    if (const std::string versions = UntoldVersions(probe); untold.empty() && !versions.empty()) {
      untold = "the module at " + probe.info.path + " did not tell its " + versions;
    }
    if (json) {
      list.push_back(Json(probe));
      continue;
    }
    context.out << model::Printable(probe.info.path) << '\n'
                << "  location: " << OrUnknown(probe.info.usb_location) << '\n'
                << "  serial: " << OrUnknown(probe.info.serial_number) << '\n'
                << "  feature report: "
                << (probe.feature_report_length
                        ? std::to_string(*probe.feature_report_length) + " bytes"
                        : std::string(kNotAvailable))
                << '\n'
                << "  answers: " << model::Printable(dev::DescribeAnswer(probe)) << '\n';
    if (probe.permission && !hinted) {
      context.out << AccessHint();
      hinted = true;
    }
  }
  if (json) {
    // A serial number that is not UTF-8 must not end the run.
    context.out << list.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace)
                << '\n';
  } else if (probes.empty()) {
    context.out << "no HID device with the module's ids (03eb:6202)\n";
  }
  if (probes.empty()) return context.Fail("devices", dev::Outcome::Failed(dev::Failure::NoModule));
  if (!any_module) return context.Fail("devices", "no device answers as the module");
  return untold.empty() ? kExitOk : context.Fail("devices", untold);
}

}  // namespace

void RegisterDeviceCommands(CLI::App& app, Action& action) {
  auto json = std::make_shared<bool>(false);
  CLI::App* devices = app.add_subcommand(
      "devices", "list every HID device with the module's ids, and what answers on each");
  devices->add_flag("--json", *json, "print one JSON array, an object per device");
  devices->callback(
      [&action, json] { action = [json](Context& context) { return Devices(context, *json); }; });
}

}  // namespace tarven::cli
