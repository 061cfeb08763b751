#include "service/sector_tables.h"

#include <array>
#include <cctype>
#include <optional>

#include "device/operations.h"
#include "model/backup.h"
#include "model/config_sector.h"
#include "model/integer_text.h"

namespace tarven::service {
namespace {

// 'TEXT', built by appending: GCC 12 at -O3 takes "'" + std::string&& for an overlapping copy.
std::string Quoted(const std::string& text) {
  std::string quoted;
  quoted.reserve(text.size() + 2);
  quoted += '\'';
  quoted += text;
  quoted += '\'';
  return quoted;
}

namespace dev = tarven::device;

dev::Outcome Mismatch(SectorTable table) {
  dev::Outcome outcome = dev::Outcome::Failed(dev::Failure::ChecksumMismatch);
  outcome.subject = TableSubject(table);
  return outcome;
}

bool TableWhole(SectorTable table, model::ConstSector sector) {
  return table == SectorTable::Config ? model::ConfigChecksumMatches(sector)
                                      : model::EaChecksumMatches(sector);
}

std::size_t TableSize(SectorTable table) {
  return table == SectorTable::Config ? model::kConfigValues : model::kEaParamCount;
}

// A number as a command line or a file gives it: nothing before it (see model::ParseInteger).
std::optional<std::int32_t> IntegerWord(std::string_view text) {
  if (text.empty() || text.front() == ' ' || text.front() == '\t') return std::nullopt;
  return model::ParseInteger(text);
}

bool ItemCarries(std::size_t row, std::int32_t value) {
  for (const model::ConfigItem& item : model::ConfigRows()[row].items) {
    if (item.value == value) return true;
  }
  return false;
}

// "X=5" into a row and a byte; false with the reason in `why`.
bool ParseConfigWord(const std::string& word, std::size_t& row, std::uint8_t& byte,
                     std::string& why, const model::Excerpt& excerpt) {
  const auto equals = word.find('=');
  const auto& rows = model::ConfigRows();
  std::size_t found = rows.size();
  if (equals == 1) {
    for (std::size_t r = 0; r < rows.size(); ++r) {
      if (rows[r].letter == std::toupper(static_cast<unsigned char>(word[0]))) found = r;
    }
  }
  if (found == rows.size()) {
    why = Quoted(excerpt(word)) + " is not LETTER=VALUE with a letter of XZGMSTPF";
    return false;
  }
  const auto value = IntegerWord(std::string_view(word).substr(2));
  const model::ConfigRow& info = rows[found];
  if (info.control == model::ConfigControl::AddressEdit) {
    if (!value || *value < model::kMinNetworkAddress || *value > model::kMaxNetworkAddress) {
      why = Quoted(excerpt(word)) + ": the network address lies in 1..248";
      return false;
    }
  } else if (!value || *value < 0 || *value > 255 || !ItemCarries(found, *value)) {
    std::string allowed;
    for (const model::ConfigItem& item : info.items) {
      allowed += (allowed.empty() ? "" : ", ") + std::to_string(item.value);
    }
    why = Quoted(excerpt(word)) + ": " + std::string(1, info.letter) + " takes " + allowed;
    return false;
  }
  row = found;
  byte = static_cast<std::uint8_t>(*value);
  return true;
}

// The configuration file: one LETTER=VALUE a line, then anything (the item's text); empty lines
// and lines that begin with '#' are passed over.
bool ParseConfigFile(std::string_view text, TableValues& values, std::string& why,
                     const model::Excerpt& excerpt) {
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  std::vector<std::string> words;
  std::vector<std::size_t> line_numbers;
  std::size_t number = 0;
  for (std::size_t at = 0; at <= text.size();) {
    const std::size_t end = std::min(text.find('\n', at), text.size());
    std::string line(text.substr(at, end - at));
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
  if (words.empty()) {
    why = "no LETTER=VALUE line";
    return false;
  }
  return ParseConfigWords(
      words, values, why,
      [&line_numbers](std::size_t i) { return "line " + std::to_string(line_numbers[i]) + ": "; },
      excerpt);
}

}  // namespace

const char* TableSubject(SectorTable table) {
  return table == SectorTable::Config ? "the module's configuration block"
                                      : "the module's parameter table";
}

dev::Outcome ExportTable(dev::Link& link, SectorTable table, std::string& text) {
  std::array<std::uint8_t, model::kSectorSize> sector{};
  if (dev::Outcome read = dev::ReadFlashArea(link, model::AreaId::ConfigSector, sector);
      !read.ok()) {
    return read;
  }
  if (!TableWhole(table, sector)) return Mismatch(table);
  text = table == SectorTable::Config ? model::ConfigText(model::ReadConfig(sector))
                                      : model::ParamsText(sector);
  return dev::Outcome::Done();
}

bool ParseConfigWords(const std::vector<std::string>& words, TableValues& values, std::string& why,
                      const std::function<std::string(std::size_t)>& where,
                      const model::Excerpt& excerpt) {
  for (std::size_t i = 0; i < words.size(); ++i) {
    std::size_t row = 0;
    std::uint8_t byte = 0;
    if (!ParseConfigWord(words[i], row, byte, why, excerpt)) {
      why = where(i) + why;
      return false;
    }
    if (!values.emplace(row, byte).second) {
      why = where(i) + std::string(1, model::ConfigRows()[row].letter) + " is given twice";
      return false;
    }
  }
  return true;
}

bool ParseTableFile(SectorTable table, std::string_view text, TableValues& values,
                    std::string& why, const model::Excerpt& excerpt) {
  if (table == SectorTable::Config) return ParseConfigFile(text, values, why, excerpt);
  return model::ParseParamsCsv(text, values, why, excerpt);
}

dev::Outcome WriteTable(dev::Link& link, SectorTable table, const TableValues& values,
                        const dev::Progress& progress) {
  return dev::UpdateConfigSector(
      link,
      [&](model::Sector sector) {
        if (values.size() < TableSize(table) && !TableWhole(table, sector)) {
          dev::Outcome refused = Mismatch(table);
          if (table == SectorTable::Config) refused.reason = "give all eight values to replace it";
          return refused;
        }
        if (table == SectorTable::Config) {
          model::ConfigValues config = model::ReadConfig(sector);
          for (const auto& [row, value] : values) config[row] = static_cast<std::uint8_t>(value);
          model::WriteConfig(sector, config);
        } else {
          for (const auto& [n, value] : values) model::SetEaParam(sector, n, value);
          model::SealEaTable(sector);
        }
        return dev::Outcome::Done();
      },
      progress);
}

}  // namespace tarven::service
