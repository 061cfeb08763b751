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
#include "firmware/firmware_image.h"
#include "model/backup.h"
#include "model/config_sector.h"
#include "model/printable_text.h"
#include "model/version_text.h"
#include "platform/local_time.h"
#include "storage/file_io.h"

namespace tarven::cli {
namespace {

namespace dev = tarven::device;
using model::AreaId;
using model::Backup;
using model::BackupPart;

constexpr const char* kWriteQuestion = "Записать в ППЗУ Тарвен?";

// The images in the order they are read and written, with the words `--only` takes.
struct ImagePart {
  BackupPart part;
  AreaId area;
  const char* word;
};
constexpr ImagePart kImages[] = {{BackupPart::Rom, AreaId::MainRom, "rom"},
                                 {BackupPart::Amt, AreaId::AmtRom, "amt"},
                                 {BackupPart::Kvp, AreaId::Kvp, "kvp"}};

std::string Hex32(std::uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", value);
  return text;
}

std::string UtcNow() {
  const std::time_t now = std::time(nullptr);
  const std::tm utc = platform::UtcTime(now);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return text;
}

// The whole module into `backup`; the exit status when a part did not arrive. `what` names the
// command in messages. `cnc_note` says what became of the CNC when everything arrived (empty when
// there is nothing to say), for the command to tell once it is done.
std::optional<int> ReadModule(Context& context, const char* what, Backup& backup,
                              std::string& cnc_note) {
  const dev::StatusReading status = dev::PollStatus(context.link);
  if (status.presence != dev::Presence::Application) {
    dev::Outcome outcome = status.outcome;
    if (outcome.ok()) outcome = dev::Outcome::Failed(dev::Failure::BootLoaderOnly);
    return context.Fail(what, outcome);
  }
  backup.tool_version = std::string(firmware::ToolVersion());
  backup.firmware = status.status_read
                        ? model::FirmwareVersionText(context.link.AppModule.FirmwareVersion)
                        : std::string(model::kNotAvailable);
  backup.bootloader = std::string(model::kNotAvailable);  // the application does not tell it
  backup.created = UtcNow();

  const StopOnSignals signals(context.stop);
  ProgressLine line = context.Progress(what);
  const std::uint64_t total = model::kSectorSize + model::Area(AreaId::MainRom).size +
                              model::Area(AreaId::AmtRom).size + model::Area(AreaId::Kvp).size +
                              model::Area(AreaId::Ram).size;
  std::uint64_t before = 0;
  const auto progress = [&](std::uint64_t done, std::uint64_t) {
    return line(before + done, total);
  };
  const auto failed = [&](const std::string& part, const dev::Outcome& outcome,
                          const std::string& about_cnc = {}) {
    line.Finish();
    dev::Outcome named = outcome;
    if (named.subject.empty()) named.subject = part;
    return context.Fail(what, "reading " + part + ": " + dev::Describe(named) +
                                  "; no file was written" +
                                  (about_cnc.empty() ? "" : "; " + about_cnc));
  };
  dev::Outcome read =
      dev::ReadFlashArea(context.link, AreaId::ConfigSector, backup.sector, progress);
  if (!read.ok()) return failed("the configuration sector", read);
  before += model::kSectorSize;
  for (const ImagePart& image : kImages) {
    std::vector<std::uint8_t>& bytes = model::ImageOf(backup, image.area);
    bytes.assign(model::Area(image.area).size, 0);
    read = dev::ReadFlashArea(context.link, image.area, bytes, progress);
    if (!read.ok()) return failed(image.word, read);
    before += bytes.size();
  }
  backup.ram.assign(model::Area(AreaId::Ram).size, 0);
  // The CNC is left as it was found: a stopped machine must not start because a file was saved.
  dev::CncFound cnc;
  read = dev::ReadRamAsFound(context.link, backup.ram, cnc, progress);
  line.Finish();
  const std::string note = CncNote(cnc, read);
  if (!read.ok()) {
    // The RAM came whole but the CNC was left stopped: the backup is whole, and that is said.
    if (read.failure != dev::Failure::CncLeftStopped) return failed("ram", read, note);
    context.err << "tarvenctl: " << what << ": " << dev::Describe(read) << '\n';
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
  const std::string archive =
      model::WriteBackup(backup, static_cast<std::int64_t>(std::time(nullptr)));
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
  const std::vector<std::pair<std::string, BackupPart>> words = {
      {"config", BackupPart::Config}, {"params", BackupPart::Params}, {"rom", BackupPart::Rom},
      {"amt", BackupPart::Amt},       {"kvp", BackupPart::Kvp},       {"ram", BackupPart::Ram}};
  if (options.only.empty()) {
    for (const auto& [word, part] : words) {
      if (part != BackupPart::Ram || !options.ram_bank.empty()) parts.insert(part);
    }
    return true;
  }
  std::size_t at = 0;
  while (at <= options.only.size()) {
    const std::size_t comma = std::min(options.only.find(',', at), options.only.size());
    const std::string word = options.only.substr(at, comma - at);
    at = comma + 1;
    const auto found = std::find_if(words.begin(), words.end(),
                                    [&word](const auto& entry) { return entry.first == word; });
    if (found == words.end()) {
      why = "--only takes config, params, rom, amt, kvp and ram, not '" + Shorten(word) + "'";
      return false;
    }
    parts.insert(found->second);
  }
  if (parts.count(BackupPart::Ram) != 0 && options.ram_bank.empty()) {
    why = "restoring the RAM needs --ram-bank main or reserve (the bank it is stored in)";
    return false;
  }
  return true;
}

// What a restore did, part by part: one line each, and whether every part was done.
struct RestoreReport {
  std::vector<std::string> lines;
  bool all_done = true;

  // A line for a write; false when it failed.
  bool Written(const std::string& part, const dev::Outcome& outcome,
               const std::string& when_done) {
    if (outcome.ok()) {
      lines.push_back(part + ": " + when_done);
      return true;
    }
    all_done = false;
    lines.push_back(part + ": failed: " + dev::Describe(outcome));
    return false;
  }
  // The written part's line, after reading it back: `read` is the read-back's outcome, `wanted`
  // and `back` what was meant and what came back, at module address `address`.
  void ReadBack(const std::string& part, const dev::Outcome& read,
                std::span<const std::uint8_t> wanted, std::span<const std::uint8_t> back,
                std::uint32_t address) {
    if (!read.ok()) {
      // The write went whole; only the check after it did not: one line says both.
      all_done = false;
      lines.back() = part + ": written whole, but reading it back failed: " + dev::Describe(read);
      return;
    }
    const auto differ = std::mismatch(wanted.begin(), wanted.end(), back.begin());
    if (differ.first == wanted.end()) {
      lines.back() = part + ": written, verified";
      return;
    }
    all_done = false;
    const auto offset = static_cast<std::uint32_t>(differ.first - wanted.begin());
    lines.back() = part + ": written, but reads back different at " + Hex32(address + offset);
  }
};

// A sector part that would seal damaged bytes under a fresh checksum is refused before anything
// is written; the exit status then.
std::optional<int> RefuseDamagedSector(Context& context, const std::set<BackupPart>& parts,
                                       const Backup& backup) {
  if (parts.count(BackupPart::Config) != 0 && !model::ConfigChecksumMatches(backup.sector)) {
    return context.Fail("restore",
                        "the backup's configuration block fails its checksum; "
                        "nothing was written (leave it out with --only)");
  }
  if (parts.count(BackupPart::Params) != 0 && !model::EaChecksumMatches(backup.sector)) {
    return context.Fail("restore",
                        "the backup's parameter table fails its checksum; nothing "
                        "was written (leave it out with --only)");
  }
  return std::nullopt;
}

// The configuration block, the parameter table or both, in one write of the sector.
void RestoreSector(Context& context, const Backup& backup, bool config, bool params, bool verify,
                   RestoreReport& report) {
  const std::string name = config && params ? "config, params" : config ? "config" : "params";
  // Both: the whole sector, byte for byte; one: only its own bytes, the rest as the module has it.
  const auto copy = [&](model::Sector sector) {
    const auto range = [&](std::size_t from, std::size_t to) {
      std::copy(backup.sector.begin() + static_cast<std::ptrdiff_t>(from),
                backup.sector.begin() + static_cast<std::ptrdiff_t>(to),
                sector.begin() + static_cast<std::ptrdiff_t>(from));
    };
    if (config && params) {
      range(0, model::kSectorSize);
    } else if (config) {
      range(0, model::kConfigChecksumOffset + 4);
    } else {
      range(model::kEaTableOffset, model::kSectorSize);
    }
    return dev::Outcome::Done();
  };
  const dev::Outcome written = dev::UpdateConfigSector(context.link, copy);
  if (!report.Written(name, written, verify ? "written" : "written, not read back") || !verify) {
    return;
  }
  std::array<std::uint8_t, model::kSectorSize> back{};
  const dev::Outcome read = dev::ReadFlashArea(context.link, AreaId::ConfigSector, back);
  std::array<std::uint8_t, model::kSectorSize> wanted = back;
  if (read.ok()) copy(wanted);
  report.ReadBack(name, read, wanted, back, *model::Area(AreaId::ConfigSector).address);
}

// One flash image, stopped between blocks on request.
void RestoreImage(Context& context, const Backup& backup, const ImagePart& image, bool verify,
                  const dev::Progress& go_on, RestoreReport& report) {
  const std::vector<std::uint8_t>& bytes = model::ImageOf(backup, image.area);
  const dev::Outcome written = dev::WriteFlashArea(context.link, image.area, bytes, go_on);
  if (!report.Written(image.word, written, "written, not read back") || !verify) return;
  std::vector<std::uint8_t> back(bytes.size());
  const dev::Outcome read = dev::ReadFlashArea(context.link, image.area, back);
  report.ReadBack(image.word, read, bytes, back, *model::Area(image.area).address);
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
  if (const auto refused = RefuseDamagedSector(context, parts, backup)) return *refused;
  if (auto refused = context.RefuseUnconfirmed("restore", kWriteQuestion, options.yes)) {
    return *refused;
  }

  const StopOnSignals signals(context.stop);
  const auto go_on = [&context](std::uint64_t, std::uint64_t) { return !context.stop.requested(); };
  const bool verify = !options.no_verify;
  RestoreReport report;
  const bool config = parts.count(BackupPart::Config) != 0;
  const bool params = parts.count(BackupPart::Params) != 0;
  if ((config || params) && !context.stop.requested()) {
    RestoreSector(context, backup, config, params, verify, report);
  }
  for (const ImagePart& image : kImages) {
    if (parts.count(image.part) == 0) continue;
    if (context.stop.requested()) break;
    RestoreImage(context, backup, image, verify, go_on, report);
  }
  if (parts.count(BackupPart::Ram) != 0 && !context.stop.requested()) {
    const dev::RamBank bank =
        options.ram_bank == "reserve" ? dev::RamBank::Reserve : dev::RamBank::Main;
    report.Written("ram", dev::WriteRam(context.link, backup.ram, bank),
                   "written to the " + options.ram_bank +
                       " bank (the module restarts; the RAM is not read back)");
  }
  for (const std::string& line : report.lines) context.out << line << '\n';
  if (context.stop.requested()) {
    context.err << "tarvenctl: restore: stopped on request; the parts above are all that was "
                   "written\n";
    return kExitFailed;
  }
  if (!report.all_done) return context.Fail("restore", "not every part was restored (see above)");
  return kExitOk;
}

// The differences between two backups, one line each; empty when they are equal.
std::vector<std::string> Differences(const Backup& a, const Backup& b) {
  std::vector<std::string> lines;
  const model::ConfigValues config_a = model::ReadConfig(a.sector);
  const model::ConfigValues config_b = model::ReadConfig(b.sector);
  for (std::size_t row = 0; row < config_a.size(); ++row) {
    if (config_a[row] == config_b[row]) continue;
    lines.push_back("config " + std::string(1, model::ConfigRows()[row].letter) + ": " +
                    std::to_string(config_a[row]) + " -> " + std::to_string(config_b[row]));
  }
  for (std::size_t n = 1; n <= model::kEaParamCount; ++n) {
    const std::int32_t pa = model::EaParam(a.sector, n);
    const std::int32_t pb = model::EaParam(b.sector, n);
    if (pa != pb) {
      lines.push_back("param " + std::to_string(n) + ": " + std::to_string(pa) + " -> " +
                      std::to_string(pb));
    }
  }
  // The sector's checksums and the bytes the tool does not interpret.
  std::size_t other = 0;
  for (std::size_t i = 0; i < model::kSectorSize; ++i) {
    const bool value_byte =
        i < model::kConfigValues || (i >= model::kEaTableOffset && i < model::kEaChecksumOffset);
    if (!value_byte && a.sector[i] != b.sector[i]) ++other;
  }
  if (other > 0) {
    lines.push_back("config sector: " + std::to_string(other) +
                    " other bytes differ (checksums, bytes 12..1023)");
  }
  const auto image = [&](const char* word, AreaId area) {
    const std::vector<std::uint8_t>& x = model::ImageOf(a, area);
    const std::vector<std::uint8_t>& y = model::ImageOf(b, area);
    std::size_t count = 0;
    std::string first;
    for (std::size_t i = 0; i < x.size() && i < y.size(); ++i) {
      if (x[i] == y[i]) continue;
      if (++count <= 4) {
        const auto address = model::Area(area).address;
        first += (first.empty() ? "" : ", ") +
                 (address ? Hex32(*address + static_cast<std::uint32_t>(i))
                          : "offset " + Hex32(static_cast<std::uint32_t>(i)));
      }
    }
    if (count > 0) {
      lines.push_back(std::string(word) + ": " + std::to_string(count) +
                      " bytes differ, first at " + first + (count > 4 ? ", ..." : ""));
    }
  };
  for (const ImagePart& each : kImages) image(each.word, each.area);
  image("ram", AreaId::Ram);
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
