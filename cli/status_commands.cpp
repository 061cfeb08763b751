// status, cnc stop|start, restart: whether the module is there, and its run control.

#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <utility>
#include <vector>

#include "cli/context.h"
#include "device/operations.h"
#include "model/version_text.h"

namespace tarven::cli {
namespace {

namespace dev = tarven::device;
using model::kNotAvailable;

int Status(Context& context, bool json) {
  dev::Handle handle = dev::kInvalidHandle;
  const dev::StatusReading reading = dev::PollStatus(handle);
  const auto or_unknown = [](bool known, std::string text) {
    return known ? std::move(text) : std::string(kNotAvailable);
  };
  std::vector<std::pair<std::string, std::string>> fields;
  switch (reading.presence) {
    case dev::Presence::Application: {
      const bool known = reading.status_read;
      fields = {{"state", "application"},
                {"firmware",
                 or_unknown(known, model::FirmwareVersionText(dev::AppModule.FirmwareVersion))},
                {"bootloader", kNotAvailable},
                {"cnc", or_unknown(known, reading.run_flag != 0 ? "running" : "stopped")},
                {"ext-dac", or_unknown(known, reading.ext_dac_flag != 0 ? "on" : "off")}};
      break;
    }
    case dev::Presence::BootLoader:
      fields = {
          {"state", "bootloader"},
          {"firmware", or_unknown(reading.firmware_version_read,
                                  model::FirmwareVersionText(dev::BootModule.FirmwareVersion))},
          {"bootloader",
           or_unknown(reading.status_read, model::BootVersionText(dev::BootModule.BootVersion))},
          {"cnc", kNotAvailable},
          {"ext-dac", kNotAvailable}};
      break;
    case dev::Presence::Absent:
      fields = {{"state", "absent"},
                {"firmware", kNotAvailable},
                {"bootloader", kNotAvailable},
                {"cnc", kNotAvailable},
                {"ext-dac", kNotAvailable}};
      break;
  }
  if (json) {
    nlohmann::ordered_json object = nlohmann::ordered_json::object();
    for (const auto& [key, value] : fields) object[key] = value;
    context.out << object.dump() << '\n';
  } else {
    for (const auto& [key, value] : fields) context.out << key << ": " << value << '\n';
  }
  return context.Finish("status", reading.outcome);
}

Action ApplicationCommand(std::uint8_t code, std::string what) {
  return [code, what = std::move(what)](Context& context) {
    dev::Handle handle = dev::kInvalidHandle;
    return context.Finish(what, dev::SendApplicationCommand(handle, code));
  };
}

}  // namespace

void RegisterStatusCommands(CLI::App& app, Action& action) {
  auto json = std::make_shared<bool>(false);
  CLI::App* status =
      app.add_subcommand("status", "show whether the module is there, and its state");
  status->add_flag("--json", *json, "print one JSON object");
  status->callback(
      [&action, json] { action = [json](Context& context) { return Status(context, *json); }; });

  CLI::App* cnc = app.add_subcommand("cnc", "stop or start the CNC");
  cnc->require_subcommand(1);
  cnc->add_subcommand("stop", "stop the CNC")->callback([&action] {
    action = ApplicationCommand(dev::CmdStopCnc, "cnc stop");
  });
  cnc->add_subcommand("start", "start the CNC")->callback([&action] {
    action = ApplicationCommand(dev::CmdStartCnc, "cnc start");
  });
  app.add_subcommand("restart", "restart the module")->callback([&action] {
    action = ApplicationCommand(dev::CmdRestart, "restart");
  });
}

}  // namespace tarven::cli
