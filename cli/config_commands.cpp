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
int UpdateSector(Context& context, const char* what, const dev::SectorChange& change) {
  const StopOnSignals signals(context.stop);
  const dev::Outcome outcome = dev::UpdateConfigSector(
      context.link, change,
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

dev::Outcome Mismatch(const char* what) {
  dev::Outcome outcome = dev::Outcome::Failed(dev::Failure::ChecksumMismatch);
  outcome.subject = what;
  return outcome;
}

constexpr const char* kConfigBlock = "the module's configuration block";
constexpr const char* kParamTable = "the module's parameter table";

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
    return context.Fail("config show", Mismatch(kConfigBlock));
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

// "X=5" into a row and a byte; false with the reason in `why`.
bool ParseConfigWord(const std::string& word, std::size_t& row, std::uint8_t& byte,
                     std::string& why) {
  const auto equals = word.find('=');
  const auto& rows = model::ConfigRows();
  std::size_t found = rows.size();
  if (equals == 1) {
    for (std::size_t r = 0; r < rows.size(); ++r) {
      if (rows[r].letter == std::toupper(static_cast<unsigned char>(word[0]))) found = r;
    }
  }
  if (found == rows.size()) {
    why = "'" + Shorten(word) + "' is not LETTER=VALUE with a letter of XZGMSTPF";
    return false;
  }
  const auto value = ParseIntegerWord(std::string_view(word).substr(2));
  const model::ConfigRow& info = rows[found];
  if (info.control == model::ConfigControl::AddressEdit) {
    if (!value || *value < model::kMinNetworkAddress || *value > model::kMaxNetworkAddress) {
      why = "'" + Shorten(word) + "': the network address lies in 1..248";
      return false;
    }
  } else if (!value || *value < 0 || *value > 255 ||
             !ItemText(found, static_cast<std::uint8_t>(*value))) {
    std::string allowed;
    for (const model::ConfigItem& item : info.items) {
      allowed += (allowed.empty() ? "" : ", ") + std::to_string(item.value);
    }
    why = "'" + Shorten(word) + "': " + std::string(1, info.letter) + " takes " + allowed;
    return false;
  }
  row = found;
  byte = static_cast<std::uint8_t>(*value);
  return true;
}

// "X=5" words into row changes; false with the reason (naming where) in `why`.
bool ParseConfigWords(const std::vector<std::string>& words,
                      std::map<std::size_t, std::uint8_t>& changes, std::string& why,
                      const std::function<std::string(std::size_t)>& where) {
  for (std::size_t i = 0; i < words.size(); ++i) {
    std::size_t row = 0;
    std::uint8_t byte = 0;
    if (!ParseConfigWord(words[i], row, byte, why)) {
      why = where(i) + why;
      return false;
    }
    if (!changes.emplace(row, byte).second) {
      why = where(i) + std::string(1, model::ConfigRows()[row].letter) + " is given twice";
      return false;
    }
  }
  return true;
}

int WriteConfigValues(Context& context, const char* what,
                      const std::map<std::size_t, std::uint8_t>& changes, bool yes) {
  if (auto refused = context.RefuseUnconfirmed(what, kWriteQuestion, yes)) return *refused;
  return UpdateSector(context, what, [&](model::Sector sector) {
    // Values not named keep the module's own; they are only worth keeping when they are whole.
    if (changes.size() < model::kConfigValues && !model::ConfigChecksumMatches(sector)) {
      dev::Outcome refused = Mismatch(kConfigBlock);
      refused.reason = "give all eight values to replace it";
      return refused;
    }
    model::ConfigValues values = model::ReadConfig(sector);
    for (const auto& [row, byte] : changes) values[row] = byte;
    model::WriteConfig(sector, values);
    return dev::Outcome::Done();
  });
}

int ConfigSet(Context& context, const std::vector<std::string>& words, bool yes) {
  std::map<std::size_t, std::uint8_t> changes;
  std::string why;
  if (!ParseConfigWords(words, changes, why, [](std::size_t) { return std::string(); })) {
    context.err << "tarvenctl: config set: " << why << '\n';
    return kExitUsage;
  }
  return WriteConfigValues(context, "config set", changes, yes);
}

// The file of `config export`: the lines of `config show`.
int ConfigExport(Context& context, const std::string& path, bool force) {
  if (!force && storage::PathExists(path)) {
    return context.Fail("config export", Shorten(path, 80) + " exists (--force replaces it)");
  }
  Sector sector{};
  if (const dev::Outcome read = ReadSector(context.link, sector); !read.ok()) {
    return context.Fail("config export", read);
  }
  if (!model::ConfigChecksumMatches(sector)) {
    return context.Fail("config export", Mismatch(kConfigBlock));
  }
  const storage::ReplaceResult saved =
      storage::ReplaceFile(path, model::ConfigText(model::ReadConfig(sector)));
  if (!saved.ok()) {
    return context.Fail("config export", "cannot write " + Shorten(path, 80) + ": " + saved.reason);
  }
  return kExitOk;
}

// Reads such a file: one LETTER=VALUE a line, then anything (the item's text); empty lines and
// lines that begin with '#' are passed over. Every line is checked before anything is written.
int ConfigImport(Context& context, const std::string& path, bool yes) {
  std::string text;
  if (const auto failed = context.ReadInputFile("config import", path, kMaxParamsFileSize,
                                                "configuration file", text)) {
    return *failed;
  }
  const std::string name = Shorten(path, 80);
  if (text.rfind("\xEF\xBB\xBF", 0) == 0) text.erase(0, 3);
  std::vector<std::string> words;
  std::vector<std::size_t> line_numbers;
  std::size_t number = 0;
  for (std::size_t at = 0; at <= text.size();) {
    const std::size_t end = std::min(text.find('\n', at), text.size());
    std::string line = text.substr(at, end - at);
    at = end + 1;
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::size_t first = line.find_first_not_of(" \t");
    if (first == std::string::npos || line[first] == '#') continue;
    const std::size_t word_end = line.find_first_of(" \t", first);
    words.push_back(
        line.substr(first, word_end == std::string::npos ? word_end : word_end - first));
    line_numbers.push_back(number);
  }
  std::map<std::size_t, std::uint8_t> changes;
  std::string why;
  if (words.empty()) why = "no LETTER=VALUE line";
  if (!why.empty() || !ParseConfigWords(words, changes, why, [&line_numbers](std::size_t i) {
        return "line " + std::to_string(line_numbers[i]) + ": ";
      })) {
    return context.Fail("config import", name + ": " + why + "; nothing was written");
  }
  return WriteConfigValues(context, "config import", changes, yes);
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
  if (!model::EaChecksumMatches(sector)) return context.Fail(what, Mismatch(kParamTable));
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
int WriteParams(Context& context, const char* what,
                const std::map<std::size_t, std::int32_t>& values, bool yes) {
  if (auto refused = context.RefuseUnconfirmed(what, kWriteQuestion, yes)) return *refused;
  return UpdateSector(context, what, [&](model::Sector sector) {
    if (values.size() < model::kEaParamCount && !model::EaChecksumMatches(sector)) {
      dev::Outcome refused = Mismatch(kParamTable);
      return refused;
    }
    for (const auto& [n, value] : values) model::SetEaParam(sector, n, value);
    model::SealEaTable(sector);
    return dev::Outcome::Done();
  });
}

int ParamsSet(Context& context, const std::vector<std::string>& words, bool yes) {
  std::map<std::size_t, std::int32_t> values;
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

int ParamsExport(Context& context, const std::string& path, bool force) {
  if (!force && storage::PathExists(path)) {
    return context.Fail("params export", Shorten(path, 80) + " exists (--force replaces it)");
  }
  Sector sector{};
  if (const auto failed = ReadParams(context, "params export", sector)) return *failed;
  std::map<std::size_t, std::int32_t> values;
  for (std::size_t n = 1; n <= model::kEaParamCount; ++n) values[n] = model::EaParam(sector, n);
  const std::string text = model::ParamsCsvText(values);
  const storage::ReplaceResult saved = storage::ReplaceFile(path, text);
  if (!saved.ok()) {
    return context.Fail("params export", "cannot write " + Shorten(path, 80) + ": " + saved.reason);
  }
  return kExitOk;
}

int ParamsImport(Context& context, const std::string& path, bool yes) {
  std::string text;
  if (const auto failed = context.ReadInputFile("params import", path, kMaxParamsFileSize,
                                                "parameter file", text)) {
    return *failed;
  }
  const std::string name = Shorten(path, 80);
  std::map<std::size_t, std::int32_t> values;
  std::string why;
  if (!model::ParseParamsCsv(text, values, why, [](std::string_view t) { return Shorten(t); })) {
    return context.Fail("params import", name + ": " + why + "; nothing was written");
  }
  return WriteParams(context, "params import", values, yes);
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
    action = [options](Context& c) { return ConfigExport(c, options->file, options->force); };
  });
  CLI::App* cimport = config->add_subcommand("import", "write the values of such a file");
  cimport->add_option("file", options->file, "a file as 'config export' writes it")
      ->required()
      ->check(NotEmpty("the file name"));
  cimport->add_flag("-y,--yes", options->yes, "do not ask before writing");
  cimport->callback([&action, options] {
    action = [options](Context& c) { return ConfigImport(c, options->file, options->yes); };
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
    action = [options](Context& c) { return ParamsExport(c, options->file, options->force); };
  });
  CLI::App* in = params->add_subcommand("import", "write parameters from a CSV file");
  in->add_option("file", options->file, "a file as 'params export' writes it")
      ->required()
      ->check(NotEmpty("the file name"));
  in->add_flag("-y,--yes", options->yes, "do not ask before writing");
  in->callback([&action, options] {
    action = [options](Context& c) { return ParamsImport(c, options->file, options->yes); };
  });
}

}  // namespace tarven::cli
