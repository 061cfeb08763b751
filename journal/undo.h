#pragma once
// Putting a module back as it was before a change that the journal kept the replaced bytes of.
// An undo takes back the whole command that wrote the record (a restore's every part on that
// module), newest part first, and only when the module still holds what that command put there:
// otherwise something else changed it since, and writing the old bytes over that would lose it.
// Each part is read back afterwards. The writes go through the link, so its recorder records the
// undo like any other change.

#include <cstdint>
#include <string>
#include <vector>

#include "device/device.h"
#include "device/outcome.h"
#include "journal/journal.h"

namespace tarven::journal {

enum class UndoStatus {
  Done,          // every part was put back and read back as it was
  NoSuchRecord,  // `detail` says which
  NothingKept,   // the record's command wrote nothing whose before-state is still kept
  OtherModule,   // the module reached is not the one the record names (its serial differs)
  Changed,       // the module no longer holds what was written (`part` says where first)
  Failed,        // reading, writing or reading back failed (`outcome`, `part`)
  NotVerified,   // written, but a part read back different (`part`)
  JournalError,  // the journal could not be read (`detail`)
};

struct UndoResult {
  UndoStatus status = UndoStatus::Done;
  std::string part;    // the part concerned: "rom", "config", ...
  std::string detail;  // words for people
  device::Outcome outcome;
  // The parts put back, in the order written.
  std::vector<std::string> restored;
};

// Undoes the command that wrote record `id` on the module `link` reaches. With `force`, a module
// that changed since (or another module) is written all the same.
UndoResult Undo(device::Link& link, Journal& journal, std::int64_t id, bool force);

// The newest record on the module with `serial` (any module when empty) whose command can be
// undone; 0 when there is none.
std::int64_t LastUndoable(Journal& journal, const std::string& serial, std::string& error);

// One line for people: "put back rom, config; each read back as it was".
std::string Describe(const UndoResult& result);

}  // namespace tarven::journal
