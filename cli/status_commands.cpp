// status, cnc stop|start, restart: whether the module is there, and its run control.

#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
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
  const dev::StatusReading reading = dev::PollStatus(context.link);
  // A value the module did not tell is none: "н/д" in the text, null in JSON.
  using Value = std::optional<std::string>;
  const auto known_if = [](bool known, std::string text) {
    return known ? Value(std::move(text)) : std::nullopt;
  };
  std::vector<std::pair<std::string, Value>> fields;
  switch (reading.presence) {
    case dev::Presence::Application: {
      const bool known = reading.status_read;
      fields = {{"state", "application"},
                {"firmware",
                 known_if(known, model::FirmwareVersionText(context.link.AppModule().FirmwareVersion))},
                {"bootloader", std::nullopt},
                {"cnc", known_if(known, reading.run_flag != 0 ? "running" : "stopped")},
                {"ext-dac", known_if(known, reading.ext_dac_flag != 0 ? "on" : "off")}};
      break;
    }
    case dev::Presence::BootLoader:
      fields = {
          {"state", "bootloader"},
          {"firmware", known_if(reading.firmware_version_read,
                                model::FirmwareVersionText(context.link.BootModule().FirmwareVersion))},
          {"bootloader",
           known_if(reading.status_read, model::BootVersionText(context.link.BootModule().BootVersion))},
          {"cnc", std::nullopt},
          {"ext-dac", std::nullopt}};
      break;
    case dev::Presence::Absent:
      // A module that is there but cannot be opened (no permission, held by a driver) is not
      // absent: the error below says why it cannot be opened.
      fields = {
          {"state", reading.outcome.failure == dev::Failure::NoAccess ? "inaccessible" : "absent"},
          {"firmware", std::nullopt},
          {"bootloader", std::nullopt},
          {"cnc", std::nullopt},
          {"ext-dac", std::nullopt}};
      break;
  }
  // A module that another program holds was not asked anything: it is there, and in use.
  if (reading.outcome.failure == dev::Failure::ModuleBusy) fields.front().second = "busy";
  if (json) {
    nlohmann::ordered_json object = nlohmann::ordered_json::object();
    for (const auto& [key, value] : fields) {
      object[key] = value ? nlohmann::ordered_json(*value) : nlohmann::ordered_json(nullptr);
    }
    context.out << object.dump() << '\n';
  } else {
    for (const auto& [key, value] : fields) {
      context.out << key << ": " << value.value_or(kNotAvailable) << '\n';
    }
  }
  return context.Finish("status", reading.outcome);
}

Action ApplicationCommand(std::uint8_t code, std::string what) {
  return [code, what = std::move(what)](Context& context) {
    return context.Finish(what, dev::SendApplicationCommand(context.link, code));
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
