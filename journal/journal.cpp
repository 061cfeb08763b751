#include "journal/journal.h"

#include <sqlite3.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <system_error>
#include <utility>

#include "journal/user_place.h"

namespace tarven::journal {
namespace {

// How long a write waits for another program's transaction on the same file.
constexpr int kBusyTimeoutMs = 30000;
// The journal's own mark in the file's header, so that another program's database is told apart.
constexpr int kApplicationId = 0x54524A31;
constexpr int kSchemaVersion = 1;

constexpr const char* kSchema = R"sql(
CREATE TABLE IF NOT EXISTS records(
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  time TEXT NOT NULL, user TEXT NOT NULL, computer TEXT NOT NULL, program TEXT NOT NULL,
  version TEXT NOT NULL, serial TEXT NOT NULL, location TEXT NOT NULL, path TEXT NOT NULL,
  firmware TEXT NOT NULL, operation TEXT NOT NULL, detail TEXT NOT NULL, arguments TEXT NOT NULL,
  run TEXT NOT NULL, result TEXT NOT NULL, result_detail TEXT NOT NULL);
CREATE INDEX IF NOT EXISTS records_serial ON records(serial);
CREATE INDEX IF NOT EXISTS records_run ON records(run);
CREATE TABLE IF NOT EXISTS parts(
  record INTEGER NOT NULL, seq INTEGER NOT NULL, name TEXT NOT NULL, address INTEGER,
  size INTEGER NOT NULL, sha256 TEXT NOT NULL, before_sha256 TEXT NOT NULL,
  PRIMARY KEY(record, seq));
CREATE TABLE IF NOT EXISTS before_states(
  record INTEGER NOT NULL, seq INTEGER NOT NULL, size INTEGER NOT NULL, bytes BLOB NOT NULL,
  PRIMARY KEY(record, seq));
CREATE TABLE IF NOT EXISTS kept_bytes(
  id INTEGER PRIMARY KEY CHECK(id = 1), total INTEGER NOT NULL);
INSERT OR IGNORE INTO kept_bytes(id, total)
  SELECT 1, COALESCE(SUM(size), 0) FROM before_states;
)sql";

std::string Message(sqlite3* db, int code) {
  const char* text = db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(code);
  return text != nullptr ? text : "unknown error";
}

bool IsDamage(int code) {
  const int primary = code & 0xFF;
  return primary == SQLITE_CORRUPT || primary == SQLITE_NOTADB;
}

// A prepared statement that is finalised on every way out.
class Statement {
 public:
  Statement(sqlite3* db, const char* sql) { code_ = sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr); }
  ~Statement() { sqlite3_finalize(stmt_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  bool ok() const { return code_ == SQLITE_OK; }
  int code() const { return code_; }
  sqlite3_stmt* get() const { return stmt_; }
  void Text(int index, const std::string& text) {
    sqlite3_bind_text(stmt_, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
  }
  void Int(int index, std::int64_t value) { sqlite3_bind_int64(stmt_, index, value); }
  void Null(int index) { sqlite3_bind_null(stmt_, index); }
  void Blob(int index, const std::vector<std::uint8_t>& bytes) {
    sqlite3_bind_blob64(stmt_, index, bytes.data(), bytes.size(), SQLITE_STATIC);
  }
  int Step() { return code_ = sqlite3_step(stmt_); }
  std::string ColumnText(int column) const {
    const auto* text = sqlite3_column_text(stmt_, column);
    return text != nullptr
               ? std::string(reinterpret_cast<const char*>(text),
                             static_cast<std::size_t>(sqlite3_column_bytes(stmt_, column)))
               : std::string();
  }
  std::int64_t ColumnInt(int column) const { return sqlite3_column_int64(stmt_, column); }
  bool ColumnNull(int column) const { return sqlite3_column_type(stmt_, column) == SQLITE_NULL; }

 private:
  sqlite3_stmt* stmt_ = nullptr;
  int code_ = SQLITE_OK;
};

int Exec(sqlite3* db, const char* sql) { return sqlite3_exec(db, sql, nullptr, nullptr, nullptr); }

enum class Setup { Ready, Damaged, Failed };

// The check that finds pages a database cannot have (a damaged file's): `sql`'s answer is "ok".
// Setup::Ready when it is.
Setup Check(sqlite3* db, const char* sql, std::string& error) {
  Statement check(db, sql);
  int code = check.code();
  if (check.ok()) code = check.Step();
  if (code == SQLITE_ROW) {
    if (check.ColumnText(0) == "ok") return Setup::Ready;
    error = "its check found: " + check.ColumnText(0);
    return Setup::Damaged;
  }
  error = Message(db, code);
  return IsDamage(code) ? Setup::Damaged : Setup::Failed;
}

// Makes the file a journal: write-ahead log, the tables, its marks. Damaged: the file is not a
// database SQLite can read, or not ours. A journal already made is only checked: opening it
// writes nothing, so that a record costs no more than its own commit.
Setup SetUp(sqlite3* db, std::string& error) {
  sqlite3_busy_timeout(db, kBusyTimeoutMs);
  // Nothing is changed in the file before it is known to be a journal, or new.
  // The marks and the tables in one statement, so in one snapshot: read apart, another program
  // making the journal at that moment could be seen with its tables but without its mark.
  std::int64_t application = 0;
  std::int64_t version = 0;
  std::int64_t tables = 0;
  int code = SQLITE_OK;
  {
    Statement marks(db,
                    "SELECT (SELECT application_id FROM pragma_application_id), "
                    "(SELECT user_version FROM pragma_user_version), "
                    "(SELECT count(*) FROM sqlite_schema)");
    code = marks.code();
    if (marks.ok()) code = marks.Step();
    if (code == SQLITE_ROW) {
      application = marks.ColumnInt(0);
      version = marks.ColumnInt(1);
      tables = marks.ColumnInt(2);
      code = SQLITE_OK;
    }
  }
  if (IsDamage(code)) {
    error = Message(db, code);
    return Setup::Damaged;
  }
  if (code != SQLITE_OK) {
    error = Message(db, code);
    return Setup::Failed;
  }
  if (application != kApplicationId && (application != 0 || tables != 0)) {
    error = "it is another program's database";
    return Setup::Damaged;
  }
  if (tables != 0) {
    // The records and their parts are checked page by page; the kept bytes, which are most of a
    // full journal, are not (that would cost every run tens of milliseconds): a damaged one is
    // found when an undo reads it, and the undo says so.
    for (const char* sql : {"PRAGMA quick_check(records)", "PRAGMA quick_check(parts)",
                            "PRAGMA quick_check(kept_bytes)"}) {
      if (const Setup checked = Check(db, sql, error); checked != Setup::Ready) return checked;
    }
  }
  code = Exec(db, "PRAGMA journal_mode=WAL");
  // With the write-ahead log a commit need not wait for the disk: the file stays whole whatever
  // happens, and only the last records before a power cut may be missing. A record then costs a
  // change well under a millisecond instead of a disk's flush.
  if (code == SQLITE_OK) code = Exec(db, "PRAGMA synchronous=NORMAL");
  if (code == SQLITE_OK && application == kApplicationId && version == kSchemaVersion) {
    return Setup::Ready;
  }
  if (code == SQLITE_OK) code = Exec(db, "BEGIN IMMEDIATE");
  if (code == SQLITE_OK) code = Exec(db, kSchema);
  if (code == SQLITE_OK) {
    const std::string marks = "PRAGMA application_id=" + std::to_string(kApplicationId) +
                              "; PRAGMA user_version=" + std::to_string(kSchemaVersion);
    code = Exec(db, marks.c_str());
  }
  if (code == SQLITE_OK) code = Exec(db, "COMMIT");
  if (code != SQLITE_OK) {
    error = Message(db, code);
    Exec(db, "ROLLBACK");
    return IsDamage(code) ? Setup::Damaged : Setup::Failed;
  }
  return Setup::Ready;
}

std::string CompactUtcNow() {
  std::string text = UtcNow();
  std::string compact;
  for (const char c : text) {
    if (c != '-' && c != ':') compact += c;
  }
  return compact;
}

// Moves a damaged file (and its write-ahead log) out of the way under a name of its own.
bool MoveAside(const std::string& path, std::string& moved, std::string& error) {
  const std::string base = path + ".damaged-" + CompactUtcNow();
  moved = base;
  for (int n = 2; std::filesystem::exists(moved); ++n) moved = base + "-" + std::to_string(n);
  std::error_code ec;
  std::filesystem::rename(path, moved, ec);
  if (ec) {
    error = "cannot move it aside: " + ec.message();
    return false;
  }
  std::filesystem::rename(path + "-wal", moved + "-wal", ec);
  std::filesystem::remove(path + "-shm", ec);
  return true;
}

// Whether the file at `path` begins as a journal of ours does: SQLite's header with our
// application id in it (bytes 68 to 71, most significant first). Its pages may still be damaged.
bool CarriesOurMark(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  char header[72] = {};
  if (!file.read(header, sizeof header)) return false;
  const auto byte = [&header](int at) { return static_cast<std::uint32_t>(static_cast<unsigned char>(header[at])); };
  const std::uint32_t id = byte(68) << 24 | byte(69) << 16 | byte(70) << 8 | byte(71);
  return std::memcmp(header, "SQLite format 3", 16) == 0 && id == static_cast<std::uint32_t>(kApplicationId);
}

sqlite3* OpenFile(const std::string& path, std::string& error) {
  sqlite3* db = nullptr;
  const int code = sqlite3_open_v2(path.c_str(), &db,
                                   SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE |
                                       SQLITE_OPEN_FULLMUTEX,
                                   nullptr);
  if (code != SQLITE_OK) {
    error = Message(db, code);
    sqlite3_close(db);
    return nullptr;
  }
  sqlite3_extended_result_codes(db, 1);
  return db;
}

void ReadParts(sqlite3* db, Record& record) {
  Statement parts(db,
                  "SELECT p.name, p.address, p.size, p.sha256, p.before_sha256, "
                  "(SELECT count(*) FROM before_states b WHERE b.record = p.record AND "
                  "b.seq = p.seq) FROM parts p WHERE p.record = ? ORDER BY p.seq");
  parts.Int(1, record.id);
  while (parts.Step() == SQLITE_ROW) {
    Part part;
    part.name = parts.ColumnText(0);
    if (!parts.ColumnNull(1)) part.address = static_cast<std::uint32_t>(parts.ColumnInt(1));
    part.size = static_cast<std::uint64_t>(parts.ColumnInt(2));
    part.sha256 = parts.ColumnText(3);
    part.before_sha256 = parts.ColumnText(4);
    part.before_kept = parts.ColumnInt(5) > 0;
    record.parts.push_back(std::move(part));
  }
}

}  // namespace

bool Kept() { return true; }

Journal::Opened Journal::Open(const std::string& path, std::uint64_t before_state_limit) {
  Opened opened;
  std::error_code ec;
  const std::filesystem::path file(path);
  if (file.has_parent_path()) std::filesystem::create_directories(file.parent_path(), ec);
  for (int attempt = 0; attempt < 2; ++attempt) {
    std::string error;
    sqlite3* db = OpenFile(path, error);
    if (db == nullptr) {
      opened.error = "cannot open the journal " + path + ": " + error;
      return opened;
    }
    const Setup setup = SetUp(db, error);
    if (setup == Setup::Ready) {
      opened.journal.reset(new Journal(path, db, before_state_limit));
      return opened;
    }
    sqlite3_close(db);
    if (setup == Setup::Failed || attempt > 0) {
      opened.error = "cannot use the journal " + path + ": " + error;
      return opened;
    }
    // The journal in the user's data folder is the programs' own: whatever is damaged there is
    // moved aside. A file named on the command line is moved only when it is recognisably a
    // journal of ours; anything else is some other file named by mistake, and is left as it is.
    if (path != DefaultJournalPath() && !CarriesOurMark(path)) {
      opened.error = path + " is not a journal (" + error +
                     "); it was left as it is: name a journal, or a file that does not exist";
      return opened;
    }
    std::string why;
    if (!MoveAside(path, opened.moved_aside, why)) {
      opened.error = "the journal " + path + " is damaged (" + error + ") and " + why;
      opened.moved_aside.clear();
      return opened;
    }
  }
  return opened;
}

Journal::Journal(std::string path, sqlite3* db, std::uint64_t limit)
    : path_(std::move(path)), db_(db), limit_(limit) {}

Journal::~Journal() { sqlite3_close(db_); }

bool Journal::Append(Record& record,
                     const std::vector<std::optional<std::vector<std::uint8_t>>>& before,
                     std::string& error) {
  const std::lock_guard<std::mutex> lock(mutex_);
  record.time = UtcNow();
  int code = Exec(db_, "BEGIN IMMEDIATE");
  auto fail = [&](int failed) {
    error = Message(db_, failed);
    Exec(db_, "ROLLBACK");
    return false;
  };
  if (code != SQLITE_OK) return fail(code);
  {
    Statement insert(db_,
                     "INSERT INTO records(time, user, computer, program, version, serial, "
                     "location, path, firmware, operation, detail, arguments, run, result, "
                     "result_detail) VALUES(?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)");
    if (!insert.ok()) return fail(insert.code());
    const std::string* fields[] = {&record.time,     &record.user,      &record.computer,
                                   &record.program,  &record.version,   &record.serial,
                                   &record.location, &record.path,      &record.firmware,
                                   &record.operation, &record.detail,   &record.arguments,
                                   &record.run,      &record.result,    &record.result_detail};
    int index = 1;
    for (const std::string* field : fields) insert.Text(index++, *field);
    if (insert.Step() != SQLITE_DONE) return fail(insert.code());
  }
  record.id = sqlite3_last_insert_rowid(db_);
  std::uint64_t added = 0;
  for (std::size_t i = 0; i < record.parts.size(); ++i) {
    Part& part = record.parts[i];
    Statement insert(db_,
                     "INSERT INTO parts(record, seq, name, address, size, sha256, before_sha256) "
                     "VALUES(?,?,?,?,?,?,?)");
    if (!insert.ok()) return fail(insert.code());
    insert.Int(1, record.id);
    insert.Int(2, static_cast<std::int64_t>(i));
    insert.Text(3, part.name);
    if (part.address) {
      insert.Int(4, *part.address);
    } else {
      insert.Null(4);
    }
    insert.Int(5, static_cast<std::int64_t>(part.size));
    insert.Text(6, part.sha256);
    insert.Text(7, part.before_sha256);
    if (insert.Step() != SQLITE_DONE) return fail(insert.code());
    if (i < before.size() && before[i]) {
      Statement keep(db_, "INSERT INTO before_states(record, seq, size, bytes) VALUES(?,?,?,?)");
      if (!keep.ok()) return fail(keep.code());
      keep.Int(1, record.id);
      keep.Int(2, static_cast<std::int64_t>(i));
      keep.Int(3, static_cast<std::int64_t>(before[i]->size()));
      keep.Blob(4, *before[i]);
      if (keep.Step() != SQLITE_DONE) return fail(keep.code());
      part.before_kept = true;
      added += before[i]->size();
    }
  }
  if (added > 0) {
    // The kept states are bounded: the oldest go first, the records stay. Their total is kept
    // beside them, so that a record does not cost a count of every state kept.
    Statement total(db_, "UPDATE kept_bytes SET total = total + ? WHERE id = 1 RETURNING total");
    if (!total.ok()) return fail(total.code());
    total.Int(1, static_cast<std::int64_t>(added));
    if (total.Step() != SQLITE_ROW) return fail(total.code());
    std::int64_t bytes = total.ColumnInt(0);
    while (bytes > static_cast<std::int64_t>(limit_)) {
      Statement oldest(db_,
                       "SELECT record, seq, size FROM before_states ORDER BY record, seq LIMIT 1");
      if (!oldest.ok()) return fail(oldest.code());
      const int found = oldest.Step();
      if (found == SQLITE_DONE) {
        bytes = 0;  // a total that no longer matches what is kept starts again from nothing
        break;
      }
      if (found != SQLITE_ROW) return fail(oldest.code());
      const std::int64_t id = oldest.ColumnInt(0);
      const std::int64_t seq = oldest.ColumnInt(1);
      bytes -= oldest.ColumnInt(2);
      Statement drop(db_, "DELETE FROM before_states WHERE record = ? AND seq = ?");
      drop.Int(1, id);
      drop.Int(2, seq);
      if (drop.Step() != SQLITE_DONE) return fail(drop.code());
      if (id == record.id && seq >= 0 && static_cast<std::size_t>(seq) < record.parts.size()) {
        record.parts[static_cast<std::size_t>(seq)].before_kept = false;
      }
    }
    Statement keep(db_, "UPDATE kept_bytes SET total = ? WHERE id = 1");
    keep.Int(1, bytes);
    if (keep.Step() != SQLITE_DONE) return fail(keep.code());
  }
  code = Exec(db_, "COMMIT");
  if (code != SQLITE_OK) return fail(code);
  return true;
}

bool Journal::Query(const std::string& where, const std::vector<std::string>& values,
                    std::vector<Record>& records, std::string& error) {
  const std::string sql =
      "SELECT id, time, user, computer, program, version, serial, location, path, firmware, "
      "operation, detail, arguments, run, result, result_detail FROM records" +
      where + " ORDER BY id";
  Statement query(db_, sql.c_str());
  if (!query.ok()) {
    error = Message(db_, query.code());
    return false;
  }
  for (std::size_t i = 0; i < values.size(); ++i) query.Text(static_cast<int>(i + 1), values[i]);
  int code = SQLITE_ROW;
  while ((code = query.Step()) == SQLITE_ROW) {
    Record record;
    record.id = query.ColumnInt(0);
    std::string* fields[] = {&record.time,      &record.user,     &record.computer,
                             &record.program,   &record.version,  &record.serial,
                             &record.location,  &record.path,     &record.firmware,
                             &record.operation, &record.detail,   &record.arguments,
                             &record.run,       &record.result,   &record.result_detail};
    int column = 1;
    for (std::string* field : fields) *field = query.ColumnText(column++);
    records.push_back(std::move(record));
  }
  if (code != SQLITE_DONE) {
    error = Message(db_, code);
    return false;
  }
  for (Record& record : records) ReadParts(db_, record);
  return true;
}

bool Journal::List(const Filter& filter, std::vector<Record>& records, std::string& error) {
  const std::lock_guard<std::mutex> lock(mutex_);
  std::string where;
  std::vector<std::string> values;
  if (!filter.device.empty()) {
    where += " WHERE (serial = ?1 OR location = ?1 OR path = ?1)";
    values.push_back(filter.device);
  }
  if (!filter.since.empty()) {
    where += where.empty() ? " WHERE" : " AND";
    where += " time >= ?" + std::to_string(values.size() + 1);
    values.push_back(filter.since);
  }
  return Query(where, values, records, error);
}

std::optional<Record> Journal::Get(std::int64_t id, std::string& error) {
  const std::lock_guard<std::mutex> lock(mutex_);
  std::vector<Record> records;
  error.clear();
  if (!Query(" WHERE id = " + std::to_string(id), {}, records, error) || records.empty()) {
    return std::nullopt;
  }
  return std::move(records.front());
}

bool Journal::RunRecords(const Record& of, std::vector<Record>& records, std::string& error) {
  const std::lock_guard<std::mutex> lock(mutex_);
  return Query(" WHERE run = ?1 AND serial = ?2 AND location = ?3 AND path = ?4",
               {of.run, of.serial, of.location, of.path}, records, error);
}

std::optional<std::vector<std::uint8_t>> Journal::BeforeState(std::int64_t id, std::size_t index,
                                                              std::string& error) {
  const std::lock_guard<std::mutex> lock(mutex_);
  Statement query(db_, "SELECT bytes FROM before_states WHERE record = ? AND seq = ?");
  query.Int(1, id);
  query.Int(2, static_cast<std::int64_t>(index));
  const int code = query.Step();
  if (code != SQLITE_ROW) {
    if (code != SQLITE_DONE) error = Message(db_, code);
    return std::nullopt;
  }
  const auto* bytes = static_cast<const std::uint8_t*>(sqlite3_column_blob(query.get(), 0));
  const auto size = static_cast<std::size_t>(sqlite3_column_bytes(query.get(), 0));
  if (bytes == nullptr) return std::vector<std::uint8_t>();
  return std::vector<std::uint8_t>(bytes, bytes + size);
}

std::uint64_t Journal::BeforeStateBytes(std::string& error) {
  const std::lock_guard<std::mutex> lock(mutex_);
  Statement total(db_, "SELECT total FROM kept_bytes WHERE id = 1");
  if (!total.ok() || total.Step() != SQLITE_ROW) {
    error = Message(db_, total.code());
    return 0;
  }
  return static_cast<std::uint64_t>(std::max<std::int64_t>(0, total.ColumnInt(0)));
}

}  // namespace tarven::journal
