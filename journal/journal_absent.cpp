// The store of a build made without SQLite (the Windows build: Debian has no SQLite for
// MinGW-w64). Such a build keeps no journal: Open says so, and nothing else is ever reached,
// since no Journal can be made.
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "journal/journal.h"

namespace tarven::journal {
namespace {

constexpr const char* kNoJournal = "this build keeps no journal (it was made without SQLite)";

}  // namespace

bool Kept() { return false; }

Journal::Opened Journal::Open(const std::string& /*path*/, std::uint64_t /*before_state_limit*/) {
  return Opened{nullptr, kNoJournal, {}};
}

Journal::Journal(std::string path, sqlite3* db, std::uint64_t limit)
    : path_(std::move(path)), db_(db), limit_(limit) {}

Journal::~Journal() = default;

bool Journal::Append(Record& /*record*/,
                     const std::vector<std::optional<std::vector<std::uint8_t>>>& /*before*/,
                     std::string& error) {
  error = kNoJournal;
  return false;
}

bool Journal::List(const Filter& /*filter*/, std::vector<Record>& /*records*/, std::string& error) {
  error = kNoJournal;
  return false;
}

std::optional<Record> Journal::Get(std::int64_t /*id*/, std::string& error) {
  error = kNoJournal;
  return std::nullopt;
}

bool Journal::RunRecords(const Record& /*of*/, std::vector<Record>& /*records*/,
                         std::string& error) {
  error = kNoJournal;
  return false;
}

std::optional<std::vector<std::uint8_t>> Journal::BeforeState(std::int64_t /*id*/,
                                                              std::size_t /*index*/,
                                                              std::string& error) {
  error = kNoJournal;
  return std::nullopt;
}

std::uint64_t Journal::BeforeStateBytes(std::string& error) {
  error = kNoJournal;
  return 0;
}

}  // namespace tarven::journal
