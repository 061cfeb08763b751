#pragma once
// The journal as the links' change recorder: every change an operation notes becomes one record,
// with who made it (the program, its version, the command) and where (the user, the computer).
// The journal file is opened at the first change, so that a run that changes nothing never
// touches it. A journal that cannot be written never fails the operation: its reason is kept, to
// be told once.

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "device/change_journal.h"
#include "journal/journal.h"

namespace tarven::journal {

struct Origin {
  std::string program;  // "tarvenctl", "tarven"
  std::string version;
  // The command as given, or the window's action.
  std::string arguments;
};

// The words of a command line as one text, each word that needs it in single quotes.
std::string CommandLine(const std::vector<std::string>& words);

class Recorder : public device::ChangeRecorder {
 public:
  // Records into the journal at `path`. With `read_before`, writes read what they replace first.
  Recorder(std::string path, Origin origin, bool read_before,
           std::uint64_t before_state_limit = kDefaultBeforeStateLimit);
  ~Recorder() override;

  bool ReadsBeforeState() const override { return read_before_; }
  bool AsksFirmwareVersion() const override { return asks_version_; }
  // Set before the recorder is hung on any link.
  void SetAsksFirmwareVersion(bool ask) { asks_version_ = ask; }
  void Record(const device::ChangeNote& note) override;

  // What the front end needs to tell, each once: that the journal could not be written (and
  // why), that a damaged journal was moved aside. Taken lines are not given again.
  std::vector<std::string> TakeNotices();
  // The id of the last record this recorder wrote (0 for none).
  std::int64_t last_id() const;
  // Changes the action the next records name (the window names each control).
  void SetArguments(std::string arguments);

 private:
  Journal* Opened();

  const std::string path_;
  Origin origin_;
  const bool read_before_;
  bool asks_version_ = false;
  const std::uint64_t limit_;
  const std::string run_;
  mutable std::mutex mutex_;
  bool tried_open_ = false;
  bool warned_ = false;
  std::unique_ptr<Journal> journal_;
  std::vector<std::string> notices_;
  std::int64_t last_id_ = 0;
};

// The record a note becomes (without its id and time).
Record RecordOf(const device::ChangeNote& note, const Origin& origin, const std::string& run);

}  // namespace tarven::journal
