// io [--watch [--count N] [--csv FILE]] [--json], reg read|write, dac set|off: the host
// controller's live values and the registers that drive it, from a script or a shift-long log.
//
// Nothing is shown that was not read: a value whose read failed is "н/д" (null in JSON), and the
// command then fails. Writes are refused while the CNC runs, as the window refuses them.

#include <cerrno>
#include <charconv>
#include <chrono>
#include <cmath>
#include <ctime>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "cli/context.h"
#include "cli/number_option.h"
#include "cli/progress_line.h"
#include "device/operations.h"
#include "device/register_operations.h"
#include "model/signal_text.h"
#include "model/version_text.h"
#include "platform/decimal_separator.h"
#include "platform/local_time.h"
#include "storage/file_io.h"

namespace tarven::cli {
namespace {

namespace dev = tarven::device;
using model::kNotAvailable;
using Json = nlohmann::ordered_json;

constexpr const char* kCncRunning = "the CNC is running; stop it first (tarvenctl cnc stop)";

// The user's decimal separator, as the window writes volts.
std::string LocaleDecimalPoint() {
  return platform::UserDecimalSeparator();
}

std::string RegisterName(std::uint16_t address) {
  return model::OctalWordText(address);
}

std::string Binary(std::uint16_t word) {
  std::string bits = model::BitsText(word);
  std::erase(bits, ' ');
  return bits;
}

enum class TimeForm {
  Iso,          // ISO 8601 with the offset from UTC, for the text and JSON a program reads
  Spreadsheet,  // local date and time as spreadsheets read them into a date-time cell (an ISO
                // time with its "T" and offset stays a text there)
};

std::string LocalTime(std::chrono::system_clock::time_point when, TimeForm form) {
  const std::time_t seconds = std::chrono::system_clock::to_time_t(when);
  const std::tm local = platform::LocalTime(seconds);
  char text[40];
  const std::size_t n = form == TimeForm::Iso
                            ? std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local)
                            : std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  // The offset separately: not every C library's strftime knows %z.
  return std::string(text, n) + (form == TimeForm::Iso ? platform::UtcOffsetText(seconds) : "");
}

std::string Signed(std::int64_t value) {
  return (value > 0 ? "+" : "") + std::to_string(value);
}

// One reading of every live value, and what the watch has added up so far.
struct Snapshot {
  std::string time;
  std::string sheet_time;  // the same moment in the log's form
  dev::Outcome outcome;
  dev::LiveSignals live;
  std::array<std::int64_t, 4> totals{};  // encoder changes since the watch began
  bool watching = false;
};

// The rows of a snapshot, each a name and its value texts (octal first); empty values: н/д.
struct Row {
  std::string key;
  std::vector<std::string> texts;  // empty: not read
  // With texts: a word on them. Without: why the value was left unread on purpose, which is no
  // failure (and so no "н/д").
  std::string note;
};

std::vector<Row> Rows(const Snapshot& s, const std::string& decimal_point) {
  const dev::LiveSignals& live = s.live;
  std::vector<Row> rows;
  const auto word = [](std::optional<std::uint16_t> value) {
    return value ? std::vector<std::string>{model::OctalWordText(*value), Binary(*value)}
                 : std::vector<std::string>{};
  };
  for (std::size_t i = 0; i < 4; ++i) {
    rows.push_back({"in " + RegisterName(dev::kInputRegisters[i]), word(live.inputs[i]), {}});
  }
  for (std::size_t i = 0; i < 2; ++i) {
    rows.push_back({"out " + RegisterName(dev::kOutputRegisters[i]), word(live.outputs[i]), {}});
  }
  rows.push_back({"kip0 " + RegisterName(dev::kKip0Register), word(live.kip0), {}});
  for (std::size_t i = 0; i < 4; ++i) {
    Row row{"kip" + std::to_string(i + 1) + " " + RegisterName(dev::kEncoderRegisters[i]), {}, {}};
    if (live.encoder_changes[i]) {
      row.texts.push_back(Signed(*live.encoder_changes[i]));
      if (s.watching) row.texts.push_back("total " + Signed(s.totals[i]));
    } else if (live.encoders_skipped && live.status_read) {
      row.note = "not read while the CNC runs";
    }
    rows.push_back(row);
  }
  for (std::size_t i = 0; i < 4; ++i) {
    Row row{"dac" + std::to_string(i + 1) + " " + RegisterName(dev::kDacRegisters[i]), {}, {}};
    if (const auto code = live.dac_codes[i]) {
      row.texts.push_back(model::FormatOctal(static_cast<std::uint16_t>(*code)));
      if (model::DacVolts(*code)) {
        row.texts.push_back(model::DacVoltsText(*code, decimal_point) + " V");
      } else {
        row.note = "outside the DAC's codes";
      }
    }
    rows.push_back(row);
  }
  for (std::size_t i = 0; i < 4; ++i) {
    std::optional<std::uint16_t> value;
    if (live.ea_inputs) value = (*live.ea_inputs)[i];
    rows.push_back({"ea-in " + RegisterName(dev::kInputRegisters[i]), word(value), {}});
  }
  for (std::size_t i = 0; i < 2; ++i) {
    std::optional<std::uint16_t> value;
    if (live.ea_outputs) value = (*live.ea_outputs)[i];
    rows.push_back({"ea-out " + RegisterName(dev::kOutputRegisters[i]), word(value), {}});
  }
  return rows;
}

std::string CncText(const dev::LiveSignals& live) {
  return live.status_read ? (live.run_flag != 0 ? "running" : "stopped") : kNotAvailable;
}

std::string ExtDacText(const dev::LiveSignals& live) {
  return live.status_read ? (live.ext_dac_flag != 0 ? "on" : "off") : kNotAvailable;
}

void PrintText(std::ostream& out, const Snapshot& s) {
  if (s.watching) out << "time: " << s.time << '\n';
  out << "cnc: " << CncText(s.live) << '\n' << "ext-dac: " << ExtDacText(s.live) << '\n';
  for (const Row& row : Rows(s, LocaleDecimalPoint())) {
    out << row.key << ':';
    if (row.texts.empty() && !row.note.empty()) {
      out << ' ' << row.note << '\n';
      continue;
    }
    if (row.texts.empty()) out << ' ' << kNotAvailable;
    for (const std::string& text : row.texts) out << ' ' << text;
    if (!row.note.empty()) out << " (" << row.note << ')';
    out << '\n';
  }
}

Json WordJson(std::optional<std::uint16_t> value) {
  if (!value) return nullptr;
  return Json{{"octal", model::OctalWordText(*value)}, {"binary", Binary(*value)}};
}

// Volts to the millivolt: finer than a step of the DAC (4.9 mV), so that every code keeps its own
// value, without the binary fraction's tail (10.0000044 for 10.000 V).
double RoundedVolts(double volts) {
  return std::round(volts * 1000.0) / 1000.0;
}

Json ToJson(const Snapshot& s) {
  const dev::LiveSignals& live = s.live;
  Json object = Json::object();
  if (s.watching) object["time"] = s.time;
  object["cnc"] = live.status_read ? Json(CncText(live)) : Json(nullptr);
  object["ext-dac"] = live.status_read ? Json(ExtDacText(live)) : Json(nullptr);
  Json inputs = Json::object(), outputs = Json::object(), ea_in = Json::object(),
       ea_out = Json::object(), encoders = Json::object(), dac = Json::object();
  for (std::size_t i = 0; i < 4; ++i) {
    inputs[RegisterName(dev::kInputRegisters[i])] = WordJson(live.inputs[i]);
    ea_in[RegisterName(dev::kInputRegisters[i])] =
        live.ea_inputs ? WordJson((*live.ea_inputs)[i]) : Json(nullptr);
    Json change = nullptr;
    if (const auto delta = live.encoder_changes[i]) {
      change = Json{{"change", *delta}};
      if (s.watching) change["total"] = s.totals[i];
    }
    encoders[RegisterName(dev::kEncoderRegisters[i])] = change;
    Json channel = nullptr;
    if (const auto code = live.dac_codes[i]) {
      const auto volts = model::DacVolts(*code);
      channel = Json{{"code", model::FormatOctal(static_cast<std::uint16_t>(*code))},
                     {"volts", volts ? Json(RoundedVolts(*volts)) : Json(nullptr)}};
    }
    dac[RegisterName(dev::kDacRegisters[i])] = channel;
  }
  for (std::size_t i = 0; i < 2; ++i) {
    outputs[RegisterName(dev::kOutputRegisters[i])] = WordJson(live.outputs[i]);
    ea_out[RegisterName(dev::kOutputRegisters[i])] =
        live.ea_outputs ? WordJson((*live.ea_outputs)[i]) : Json(nullptr);
  }
  object["inputs"] = inputs;
  object["outputs"] = outputs;
  object["kip0"] = WordJson(live.kip0);
  object["encoders"] = encoders;
  object["dac"] = dac;
  object["ea-inputs"] = ea_in;
  object["ea-outputs"] = ea_out;
  return object;
}

// The log a watch appends to: one row a second, written straight to the file and flushed to the
// disk, so that whatever ends the watch (Ctrl-C, a power cut) leaves every row before it whole.
class CsvLog {
 public:
  static std::string Header() {
    std::string header = "time,cnc,ext-dac";
    for (const Row& row : Rows(Snapshot{}, ".")) {
      std::string key = row.key;
      for (char& c : key) c = c == ' ' ? '_' : c;
      header += "," + key;
      if (key.rfind("dac", 0) == 0) header += "," + key + "_volts";
    }
    return header;
  }

  // Opens (or creates) the log. A file that is there must be a log of this kind: rows are added
  // after the ones it holds, on a line of their own also when its last line was cut short (what
  // a power cut in the middle of a row leaves). False with the reason.
  bool Open(const std::string& path, std::string& why) {
    const std::string name = Shorten(path, 80);
    int error_number = 0;
    switch (file_.Open(path, error_number)) {
      case storage::AppendFile::OpenStatus::Opened:
        break;
      case storage::AppendFile::OpenStatus::NotRegular:
        why = name + ": not a regular file";
        return false;
      case storage::AppendFile::OpenStatus::Failed:
        why = "cannot open " + name + ": " + storage::SystemReason(error_number);
        return false;
    }
    const std::string header = Header();
    if (file_.size() == 0) return Write(header + "\n", why);
    std::string first(header.size() + 1, '\0');
    if (file_.size() < first.size() || !file_.ReadAt(0, first.data(), first.size(), error_number) ||
        first != header + "\n") {
      why = name + ": not a log of 'io --csv' (its first line differs); nothing was written";
      return false;
    }
    char last = '\n';
    if (!file_.ReadAt(file_.size() - 1, &last, 1, error_number)) {
      why = "cannot read " + name + ": " + storage::SystemReason(error_number);
      return false;
    }
    return last == '\n' || Write("\n", why);
  }

  bool Append(const Snapshot& s, std::string& why) {
    std::string line = s.sheet_time + "," + CncText(s.live) + "," + ExtDacText(s.live);
    for (const Row& row : Rows(s, ".")) {
      const bool dac = row.key.rfind("dac", 0) == 0;
      const std::string first = row.texts.empty() ? kNotAvailable : row.texts.front();
      line += "," + first;
      if (dac) {
        // The CSV keeps the point: its columns are split at commas.
        const std::string volts =
            row.texts.size() > 1 ? row.texts[1].substr(0, row.texts[1].size() - 2) : kNotAvailable;
        line += "," + volts;
      }
    }
    return Write(line + "\n", why);
  }

 private:
  bool Write(const std::string& text, std::string& why) {
    int error_number = 0;
    if (!file_.Append(text, error_number)) {
      why = "cannot write the log: " + storage::SystemReason(error_number);
      return false;
    }
    return true;
  }

  storage::AppendFile file_;
};

struct IoOptions {
  bool json = false;
  bool watch = false;
  std::optional<std::string> count_text;  // --count as given; none: until interrupted
  std::uint64_t count = 0;  // 0: until interrupted
  std::string csv;
};

Snapshot TakeSnapshot(dev::Link& link) {
  Snapshot s;
  const auto now = std::chrono::system_clock::now();
  s.time = LocalTime(now, TimeForm::Iso);
  s.sheet_time = LocalTime(now, TimeForm::Spreadsheet);
  s.outcome = dev::ReadLiveSignals(link, s.live);
  return s;
}

// A count of snapshots: decimal digits only, 1 or more, within 64 bits.
std::optional<std::uint64_t> PositiveCount(const std::string& text) {
  std::uint64_t value = 0;
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value);
  if (text.empty() || text.front() < '0' || text.front() > '9' || error != std::errc() ||
      stop != end || value == 0) {
    return std::nullopt;
  }
  return value;
}

// Snapshots once a second until the count is reached or a stop is asked, each printed and logged.
int Watch(Context& context, const IoOptions& options) {
  CsvLog log;
  std::string why;
  if (!options.csv.empty() && !log.Open(options.csv, why)) return context.Fail("io", why);
  const StopOnSignals signals(context.stop);
  // Other programs may use the module between snapshots: each holds it only while it is taken.
  context.command_hold.reset();
  std::array<std::int64_t, 4> totals{};
  std::uint64_t taken = 0, incomplete = 0;
  std::string last_failure;
  auto next = std::chrono::steady_clock::now();
  while (!context.stop.requested() && (options.count == 0 || taken < options.count)) {
    Snapshot s = [&context] {
      const dev::Link::Hold hold(context.link);
      return TakeSnapshot(context.link);
    }();
    s.watching = true;
    for (std::size_t i = 0; i < 4; ++i) {
      if (s.live.encoder_changes[i]) totals[i] += *s.live.encoder_changes[i];
    }
    s.totals = totals;
    ++taken;
    // The log first: it is what a shift-long watch is for.
    if (!options.csv.empty() && !log.Append(s, why)) return context.Fail("io", why);
    if (options.json) {
      context.out << ToJson(s).dump() << '\n';
    } else {
      if (taken > 1) context.out << '\n';
      PrintText(context.out, s);
    }
    context.out.flush();
    // A failure is told once when it begins, not every second while it lasts.
    const std::string failure = s.outcome.ok() ? std::string() : dev::Describe(s.outcome);
    if (!failure.empty()) {
      ++incomplete;
      if (failure != last_failure) context.Fail("io", s.time + ": " + failure);
    }
    last_failure = failure;
    if (options.count != 0 && taken >= options.count) break;
    next += std::chrono::seconds(1);
    while (!context.stop.requested() && std::chrono::steady_clock::now() < next) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }
  if (incomplete > 0) {
    return context.Fail("io", std::to_string(incomplete) + " of " + std::to_string(taken) +
                                  " snapshots were incomplete");
  }
  return kExitOk;
}

int Io(Context& context, IoOptions options) {
  if (options.count_text) {
    const auto count = PositiveCount(*options.count_text);
    if (!count) {
      context.err << "tarvenctl: io: --count '" << Shorten(*options.count_text)
                  << "' is not a positive count of snapshots\n";
      return kExitUsage;
    }
    options.count = *count;
  }
  if (options.watch) return Watch(context, options);
  const Snapshot s = TakeSnapshot(context.link);
  if (options.json) {
    context.out << ToJson(s).dump() << '\n';
  } else {
    PrintText(context.out, s);
  }
  return context.Finish("io", s.outcome);
}

// Register numbers and values are octal texts of at most 16 bits.
std::optional<std::uint16_t> Octal16(const std::string& text) {
  return model::ParseRegisterNumber(text);
}

int RegRead(Context& context, const std::vector<std::string>& words) {
  std::vector<std::uint16_t> addresses;
  for (const std::string& word : words) {
    const auto address = Octal16(word);
    if (!address) {
      context.err << "tarvenctl: reg read: '" << Shorten(word)
                  << "' is not a register number in octal (0..177777)\n";
      return kExitUsage;
    }
    addresses.push_back(*address);
  }
  std::vector<std::optional<std::uint32_t>> values(addresses.size());
  const dev::RegisterReads reads = dev::ReadRegisters(context.link, addresses, values);
  if (reads.cnc_running) {
    return context.Fail("reg read", std::string("an encoder register gives its counts to the "
                                                "reader, and they are the CNC's while it runs; ") +
                                        "stop it first (tarvenctl cnc stop)");
  }
  for (std::size_t i = 0; i < addresses.size(); ++i) {
    context.out << RegisterName(addresses[i]) << ": "
                << (values[i] ? model::OctalWordText(static_cast<std::uint16_t>(*values[i]))
                              : std::string(kNotAvailable))
                << '\n';
  }
  return context.Finish("reg read", reads.outcome);
}

int FinishWrite(Context& context, const char* what, const dev::GuardedWrite& written) {
  if (written.cnc_running)
    return context.Fail(what, std::string(kCncRunning) + "; nothing was written");
  if (!written.outcome.ok() && !written.status_read &&
      written.outcome.failure == dev::Failure::NotAnswering) {
    // The status did not arrive: nobody knows whether the CNC runs, so nothing was sent.
    return context.Fail(what, dev::Describe(written.outcome) + "; nothing was written");
  }
  return context.Finish(what, written.outcome);
}

// After a refused write: which registers the module took and which it did not, as NUMBER=VALUE.
std::string WrittenAndNot(std::span<const dev::RegisterWrite> writes,
                          const std::vector<bool>& accepted) {
  std::string written, not_written;
  for (std::size_t i = 0; i < writes.size(); ++i) {
    std::string& list = i < accepted.size() && accepted[i] ? written : not_written;
    list += (list.empty() ? "" : ", ") + RegisterName(writes[i].address) + "=" +
            model::OctalWordText(writes[i].value);
  }
  return "written: " + (written.empty() ? std::string("none") : written) +
         "; not written: " + (not_written.empty() ? std::string("none") : not_written);
}

int RegWrite(Context& context, const std::vector<std::string>& words) {
  std::vector<dev::RegisterWrite> writes;
  for (const std::string& word : words) {
    const auto equals = word.find('=');
    const auto address = Octal16(word.substr(0, equals));
    const auto value =
        equals == std::string::npos ? std::nullopt : Octal16(word.substr(equals + 1));
    if (!address || !value) {
      context.err << "tarvenctl: reg write: '" << Shorten(word)
                  << "' is not REGISTER=VALUE, both in octal (0..177777)\n";
      return kExitUsage;
    }
    writes.push_back({*address, *value});
  }
  const dev::GuardedWrite written = dev::WriteRegistersWhenStopped(context.link, writes);
  if (!written.outcome.ok() && !written.accepted.empty()) {
    return context.Fail("reg write", dev::Describe(written.outcome) + "; " +
                                         WrittenAndNot(writes, written.accepted));
  }
  return FinishWrite(context, "reg write", written);
}

bool IsDacCode(std::uint16_t code) {
  return code <= 03777 || (code >= 0100000 && code <= 0103777);
}

int DacSet(Context& context, const std::string& channel_text, const std::string& code_text) {
  const auto channel = model::ParseOctal(channel_text);
  if (!channel.ok() || channel.wrapped || channel.value < 1 || channel.value > 4) {
    context.err << "tarvenctl: dac set: '" << Shorten(channel_text)
                << "' is not a DAC channel 1..4\n";
    return kExitUsage;
  }
  const auto code = Octal16(code_text);
  if (!code) {
    context.err << "tarvenctl: dac set: '" << Shorten(code_text)
                << "' is not a DAC code in octal\n";
    return kExitUsage;
  }
  if (!IsDacCode(*code)) {
    context.err << "tarvenctl: dac set: '" << Shorten(code_text)
                << "' is outside the DAC's codes 0..3777 (0..+10 V) and 100000..103777 "
                   "(-10 V..0); reg write sends any value\n";
    return kExitUsage;
  }
  const std::size_t n = channel.value - 1u;
  const dev::RegisterWrite write[] = {{dev::kDacRegisters[n], *code}};
  const dev::GuardedWrite written = dev::WriteRegistersWhenStopped(context.link, write, true);
  if (written.outcome.ok() && !written.cnc_running) {
    if (written.switched_dac_on) context.out << "ext-dac: on\n";
    context.out << "dac" << channel.value << ' ' << RegisterName(dev::kDacRegisters[n]) << ": "
                << model::FormatOctal(*code) << ' '
                << model::DacVoltsText(*code, LocaleDecimalPoint()) << " V\n";
  }
  return FinishWrite(context, "dac set", written);
}

}  // namespace

void RegisterIoCommands(CLI::App& app, Action& action) {
  struct Options {
    IoOptions io;
    std::vector<std::string> words;
    std::string channel;
    std::string code;
  };
  auto options = std::make_shared<Options>();

  CLI::App* io = app.add_subcommand("io", "print every live value of the controller once");
  io->add_flag("--json", options->io.json, "print one JSON object (one a line with --watch)");
  CLI::Option* watch =
      io->add_flag("--watch", options->io.watch, "repeat every second until Ctrl-C");
  io->add_option("--count", options->io.count_text,
                 "with --watch: stop after N snapshots (N at least 1)")
      ->type_name("N")
      ->needs(watch);
  io->add_option("--csv", options->io.csv,
                 "with --watch: add one time-stamped row a second to FILE, flushed to the disk")
      ->type_name("FILE")
      ->check(NotEmpty("the file name"))
      ->needs(watch);
  io->callback(
      [&action, options] { action = [options](Context& c) { return Io(c, options->io); }; });

  CLI::App* reg = app.add_subcommand("reg", "read or write host registers (octal)");
  reg->require_subcommand(1);
  CLI::App* read = reg->add_subcommand("read", "print registers: reg read 170461 170462");
  read->add_option("registers", options->words, "register numbers in octal")->required();
  read->callback([&action, options] {
    action = [options](Context& c) { return RegRead(c, options->words); };
  });
  CLI::App* write =
      reg->add_subcommand("write", "write registers while the CNC is stopped: 170462=177777");
  write->add_option("values", options->words, "REGISTER=VALUE, both octal")->required();
  write->callback([&action, options] {
    action = [options](Context& c) { return RegWrite(c, options->words); };
  });

  CLI::App* dac = app.add_subcommand("dac", "DAC channels КП1..КП4");
  dac->require_subcommand(1);
  CLI::App* set = dac->add_subcommand(
      "set", "set a channel's code while the CNC is stopped (switches the external DAC on)");
  set->add_option("channel", options->channel, "1..4")->required();
  set->add_option("code", options->code, "octal: 0..3777 and 100000..103777")->required();
  set->callback([&action, options] {
    action = [options](Context& c) { return DacSet(c, options->channel, options->code); };
  });
  dac->add_subcommand("off", "switch the external DAC mode off")->callback([&action] {
    action = [](Context& c) {
      return c.Finish("dac off", dev::SendApplicationCommand(c.link, dev::CmdExtDacOff));
    };
  });
}

}  // namespace tarven::cli
