#pragma once
// Operations on the module that both front ends call. Each one opens the module into its link's
// HidHandle, and closes it and sets it back to the invalid handle on every way out. Each returns an Outcome: done, or what failed and
// where; the window may ignore it where it stays silent, tarvenctl turns it into words.

#include <cstdint>
#include <functional>
#include <span>

#include "device/device.h"
#include "device/outcome.h"
#include "device/progress.h"
#include "model/config_sector.h"
#include "model/memory_areas.h"

namespace tarven::device {

enum class Presence { Absent, Application, BootLoader };

struct StatusReading {
  Presence presence = Presence::Absent;
  // From the application's status answer; 0 otherwise, and 0 when the answer did not arrive.
  std::uint8_t run_flag = 0;
  std::uint8_t ext_dac_flag = 0;
  // Which answers arrived: the application's status, or the boot loader's two version words.
  bool status_read = false;
  bool firmware_version_read = false;
  // Done when the module was found and every answer arrived; otherwise why not.
  Outcome outcome;
};

// Runs while the application is open in a status poll, after its status was read: the live pages
// read their registers over the same handle.
using OpenApplicationHook =
    std::function<void(Handle handle, std::uint8_t run_flag, std::uint8_t ext_dac_flag)>;

// One status poll. Looks for the application first: reads its status into
// AppModule.FirmwareVersion and the flags, runs `while_open`, and clears BootModule.Found (the
// module cannot be in both personalities at once). Failing that, looks for the boot loader and
// reads BootModule.BootVersion and BootModule.FirmwareVersion; a read that fails keeps the
// previous word. A failed read does not stop the poll: the window shows what it has, as a poll
// is repeated anyway; the reading says what arrived.
StatusReading PollStatus(Link& link, const OpenApplicationHook& while_open = {});


// Sends one command without parameters or answer to the application personality.
Outcome SendApplicationCommand(Link& link, std::uint8_t code);

// Reads a flash area (or the configuration sector) of the application into `out`, which must
// hold the area's size. `out` changes only when every byte arrived. `progress` is told after
// every 2048 bytes; a stop it asks for is honoured once the module's stream has ended, and
// leaves `out` unchanged.
Outcome ReadFlashArea(Link& link, model::AreaId area, std::span<std::uint8_t> out,
                      const Progress& progress = {});

// Stores `data` (the area's size) in a flash area of the application, block by block. As the
// module expects, every block is announced, streamed and closed even after a refused report; the
// outcome names the first refused one. `progress` is told after every block and may stop the
// write between blocks.
Outcome WriteFlashArea(Link& link, model::AreaId area, std::span<const std::uint8_t> data,
                       const Progress& progress = {});

// Reads the module's RAM into `out` (16384 bytes): stops the CNC, reads, and starts the CNC again
// whatever became of the read and whatever the CNC's state was before. `out` changes only when
// every byte arrived; `progress` as for ReadFlashArea. When every byte arrived and only the start
// of the CNC was refused, `out` holds the RAM and the outcome is Failure::CncLeftStopped.
Outcome ReadRam(Link& link, std::span<std::uint8_t> out, const Progress& progress = {});

// The CNC's run state as a RAM read found it.
struct CncFound {
  bool read = false;         // the run flag arrived
  bool was_running = false;  // and said that the CNC ran
};

// As ReadRam, but leaves the CNC as it was found: reads the run flag first (the status, over the
// same handle), then stops the CNC and reads, and starts the CNC again only when it was running
// (whatever became of the read, as ReadRam does). A CNC that was stopped is left stopped. When the
// run flag does not arrive, nothing else is sent: the CNC is not touched, `found.read` is false
// and the outcome names the refused report.
Outcome ReadRamAsFound(Link& link, std::span<std::uint8_t> out, CncFound& found,
                       const Progress& progress = {});

enum class RamBank { Main, Reserve };

// Writes `data` (16384 bytes) into the module's RAM and has it stored in a non-volatile bank:
// stops the CNC, announces and streams the RAM, stores it, and restarts the module. The store and
// the restart go out even after a refused report, as the module expects; the outcome names the
// first refused one. `progress` is told every 2048 bytes; the stream cannot stop halfway, since
// the module counts on the announced length.
Outcome WriteRam(Link& link, std::span<const std::uint8_t> data, RamBank bank,
                 const Progress& progress = {});

// Read-modify-write of the configuration sector, over one open handle: reads the whole sector,
// lets `change` alter it, and writes it back. When the read fails nothing is written
// (Failure::ReadBeforeWrite), since the write would put into the sector bytes not read from it;
// nor when `change` returns anything but done, which is then the outcome. `progress` is asked
// once, after the read and before the write, whether to go on: a stop asked for until then writes
// nothing (Failure::Cancelled, `done` 0). The write is one block, which is never cut: a stop asked
// for during it comes after the whole sector was written, and the outcome is done.
using SectorChange = std::function<Outcome(model::Sector sector)>;
Outcome UpdateConfigSector(Link& link, const SectorChange& change,
                           const Progress& progress = {});

}  // namespace tarven::device
