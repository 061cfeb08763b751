// tarvenctl journal, journal show, journal export, undo: the records of the changes made to
// modules by either program, and the way back from a write.

#include <nlohmann/json.hpp>

#include <filesystem>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <system_error>

#include "cli/context.h"
#include "journal/journal.h"
#include "journal/undo.h"
#include "model/printable_text.h"
#include "storage/file_io.h"

namespace tarven::cli {
namespace {

namespace jr = tarven::journal;

constexpr const char* kWriteQuestion = "Записать в ППЗУ Тарвен?";

std::unique_ptr<jr::Journal> OpenJournal(const Context& context, std::string_view what,
                                         int& status) {
  if (context.journal_file.empty()) {
    status = context.Fail(what, "there is no journal to read (--no-journal, or no data folder)");
    return nullptr;
  }
  jr::Journal::Opened opened = jr::Journal::Open(context.journal_file);
  if (!opened.moved_aside.empty()) {
    context.err << "tarvenctl: " << what << ": "
                << model::Printable("the journal " + context.journal_file +
                                    " was damaged; it was moved to " + opened.moved_aside +
                                    " and a new one started")
                << '\n';
  }
  if (!opened.journal) status = context.Fail(what, opened.error);
  return std::move(opened.journal);
}

std::string AddressText(const std::optional<std::uint32_t>& address) {
  if (!address) return {};
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(*address));
  return text;
}

// "rom 16384 sha256 9f86d0…", one part.
std::string PartText(const jr::Part& part, bool whole) {
  std::string text = part.name + " " + std::to_string(part.size) + " bytes sha256 " +
                     (whole ? part.sha256 : part.sha256.substr(0, 12));
  if (whole && part.address) text += " at " + AddressText(part.address);
  if (whole && !part.before_sha256.empty()) {
    text += ", replaced sha256 " + part.before_sha256 +
            (part.before_kept ? " (kept for undo)" : " (no longer kept)");
  }
  return text;
}

std::string ResultText(const jr::Record& record) {
  return record.result_detail.empty() ? record.result
                                      : record.result + ": " + record.result_detail;
}

bool CanUndo(const jr::Record& record) {
  for (const jr::Part& part : record.parts) {
    if (part.before_kept) return true;
  }
  return false;
}

nlohmann::ordered_json Json(const jr::Record& record) {
  nlohmann::ordered_json object;
  object["id"] = record.id;
  object["time"] = record.time;
  object["user"] = record.user;
  object["computer"] = record.computer;
  object["program"] = record.program;
  object["version"] = record.version;
  object["serial"] = record.serial;
  object["location"] = record.location;
  object["path"] = record.path;
  object["firmware"] = record.firmware.empty() ? nlohmann::ordered_json(nullptr)
                                               : nlohmann::ordered_json(record.firmware);
  object["operation"] = record.operation;
  object["detail"] = record.detail;
  object["arguments"] = record.arguments;
  object["result"] = record.result;
  object["result_detail"] = record.result_detail;
  object["parts"] = nlohmann::ordered_json::array();
  for (const jr::Part& part : record.parts) {
    nlohmann::ordered_json p;
    p["name"] = part.name;
    p["address"] = part.address ? nlohmann::ordered_json(*part.address)
                                : nlohmann::ordered_json(nullptr);
    p["size"] = part.size;
    p["sha256"] = part.sha256;
    p["before_sha256"] = part.before_sha256.empty() ? nlohmann::ordered_json(nullptr)
                                                    : nlohmann::ordered_json(part.before_sha256);
    p["before_kept"] = part.before_kept;
    object["parts"].push_back(p);
  }
  return object;
}

// One CSV field: quoted when it needs it; a field a spreadsheet would take for a formula starts
// with an apostrophe, so that a serial number or a file name cannot run one.
std::string CsvField(const std::string& text) {
  std::string field = text;
  if (!field.empty() && std::string_view("=+-@\t\r").find(field.front()) != std::string_view::npos) {
    field.insert(0, 1, '\'');
  }
  if (field.find_first_of(",\"\r\n") == std::string::npos) return field;
  std::string quoted = "\"";
  for (const char c : field) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + "\"";
}

std::string CsvText(const std::vector<jr::Record>& records) {
  std::string text =
      "id,time,user,computer,program,version,serial,location,path,firmware,operation,detail,"
      "arguments,result,result_detail,parts\r\n";
  for (const jr::Record& r : records) {
    std::string parts;
    for (const jr::Part& part : r.parts) {
      parts += (parts.empty() ? "" : "; ") + PartText(part, true);
    }
    const std::string fields[] = {std::to_string(r.id), r.time, r.user, r.computer, r.program,
                                  r.version, r.serial, r.location, r.path, r.firmware,
                                  r.operation, r.detail, r.arguments, r.result, r.result_detail,
                                  parts};
    bool first = true;
    for (const std::string& field : fields) {
      if (!first) text += ',';
      first = false;
      text += CsvField(field);
    }
    text += "\r\n";
  }
  return text;
}

struct ListOptions {
  std::string device;
  std::string since;
  bool json = false;
  bool csv = false;
};

int List(Context& context, const ListOptions& options) {
  jr::Filter filter;
  filter.device = options.device;
  if (!options.since.empty()) {
    const auto since = jr::SinceText(options.since);
    if (!since) {
      context.err << "tarvenctl: journal: --since '" << Shorten(options.since)
                  << "' is not a date as 2026-05-31 or 2026-05-31T14:02 (UTC)\n";
      return kExitUsage;
    }
    filter.since = *since;
  }
  int status = kExitOk;
  const auto journal = OpenJournal(context, "journal", status);
  if (!journal) return status;
  std::vector<jr::Record> records;
  std::string error;
  if (!journal->List(filter, records, error)) return context.Fail("journal", error);
  if (options.json) {
    nlohmann::ordered_json array = nlohmann::ordered_json::array();
    for (const jr::Record& record : records) array.push_back(Json(record));
    context.out << array.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
    return kExitOk;
  }
  if (options.csv) {
    context.out << CsvText(records);
    return kExitOk;
  }
  for (const jr::Record& r : records) {
    std::string line = std::to_string(r.id) + "  " + r.time + "  " +
                       (r.serial.empty() ? "-" : r.serial) + "  " +
                       (r.location.empty() ? "-" : r.location) + "  " + r.program + "  " +
                       r.operation;
    if (!r.detail.empty()) line += " " + r.detail;
    for (const jr::Part& part : r.parts) line += "  " + PartText(part, false);
    line += "  " + ResultText(r);
    if (CanUndo(r)) line += "  (undo)";
    context.out << model::Printable(line) << '\n';
  }
  return kExitOk;
}

int Show(Context& context, std::int64_t id, bool json) {
  int status = kExitOk;
  const auto journal = OpenJournal(context, "journal show", status);
  if (!journal) return status;
  std::string error;
  const std::optional<jr::Record> record = journal->Get(id, error);
  if (!record) {
    return context.Fail("journal show",
                        error.empty() ? "the journal has no record " + std::to_string(id) : error);
  }
  if (json) {
    context.out << Json(*record).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace)
                << '\n';
    return kExitOk;
  }
  const jr::Record& r = *record;
  const std::pair<const char*, std::string> lines[] = {
      {"id", std::to_string(r.id)},
      {"time", r.time},
      {"user", r.user},
      {"computer", r.computer},
      {"program", r.program + " " + r.version},
      {"command", r.arguments},
      {"serial", r.serial},
      {"location", r.location},
      {"path", r.path},
      {"firmware", r.firmware.empty() ? "н/д" : r.firmware},
      {"operation", r.detail.empty() ? r.operation : r.operation + " " + r.detail},
      {"result", ResultText(r)}};
  for (const auto& [key, value] : lines) {
    context.out << key << ": " << model::Printable(value) << '\n';
  }
  for (const jr::Part& part : r.parts) {
    context.out << "part: " << model::Printable(PartText(part, true)) << '\n';
  }
  return kExitOk;
}

int Export(Context& context, const std::string& path, bool force) {
  std::error_code ec;
  if (!force && std::filesystem::symlink_status(path, ec).type() !=
                    std::filesystem::file_type::not_found) {
    return context.Fail("journal export", Shorten(path, 80) + " exists (--force replaces it)");
  }
  int status = kExitOk;
  const auto journal = OpenJournal(context, "journal export", status);
  if (!journal) return status;
  std::vector<jr::Record> records;
  std::string error;
  if (!journal->List({}, records, error)) return context.Fail("journal export", error);
  const storage::ReplaceResult saved = storage::ReplaceFile(path, CsvText(records));
  if (!saved.ok()) {
    return context.Fail("journal export", "cannot write " + Shorten(path, 80) + ": " + saved.reason);
  }
  context.out << records.size() << " records written to " << model::Printable(path) << '\n';
  return kExitOk;
}

struct UndoOptions {
  std::optional<std::int64_t> id;
  bool force = false;
  bool yes = false;
};

int Undo(Context& context, const UndoOptions& options) {
  int status = kExitOk;
  const auto journal = OpenJournal(context, "undo", status);
  if (!journal) return status;
  std::string error;
  std::int64_t id = options.id.value_or(0);
  if (!options.id) {
    // The newest record that can be undone, on the chosen module or on any.
    const std::string device = context.link.pin() ? context.link.pin()->value : std::string();
    id = jr::LastUndoable(*journal, device, error);
    if (id == 0) {
      return context.Fail("undo", error.empty() ? "the journal holds nothing to undo" : error);
    }
  }
  const std::optional<jr::Record> record = journal->Get(id, error);
  if (!record) {
    return context.Fail("undo",
                        error.empty() ? "the journal has no record " + std::to_string(id) : error);
  }
  // Without --device, the module the record names, wherever it is plugged in now.
  if (!context.link.pin()) {
    if (!record->serial.empty()) {
      context.link.Pin(device::DevicePin{device::DevicePin::By::Serial, record->serial});
    } else if (!record->location.empty()) {
      context.link.Pin(device::DevicePin{device::DevicePin::By::Location, record->location});
    }
  }
  if (auto refused = context.RefuseUnconfirmed("undo", kWriteQuestion, options.yes)) {
    return *refused;
  }
  const jr::UndoResult result = jr::Undo(context.link, *journal, id, options.force);
  if (result.status == jr::UndoStatus::Done) {
    context.out << "undo " << id << ": " << model::Printable(jr::Describe(result)) << '\n';
    return kExitOk;
  }
  if (result.outcome.module_absent() || result.outcome.failure == device::Failure::ModuleBusy) {
    return context.Fail("undo", result.outcome);
  }
  return context.Fail("undo " + std::to_string(id), jr::Describe(result));
}

}  // namespace

void RegisterJournalCommands(CLI::App& app, Action& action) {
  auto list = std::make_shared<ListOptions>();
  CLI::App* journal = app.add_subcommand(
      "journal", "list the changes made to modules by tarven and tarvenctl, oldest first");
  journal->add_option("--device", list->device,
                      "only the records of the module with this serial number, USB location or "
                      "path")
      ->type_name("SELECTOR");
  journal->add_option("--since", list->since, "only the records from DATE on (UTC)")
      ->type_name("DATE");
  auto* json = journal->add_flag("--json", list->json, "print one JSON array");
  journal->add_flag("--csv", list->csv, "print CSV, as 'journal export' writes it")->excludes(json);
  journal->callback([&action, list, journal] {
    if (!journal->get_subcommands().empty()) return;
    action = [list](Context& context) { return List(context, *list); };
  });

  struct ShowOptions {
    std::int64_t id = 0;
    bool json = false;
  };
  auto show = std::make_shared<ShowOptions>();
  CLI::App* show_command = journal->add_subcommand("show", "show one record whole");
  show_command->add_option("ID", show->id, "the record's number")
      ->required()
      ->check(CLI::Range(std::int64_t{1}, std::numeric_limits<std::int64_t>::max()));
  show_command->add_flag("--json", show->json, "print one JSON object");
  show_command->callback([&action, show] {
    action = [show](Context& context) { return Show(context, show->id, show->json); };
  });

  struct ExportOptions {
    std::string path;
    bool force = false;
  };
  auto exported = std::make_shared<ExportOptions>();
  CLI::App* export_command =
      journal->add_subcommand("export", "write the whole journal to FILE as CSV");
  export_command->add_option("FILE", exported->path, "the CSV file")->required();
  export_command->add_flag("--force", exported->force, "replace an existing file");
  export_command->callback([&action, exported] {
    action = [exported](Context& context) {
      return Export(context, exported->path, exported->force);
    };
  });

  auto undo = std::make_shared<UndoOptions>();
  CLI::App* undo_command = app.add_subcommand(
      "undo",
      "put back what the command of journal record ID (by default the newest that can be undone) "
      "replaced on its module, after checking that the module still holds what it wrote; the "
      "undo is recorded too");
  undo_command
      ->add_option_function<std::int64_t>(
          "ID", [undo](const std::int64_t& id) { undo->id = id; }, "the record's number")
      ->check(CLI::Range(std::int64_t{1}, std::numeric_limits<std::int64_t>::max()));
  undo_command->add_flag("--force", undo->force,
                         "write even when the module changed since, or is another module");
  undo_command->add_flag("-y,--yes", undo->yes, "do not ask before writing");
  undo_command->callback([&action, undo] {
    action = [undo](Context& context) { return Undo(context, *undo); };
  });
}

}  // namespace tarven::cli
