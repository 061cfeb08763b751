#include "cli/all_modules.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <thread>

#include "cli/progress_line.h"
#include "device/device_probe.h"
#include "device/device_select.h"
#include "model/printable_text.h"

namespace tarven::cli {
namespace {

namespace dev = tarven::device;

struct ModuleRun {
  dev::DeviceProbe device;
  std::vector<std::string> words;
  Action action;
  std::ostringstream out;
  std::ostringstream err;
  int status = kExitOk;
  double seconds = 0;
  bool ran = false;
};

std::string Replace(std::string text, const std::string& field, const std::string& value) {
  for (std::size_t at = text.find(field); at != std::string::npos;
       at = text.find(field, at + value.size())) {
    text.replace(at, field.size(), value);
  }
  return text;
}

// A name part that is safe in a file name: the location "1-2.3" stays, a serial with a slash
// does not climb out of the folder.
std::string FileSafe(const std::string& text) {
  std::string safe;
  for (const char c : text) {
    const bool plain = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                       c == '-' || c == '.' || c == '_';
    safe += plain ? c : '_';
  }
  return safe.empty() || safe == "." || safe == ".." ? "unknown" : safe;
}

std::vector<std::string> WordsFor(const std::vector<std::string>& command,
                                  const dev::DeviceProbe& device, std::size_t n) {
  std::vector<std::string> words;
  for (const std::string& word : command) {
    std::string text = Replace(word, "{serial}", FileSafe(device.info.serial_number));
    text = Replace(text, "{location}", FileSafe(device.info.usb_location));
    words.push_back(Replace(text, "{n}", std::to_string(n)));
  }
  return words;
}

// The first line a module's run wrote on its error stream, without the program's name.
std::string FirstError(const std::string& err) {
  std::string line = err.substr(0, err.find('\n'));
  constexpr std::string_view kPrefix = "tarvenctl: ";
  if (line.compare(0, kPrefix.size(), kPrefix) == 0) line.erase(0, kPrefix.size());
  return line;
}

std::string Seconds(double seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f s", seconds);
  return text;
}

std::string OrDash(const std::string& text) {
  return text.empty() ? "-" : model::Printable(text);
}

// Commands that write a file each module must have its own of.
bool WritesFiles(const std::vector<std::string>& command) {
  if (!command.empty() && command[0] == "backup") return true;
  return command.size() >= 2 && ((command[0] == "image" && command[1] == "read") ||
                                 (command[0] == "params" && command[1] == "export") ||
                                 (command[0] == "config" && command[1] == "export"));
}

void PrintSummary(const std::vector<std::unique_ptr<ModuleRun>>& runs,
                  const std::vector<dev::DeviceProbe>& left_alone, std::ostream& out) {
  std::size_t location_width = 8;
  std::size_t serial_width = 6;
  for (const auto& run : runs) {
    location_width = std::max(location_width, OrDash(run->device.info.usb_location).size());
    serial_width = std::max(serial_width, OrDash(run->device.info.serial_number).size());
  }
  const auto row = [&](const std::string& location, const std::string& serial,
                       const std::string& time, const std::string& result) {
    std::string line = location;
    line.resize(location_width + 2, ' ');
    line += serial;
    line.resize(location_width + 2 + serial_width + 2, ' ');
    std::string time_column = time;
    time_column.resize(9, ' ');
    out << line << time_column << result << '\n';
  };
  row("location", "serial", "time", "result");
  for (const auto& run : runs) {
    std::string result = "ok";
    if (!run->ran) {
      result = "not run";
    } else if (run->status != kExitOk) {
      const std::string why = FirstError(run->err.str());
      result = "failed" + (why.empty() ? std::string() : ": " + why);
    }
    row(OrDash(run->device.info.usb_location), OrDash(run->device.info.serial_number),
        Seconds(run->seconds), result);
  }
  for (const dev::DeviceProbe& device : left_alone) {
    row(OrDash(device.info.usb_location), OrDash(device.info.serial_number), "-",
        "left alone: " + model::Printable(dev::DescribeAnswer(device)));
  }
}

nlohmann::ordered_json Json(const ModuleRun& run) {
  const auto or_null = [](const std::string& text) {
    return text.empty() ? nlohmann::ordered_json(nullptr) : nlohmann::ordered_json(text);
  };
  nlohmann::ordered_json object;
  object["location"] = or_null(run.device.info.usb_location);
  object["serial"] = or_null(run.device.info.serial_number);
  object["path"] = run.device.info.path;
  object["exit"] = run.status;
  object["result"] = run.status == kExitOk ? "ok" : "failed";
  object["seconds"] = run.seconds;
  // A command that writes JSON itself (status --json) is given as it is, else as text.
  const std::string output = run.out.str();
  nlohmann::ordered_json parsed = nlohmann::ordered_json::parse(output, nullptr, false);
  object["output"] = parsed.is_discarded() ? nlohmann::ordered_json(output) : parsed;
  object["error"] = or_null(run.err.str());
  return object;
}

// One line per module on a terminal, redrawn in place at most ten times a second: what each
// module's transfer would show on a line of its own, and then how it ended.
class TerminalBoard {
 public:
  TerminalBoard(std::ostream& err, const std::vector<std::string>& names)
      : err_(err), names_(names), lines_(names.size(), "waiting") {}

  void Set(std::size_t module, std::string line, bool now = false) {
    const std::lock_guard lock(mutex_);
    lines_[module] = std::move(line);
    const auto time = std::chrono::steady_clock::now();
    if (!now && drawn_ && time - last_draw_ < std::chrono::milliseconds(100)) return;
    Draw();
    last_draw_ = time;
  }

 private:
  void Draw() {
    if (drawn_) err_ << "\x1b[" << lines_.size() << 'A';
    for (std::size_t i = 0; i < lines_.size(); ++i) {
      err_ << '\r' << names_[i] << "  " << lines_[i] << "\x1b[K\n";
    }
    err_ << std::flush;
    drawn_ = true;
  }

  std::ostream& err_;
  std::vector<std::string> names_;
  std::vector<std::string> lines_;
  std::mutex mutex_;
  bool drawn_ = false;
  std::chrono::steady_clock::time_point last_draw_;
};

// A module's thread's view of the board.
class ModuleLine final : public ProgressBoard {
 public:
  ModuleLine(TerminalBoard& board, std::size_t module) : board_(board), module_(module) {}
  void Show(const std::string& line) override { board_.Set(module_, line); }

 private:
  TerminalBoard& board_;
  std::size_t module_;
};

}  // namespace

namespace {

// The commands a run over all modules serves, each with the verbs it serves ("" for a command
// that takes none): the one list that the check and its message are made from.
struct Served {
  std::string_view name;
  std::vector<std::string_view> verbs;
};
const std::vector<Served>& ServedCommands() {
  static const std::vector<Served> kServed = {
      {"status", {}},  {"cnc", {}},    {"restart", {}},
      {"update", {}},  {"backup", {}}, {"config", {"show", "set", "export"}},
      {"params", {"get", "set", "import", "export"}},
      {"image", {"read", "write"}},
  };
  return kServed;
}

// "status, cnc, ..., config show|set|export, ... and image read|write".
std::string ServedList() {
  std::string list;
  const auto& served = ServedCommands();
  for (std::size_t i = 0; i < served.size(); ++i) {
    if (i > 0) list += i + 1 == served.size() ? " and " : ", ";
    list += served[i].name;
    for (std::size_t v = 0; v < served[i].verbs.size(); ++v) {
      list += v == 0 ? " " : "|";
      list += served[i].verbs[v];
    }
  }
  return list;
}

using Runs = std::vector<std::unique_ptr<ModuleRun>>;

// Probes the bench (sending nothing to a module another program holds) and makes a run of each
// module that answers as its application, or is in use (its run waits for it); the others are
// left alone. Each run's words are parsed into its action. The exit status when the run ends here.
std::optional<int> Plan(const AllModules& run, Runs& runs, std::vector<dev::DeviceProbe>& left_alone,
                        std::ostream& out, std::ostream& err) {
  std::vector<dev::DeviceProbe> probes;
  {
    dev::LinkOptions probe_options;
    probe_options.simulated = run.link_options.simulated;
    probe_options.locks = run.link_options.locks;
    const std::unique_ptr<dev::Link> probe_link = dev::MakeLink(probe_options);
    if (!dev::ProbeDevices(*probe_link, probes)) {
      err << "tarvenctl: --all: the system's list of HID devices cannot be read\n";
      return kExitFailed;
    }
  }
  for (dev::DeviceProbe& probe : probes) {
    if (probe.personality != dev::Personality::Application && !probe.busy) {
      left_alone.push_back(std::move(probe));
      continue;
    }
    auto module = std::make_unique<ModuleRun>();
    module->device = std::move(probe);
    module->words = WordsFor(run.command, module->device, runs.size() + 1);
    runs.push_back(std::move(module));
  }
  if (runs.empty()) {
    err << "tarvenctl: --all: no module answers as its application; devices with the module's "
           "USB ids:\n"
        << model::PrintableLines(dev::ListDevices(left_alone));
    return kExitFailed;
  }
  if (WritesFiles(run.command)) {
    std::set<std::vector<std::string>> distinct;
    for (const auto& module : runs) distinct.insert(module->words);
    if (distinct.size() < runs.size()) {
      err << "tarvenctl: --all: every module needs a file of its own: put {serial} or "
             "{location} in the file name (as in rom-{serial}.bin)\n";
      return kExitUsage;
    }
  }
  for (const auto& module : runs) {
    if (const auto status = run.parse(module->words, module->out, module->err, module->action)) {
      out << module->out.str();
      err << module->err.str();
      return *status;
    }
  }
  return std::nullopt;
}

// One question for all modules, asked by whichever module asks first; the others wait for it.
Confirm AskOnceFor(const Confirm& ask, std::size_t modules) {
  if (!ask) return {};
  struct Once {
    std::mutex mutex;
    std::optional<bool> answer;
  };
  auto once = std::make_shared<Once>();
  const std::string count = std::to_string(modules) + " modules";
  return [once, ask, count](std::string_view question) {
    const std::lock_guard lock(once->mutex);
    if (!once->answer) once->answer = ask(std::string(question) + " (" + count + ")");
    return *once->answer;
  };
}

// A line per module on a terminal, named by location; null elsewhere.
std::unique_ptr<TerminalBoard> BoardFor(const Runs& runs, std::ostream& err) {
  if (!IsTerminal(err)) return nullptr;
  std::vector<std::string> names;
  std::size_t width = 0;
  for (const auto& module : runs) {
    names.push_back(OrDash(module->device.info.usb_location));
    width = std::max(width, names.back().size());
  }
  for (std::string& name : names) name.resize(width, ' ');
  return std::make_unique<TerminalBoard>(err, names);
}

// One module's run, on its own thread: a link of its own held to the module for the whole
// command, its output kept in its block.
void RunModule(const AllModules& run, ModuleRun& module, std::size_t index, TerminalBoard* board,
               const Confirm& confirm, StopRequest& stop) {
  const auto start = std::chrono::steady_clock::now();
  std::optional<ModuleLine> line;
  if (board != nullptr) {
    line.emplace(*board, index);
    board->Set(index, "running");
  }
  dev::LinkOptions options = run.link_options;
  options.trace = run.trace ? &module.err : nullptr;
  const std::unique_ptr<dev::Link> link = dev::MakeLink(options);
  link->Pin(dev::PinFor(module.device.info));
  Context context{module.out, module.err, *link, stop, confirm};
  context.simulated = run.simulated;
  if (line) context.board = &*line;
  context.command_hold.emplace(*link);
  module.status = module.action(context);
  module.ran = true;
  module.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (board != nullptr) {
    board->Set(index, (module.status == kExitOk ? "done, " : "failed, ") + Seconds(module.seconds),
               /*now=*/true);
  }
}

nlohmann::ordered_json LeftAloneJson(const dev::DeviceProbe& device) {
  const auto or_null = [](const std::string& text) {
    return text.empty() ? nlohmann::ordered_json(nullptr) : nlohmann::ordered_json(text);
  };
  nlohmann::ordered_json object;
  object["location"] = or_null(device.info.usb_location);
  object["serial"] = or_null(device.info.serial_number);
  object["path"] = device.info.path;
  object["result"] = "left alone";
  object["answer"] = dev::DescribeAnswer(device);
  return object;
}

// Every module's block and the summary (or one JSON array), then what failed; the highest exit
// status of any module.
int Report(const AllModules& run, const Runs& runs, const std::vector<dev::DeviceProbe>& left_alone,
           bool stopped, std::ostream& out, std::ostream& err) {
  int status = kExitOk;
  std::size_t failed = 0;
  for (const auto& module : runs) {
    status = std::max(status, module->status);
    if (module->status != kExitOk) ++failed;
  }
  if (run.json) {
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (const auto& module : runs) list.push_back(Json(*module));
    for (const dev::DeviceProbe& device : left_alone) list.push_back(LeftAloneJson(device));
    out << list.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) << '\n';
  } else {
    for (const auto& module : runs) {
      out << "== " << OrDash(module->device.info.usb_location) << "  serial "
          << OrDash(module->device.info.serial_number) << "  " << OrDash(module->device.info.path)
          << " ==\n"
          << module->out.str() << module->err.str();
    }
    out << '\n';
    PrintSummary(runs, left_alone, out);
  }
  if (failed > 0) {
    err << "tarvenctl: " << Shorten(run.command.front()) << ": failed on " << failed << " of "
        << runs.size() << " modules\n";
  }
  if (stopped) {
    err << "tarvenctl: stopped on request; each module's block says where it stands\n";
  }
  return status;
}

}  // namespace

bool ServesAllModules(const std::vector<std::string>& command) {
  if (command.empty()) return false;
  for (const Served& served : ServedCommands()) {
    if (command[0] != served.name) continue;
    if (served.verbs.empty()) return true;
    return command.size() >= 2 && std::find(served.verbs.begin(), served.verbs.end(),
                                            command[1]) != served.verbs.end();
  }
  return false;
}

int RunOnAllModules(const AllModules& run, std::ostream& out, std::ostream& err) {
  if (!ServesAllModules(run.command)) {
    const std::string shown = run.command.empty() ? std::string() : run.command.front();
    err << "tarvenctl: --all serves " << ServedList() << ", not '" << Shorten(shown) << "'\n";
    return kExitUsage;
  }
  Runs runs;
  std::vector<dev::DeviceProbe> left_alone;
  if (const auto status = Plan(run, runs, left_alone, out, err)) return *status;

  const Confirm confirm = AskOnceFor(run.confirm, runs.size());
  // Ctrl-C (or a request to end): every module's transfer stops at its next safe point.
  StopRequest stop;
  const StopOnSignals signals(stop);
  const std::unique_ptr<TerminalBoard> board = BoardFor(runs, err);
  std::vector<std::thread> threads;
  threads.reserve(runs.size());
  for (std::size_t index = 0; index < runs.size(); ++index) {
    threads.emplace_back(
        [&, index] { RunModule(run, *runs[index], index, board.get(), confirm, stop); });
  }
  for (std::thread& thread : threads) thread.join();
  return Report(run, runs, left_alone, stop.requested(), out, err);
}

}  // namespace tarven::cli
