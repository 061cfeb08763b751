#include "cli/tarvenctl.h"

#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <iostream>
#include <string_view>
#include <utility>

#include "firmware/firmware_image.h"
#include "sim/session.h"

namespace tarven::cli {
namespace {

struct GlobalOptions {
  bool simulate = false;
  bool trace = false;
  std::string sim_state;
};

// The first word of `args` that no command or option took, as CLI11 left it after a failed parse.
std::string FirstLeftOver(const CLI::App& app) {
  std::vector<std::string> left = app.remaining();
  for (const CLI::App* sub : app.get_subcommands()) {
    if (left.empty()) left = sub->remaining();
    for (const CLI::App* inner : sub->get_subcommands()) {
      if (left.empty()) left = inner->remaining();
    }
  }
  return left.empty() ? std::string() : left.front();
}

// The innermost command the user named, or `app` itself.
const CLI::App* InnermostCommand(const CLI::App& app) {
  const CLI::App* current = &app;
  for (;;) {
    const auto chosen = current->get_subcommands();
    if (chosen.empty()) return current;
    current = chosen.front();
  }
}

// One line that names the word that was wrong, instead of the parser's own sentence.
std::string UsageError(const CLI::App& app, const CLI::ParseError& error) {
  const bool extras = dynamic_cast<const CLI::ExtrasError*>(&error) != nullptr;
  const bool required = dynamic_cast<const CLI::RequiredError*>(&error) != nullptr;
  if (!extras && !required) return Shorten(error.what(), 120);
  const std::string word = FirstLeftOver(app);
  const CLI::App* command = InnermostCommand(app);
  const std::string where = command == &app ? std::string() : " for '" + command->get_name() + "'";
  if (!word.empty() && word.front() == '-') return "unknown option '" + Shorten(word) + "'" + where;
  const bool takes_commands = !command->get_subcommands({}).empty();
  if (!word.empty()) {
    return (takes_commands ? "unknown command '" : "unexpected argument '") + Shorten(word) + "'" +
           where;
  }
  if (required && takes_commands && command->get_subcommands().empty()) {
    return command == &app ? "no command given" : "'" + command->get_name() + "' needs a command";
  }
  return Shorten(error.what(), 120);
}

// The command group of the first word that is not a global option, or null when there is none
// or it names no command (then every group is set up, to list them or to say the word is wrong).
void (*GroupOf(const std::vector<std::string>& args))(CLI::App&, Action&) {
  static const std::pair<std::string_view, void (*)(CLI::App&, Action&)> kGroups[] = {
      {"status", RegisterStatusCommands}, {"cnc", RegisterStatusCommands},
      {"restart", RegisterStatusCommands}, {"devices", RegisterDeviceCommands},
      {"config", RegisterConfigCommands}, {"params", RegisterConfigCommands},
      {"image", RegisterImageCommands},   {"modbus", RegisterModbusCommands},
      {"ports", RegisterModbusCommands},  {"io", RegisterIoCommands},
      {"reg", RegisterIoCommands},        {"dac", RegisterIoCommands},
      {"update", RegisterUpdateCommands}};
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& word = args[i];
    if (word == "--sim-state") {
      ++i;  // its file
      continue;
    }
    if (!word.empty() && word.front() == '-') {
      if (word == "-h" || word == "--help" || word == "--help-all") return nullptr;
      continue;
    }
    for (const auto& [name, group] : kGroups) {
      if (word == name) return group;
    }
    return nullptr;
  }
  return nullptr;
}

// Asks on the terminal; only "y", "yes", "д" or "да" goes ahead.
bool AskOnTerminal(std::string_view question) {
  std::cerr << question << " [y/N] " << std::flush;
  std::string answer;
  if (!std::getline(std::cin, answer)) return false;
  return answer == "y" || answer == "Y" || answer == "yes" || answer == "д" || answer == "да";
}

}  // namespace

int Run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
        std::shared_ptr<sim::SimBackend> simulator, Confirm confirm,
        comport::PortSource serial_ports) {
  GlobalOptions options;
  CLI::App app{"Service tool for the Тарвен module", "tarvenctl"};
  app.require_subcommand(1);
  app.add_flag("--simulate", options.simulate, "talk to the built-in simulated module");
  app.add_option("--sim-state", options.sim_state,
                 "keep the simulated module's state in FILE between runs")
      ->type_name("FILE");
  app.add_flag("--trace", options.trace,
               "print every feature report in hex with its direction on standard error");
  bool version = false;
  app.add_flag("--version", version,
               "print the version and the firmware image the tool carries, and exit");

  Action action;
  // A script's run names one command: only its group is set up, which saves most of the parser's
  // work. Help, a mistyped command or none at all get every group, so that they can be listed.
  using Register = void (*)(CLI::App&, Action&);
  const Register groups[] = {RegisterStatusCommands, RegisterDeviceCommands,
                             RegisterConfigCommands, RegisterImageCommands,
                             RegisterModbusCommands, RegisterIoCommands, RegisterUpdateCommands};
  if (const Register group = GroupOf(args)) {
    group(app, action);
  } else {
    for (const Register each : groups) each(app, action);
  }

  // --version alone needs no command.
  if (std::find(args.begin(), args.end(), "--version") != args.end()) app.require_subcommand(0, 1);
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
    err << "tarvenctl: " << UsageError(app, error) << " (try --help)\n";
    return kExitUsage;
  }
  if (version) {
    out << firmware::VersionText("tarvenctl", firmware::ProgramFolder());
    return kExitOk;
  }
  if (!options.sim_state.empty() && !options.simulate) {
    err << "tarvenctl: --sim-state needs --simulate\n";
    return kExitUsage;
  }
  if (!action) {
    err << "tarvenctl: no command given (try --help)\n";
    return kExitUsage;
  }

  sim::SessionOptions session_options;
  session_options.simulate = options.simulate;
  session_options.sim_state_path = options.sim_state;
  std::string error;
  const auto session = sim::Session::Start(session_options, std::move(simulator), error);
  if (!session) {
    // A state file in use, damaged or unreadable: a failure, not a wrong word on the line.
    err << "tarvenctl: " << error << '\n';
    return kExitFailed;
  }
  if (!confirm && ::isatty(STDIN_FILENO) == 1 && ::isatty(STDERR_FILENO) == 1) {
    confirm = AskOnTerminal;
  }
  device::LinkOptions link_options;
  link_options.simulated = session->simulator_shared();
  link_options.trace = options.trace ? &err : nullptr;
  const std::unique_ptr<device::Link> link = device::MakeLink(link_options);
  Context context{out, err, *link, std::move(confirm)};
  context.simulated = session->simulator() != nullptr;
  context.serial_ports = std::move(serial_ports);
  int result = action(context);
  if (!session->Finish(error)) {
    err << "tarvenctl: " << error << '\n';
    result = kExitFailed;
  }
  return result;
}

}  // namespace tarven::cli
