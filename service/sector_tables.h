#pragma once
// The two tables of the configuration sector as files, for both front ends: the configuration
// block (eight values by letter, a line "X=4 4- версия 4" each) and the electroautomatics
// parameter table (255 values by number, CSV "number,value"). One shape for both: export reads
// the sector and gives the file's text, a file is checked line by line into values before
// anything is written, and values go back by one read-modify-write of the sector.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "device/device.h"
#include "device/outcome.h"
#include "device/progress.h"
#include "model/params_csv.h"

namespace tarven::service {

enum class SectorTable { Config, Params };

// A table's values by key: the configuration row (0..7, in the order of model::ConfigRows) or
// the parameter number (1..255).
using TableValues = std::map<std::size_t, std::int32_t>;

// Reads the sector and gives the table as its file's text. When the table fails its checksum on
// the module, Failure::ChecksumMismatch with the table named as the subject.
device::Outcome ExportTable(device::Link& link, SectorTable table, std::string& text);

// Checks a file's text line by line into `values`; false with "line N: reason" in `why` for the
// first bad line (or why the file as a whole is not one: no values in it). `excerpt` quotes a
// line or a word in the reason.
bool ParseTableFile(SectorTable table, std::string_view text, TableValues& values,
                    std::string& why, const model::Excerpt& excerpt);

// "X=5" words into configuration values, each row at most once; false with the reason in `why`,
// after `where(i)` for the i-th word.
bool ParseConfigWords(const std::vector<std::string>& words, TableValues& values, std::string& why,
                      const std::function<std::string(std::size_t)>& where,
                      const model::Excerpt& excerpt);

// Writes `values` into the table by read-modify-write of the sector (device::UpdateConfigSector,
// with `progress` asked before the write). Values not given keep the module's own, which are only
// worth keeping when the table on the module is whole: when fewer than all are given and it fails
// its checksum, nothing is written (Failure::ChecksumMismatch).
device::Outcome WriteTable(device::Link& link, SectorTable table, const TableValues& values,
                           const device::Progress& progress = {});

// The table on the module, named as an outcome's subject: "the module's configuration block".
const char* TableSubject(SectorTable table);

}  // namespace tarven::service
