#pragma once
// A whole module in one file: the configuration sector, the three flash images and the RAM, in a
// tar archive with a manifest (tool and module versions, time, and each part's module address,
// size and SHA-256) and the configuration and parameters also as text. Reading checks all of it
// before anything may go back to a module.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "model/config_sector.h"
#include "model/memory_areas.h"

namespace tarven::model {

struct Backup {
  std::string tool_version;  // "4.54"
  std::string firmware;      // the module's firmware version text, as status shows it
  std::string bootloader;    // the boot loader's version text, or "н/д"
  std::string created;       // UTC, ISO 8601: "2026-12-10T22:50:07Z"
  std::array<std::uint8_t, kSectorSize> sector{};
  std::vector<std::uint8_t> rom, amt, kvp, ram;  // each its area's size
};

// The parts a backup holds, by the names `restore --only` takes.
enum class BackupPart { Config, Params, Rom, Amt, Kvp, Ram };

// The archive's bytes; `mtime` is the members' time (seconds since 1970).
std::string WriteBackup(const Backup& backup, std::int64_t mtime);

// Reads and checks a backup: a tar archive holding exactly the manifest, the five parts and the
// two text copies, a manifest of this format for this kind of module, each part of its area's
// size at its area's address with the SHA-256 the manifest gives, and text copies that match the
// sector. False with one line saying what is wrong otherwise. The sector's own checksums are not
// required here (a module may hold a damaged sector, and its backup keeps it as it was): see
// ConfigChecksumMatches and EaChecksumMatches.
bool ReadBackup(std::string_view archive, Backup& backup, std::string& why);

// The bytes of an image part: the main ROM, AMT, KVP or RAM (the configuration sector is
// `sector`; asking ImageOf for it ends the program).
const std::vector<std::uint8_t>& ImageOf(const Backup& backup, AreaId area);
std::vector<std::uint8_t>& ImageOf(Backup& backup, AreaId area);

// The configuration values as text, one "X=4 4- версия 4" line each (an address shows its number
// alone, a byte that no item carries "(no item)").
std::string ConfigText(const ConfigValues& values);

// The parameters of a sector as the CSV of `params export`.
std::string ParamsText(ConstSector sector);

// The largest backup file read (a whole one is about 60 KiB).
inline constexpr std::size_t kMaxBackupSize = 1 << 20;

}  // namespace tarven::model
