#include "cli/tarvenctl.h"

#include <CLI/CLI.hpp>
#include <functional>
#include <utility>

#include "device/device.h"
#include "device/hid.h"
#include "device/operations.h"
#include "device/trace_backend.h"
#include "model/version_text.h"
#include "sim/sim_backend.h"
#include "sim/sim_state.h"

namespace tarven::cli {
namespace {

namespace dev = tarven::device;

constexpr const char* kNotAvailable = "н/д";

struct Options {
  bool simulate = false;
  bool trace = false;
  std::string sim_state;
  bool json = false;
};

// Binds the HID access for one run and releases it, and saves the simulator state, at the end.
class Binding {
 public:
  Binding(const Options& options, std::shared_ptr<sim::SimBackend> simulator, std::ostream& err)
      : simulator_(std::move(simulator)), sim_state_(options.sim_state) {
    std::shared_ptr<hid::Backend> backend;
    if (options.simulate) {
      if (!simulator_) simulator_ = std::make_shared<sim::SimBackend>();
      backend = simulator_;
    } else {
      backend = hid::MakePlatformBackend();
    }
    if (backend && options.trace) backend = std::make_shared<hid::TraceBackend>(backend, err);
    hid::LoadHidLibrary(backend);
    dev::ResetModuleRecords();
  }
  ~Binding() { hid::UnloadHidLibrary(); }
  Binding(const Binding&) = delete;
  Binding& operator=(const Binding&) = delete;

  bool LoadState(std::string& error) {
    return !simulator_ || sim_state_.empty() ||
           sim::LoadState(simulator_->module(), sim_state_, error);
  }
  bool SaveState(std::string& error) {
    return !simulator_ || sim_state_.empty() ||
           sim::SaveState(simulator_->module(), sim_state_, error);
  }

 private:
  std::shared_ptr<sim::SimBackend> simulator_;
  std::string sim_state_;
};

std::string JsonString(const std::string& text) {
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') quoted += '\\';
    quoted += c;
  }
  return quoted + "\"";
}

int Status(const Options& options, std::ostream& out, std::ostream& err) {
  dev::Handle handle = dev::kInvalidHandle;
  const dev::StatusReading reading = dev::PollStatus(handle);
  std::vector<std::pair<std::string, std::string>> fields;
  switch (reading.presence) {
    case dev::Presence::Application:
      fields = {{"state", "application"},
                {"firmware", model::FirmwareVersionText(dev::AppModule.FirmwareVersion)},
                {"bootloader", kNotAvailable},
                {"cnc", reading.run_flag != 0 ? "running" : "stopped"},
                {"ext-dac", reading.ext_dac_flag != 0 ? "on" : "off"}};
      break;
    case dev::Presence::BootLoader:
      fields = {{"state", "bootloader"},
                {"firmware", model::FirmwareVersionText(dev::BootModule.FirmwareVersion)},
                {"bootloader", model::BootVersionText(dev::BootModule.BootVersion)},
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
  if (options.json) {
    out << '{';
    for (std::size_t i = 0; i < fields.size(); ++i) {
      out << (i ? ", " : "") << JsonString(fields[i].first) << ": " << JsonString(fields[i].second);
    }
    out << "}\n";
  } else {
    for (const auto& [key, value] : fields) out << key << ": " << value << '\n';
  }
  if (reading.presence == dev::Presence::Absent) {
    err << "tarvenctl: no module found\n";
    return kExitFailed;
  }
  return kExitOk;
}

// Sends a command to the application personality, explaining why it could not go out.
int ApplicationCommand(std::uint8_t code, const char* what, std::ostream& err) {
  dev::Handle handle = dev::kInvalidHandle;
  if (dev::SendApplicationCommand(handle, code)) return kExitOk;
  if (dev::AppModule.Found) {
    err << "tarvenctl: " << what << ": the module refused the command\n";
    return kExitFailed;
  }
  handle = dev::OpenModule(dev::BootModule);
  dev::CloseModule(handle);
  err << "tarvenctl: " << what << ": "
      << (dev::BootModule.Found ? "the module runs its boot loader" : "no module found") << '\n';
  return kExitFailed;
}

}  // namespace

int Run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
        std::shared_ptr<sim::SimBackend> simulator) {
  Options options;
  CLI::App app{"Service tool for the Тарвен module", "tarvenctl"};
  app.require_subcommand(1);
  app.add_flag("--simulate", options.simulate, "talk to the built-in simulated module");
  app.add_option("--sim-state", options.sim_state,
                 "keep the simulated module's state in FILE between runs")
      ->type_name("FILE");
  app.add_flag("--trace", options.trace,
               "print every feature report in hex with its direction on standard error");

  std::function<int()> action;
  CLI::App* status =
      app.add_subcommand("status", "show whether the module is there, and its state");
  status->add_flag("--json", options.json, "print one JSON object");
  status->callback([&] { action = [&] { return Status(options, out, err); }; });

  CLI::App* cnc = app.add_subcommand("cnc", "stop or start the CNC");
  cnc->require_subcommand(1);
  cnc->add_subcommand("stop", "stop the CNC")->callback([&] {
    action = [&] { return ApplicationCommand(dev::CmdStopCnc, "cnc stop", err); };
  });
  cnc->add_subcommand("start", "start the CNC")->callback([&] {
    action = [&] { return ApplicationCommand(dev::CmdStartCnc, "cnc start", err); };
  });
  app.add_subcommand("restart", "restart the module")->callback([&] {
    action = [&] { return ApplicationCommand(dev::CmdRestart, "restart", err); };
  });

  std::vector<std::string> reversed(args.rbegin(), args.rend());
  try {
    app.parse(reversed);
  } catch (const CLI::CallForHelp&) {
    out << app.help();
    return kExitOk;
  } catch (const CLI::CallForAllHelp&) {
    out << app.help("", CLI::AppFormatMode::All);
    return kExitOk;
  } catch (const CLI::ParseError& error) {
    err << "tarvenctl: " << error.what() << " (try --help)\n";
    return kExitUsage;
  }
  if (!options.sim_state.empty() && !options.simulate) {
    err << "tarvenctl: --sim-state needs --simulate\n";
    return kExitUsage;
  }

  Binding binding(options, std::move(simulator), err);
  std::string error;
  if (!binding.LoadState(error)) {
    err << "tarvenctl: " << error << '\n';
    return kExitUsage;
  }
  int result = action ? action() : kExitUsage;
  if (!binding.SaveState(error)) {
    err << "tarvenctl: " << error << '\n';
    result = kExitFailed;
  }
  return result;
}

}  // namespace tarven::cli
