#include "model/backup_compare.h"

#include "model/config_sector.h"

namespace tarven::model {

BackupDifferences CompareBackups(const Backup& a, const Backup& b) {
  BackupDifferences differences;
  const ConfigValues config_a = ReadConfig(a.sector);
  const ConfigValues config_b = ReadConfig(b.sector);
  for (std::size_t row = 0; row < config_a.size(); ++row) {
    if (config_a[row] != config_b[row]) {
      differences.config.push_back({ConfigRows()[row].letter, config_a[row], config_b[row]});
    }
  }
  for (std::size_t n = 1; n <= kEaParamCount; ++n) {
    const std::int32_t pa = EaParam(a.sector, n);
    const std::int32_t pb = EaParam(b.sector, n);
    if (pa != pb) differences.params.push_back({n, pa, pb});
  }
  for (std::size_t i = 0; i < kSectorSize; ++i) {
    const bool value_byte =
        i < kConfigValues || (i >= kEaTableOffset && i < kEaChecksumOffset);
    if (!value_byte && a.sector[i] != b.sector[i]) ++differences.other_sector_bytes;
  }
  const std::pair<BackupPart, AreaId> images[] = {{BackupPart::Rom, AreaId::MainRom},
                                                  {BackupPart::Amt, AreaId::AmtRom},
                                                  {BackupPart::Kvp, AreaId::Kvp},
                                                  {BackupPart::Ram, AreaId::Ram}};
  for (const auto& [part, area] : images) {
    const std::vector<std::uint8_t>& x = ImageOf(a, area);
    const std::vector<std::uint8_t>& y = ImageOf(b, area);
    BackupDifferences::Image image;
    image.part = part;
    image.address = Area(area).address;
    for (std::size_t i = 0; i < x.size() && i < y.size(); ++i) {
      if (x[i] == y[i]) continue;
      if (++image.count <= BackupDifferences::kFirstPlaces) {
        image.first.push_back(image.address.value_or(0) + static_cast<std::uint32_t>(i));
      }
    }
    if (image.count > 0) differences.images.push_back(std::move(image));
  }
  return differences;
}

}  // namespace tarven::model
