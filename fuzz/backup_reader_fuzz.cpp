// Any bytes as a backup file: the reader either refuses them with a reason, or gives a backup
// whose every part has its area's size and which, written again, reads back the same.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "model/backup.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tarven::model;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  Backup backup;
  std::string why;
  if (!ReadBackup(bytes, backup, why)) {
    if (why.empty()) std::abort();  // a refusal always says why
    return 0;
  }
  for (const AreaId area : {AreaId::MainRom, AreaId::AmtRom, AreaId::Kvp, AreaId::Ram}) {
    if (ImageOf(backup, area).size() != Area(area).size) std::abort();
  }
  Backup again;
  if (!ReadBackup(WriteBackup(backup, 0), again, why)) std::abort();
  if (again.sector != backup.sector || again.rom != backup.rom || again.amt != backup.amt ||
      again.kvp != backup.kvp || again.ram != backup.ram) {
    std::abort();
  }
  return 0;
}
