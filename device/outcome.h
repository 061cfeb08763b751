#pragma once
// What an operation on the module came to: done, or what failed and where. Operations return it
// instead of throwing; each front end turns it into its own words (tarvenctl: one line on standard
// error and its exit status; the window: a message where it shows one, nothing where it is silent).

#include <cstdint>
#include <string>

namespace tarven::device {

enum class Failure {
  None,
  NoModule,          // no module in any personality answered the search
  BootLoaderOnly,    // the module runs its boot loader, the operation needs the application
  NoIdentify,        // a device with the module's ids is there but does not answer identify
  NoAccess,          // a device with the module's ids is there but cannot be opened: `subject`
                     // is its path, `reason` the system's reason
  NotAnswering,      // a report was refused: `report` and `direction` say which
  ChecksumMismatch,  // data read from the module failed its checksum
  ReadBeforeWrite,   // the read that a read-modify-write needs failed; nothing was written
  FileError,         // `subject` names the file, `reason` is the system's reason
  Cancelled,         // stopped on request between blocks; `done` says how far it got
  CncLeftStopped,    // the RAM arrived whole, but the command that starts the CNC again was
                     // refused (`report`): the data is good, and the CNC stands
  InvalidRequest,    // the tool asked for something that does not fit (a fault of the caller)
  ModuleBusy,        // another program holds the module: `subject` is where it is (its USB
                     // location, or its path), `reason` who holds it; nothing was sent to it
};

enum class Direction { Send, Fetch };

struct Outcome {
  Failure failure = Failure::None;
  // NotAnswering: the report of the operation that was refused, counting from 1 over everything
  // the operation put on the wire or asked for (the search's identify exchange included).
  std::uint64_t report = 0;
  Direction direction = Direction::Send;
  // Bytes of the transfer that were done, and its total (0 when it has no data stream).
  std::uint64_t done = 0;
  std::uint64_t total = 0;
  std::string subject;  // a file name, or what was being read
  std::string reason;   // the system's reason of a file error

  bool ok() const { return failure == Failure::None; }
  // The module could not be opened at all: none there, only its boot loader, or a device that
  // does not identify itself. The window's handlers end silently then.
  bool module_absent() const {
    return failure == Failure::NoModule || failure == Failure::BootLoaderOnly ||
           failure == Failure::NoIdentify || failure == Failure::NoAccess;
  }
  // Nothing was sent: the module was absent, or another program held it. The window's handlers
  // end without a word of their own then (the window tells of a held module where it finds one).
  bool not_reached() const { return module_absent() || failure == Failure::ModuleBusy; }
  explicit operator bool() const { return ok(); }

  static Outcome Done() { return {}; }
  static Outcome Failed(Failure failure) {
    Outcome outcome;
    outcome.failure = failure;
    return outcome;
  }
  static Outcome RefusedReport(std::uint64_t report, Direction direction) {
    Outcome outcome = Failed(Failure::NotAnswering);
    outcome.report = report;
    outcome.direction = direction;
    return outcome;
  }
  static Outcome File(std::string name, std::string reason) {
    Outcome outcome = Failed(Failure::FileError);
    outcome.subject = std::move(name);
    outcome.reason = std::move(reason);
    return outcome;
  }
};

// One line for people, in English, without the program's name: "the module did not answer
// (report 3, fetch)", "cannot open /x/y: No such file or directory".
std::string Describe(const Outcome& outcome);

}  // namespace tarven::device
