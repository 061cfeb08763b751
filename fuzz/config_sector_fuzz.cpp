// Any bytes as a configuration sector: decoding the block and the parameter table, and showing
// every value, never fails, every row shows an item it has; a sector written back from what was
// decoded passes both checks.

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "model/config_sector.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  namespace m = tarven::model;
  std::array<std::uint8_t, m::kSectorSize> sector{};
  std::copy_n(data, std::min(size, sector.size()), sector.begin());
  (void)m::ConfigChecksumMatches(sector);
  (void)m::EaChecksumMatches(sector);
  const m::ConfigValues values = m::ReadConfig(sector);
  for (std::size_t row = 0; row < values.size(); ++row) {
    const auto item = m::ItemForByte(row, values[row]);
    if (item && *item >= m::ConfigRows()[row].items.size()) std::abort();
  }
  std::int64_t sum = 0;
  for (std::size_t n = 1; n <= m::kEaParamCount; ++n) sum += m::EaParam(sector, n);
  (void)sum;

  m::WriteConfig(sector, values);
  m::SealEaTable(sector);
  if (!m::ConfigChecksumMatches(sector) || !m::EaChecksumMatches(sector)) std::abort();
  return 0;
}
