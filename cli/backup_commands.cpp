// backup, restore and diff: a whole module in one file, back again, and what changed.


#include <algorithm>
#include <array>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <memory>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "cli/context.h"
#include "cli/number_option.h"
#include "cli/progress_line.h"
#include "device/operations.h"
#include "model/backup.h"
#include "model/backup_compare.h"
#include "model/config_sector.h"
#include "model/printable_text.h"
#include "service/module_backup.h"
#include "storage/file_io.h"

namespace tarven::cli {
namespace {

namespace dev = tarven::device;
using model::Backup;
using model::BackupPart;

constexpr const char* kWriteQuestion = "Записать в ППЗУ Тарвен?";

// The words of the parts, as `--only` takes them and the messages name them.
const char* PartWord(BackupPart part) {
  switch (part) {
    case BackupPart::Config:
      return "config";
    case BackupPart::Params:
      return "params";
    case BackupPart::Rom:
      return "rom";
    case BackupPart::Amt:
      return "amt";
    case BackupPart::Kvp:
      return "kvp";
    case BackupPart::Ram:
      return "ram";
  }
  return "?";
}

std::string StageWord(service::ReadStage stage) {
  switch (stage) {
    case service::ReadStage::Sector:
      return "the configuration sector";
    case service::ReadStage::Rom:
      return "rom";
    case service::ReadStage::Amt:
      return "amt";
    case service::ReadStage::Kvp:
      return "kvp";
    case service::ReadStage::Ram:
      return "ram";
    case service::ReadStage::Status:
      break;
  }
  return {};
}

std::string Hex32(std::uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", value);
  return text;
}

// The whole module into `backup`; the exit status when a part did not arrive. `what` names the
// command in messages. `cnc_note` says what became of the CNC when everything arrived (empty when
// there is nothing to say), for the command to tell once it is done.
std::optional<int> ReadModule(Context& context, const char* what, Backup& backup,
                              std::string& cnc_note) {
  const StopOnSignals signals(context.stop);
  ProgressLine line = context.Progress(what);
  const service::ModuleReading reading = service::ReadModule(
      context.link, backup, [&line](std::uint64_t done, std::uint64_t total) {
        return line(done, total);
      });
  line.Finish();
  if (reading.failed_at == service::ReadStage::Status) return context.Fail(what, reading.outcome);
  const std::string note = reading.ram_reached ? CncNote(reading.cnc, reading.outcome) : "";
  if (!reading.whole()) {
    const std::string part = StageWord(reading.failed_at);
    dev::Outcome named = reading.outcome;
    if (named.subject.empty()) named.subject = part;
    return context.Fail(what, "reading " + part + ": " + dev::Describe(named) +
                                  "; no file was written" + (note.empty() ? "" : "; " + note));
  }
  // The RAM came whole but the CNC was left stopped: the backup is whole, and that is said.
  if (!reading.outcome.ok()) {
    context.err << "tarvenctl: " << what << ": " << dev::Describe(reading.outcome) << '\n';
  }
  cnc_note = note;
  return std::nullopt;
}

int BackupCommand(Context& context, const std::string& path, bool force) {
  if (!force && storage::PathExists(path)) {
    return context.Fail("backup", Shorten(path, 80) + " exists (--force replaces it)");
  }
  Backup backup;
  std::string cnc_note;
  if (const auto failed = ReadModule(context, "backup", backup, cnc_note)) return *failed;
  const std::string cnc = cnc_note.empty() ? std::string() : "; " + cnc_note;
  const std::string archive = service::BackupArchive(backup);
  const storage::ReplaceResult saved = storage::ReplaceFile(path, archive);
  if (!saved.ok()) {
    return context.Fail("backup", "cannot write " + Shorten(path, 80) + ": " + saved.reason + cnc);
  }
  if (!cnc_note.empty()) context.err << "tarvenctl: backup: " << cnc_note << '\n';
  context.out << "backup: " << model::Printable(path) << " (" << archive.size() << " bytes)\n"
              << "firmware: " << backup.firmware << '\n'
              << "parts: config, params, rom, amt, kvp, ram\n";
  return kExitOk;
}

// Reads and checks a backup file; the exit status when it cannot be used.
std::optional<int> LoadBackup(Context& context, const char* what, const std::string& path,
                              Backup& backup) {
  std::string bytes;
  if (const auto failed =
          context.ReadInputFile(what, path, model::kMaxBackupSize, "backup", bytes)) {
    return failed;
  }
  const std::string name = Shorten(path, 80);
  std::string why;
  if (!model::ReadBackup(bytes, backup, why)) {
    return context.Fail(what, name + ": not a usable backup: " + why);
  }
  return std::nullopt;
}

struct RestoreOptions {
  std::string file;
  std::string only;
  std::string ram_bank;
  bool no_verify = false;
  bool yes = false;
};

// The parts `--only` names (all but the RAM by default; the RAM too when a bank is named), or
// the reason it cannot be read.
bool ChooseParts(const RestoreOptions& options, std::set<BackupPart>& parts, std::string& why) {
  constexpr BackupPart kAll[] = {BackupPart::Config, BackupPart::Params, BackupPart::Rom,
                                 BackupPart::Amt,    BackupPart::Kvp,    BackupPart::Ram};
  if (options.only.empty()) {
    for (const BackupPart part : kAll) {
      if (part != BackupPart::Ram || !options.ram_bank.empty()) parts.insert(part);
    }
    return true;
  }
  std::size_t at = 0;
  while (at <= options.only.size()) {
    const std::size_t comma = std::min(options.only.find(',', at), options.only.size());
    const std::string word = options.only.substr(at, comma - at);
    at = comma + 1;
    const auto found = std::find_if(std::begin(kAll), std::end(kAll),
                                    [&word](BackupPart part) { return word == PartWord(part); });
    if (found == std::end(kAll)) {
      why = "--only takes config, params, rom, amt, kvp and ram, not '" + Shorten(word) + "'";
      return false;
    }
    parts.insert(*found);
  }
  if (parts.count(BackupPart::Ram) != 0 && options.ram_bank.empty()) {
    why = "restoring the RAM needs --ram-bank main or reserve (the bank it is stored in)";
    return false;
  }
  return true;
}

// One line for a restored part: "rom: written, verified".
std::string PartLine(const service::PartResult& result, const std::string& ram_bank) {
  std::string name;
  for (const BackupPart part : result.parts) name += (name.empty() ? "" : ", ") + std::string(PartWord(part));
  using State = service::PartResult::State;
  const bool ram = result.parts.front() == BackupPart::Ram;
  switch (result.state) {
    case State::Failed:
      return name + ": failed: " + dev::Describe(result.written);
    case State::Written:
      if (ram) {
        return name + ": written to the " + ram_bank +
               " bank (the module restarts; the RAM is not read back)";
      }
      return name + ": written, not read back";
    case State::Verified:
      return name + ": written, verified";
    case State::Differs:
      return name + ": written, but reads back different at " + Hex32(result.first_difference);
    case State::ReadBackFailed:
      // The write went whole; only the check after it did not: one line says both.
      return name + ": written whole, but reading it back failed: " +
             dev::Describe(result.read_back);
  }
  return name;
}

int Restore(Context& context, const RestoreOptions& options) {
  std::set<BackupPart> parts;
  std::string why;
  if (!ChooseParts(options, parts, why)) {
    context.err << "tarvenctl: restore: " << why << '\n';
    return kExitUsage;
  }
  Backup backup;
  if (const auto failed = LoadBackup(context, "restore", options.file, backup)) return *failed;
  // A sector part that would seal damaged bytes under a fresh checksum is refused before
  // anything is written.
  switch (service::FindDamagedSector(parts, backup)) {
    case service::DamagedSector::ConfigBlock:
      return context.Fail("restore",
                          "the backup's configuration block fails its checksum; "
                          "nothing was written (leave it out with --only)");
    case service::DamagedSector::ParamTable:
      return context.Fail("restore",
                          "the backup's parameter table fails its checksum; nothing "
                          "was written (leave it out with --only)");
    case service::DamagedSector::None:
      break;
  }
  if (auto refused = context.RefuseUnconfirmed("restore", kWriteQuestion, options.yes)) {
    return *refused;
  }

  const StopOnSignals signals(context.stop);
  service::RestoreRequest request;
  request.parts = parts;
  if (!options.ram_bank.empty()) {
    request.ram_bank = options.ram_bank == "reserve" ? dev::RamBank::Reserve : dev::RamBank::Main;
  }
  request.verify = !options.no_verify;
  const service::RestoreReport report =
      service::Restore(context.link, backup, request,
                       [&context](std::uint64_t, std::uint64_t) { return !context.stop.requested(); });
  for (const service::PartResult& part : report.parts) {
    context.out << PartLine(part, options.ram_bank) << '\n';
  }
  if (context.stop.requested()) {
    context.err << "tarvenctl: restore: stopped on request; the parts above are all that was "
                   "written\n";
    return kExitFailed;
  }
  if (!report.all_done()) return context.Fail("restore", "not every part was restored (see above)");
  return kExitOk;
}

// The differences between two backups, one line each; empty when they are equal.
std::vector<std::string> Differences(const Backup& a, const Backup& b) {
  const model::BackupDifferences differences = model::CompareBackups(a, b);
  std::vector<std::string> lines;
  for (const auto& config : differences.config) {
    lines.push_back("config " + std::string(1, config.letter) + ": " + std::to_string(config.a) +
                    " -> " + std::to_string(config.b));
  }
  for (const auto& param : differences.params) {
    lines.push_back("param " + std::to_string(param.number) + ": " + std::to_string(param.a) +
                    " -> " + std::to_string(param.b));
  }
  if (differences.other_sector_bytes > 0) {
    lines.push_back("config sector: " + std::to_string(differences.other_sector_bytes) +
                    " other bytes differ (checksums, bytes 12..1023)");
  }
  for (const auto& image : differences.images) {
    std::string first;
    for (const std::uint32_t place : image.first) {
      first += (first.empty() ? "" : ", ") + (image.address ? Hex32(place) : "offset " + Hex32(place));
    }
    lines.push_back(std::string(PartWord(image.part)) + ": " + std::to_string(image.count) +
                    " bytes differ, first at " + first +
                    (image.count > model::BackupDifferences::kFirstPlaces ? ", ..." : ""));
  }
  return lines;
}

int Diff(Context& context, const std::string& first, const std::string& second) {
  Backup a;
  Backup b;
  // A file that cannot be compared is trouble, as for diff(1).
  if (LoadBackup(context, "diff", first, a)) return kExitUsage;
  if (second.empty()) {
    std::string cnc_note;
    if (const auto failed = ReadModule(context, "diff", b, cnc_note))
      return *failed == kExitOk ? kExitUsage : *failed;
    if (!cnc_note.empty()) context.err << "tarvenctl: diff: " << cnc_note << '\n';
  } else if (LoadBackup(context, "diff", second, b)) {
    return kExitUsage;
  }
  const std::vector<std::string> lines = Differences(a, b);
  for (const std::string& line : lines) context.out << line << '\n';
  return lines.empty() ? kExitOk : kExitFailed;
}

}  // namespace

void RegisterBackupCommands(CLI::App& app, Action& action) {
  struct Options {
    std::string file;
    std::string second;
    bool force = false;
    RestoreOptions restore;
  };
  auto options = std::make_shared<Options>();

  CLI::App* backup = app.add_subcommand(
      "backup", "save the whole module (configuration sector, rom, amt, kvp, ram) into one file");
  backup->add_option("file", options->file, "the backup file (a tar archive)")
      ->required()
      ->check(NotEmpty("the file name"));
  backup->add_flag("--force", options->force, "replace an existing file");
  backup->callback([&action, options] {
    action = [options](Context& c) { return BackupCommand(c, options->file, options->force); };
  });

  CLI::App* restore = app.add_subcommand(
      "restore", "check a backup whole, then write it back into the module and read it back");
  restore->add_option("file", options->restore.file, "a file as 'backup' writes it")
      ->required()
      ->check(NotEmpty("the file name"));
  restore
      ->add_option("--only", options->restore.only,
                   "the parts to restore: config,params,rom,amt,kvp,ram")
      ->type_name("LIST")
      ->check(NotEmpty("the list of parts"));
  restore->add_option("--ram-bank", options->restore.ram_bank, "restore the RAM into this bank")
      ->check(CLI::IsMember({"main", "reserve"}));
  restore->add_flag("--no-verify", options->restore.no_verify, "do not read the parts back");
  restore->add_flag("-y,--yes", options->restore.yes, "do not ask before writing");
  restore->callback([&action, options] {
    action = [options](Context& c) { return Restore(c, options->restore); };
  });

  CLI::App* diff = app.add_subcommand(
      "diff", "compare two backups, or a backup with the module; exit 1 when they differ");
  diff->add_option("backup", options->file, "the first backup")
      ->required()
      ->check(NotEmpty("the file name"));
  diff->add_option("other", options->second, "the second backup (the module when left out)")
      ->check(NotEmpty("the second backup's file name (leave it out to compare with the module)"));
  diff->callback([&action, options] {
    action = [options](Context& c) { return Diff(c, options->file, options->second); };
  });
}

}  // namespace tarven::cli
