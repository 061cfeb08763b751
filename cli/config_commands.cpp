// config show|set and params get|set|export|import: the configuration sector from a script.


#include <array>
#include <cctype>
#include <functional>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "cli/context.h"
#include "cli/number_option.h"
#include "cli/progress_line.h"
#include "device/operations.h"
#include "model/backup.h"
#include "model/config_sector.h"
#include "model/integer_text.h"
#include "model/params_csv.h"
#include "service/sector_tables.h"
#include "storage/file_io.h"

namespace tarven::cli {
namespace {

namespace dev = tarven::device;
using Sector = std::array<std::uint8_t, model::kSectorSize>;

constexpr std::size_t kMaxParamsFileSize = 1 << 20;
constexpr const char* kWriteQuestion = "Записать в ППЗУ Тарвен?";

dev::Outcome ReadSector(dev::Link& link, Sector& sector) {
  return dev::ReadFlashArea(link, model::AreaId::ConfigSector, sector);
}

// The read-modify-write of the sector with Ctrl-C held off: it stops the command before the
// write, or, once the write has begun, after the sector's one block has been written whole, so
// that the module is never left inside a data stream.
int UpdateSector(Context& context, const char* what, service::SectorTable table,
                 const service::TableValues& values) {
  const StopOnSignals signals(context.stop);
  const dev::Outcome outcome = service::WriteTable(
      context.link, table, values,
      [&context](std::uint64_t, std::uint64_t) { return !context.stop.requested(); });
  if (outcome.failure == dev::Failure::Cancelled) {
    return context.Fail(what, "stopped on request before the write; nothing was written");
  }
  if (outcome.ok() && context.stop.requested()) {
    context.err << "tarvenctl: " << what
                << ": stopped on request once the sector was written whole\n";
  }
  return context.Finish(what, outcome);
}

dev::Outcome Mismatch(service::SectorTable table) {
  dev::Outcome outcome = dev::Outcome::Failed(dev::Failure::ChecksumMismatch);
  outcome.subject = service::TableSubject(table);
  return outcome;
}

std::string Excerpt(std::string_view text) {
  return Shorten(text);
}

// The item text that carries `value` in row `row`, if one does.
std::optional<std::string> ItemText(std::size_t row, std::uint8_t value) {
  for (const model::ConfigItem& item : model::ConfigRows()[row].items) {
    if (item.value == value) return std::string(item.text);
  }
  return std::nullopt;
}

int ConfigShow(Context& context, bool json) {
  Sector sector{};
  if (const dev::Outcome read = ReadSector(context.link, sector); !read.ok()) {
    return context.Fail("config show", read);
  }
  if (!model::ConfigChecksumMatches(sector)) {
    return context.Fail("config show", Mismatch(service::SectorTable::Config));
  }
  const model::ConfigValues values = model::ReadConfig(sector);
  if (!json) {
    context.out << model::ConfigText(values);
    return kExitOk;
  }
  nlohmann::ordered_json object = nlohmann::ordered_json::object();
  for (std::size_t row = 0; row < values.size(); ++row) {
    const model::ConfigRow& info = model::ConfigRows()[row];
    const bool edit = info.control == model::ConfigControl::AddressEdit;
    const std::optional<std::string> text = edit ? std::nullopt : ItemText(row, values[row]);
    object[std::string(1, info.letter)] = {
        {"value", values[row]}, {"item", text ? nlohmann::ordered_json(*text) : nullptr}};
  }
  context.out << object.dump() << '\n';
  return kExitOk;
}

int WriteConfigValues(Context& context, const char* what, const service::TableValues& values,
                      bool yes) {
  if (auto refused = context.RefuseUnconfirmed(what, kWriteQuestion, yes)) return *refused;
  return UpdateSector(context, what, service::SectorTable::Config, values);
}

int ConfigSet(Context& context, const std::vector<std::string>& words, bool yes) {
  service::TableValues changes;
  std::string why;
  if (!service::ParseConfigWords(
          words, changes, why, [](std::size_t) { return std::string(); }, Excerpt)) {
    context.err << "tarvenctl: config set: " << why << '\n';
    return kExitUsage;
  }
  return WriteConfigValues(context, "config set", changes, yes);
}

// Parameter numbers given on the command line, or all of them.
bool ParseNumbers(const std::vector<std::string>& words, std::vector<std::size_t>& numbers,
                  std::string& why) {
  for (const std::string& word : words) {
    const auto number = ParseIntegerWord(word);
    if (!number || *number < 1 || *number > static_cast<std::int32_t>(model::kEaParamCount)) {
      why = "'" + Shorten(word) + "' is not a parameter number 1..255";
      return false;
    }
    numbers.push_back(static_cast<std::size_t>(*number));
  }
  if (words.empty()) {
    for (std::size_t n = 1; n <= model::kEaParamCount; ++n) numbers.push_back(n);
  }
  return true;
}

// Reads the sector and checks the parameter table; the exit status when that fails.
std::optional<int> ReadParams(Context& context, const char* what, Sector& sector) {
  if (const dev::Outcome read = ReadSector(context.link, sector); !read.ok())
    return context.Fail(what, read);
  if (!model::EaChecksumMatches(sector)) {
    return context.Fail(what, Mismatch(service::SectorTable::Params));
  }
  return std::nullopt;
}

int ParamsGet(Context& context, const std::vector<std::string>& words, bool json) {
  std::vector<std::size_t> numbers;
  std::string why;
  if (!ParseNumbers(words, numbers, why)) {
    context.err << "tarvenctl: params get: " << why << '\n';
    return kExitUsage;
  }
  Sector sector{};
  if (const auto failed = ReadParams(context, "params get", sector)) return *failed;
  nlohmann::ordered_json object = nlohmann::ordered_json::object();
  for (std::size_t n : numbers) {
    const std::int32_t value = model::EaParam(sector, n);
    if (json) {
      object[std::to_string(n)] = value;
    } else {
      context.out << n << '=' << value << '\n';
    }
  }
  if (json) context.out << object.dump() << '\n';
  return kExitOk;
}

// Writes the given parameters by read-modify-write. The other parameters keep the module's
// values, which is only worth doing when its table is whole, unless all 255 are given.
int WriteParams(Context& context, const char* what, const service::TableValues& values,
                bool yes) {
  if (auto refused = context.RefuseUnconfirmed(what, kWriteQuestion, yes)) return *refused;
  return UpdateSector(context, what, service::SectorTable::Params, values);
}

int ParamsSet(Context& context, const std::vector<std::string>& words, bool yes) {
  service::TableValues values;
  for (const std::string& word : words) {
    const auto equals = word.find('=');
    const auto number = ParseIntegerWord(std::string_view(word).substr(0, equals));
    const auto value = equals == std::string::npos
                           ? std::nullopt
                           : ParseIntegerWord(std::string_view(word).substr(equals + 1));
    if (!number || *number < 1 || *number > 255 || !value) {
      context.err << "tarvenctl: params set: '" << Shorten(word)
                  << "' is not NUMBER=VALUE with a number 1..255 and a 32-bit value\n";
      return kExitUsage;
    }
    if (!values.emplace(static_cast<std::size_t>(*number), *value).second) {
      context.err << "tarvenctl: params set: parameter " << *number << " is given twice\n";
      return kExitUsage;
    }
  }
  return WriteParams(context, "params set", values, yes);
}

// The words of one table's file commands.
struct TableWords {
  service::SectorTable table;
  const char* export_command;
  const char* import_command;
  const char* file_kind;
};
constexpr TableWords kConfigWords = {service::SectorTable::Config, "config export",
                                     "config import", "configuration file"};
constexpr TableWords kParamsWords = {service::SectorTable::Params, "params export",
                                     "params import", "parameter file"};

// `config export` and `params export`: the table's file, kept unless `force`.
int ExportTable(Context& context, const TableWords& words, const std::string& path, bool force) {
  const char* what = words.export_command;
  if (!force && storage::PathExists(path)) {
    return context.Fail(what, Shorten(path, 80) + " exists (--force replaces it)");
  }
  std::string text;
  if (const dev::Outcome read = service::ExportTable(context.link, words.table, text); !read.ok()) {
    return context.Fail(what, read);
  }
  const storage::ReplaceResult saved = storage::ReplaceFile(path, text);
  if (!saved.ok()) {
    return context.Fail(what, "cannot write " + Shorten(path, 80) + ": " + saved.reason);
  }
  return kExitOk;
}

// `config import` and `params import`: every line of the file is checked before anything is
// written.
int ImportTable(Context& context, const TableWords& words, const std::string& path, bool yes) {
  const char* what = words.import_command;
  std::string text;
  if (const auto failed =
          context.ReadInputFile(what, path, kMaxParamsFileSize, words.file_kind, text)) {
    return *failed;
  }
  service::TableValues values;
  std::string why;
  if (!service::ParseTableFile(words.table, text, values, why, Excerpt)) {
    return context.Fail(what, Shorten(path, 80) + ": " + why + "; nothing was written");
  }
  if (auto refused = context.RefuseUnconfirmed(what, kWriteQuestion, yes)) return *refused;
  return UpdateSector(context, what, words.table, values);
}

}  // namespace

void RegisterConfigCommands(CLI::App& app, Action& action) {
  struct Options {
    bool json = false;
    bool yes = false;
    bool force = false;
    std::vector<std::string> words;
    std::string file;
  };
  auto options = std::make_shared<Options>();

  CLI::App* config = app.add_subcommand("config", "the module's configuration block");
  config->require_subcommand(1);
  CLI::App* show = config->add_subcommand("show", "print the eight values, one per line");
  show->add_flag("--json", options->json, "print one JSON object");
  show->callback([&action, options] {
    action = [options](Context& c) { return ConfigShow(c, options->json); };
  });
  CLI::App* set = config->add_subcommand("set", "change values: X=5 T=12 ...");
  set->add_option("values", options->words, "LETTER=VALUE")->required();
  set->add_flag("-y,--yes", options->yes, "do not ask before writing");
  set->callback([&action, options] {
    action = [options](Context& c) { return ConfigSet(c, options->words, options->yes); };
  });

  CLI::App* cexport = config->add_subcommand("export", "save the eight values to a text file");
  cexport->add_option("file", options->file, "the file (the lines of 'config show')")
      ->required()
      ->check(NotEmpty("the file name"));
  cexport->add_flag("--force", options->force, "replace an existing file");
  cexport->callback([&action, options] {
    action = [options](Context& c) { return ExportTable(c, kConfigWords, options->file, options->force); };
  });
  CLI::App* cimport = config->add_subcommand("import", "write the values of such a file");
  cimport->add_option("file", options->file, "a file as 'config export' writes it")
      ->required()
      ->check(NotEmpty("the file name"));
  cimport->add_flag("-y,--yes", options->yes, "do not ask before writing");
  cimport->callback([&action, options] {
    action = [options](Context& c) { return ImportTable(c, kConfigWords, options->file, options->yes); };
  });

  CLI::App* params = app.add_subcommand("params", "the 255 electroautomatics parameters");
  params->require_subcommand(1);
  CLI::App* get = params->add_subcommand("get", "print parameters as N=value (all by default)");
  get->add_option("numbers", options->words, "parameter numbers 1..255");
  get->add_flag("--json", options->json, "print one JSON object");
  get->callback([&action, options] {
    action = [options](Context& c) { return ParamsGet(c, options->words, options->json); };
  });
  CLI::App* pset = params->add_subcommand("set", "change parameters: N=VALUE ...");
  pset->add_option("values", options->words, "NUMBER=VALUE")->required();
  pset->add_flag("-y,--yes", options->yes, "do not ask before writing");
  pset->callback([&action, options] {
    action = [options](Context& c) { return ParamsSet(c, options->words, options->yes); };
  });
  CLI::App* out = params->add_subcommand("export", "save all parameters to a CSV file");
  out->add_option("file", options->file, "the file (number,value per line)")
      ->required()
      ->check(NotEmpty("the file name"));
  out->add_flag("--force", options->force, "replace an existing file");
  out->callback([&action, options] {
    action = [options](Context& c) { return ExportTable(c, kParamsWords, options->file, options->force); };
  });
  CLI::App* in = params->add_subcommand("import", "write parameters from a CSV file");
  in->add_option("file", options->file, "a file as 'params export' writes it")
      ->required()
      ->check(NotEmpty("the file name"));
  in->add_flag("-y,--yes", options->yes, "do not ask before writing");
  in->callback([&action, options] {
    action = [options](Context& c) { return ImportTable(c, kParamsWords, options->file, options->yes); };
  });
}

}  // namespace tarven::cli
