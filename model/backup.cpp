#include "model/backup.h"

#include <cstdlib>
#include <map>
#include <optional>
#include <set>
#include <sstream>

#include "model/params_csv.h"
#include "model/sha256.h"
#include "model/tar_archive.h"

namespace tarven::model {
namespace {

constexpr std::string_view kFormat = "tarven-backup 1";
constexpr std::string_view kModuleKind = "tarven";
constexpr std::string_view kManifestName = "manifest.txt";
constexpr std::string_view kConfigTextName = "config.txt";
constexpr std::string_view kParamsTextName = "params.csv";

struct PartFile {
  std::string_view name;
  AreaId area;
};
constexpr std::array<PartFile, 5> kParts = {{
    {"config-sector.bin", AreaId::ConfigSector},
    {"rom.bin", AreaId::MainRom},
    {"amt.bin", AreaId::AmtRom},
    {"kvp.bin", AreaId::Kvp},
    {"ram.bin", AreaId::Ram},
}};

std::span<const std::uint8_t> Bytes(const std::string& text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

std::string Text(std::span<const std::uint8_t> bytes) {
  return std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

std::span<const std::uint8_t> PartBytes(const Backup& backup, AreaId area) {
  if (area == AreaId::ConfigSector) return backup.sector;
  return ImageOf(backup, area);
}

std::string Hex32(std::uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", value);
  return text;
}

std::string AddressText(AreaId area) {
  const auto address = Area(area).address;
  return address ? Hex32(*address) : std::string("-");
}

// A value without line breaks, so that a manifest line stays one line.
std::string OneLine(std::string text) {
  for (char& c : text) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  return text;
}

// A digest as the manifest gives it, in the lower case the tool writes: sha256sum takes either.
std::string LowerCase(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

}  // namespace

const std::vector<std::uint8_t>& ImageOf(const Backup& backup, AreaId area) {
  switch (area) {
    case AreaId::MainRom:
      return backup.rom;
    case AreaId::AmtRom:
      return backup.amt;
    case AreaId::Kvp:
      return backup.kvp;
    case AreaId::Ram:
      return backup.ram;
    case AreaId::ConfigSector:
      break;
  }
  // The configuration sector is no image (its bytes are `sector`): asking for it is a fault of
  // the caller, not of any file, and must not be answered with another part's bytes.
  std::abort();
}

std::vector<std::uint8_t>& ImageOf(Backup& backup, AreaId area) {
  return const_cast<std::vector<std::uint8_t>&>(ImageOf(static_cast<const Backup&>(backup), area));
}

std::string ConfigText(const ConfigValues& values) {
  std::string text;
  for (std::size_t row = 0; row < values.size(); ++row) {
    const ConfigRow& info = ConfigRows()[row];
    text += std::string(1, info.letter) + "=" + std::to_string(values[row]);
    if (info.control == ConfigControl::List) {
      std::optional<std::string_view> item;
      for (const ConfigItem& each : info.items) {
        if (each.value == values[row]) {
          item = each.text;
          break;
        }
      }
      if (item) {
        text += ' ';
        text += *item;
      } else {
        text += " (no item)";
      }
    }
    text += '\n';
  }
  return text;
}

std::string ParamsText(ConstSector sector) {
  std::map<std::size_t, std::int32_t> values;
  for (std::size_t n = 1; n <= kEaParamCount; ++n) values[n] = EaParam(sector, n);
  return ParamsCsvText(values);
}

std::string WriteBackup(const Backup& backup, std::int64_t mtime) {
  const std::string config_text = ConfigText(ReadConfig(backup.sector));
  const std::string params_text = ParamsText(backup.sector);
  std::string manifest = "format " + std::string(kFormat) + "\n";
  manifest += "module " + std::string(kModuleKind) + "\n";
  manifest += "tool " + OneLine(backup.tool_version) + "\n";
  manifest += "firmware " + OneLine(backup.firmware) + "\n";
  manifest += "bootloader " + OneLine(backup.bootloader) + "\n";
  manifest += "created " + OneLine(backup.created) + "\n";
  std::vector<TarEntry> entries;
  entries.push_back({std::string(kManifestName), {}});
  for (const PartFile& part : kParts) {
    const auto bytes = PartBytes(backup, part.area);
    manifest += "part " + std::string(part.name) + " " + AddressText(part.area) + " " +
                std::to_string(bytes.size()) + " " + Sha256Hex(bytes) + "\n";
    entries.push_back({std::string(part.name), Text(bytes)});
  }
  manifest += "text " + std::string(kConfigTextName) + " " + Sha256Hex(Bytes(config_text)) + "\n";
  manifest += "text " + std::string(kParamsTextName) + " " + Sha256Hex(Bytes(params_text)) + "\n";
  entries.front().bytes = manifest;
  entries.push_back({std::string(kConfigTextName), config_text});
  entries.push_back({std::string(kParamsTextName), params_text});
  return WriteTar(entries, mtime);
}

namespace {

using Members = std::map<std::string, const std::string*>;
// A part's or a text's name in the manifest: its words ("rom.bin 0x08035800 16384 DIGEST").
using Listed = std::map<std::string, std::vector<std::string>>;

const std::string* MemberOf(const Members& members, std::string_view name) {
  const auto found = members.find(std::string(name));
  return found == members.end() ? nullptr : found->second;
}

// The manifest, line by line: every key known, every part and text once, of this format and
// kind of module. Its fields go into `backup`, its parts and texts into `listed`.
bool ReadManifest(const std::string& manifest, Backup& backup, Listed& listed, std::string& why) {
  // A manifest saved by an editor that ends its lines in CR LF: the CR cannot be seen in a message
  // that quotes the line, so it is named.
  if (manifest.find('\r') != std::string::npos) {
    why =
        "manifest.txt ends its lines in CR LF (a carriage return before each line feed, as some "
        "editors save a file); a backup's manifest ends them in LF alone";
    return false;
  }
  std::map<std::string, std::string> fields;
  std::istringstream lines(manifest);
  std::string line;
  std::size_t number = 0;
  while (std::getline(lines, line)) {
    ++number;
    const std::string where = "manifest line " + std::to_string(number);
    std::istringstream words(line);
    std::string key;
    words >> key;
    std::string rest;
    std::getline(words >> std::ws, rest);
    if (key == "part" || key == "text") {
      std::istringstream values(rest);
      std::vector<std::string> list;
      for (std::string word; values >> word;) list.push_back(word);
      if (list.empty() || !listed.emplace(list.front(), list).second) {
        why = where + ": a part named twice, or none";
        return false;
      }
    } else if (key == "format" || key == "module" || key == "tool" || key == "firmware" ||
               key == "bootloader" || key == "created") {
      if (!fields.emplace(key, rest).second) {
        why = where + ": '" + key + "' twice";
        return false;
      }
    } else {
      why = where + ": unknown entry";
      return false;
    }
  }
  if (fields["format"] != kFormat) {
    why = "not a backup of this format (manifest says '" + fields["format"].substr(0, 40) + "')";
    return false;
  }
  if (fields["module"] != kModuleKind) {
    why = "a backup of another kind of module ('" + fields["module"].substr(0, 40) + "')";
    return false;
  }
  backup.tool_version = fields["tool"];
  backup.firmware = fields["firmware"];
  backup.bootloader = fields["bootloader"];
  backup.created = fields["created"];
  return true;
}

// Exactly the members the manifest and the format name, nothing more.
bool CheckMemberList(const std::vector<TarEntry>& entries, const Listed& listed,
                     std::string& why) {
  std::set<std::string> expected = {std::string(kManifestName), std::string(kConfigTextName),
                                    std::string(kParamsTextName)};
  for (const PartFile& part : kParts) expected.insert(std::string(part.name));
  for (const TarEntry& entry : entries) {
    if (expected.count(entry.name) == 0) {
      why = "member '" + entry.name.substr(0, 40) + "' is not part of a backup";
      return false;
    }
  }
  if (listed.size() != kParts.size() + 2) {
    why = "the manifest lists " + std::to_string(listed.size()) + " parts, a backup has " +
          std::to_string(kParts.size() + 2);
    return false;
  }
  return true;
}

// Each part at its area's address and size on this module, with the manifest's SHA-256, into
// `backup`.
bool ReadParts(const Members& members, const Listed& listed, Backup& backup, std::string& why) {
  for (const PartFile& part : kParts) {
    const std::string name(part.name);
    const std::string* bytes = MemberOf(members, name);
    const auto entry = listed.find(name);
    if (bytes == nullptr || entry == listed.end()) {
      why = "part " + name + " is missing";
      return false;
    }
    const std::vector<std::string>& words = entry->second;
    const std::uint32_t size = Area(part.area).size;
    if (words.size() != 4 || words[1] != AddressText(part.area) ||
        words[2] != std::to_string(size)) {
      why = "part " + name + ": the manifest does not give its address and size on this module (" +
            AddressText(part.area) + ", " + std::to_string(size) + " bytes)";
      return false;
    }
    if (bytes->size() != size) {
      why = "part " + name + ": " + std::to_string(bytes->size()) + " bytes, not " +
            std::to_string(size);
      return false;
    }
    if (Sha256Hex(Bytes(*bytes)) != LowerCase(words[3])) {
      why = "part " + name + ": its SHA-256 is not the manifest's (damaged)";
      return false;
    }
    if (part.area == AreaId::ConfigSector) {
      std::copy(bytes->begin(), bytes->end(), backup.sector.begin());
    } else {
      ImageOf(backup, part.area).assign(bytes->begin(), bytes->end());
    }
  }
  return true;
}

// The text copies whole, and saying what the sector holds.
bool CheckTextCopies(const Members& members, const Listed& listed, const Backup& backup,
                     std::string& why) {
  for (const std::string_view name : {kConfigTextName, kParamsTextName}) {
    const std::string* bytes = MemberOf(members, name);
    const auto entry = listed.find(std::string(name));
    if (bytes == nullptr || entry == listed.end() || entry->second.size() != 2) {
      why = "part " + std::string(name) + " is missing";
      return false;
    }
    if (Sha256Hex(Bytes(*bytes)) != LowerCase(entry->second[1])) {
      why = "part " + std::string(name) + ": its SHA-256 is not the manifest's (damaged)";
      return false;
    }
  }
  if (*MemberOf(members, kConfigTextName) != ConfigText(ReadConfig(backup.sector)) ||
      *MemberOf(members, kParamsTextName) != ParamsText(backup.sector)) {
    why = "the text copies do not match the configuration sector";
    return false;
  }
  return true;
}

}  // namespace

bool ReadBackup(std::string_view archive, Backup& backup, std::string& why) {
  backup = Backup{};
  if (archive.size() > kMaxBackupSize) {
    why = "larger than any backup (" + std::to_string(archive.size()) + " bytes)";
    return false;
  }
  std::vector<TarEntry> entries;
  TarLimits limits;
  // Room for a few members too many, so that an extra one is named rather than counted.
  limits.max_entries = 16;
  limits.max_entry_size = 64 * 1024;
  if (!ReadTar(archive, limits, entries, why)) return false;
  Members members;
  for (const TarEntry& entry : entries) members[entry.name] = &entry.bytes;
  const std::string* manifest = MemberOf(members, kManifestName);
  if (manifest == nullptr) {
    why = "no manifest.txt: not a backup of this tool";
    return false;
  }
  Listed listed;
  return ReadManifest(*manifest, backup, listed, why) && CheckMemberList(entries, listed, why) &&
         ReadParts(members, listed, backup, why) &&
         CheckTextCopies(members, listed, backup, why);
}

}  // namespace tarven::model
