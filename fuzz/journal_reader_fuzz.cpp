// Any bytes as a journal file. The journal is opened (a damaged file is moved aside and a new one
// started) and everything in it is read: the records, their parts, the kept before-states, each
// record's run. Whatever the file holds, this is refused or read, and never crashes; a record read
// is whole (its parts are the parts its id has).

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "journal/journal.h"

namespace {

namespace fs = std::filesystem;

fs::path Folder() {
  // Never destroyed, so that the exit handler that removes it can still name it.
  static const fs::path* const folder = [] {
    auto* made =
        new fs::path(fs::temp_directory_path() / ("journal-fuzz-" + std::to_string(::getpid())));
    fs::create_directories(*made);
    std::atexit([] {
      std::error_code ec;
      fs::remove_all(Folder(), ec);
    });
    return made;
  }();
  return *folder;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const fs::path folder = Folder();
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(folder, ec)) fs::remove(entry.path(), ec);
  const std::string path = (folder / "journal.sqlite").string();
  {
    std::ofstream file(path, std::ios::binary);
    file.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  tarven::journal::Journal::Opened opened = tarven::journal::Journal::Open(path);
  if (!opened.journal) return 0;
  std::vector<tarven::journal::Record> records;
  std::string error;
  if (!opened.journal->List({}, records, error)) return 0;
  for (const tarven::journal::Record& record : records) {
    const auto again = opened.journal->Get(record.id, error);
    if (!again || again->parts.size() != record.parts.size()) std::abort();
    for (std::size_t i = 0; i < record.parts.size(); ++i) {
      const auto before = opened.journal->BeforeState(record.id, i, error);
      if (before && !record.parts[i].before_kept) std::abort();
    }
    std::vector<tarven::journal::Record> run;
    opened.journal->RunRecords(record, run, error);
  }
  tarven::journal::Filter filter;
  filter.device = "SIM00001";
  filter.since = "2026-01-01";
  records.clear();
  opened.journal->List(filter, records, error);
  return 0;
}
