#pragma once
// The module's 2048-byte configuration sector: the configuration block (eight one-byte values and
// their checksum) in bytes 0..11, bytes the tool never interprets, and the table of 255
// electroautomatics parameters with its checksum in bytes 1024..2047. All numbers little-endian;
// both checksums follow the module's checksum rule.

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace tarven::model {

inline constexpr std::size_t kSectorSize = 2048;
inline constexpr std::size_t kConfigValues = 8;
inline constexpr std::size_t kConfigChecksumOffset = 8;
inline constexpr std::size_t kEaTableOffset = 1024;
inline constexpr std::size_t kEaParamCount = 255;
inline constexpr std::size_t kEaTableBytes = 4 * kEaParamCount;                   // 1020
inline constexpr std::size_t kEaChecksumOffset = kEaTableOffset + kEaTableBytes;  // 2044

using Sector = std::span<std::uint8_t, kSectorSize>;
using ConstSector = std::span<const std::uint8_t, kSectorSize>;
using ConfigValues = std::array<std::uint8_t, kConfigValues>;

// Bytes 0..7 of a module as delivered, and after a checksum mismatch: X=4 Z=1 G=1 M=0 S=1 T=1
// P=6 F=0.
inline constexpr ConfigValues kDefaultConfig = {4, 1, 1, 0, 1, 1, 6, 0};

// The configuration block: the values and whether their stored checksum matches.
bool ConfigChecksumMatches(ConstSector sector);
ConfigValues ReadConfig(ConstSector sector);
// Stores the values and their checksum (bytes 0..11); nothing else changes.
void WriteConfig(Sector sector, const ConfigValues& values);

// The parameter table: parameter n (1..255) at 1020 + 4n.
bool EaChecksumMatches(ConstSector sector);
std::int32_t EaParam(ConstSector sector, std::size_t number);
void SetEaParam(Sector sector, std::size_t number, std::int32_t value);
// Stores the table's checksum over bytes 1024..2043.
void SealEaTable(Sector sector);

// The eight rows of the configuration page, in byte order.
enum class ConfigControl { List, AddressEdit };

struct ConfigItem {
  std::string_view text;
  std::uint8_t value;
};

struct ConfigRow {
  char letter;
  std::string_view label;
  ConfigControl control;
  std::span<const ConfigItem> items;  // empty for the address edit
};

const std::array<ConfigRow, kConfigValues>& ConfigRows();

// Which item of row `row` shows the byte `value`; none leaves the list without a selection.
// Bytes that no item carries still select an item by each row's fallback rule.
std::optional<std::size_t> ItemForByte(std::size_t row, std::uint8_t value);
// The byte that picking item `item` of row `row` stores.
std::uint8_t ByteForItem(std::size_t row, std::size_t item);

// The network address (byte 5) accepts 1..248.
inline constexpr std::int32_t kMinNetworkAddress = 1;
inline constexpr std::int32_t kMaxNetworkAddress = 248;
inline constexpr std::size_t kNetworkAddressRow = 5;

}  // namespace tarven::model
