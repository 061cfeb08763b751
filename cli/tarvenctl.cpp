#include "cli/tarvenctl.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <chrono>
#include <iostream>
#include <optional>
#include <string_view>
#include <utility>

#include "cli/all_modules.h"
#include "cli/number_option.h"
#include "firmware/firmware_image.h"
#include "journal/recorder.h"
#include "journal/user_place.h"
#include "model/printable_text.h"
#include "platform/console.h"
#include "startup/workbench.h"

namespace tarven::cli {
namespace {

// The most simulated modules a bench may have.
constexpr int kMaxSimulatedModules = 64;
// The longest a command may be told to wait for a module another program uses: an hour.
constexpr double kMaxWaitSeconds = 3600;
// Longer than any hidraw path, USB location or USB serial number (at most 126 UTF-16 units).
constexpr std::size_t kMaxSelectorLength = 512;


struct GlobalOptions {
  int simulate = 0;  // simulated modules; 0 for USB
  double sim_wire_ms = 0;
  // How long a command waits for its module while another program uses it, in seconds; the
  // module's lock waits this long before it names the holder.
  double wait_seconds = 5;
  bool trace = false;
  std::string sim_state;
  std::string device;
  bool all = false;
  bool json = false;
  std::string journal;  // empty for the default file
  bool no_journal = false;
  bool no_undo = false;
};

// Global options that take the next word as their value.
bool TakesValue(std::string_view word) {
  return word == "--sim-state" || word == "--device" || word == "--sim-wire-time" ||
         word == "--wait" || word == "--journal";
}

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
  // A value's own check has shortened the value it names.
  if (!extras && !required) return Shorten(error.what(), 200);
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
      {"status", RegisterStatusCommands},  {"cnc", RegisterStatusCommands},
      {"restart", RegisterStatusCommands}, {"devices", RegisterDeviceCommands},
      {"config", RegisterConfigCommands},  {"params", RegisterConfigCommands},
      {"image", RegisterImageCommands},    {"modbus", RegisterModbusCommands},
      {"ports", RegisterModbusCommands},   {"io", RegisterIoCommands},
      {"reg", RegisterIoCommands},         {"dac", RegisterIoCommands},
      {"update", RegisterUpdateCommands},  {"backup", RegisterBackupCommands},
      {"restore", RegisterBackupCommands}, {"diff", RegisterBackupCommands},
      {"journal", RegisterJournalCommands}, {"undo", RegisterJournalCommands}};
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& word = args[i];
    if (TakesValue(word)) {
      ++i;  // its value
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

// A --device selector: not empty (which would mean the first module found), and not longer than
// anything a device is known by.
CLI::Validator DeviceSelector() {
  return CLI::Validator(
      [](std::string& text) -> std::string {
        if (text.empty()) return "the selector is empty";
        if (text.size() <= kMaxSelectorLength) return {};
        return "'" + Shorten(text) +
               "' is longer than any hidraw path, USB location or serial number";
      },
      "");
}

// The parser's help in the program's own words.
std::string HelpText(const CLI::App& app, CLI::AppFormatMode mode) {
  std::string text = app.help("", mode);
  // A flag with an optional value shows its default as "{1}"; the column keeps its width.
  const std::string shown = "--simulate{1} ";
  if (const auto at = text.find(shown); at != std::string::npos) {
    text.replace(at, shown.size(), "--simulate[=N]");
  }
  return text;
}

// Asks on the terminal; only "y", "yes", "д" or "да" goes ahead.
bool AskOnTerminal(std::string_view question) {
  std::cerr << question << " [y/N] " << std::flush;
  std::string answer;
  if (!std::getline(std::cin, answer)) return false;
  return answer == "y" || answer == "Y" || answer == "yes" || answer == "д" || answer == "да";
}

constexpr const char* kDescription = "Service tool for the Тарвен module";

// The options that come before the command and concern the whole run.
void AddGlobalOptions(CLI::App& app, GlobalOptions& options, bool& version) {
  app.add_flag("--simulate{1}", options.simulate,
               "talk to the built-in simulated module; --simulate=N gives a bench of N modules "
               "(1 to 64)")
      ->check(WholeNumber(1, kMaxSimulatedModules));
  app.add_option("--sim-state", options.sim_state,
                 "keep the simulated module's state in FILE between runs")
      ->type_name("FILE")
      ->check(NotEmpty("the file name"));
  app.add_option("--sim-wire-time", options.sim_wire_ms,
                 "make every report take MS milliseconds on the simulated wire, 0 to 1000 "
                 "(full-speed USB takes about 1)")
      ->type_name("MS")
      ->check(DecimalNumber(0, 1000));
  app.add_option("--wait", options.wait_seconds,
                 "wait up to SECONDS (0 to 3600, 5 by default) for a module (or a simulated "
                 "bench's state file) another program is using, then give up naming it")
      ->type_name("SECONDS")
      ->check(DecimalNumber(0, kMaxWaitSeconds));
  app.add_flag("--trace", options.trace,
               "print every feature report in hex with its direction on standard error");
  app.add_option("--device", options.device,
                 "talk to the module with this hidraw path, USB location or serial number (see "
                 "'devices')")
      ->type_name("SELECTOR")
      ->check(DeviceSelector());
  app.add_flag("--all", options.all,
               "run the command on every module at once, one block and a summary line each");
  app.add_flag("--json", options.json, "with --all: one JSON array, an object per module");
  app.add_option("--journal", options.journal,
                 "record this run's changes to modules in FILE instead of the user's journal "
                 "($XDG_DATA_HOME/tarven/journal.sqlite)")
      ->type_name("FILE")
      ->check(NotEmpty("the file name"));
  app.add_flag("--no-journal", options.no_journal, "record nothing in the journal");
  app.add_flag("--no-undo", options.no_undo,
               "write without first reading what the write replaces (before a write to a flash "
               "area, the configuration sector or the RAM, tarvenctl reads it and keeps it in the "
               "journal, which costs that read's time on the wire; 'undo' cannot put back a "
               "write made without it)");
  app.add_flag("-V,--version", version,
               "print the version and the firmware image the tool carries, and exit");
}

// A script's run names one command: only its group is set up, which saves most of the parser's
// work. Help, a mistyped command or none at all get every group, so that they can be listed.
void AddCommandGroups(CLI::App& app, const std::vector<std::string>& args, Action& action) {
  app.require_subcommand(1);
  using Register = void (*)(CLI::App&, Action&);
  const Register groups[] = {RegisterStatusCommands, RegisterDeviceCommands, RegisterConfigCommands,
                             RegisterImageCommands,  RegisterModbusCommands, RegisterIoCommands,
                             RegisterUpdateCommands, RegisterBackupCommands,
                             RegisterJournalCommands};
  if (const Register group = GroupOf(args)) {
    group(app, action);
  } else {
    for (const Register each : groups) each(app, action);
  }
}

// Parses `args` with what `app` was given; the exit status when the run ends here (help, a usage
// error).
std::optional<int> ParseWords(CLI::App& app, const std::vector<std::string>& args,
                              std::ostream& out, std::ostream& err) {
  // "--device=" would have the parser take the next word for the value it lacks.
  for (const std::string& word : args) {
    if (word.size() > 3 && word.rfind("--", 0) == 0 && word.back() == '=') {
      err << "tarvenctl: " << Shorten(word.substr(0, word.size() - 1))
          << ": the value is empty (try --help)\n";
      return kExitUsage;
    }
  }
  std::vector<std::string> reversed(args.rbegin(), args.rend());
  try {
    app.parse(reversed);
  } catch (const CLI::CallForHelp&) {
    out << HelpText(app, CLI::AppFormatMode::Normal);
    return kExitOk;
  } catch (const CLI::CallForAllHelp&) {
    out << HelpText(app, CLI::AppFormatMode::All);
    return kExitOk;
  } catch (const CLI::ParseError& error) {
    err << "tarvenctl: " << UsageError(app, error) << " (try --help)\n";
    return kExitUsage;
  }
  return std::nullopt;
}

std::optional<int> NeedsCommand(const Action& action, std::ostream& err) {
  if (action) return std::nullopt;
  err << "tarvenctl: no command given (try --help)\n";
  return kExitUsage;
}

// The whole command line: the global options and the command. Returns the exit status when the
// run ends here (help, version, a usage error).
std::optional<int> ParseCommandLine(const std::vector<std::string>& args, std::ostream& out,
                                    std::ostream& err, GlobalOptions& options, Action& action) {
  CLI::App app{kDescription, "tarvenctl"};
  bool version = false;
  AddGlobalOptions(app, options, version);
  AddCommandGroups(app, args, action);
  // --version alone needs no command.
  if (std::find(args.begin(), args.end(), "--version") != args.end() ||
      std::find(args.begin(), args.end(), "-V") != args.end()) {
    app.require_subcommand(0, 1);
  }
  if (const auto status = ParseWords(app, args, out, err)) return status;
  if (version) {
    out << firmware::VersionText("tarvenctl", firmware::ProgramFolder());
    return kExitOk;
  }
  return NeedsCommand(action, err);
}

// One module's words in a run over all modules: the command alone, no global options.
std::optional<int> ParseModuleWords(const std::vector<std::string>& words, std::ostream& out,
                                    std::ostream& err, Action& action) {
  CLI::App app{kDescription, "tarvenctl"};
  AddCommandGroups(app, words, action);
  if (const auto status = ParseWords(app, words, out, err)) return status;
  return NeedsCommand(action, err);
}

// A usage error in the global options that the parser cannot see.
std::optional<std::string> CheckGlobalOptions(const GlobalOptions& options) {
  if (!options.sim_state.empty() && options.simulate == 0) return "--sim-state needs --simulate";
  if (options.sim_wire_ms > 0 && options.simulate == 0) return "--sim-wire-time needs --simulate";
  if (options.all && !options.device.empty()) return "--all and --device exclude each other";
  if (options.json && !options.all) return "--json before the command goes with --all";
  if (options.no_journal && !options.journal.empty()) {
    return "--journal and --no-journal exclude each other";
  }
  if (!options.journal.empty() && !journal::Kept()) {
    return "--journal: this build keeps no journal (it was made without SQLite)";
  }
  return std::nullopt;
}

// The words from the command on: what each module of a run over all of them parses again.
std::vector<std::string> CommandWords(const std::vector<std::string>& args) {
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& word = args[i];
    if (TakesValue(word)) {
      ++i;
      continue;
    }
    if (!word.empty() && word.front() == '-') continue;
    return {args.begin() + static_cast<std::ptrdiff_t>(i), args.end()};
  }
  return {};
}

}  // namespace

int Run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
        std::shared_ptr<sim::SimBackend> simulator, Confirm confirm,
        comport::PortSource serial_ports) {
  GlobalOptions options;
  Action action;
  if (const auto status = ParseCommandLine(args, out, err, options, action)) return *status;
  if (const auto usage = CheckGlobalOptions(options)) {
    err << "tarvenctl: " << *usage << '\n';
    return kExitUsage;
  }

  startup::WorkbenchOptions bench_options;
  bench_options.simulated_modules = options.simulate;
  bench_options.wire_time =
      std::chrono::microseconds(static_cast<std::int64_t>(options.sim_wire_ms * 1000.0 + 0.5));
  bench_options.sim_state_path = options.sim_state;
  bench_options.program = "tarvenctl";
  bench_options.lock_wait =
      std::chrono::milliseconds(static_cast<std::int64_t>(options.wait_seconds * 1000.0 + 0.5));
  bench_options.trace = options.trace ? &err : nullptr;
  std::string error;
  const auto bench = startup::Workbench::Open(bench_options, error, std::move(simulator));
  if (!bench) {
    // A state file in use, damaged or unreadable: a failure, not a wrong word on the line.
    err << "tarvenctl: " << model::Printable(error) << '\n';
    return kExitFailed;
  }
  if (!confirm && platform::IsTerminal(platform::StandardStream::Input) &&
      platform::IsTerminal(platform::StandardStream::Error)) {
    confirm = AskOnTerminal;
  }
  const std::string journal_file =
      options.no_journal ? std::string()
                         : (options.journal.empty() ? journal::DefaultJournalPath() : options.journal);
  std::shared_ptr<journal::Recorder> recorder;
  if (!options.no_journal && journal::Kept()) {
    journal::Origin origin{"tarvenctl", TARVEN_TOOL_VERSION, "tarvenctl " + journal::CommandLine(args)};
    recorder = std::make_shared<journal::Recorder>(journal_file, std::move(origin), !options.no_undo);
    // tarvenctl reads no status of its own before a change: the record's firmware version costs
    // one status request.
    recorder->SetAsksFirmwareVersion(true);
  }
  int result = kExitOk;
  if (options.all) {
    AllModules all;
    all.command = CommandWords(args);
    all.link_options = bench->link_options();
    all.link_options.recorder = recorder;
    all.simulated = bench->simulated();
    all.json = options.json;
    all.trace = options.trace;
    all.confirm = std::move(confirm);
    all.parse = [](const std::vector<std::string>& words, std::ostream& module_out,
                   std::ostream& module_err, Action& module_action) {
      return ParseModuleWords(words, module_out, module_err, module_action);
    };
    result = RunOnAllModules(all, out, err);
  } else {
    const std::unique_ptr<device::Link> link = bench->MakeLink(error, options.device);
    if (!link) {
      err << "tarvenctl: --device: " << model::PrintableLines(error);
      return kExitFailed;
    }
    link->SetChangeRecorder(recorder);
    StopRequest stop;
    Context context{out, err, *link, stop, std::move(confirm)};
    context.journal_file = journal_file;
    context.simulated = bench->simulated();
    context.serial_ports = std::move(serial_ports);
    context.command_hold.emplace(*link);
    result = action(context);
  }
  if (recorder) {
    for (const std::string& notice : recorder->TakeNotices()) {
      err << "tarvenctl: warning: " << model::Printable(notice) << '\n';
    }
  }
  if (!bench->Finish(error)) {
    err << "tarvenctl: " << model::Printable(error) << '\n';
    result = kExitFailed;
  }
  return result;
}

}  // namespace tarven::cli
