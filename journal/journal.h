#pragma once
// The journal: one record for every change made to a module, with what each written part held
// before where that was kept, in one SQLite file. Several programs and threads may write to the
// same file at once (write-ahead log, waits for each other's transactions). Records are never
// dropped; the kept before-states are bounded in size, the oldest going first.

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

struct sqlite3;

namespace tarven::journal {

inline constexpr std::uint64_t kDefaultBeforeStateLimit = 64ull * 1024 * 1024;

struct Part {
  std::string name;  // "rom", "amt", "kvp", "config", "ram", "firmware"
  std::optional<std::uint32_t> address;
  std::uint64_t size = 0;
  std::string sha256;         // of what was written
  std::string before_sha256;  // of what it replaced; empty when that was not read
  bool before_kept = false;   // the replaced bytes are still in the journal
};

struct Record {
  std::int64_t id = 0;
  std::string time;  // UTC, "2026-05-31T14:02:07Z"
  std::string user;
  std::string computer;
  std::string program;
  std::string version;
  std::string serial;
  std::string location;
  std::string path;
  std::string firmware;   // the module's firmware version, "4.54"; empty when not known
  std::string operation;  // "image write", "config write", "cnc stop", ...
  std::string detail;     // "bank main", "170462=177777"
  std::string arguments;  // the command line, or the window's control
  std::string run;        // the same for every record of one command on one program run
  std::string result;     // "done", "failed", "stopped"
  std::string result_detail;  // where and why it failed, or where it stopped
  std::vector<Part> parts;
};

struct Filter {
  // A record's serial number, USB location or path; empty for every module.
  std::string device;
  // The earliest time, in the form of Record::time or a prefix of it ("2026-05-31"); empty for
  // all.
  std::string since;
};

class Journal {
 public:
  struct Opened {
    std::unique_ptr<Journal> journal;
    // Why it could not be opened (then `journal` is null).
    std::string error;
    // Where a damaged file was moved before a new one was started; empty when none was.
    std::string moved_aside;
  };
  // Opens `path`, creating it and its folder when missing. A file that is not a journal SQLite
  // can read (damaged, or anything else) is moved aside to "PATH.damaged-TIME" and a new one
  // started.
  static Opened Open(const std::string& path,
                     std::uint64_t before_state_limit = kDefaultBeforeStateLimit);
  ~Journal();
  Journal(const Journal&) = delete;
  Journal& operator=(const Journal&) = delete;

  const std::string& path() const { return path_; }

  // Appends `record` (its id and time are set here) with the bytes each part replaced (one per
  // part, nothing where not read). False, with the reason, when it could not be written.
  bool Append(Record& record, const std::vector<std::optional<std::vector<std::uint8_t>>>& before,
              std::string& error);

  // Records in the order they were written.
  bool List(const Filter& filter, std::vector<Record>& records, std::string& error);
  // One record; nothing, with the reason (or no reason when there is no such record).
  std::optional<Record> Get(std::int64_t id, std::string& error);
  // The bytes that part `index` of record `id` replaced, when they are kept.
  std::optional<std::vector<std::uint8_t>> BeforeState(std::int64_t id, std::size_t index,
                                                       std::string& error);
  // The records of one command's run on one module (`serial` and `location` as recorded), in
  // order.
  bool RunRecords(const Record& of, std::vector<Record>& records, std::string& error);

  // The total size of the kept before-states.
  std::uint64_t BeforeStateBytes(std::string& error);

 private:
  Journal(std::string path, sqlite3* db, std::uint64_t limit);
  bool Query(const std::string& where, const std::vector<std::string>& values,
             std::vector<Record>& records, std::string& error);

  std::string path_;
  sqlite3* db_;
  std::uint64_t limit_;
  std::mutex mutex_;
};

// False in a build made without SQLite: it keeps no journal, and Journal::Open says why.
bool Kept();

// The current time in the form of Record::time.
std::string UtcNow();
// "2026-05-31" or "2026-05-31T14:02[:07][Z]" (also with a blank for the T) as a Record::time
// prefix to compare with; nothing when it is neither.
std::optional<std::string> SinceText(const std::string& text);

}  // namespace tarven::journal
