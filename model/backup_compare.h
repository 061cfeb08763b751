#pragma once
// What differs between two backups (or a backup and a module read as one): configuration values
// by letter, parameters by number, the sector's other bytes by count, and each image by the count
// of differing bytes and the first differing addresses. Front ends say it in their own words.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "model/backup.h"

namespace tarven::model {

struct BackupDifferences {
  struct Config {
    char letter = 0;
    std::uint8_t a = 0;
    std::uint8_t b = 0;
  };
  struct Param {
    std::size_t number = 0;
    std::int32_t a = 0;
    std::int32_t b = 0;
  };
  struct Image {
    BackupPart part = BackupPart::Rom;
    std::size_t count = 0;
    // The first differing places (at most kFirstPlaces): module addresses when the image has one
    // (`address` is then set), else offsets into the image (the RAM).
    std::vector<std::uint32_t> first;
    std::optional<std::uint32_t> address;
  };
  static constexpr std::size_t kFirstPlaces = 4;

  std::vector<Config> config;
  std::vector<Param> params;
  // Bytes of the sector that are no value: the checksums and bytes 12..1023.
  std::size_t other_sector_bytes = 0;
  std::vector<Image> images;  // only those that differ: rom, amt, kvp, ram in this order

  bool empty() const {
    return config.empty() && params.empty() && other_sector_bytes == 0 && images.empty();
  }
};

BackupDifferences CompareBackups(const Backup& a, const Backup& b);

}  // namespace tarven::model
