#pragma once
// A whole module at once, for both front ends: read it into a backup, write a backup back part by
// part and read each part back. Results come as data (what each part came to, where a stop
// happened); each front end says them in its own words. Long work reports its progress over all
// parts through one callback, which also asks it to stop: the work then stops at the next safe
// point (between two blocks of a write, or between two parts), never inside a data stream.

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "device/device.h"
#include "device/operations.h"
#include "device/outcome.h"
#include "device/progress.h"
#include "model/backup.h"

namespace tarven::service {

// The pieces a module is read in, in their order.
enum class ReadStage { Status, Sector, Rom, Amt, Kvp, Ram };

struct ModuleReading {
  // Done when every part arrived. Otherwise the first failure, at `failed_at`; a stop asked for
  // through the progress callback is Failure::Cancelled. Failure::CncLeftStopped at the RAM means
  // the backup is whole and only the CNC could not be started again.
  device::Outcome outcome;
  ReadStage failed_at = ReadStage::Status;
  // What the RAM read found of the CNC (once the reading got that far).
  bool ram_reached = false;
  device::CncFound cnc;

  // Every part arrived: the backup may be saved.
  bool whole() const {
    return outcome.ok() ||
           (failed_at == ReadStage::Ram && outcome.failure == device::Failure::CncLeftStopped);
  }
};

// Reads the module's application personality into `backup`: its firmware version first (the
// application must answer), then the configuration sector, the main ROM, AMT, KVP and the RAM.
// The CNC is left as it was found: it is stopped for the RAM read and started again only when it
// was running. `progress` is told the bytes done over all parts.
ModuleReading ReadModule(device::Link& link, model::Backup& backup,
                         const device::Progress& progress = {});

// The bytes of a backup file for `backup`, its members dated now.
std::string BackupArchive(const model::Backup& backup);

// A backup's name proposed from the module's serial number and today's date:
// "tarven-SERIAL-2026-12-11.tar" ("tarven-2026-12-11.tar" without a serial number). Characters
// that do not belong in a file name become '_'.
std::string ProposedBackupName(const std::string& serial_number);

// Which parts of a backup to write back. The RAM needs a bank to be stored in.
struct RestoreRequest {
  std::set<model::BackupPart> parts;
  std::optional<device::RamBank> ram_bank;
  bool verify = true;
};

// A sector part whose bytes fail their checksum in the backup: writing it would seal damaged bytes
// under a fresh checksum. Refused before anything is written.
enum class DamagedSector { None, ConfigBlock, ParamTable };
DamagedSector FindDamagedSector(const std::set<model::BackupPart>& parts,
                                const model::Backup& backup);

// What one written part came to. The configuration block and the parameter table go in one write
// of the sector, so one result may cover both.
struct PartResult {
  enum class State {
    Failed,          // the write failed (`written` says how)
    Written,         // written whole, not read back
    Verified,        // written and read back the same
    Differs,         // written, but reads back different from `first_difference` on
    ReadBackFailed,  // written whole, but reading it back failed (`read_back` says how)
  };
  std::vector<model::BackupPart> parts;
  State state = State::Failed;
  device::Outcome written;
  device::Outcome read_back;
  std::uint32_t first_difference = 0;  // a module address

  bool done() const { return state == State::Written || state == State::Verified; }
};

struct RestoreReport {
  std::vector<PartResult> parts;  // in the order written
  // A stop was asked for: the parts above are all that was written (the last may be cut short
  // between blocks: its result says Failure::Cancelled).
  bool stopped = false;

  bool all_done() const;
};

// Writes the parts of `backup` that `request` names, in this order: the sector (configuration
// block, parameter table or both: both go back byte for byte, one only with its own bytes), the
// main ROM, AMT, KVP and the RAM, each read back after its write when asked (the RAM, whose store
// restarts the module, is not). `progress` is told the bytes done over all writes and read-backs;
// a stop it asks for is honoured before the next part, and inside an image between two blocks.
// Check FindDamagedSector first.
RestoreReport Restore(device::Link& link, const model::Backup& backup,
                      const RestoreRequest& request, const device::Progress& progress = {});

}  // namespace tarven::service
