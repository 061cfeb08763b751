#include "device/operations.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "device/exchange.h"
#include "model/little_endian.h"

namespace tarven::device {

bool Exchange::OpenApplication() {
  LinkAccess::HidHandle(link_) = link_.OpenModule(LinkAccess::AppModule(link_));
  if (link_.HidHandle() == kInvalidHandle) {
    outcome_ = WhyNoApplication(link_);
    return false;
  }
  outcome_ = Outcome::Done();
  return true;
}

bool Exchange::OpenApplicationToChange() {
  if (!OpenApplication()) return false;
  const ChangeRecorder* recorder = link_.change_recorder();
  if (recorder == nullptr || !recorder->AsksFirmwareVersion() ||
      link_.AppModule().FirmwareVersion != 0) {
    return true;
  }
  std::uint8_t answer[8] = {};
  if (Send(Command(CmdStatus)) && Read(answer, sizeof answer)) {
    LinkAccess::AppModule(link_).FirmwareVersion = model::ReadLe32(answer);
  }
  return outcome_.ok();
}

bool Exchange::OpenBootLoader() {
  LinkAccess::HidHandle(link_) = link_.OpenModule(LinkAccess::BootModule(link_));
  if (link_.HidHandle() == kInvalidHandle) {
    outcome_ = WhyNoModule(link_);
    return false;
  }
  outcome_ = Outcome::Done();
  return true;
}

Outcome WhyNoModule(const Link& link) {
  const SearchReport& search = link.LastSearch();
  if (search.busy) {
    Outcome outcome = Outcome::Failed(Failure::ModuleBusy);
    outcome.subject = search.busy->location.empty() ? search.busy->path : search.busy->location;
    outcome.reason = DescribeHolder(search.busy->holder);
    return outcome;
  }
  if (search.not_answering > 0) return Outcome::Failed(Failure::NoIdentify);
  if (!search.unopened.empty()) {
    Outcome outcome = Outcome::Failed(Failure::NoAccess);
    outcome.subject = search.unopened.front().path;
    outcome.reason = search.unopened.front().reason;
    return outcome;
  }
  return Outcome::Failed(Failure::NoModule);
}

Outcome WhyNoApplication(const Link& link) {
  if (!link.LastSearch().busy && link.LastSearch().boot_loaders > 0) {
    return Outcome::Failed(Failure::BootLoaderOnly);
  }
  return WhyNoModule(link);
}

namespace {

// Reads a 4-byte answer over `word`, so that a failed read keeps the word it had.
bool ReadWord(Exchange& exchange, std::uint8_t code, std::uint32_t& word) {
  std::uint8_t answer[4];
  model::WriteLe32(answer, word);
  const bool sent = exchange.Send(Command(code));
  const bool read = exchange.Read(answer, sizeof answer);
  word = model::ReadLe32(answer);
  return sent && read;
}

}  // namespace

StatusReading PollStatus(Link& link, const OpenApplicationHook& while_open) {
  Exchange exchange(link);
  StatusReading reading;
  if (exchange.OpenApplication()) {
    reading.presence = Presence::Application;
    LinkAccess::BootModule(link).Found = false;
    std::uint8_t answer[8] = {};
    // A status that does not arrive leaves the answer zero, as the window shows it. The read
    // follows the command whatever became of it: a module that took the command but refused
    // to say so still answers.
    const bool sent = exchange.Send(Command(CmdStatus));
    const bool read = exchange.Read(answer, sizeof answer);
    reading.status_read = sent && read;
    LinkAccess::AppModule(link).FirmwareVersion = model::ReadLe32(answer);
    reading.run_flag = answer[4];
    reading.ext_dac_flag = answer[5];
    reading.outcome = exchange.outcome();
    if (while_open) while_open(exchange.handle(), reading.run_flag, reading.ext_dac_flag);
    return reading;
  }
  // A module another program holds is left alone: not looked at as its boot loader either.
  if (exchange.outcome().failure == Failure::ModuleBusy) {
    reading.outcome = exchange.outcome();
    return reading;
  }
  const bool device_was_silent = link.LastSearch().not_answering > 0;
  if (exchange.OpenBootLoader()) {
    reading.presence = Presence::BootLoader;
    reading.status_read = ReadWord(exchange, CmdStatus, LinkAccess::BootModule(link).BootVersion);
    reading.firmware_version_read =
        ReadWord(exchange, CmdFirmwareVersion, LinkAccess::BootModule(link).FirmwareVersion);
    reading.outcome = exchange.outcome();
    return reading;
  }
  reading.outcome =
      device_was_silent ? Outcome::Failed(Failure::NoIdentify) : exchange.outcome();
  return reading;
}

Outcome SendApplicationCommand(Link& link, std::uint8_t code) {
  Exchange exchange(link);
  const bool changes = !CommandOperation(code).empty();
  if (!(changes ? exchange.OpenApplicationToChange() : exchange.OpenApplication())) {
    return exchange.outcome();
  }
  exchange.Send(Command(code));
  if (ChangeRecorder* recorder = link.change_recorder()) {
    if (std::string operation = CommandOperation(code); !operation.empty()) {
      ChangeNote note = NoteFor(link, std::move(operation));
      note.outcome = exchange.outcome();
      recorder->Record(note);
    }
  }
  return exchange.outcome();
}

namespace {

// A read of a flash area over an open handle; `out` changes only when every byte arrived.
Outcome ReadAreaOver(Exchange& exchange, const model::MemoryArea& area,
                     std::span<std::uint8_t> out, const Progress& progress) {
  Link& link = exchange.link();
  const Handle handle = exchange.handle();
  Outcome outcome;
  outcome.total = area.size;
  std::vector<std::uint8_t> scratch(area.size);
  bool go_on = Report(progress, 0, area.size);
  if (!link.SendCommand(handle, Command(CmdReadFlash, *area.address, area.size))) {
    return exchange.Refused(Direction::Send);
  }
  const bool read = link.ReadData(handle, scratch.data(), area.size, [&](std::uint32_t copied) {
    const bool more = copied > outcome.done;  // the closing fetch after whole chunks adds none
    outcome.done = copied;
    if (more && (copied % kMaxBlockLength == 0 || copied == area.size)) {
      go_on = Report(progress, copied, area.size) && go_on;
    }
  });
  if (!read) {
    const std::uint64_t done = outcome.done;
    outcome = exchange.Refused(Direction::Fetch);
    outcome.done = done;
    outcome.total = area.size;
    return outcome;
  }
  if (!go_on) {
    outcome.failure = Failure::Cancelled;
    return outcome;
  }
  std::copy(scratch.begin(), scratch.end(), out.begin());
  return outcome;
}

// A block-by-block write of a flash area over an open handle.
Outcome WriteAreaOver(Exchange& exchange, const model::MemoryArea& area,
                      std::span<const std::uint8_t> data, const Progress& progress) {
  Link& link = exchange.link();
  Outcome outcome;
  std::uint64_t done = 0;
  bool go_on = Report(progress, 0, area.size);
  // One block at a time through the link's own block write, so that a stop can fall between
  // blocks; the wire sees exactly what one write of the whole area would send.
  while (done < area.size && go_on) {
    const auto n =
        static_cast<std::uint32_t>(std::min<std::uint64_t>(kMaxBlockLength, area.size - done));
    const auto offset = static_cast<std::uint32_t>(done);
    std::uint64_t refused_at = 0;
    if (!link.WriteBlock(exchange.handle(), data.data() + offset, n, *area.address + offset,
                         &refused_at) &&
        outcome.ok()) {
      outcome = exchange.Refused(Direction::Send);
      outcome.report -= link.ReportsExchanged() - refused_at;
      // The blocks after it still go, but what counts is how far the write got whole.
      outcome.done = done;
    }
    done += n;
    go_on = Report(progress, done, area.size);
  }
  if (outcome.ok()) outcome.done = done;
  outcome.total = area.size;
  if (!go_on && done < area.size && outcome.ok()) outcome.failure = Failure::Cancelled;
  return outcome;
}

bool FitsFlashArea(const model::MemoryArea& area, std::size_t size) {
  return area.address.has_value() && size == area.size;
}

// Notes a write of one part on the link's recorder.
void NotePartWritten(Link& link, std::string operation, const model::MemoryArea& area,
                     std::span<const std::uint8_t> written,
                     std::optional<std::vector<std::uint8_t>> before, const Outcome& outcome,
                     std::string detail = {}) {
  ChangeRecorder* recorder = link.change_recorder();
  if (recorder == nullptr) return;
  ChangeNote note = NoteFor(link, std::move(operation));
  note.detail = std::move(detail);
  note.parts.push_back({std::string(area.word), area.address,
                        std::vector<std::uint8_t>(written.begin(), written.end()),
                        std::move(before)});
  note.outcome = outcome;
  recorder->Record(note);
}

bool ReadsBeforeState(const Link& link) {
  return link.change_recorder() != nullptr && link.change_recorder()->ReadsBeforeState();
}

}  // namespace

Outcome ReadFlashArea(Link& link, model::AreaId id, std::span<std::uint8_t> out,
                      const Progress& progress) {
  const model::MemoryArea& area = model::Area(id);
  if (!FitsFlashArea(area, out.size())) return Outcome::Failed(Failure::InvalidRequest);
  Exchange exchange(link);
  if (!exchange.OpenApplication()) return exchange.outcome();
  return ReadAreaOver(exchange, area, out, progress);
}

Outcome WriteFlashArea(Link& link, model::AreaId id, std::span<const std::uint8_t> data,
                       const Progress& progress) {
  const model::MemoryArea& area = model::Area(id);
  if (!FitsFlashArea(area, data.size())) return Outcome::Failed(Failure::InvalidRequest);
  Exchange exchange(link);
  if (!exchange.OpenApplicationToChange()) return exchange.outcome();
  std::optional<std::vector<std::uint8_t>> before;
  if (ReadsBeforeState(link)) {
    // What the write replaces, kept so that it can be put back. A read cut short leaves the link
    // out of step with the module's stream, and the area unkept: nothing is written then.
    std::vector<std::uint8_t> replaced(area.size);
    Outcome read = ReadAreaOver(exchange, area, replaced, {});
    if (!read.ok()) {
      read.failure = Failure::ReadBeforeWrite;
      return read;
    }
    before = std::move(replaced);
  }
  const Outcome outcome = WriteAreaOver(exchange, area, data, progress);
  NotePartWritten(link, id == model::AreaId::ConfigSector ? "config write" : "image write", area,
                  data, std::move(before), outcome);
  return outcome;
}

namespace {

// Stops the CNC and reads the RAM over an open handle; then starts the CNC when `start_after`,
// whatever became of the read. `out` changes only when every byte arrived.
Outcome ReadRamOver(Exchange& exchange, std::span<std::uint8_t> out, const Progress& progress,
                    bool start_after) {
  Link& link = exchange.link();
  const std::uint32_t size = model::Area(model::AreaId::Ram).size;
  Outcome& outcome = exchange.outcome();
  outcome.total = size;
  exchange.Send(Command(CmdStopCnc));
  std::vector<std::uint8_t> scratch(size);
  bool go_on = Report(progress, 0, size);
  if (exchange.Send(Command(CmdReadRam, 0, size))) {
    std::uint64_t done = 0;
    const bool read =
        link.ReadData(exchange.handle(), scratch.data(), size, [&](std::uint32_t copied) {
          if (copied > done && (copied % kMaxBlockLength == 0 || copied == size)) {
            go_on = Report(progress, copied, size) && go_on;
          }
          done = copied;
        });
    if (!read && outcome.ok()) {
      outcome = exchange.Refused(Direction::Fetch);
      outcome.total = size;
    }
    outcome.done = done;
  }
  const bool read_whole = outcome.ok();
  if (start_after) exchange.Send(Command(CmdStartCnc));
  if (!read_whole) return Outcome(outcome);
  if (!go_on) {
    if (outcome.ok()) outcome.failure = Failure::Cancelled;
    return Outcome(outcome);
  }
  // A refused start does not spoil the RAM that came: it is kept, and the outcome says that the
  // CNC stands.
  if (!outcome.ok()) outcome.failure = Failure::CncLeftStopped;
  std::copy(scratch.begin(), scratch.end(), out.begin());
  return Outcome(outcome);
}

}  // namespace

Outcome ReadRam(Link& link, std::span<std::uint8_t> out, const Progress& progress) {
  if (out.size() != model::Area(model::AreaId::Ram).size) {
    return Outcome::Failed(Failure::InvalidRequest);
  }
  Exchange exchange(link);
  if (!exchange.OpenApplication()) return exchange.outcome();
  // The window's read: the CNC is started again after every read, whatever it was doing before.
  return ReadRamOver(exchange, out, progress, true);
}

Outcome ReadRamAsFound(Link& link, std::span<std::uint8_t> out, CncFound& found,
                       const Progress& progress) {
  found = {};
  if (out.size() != model::Area(model::AreaId::Ram).size) {
    return Outcome::Failed(Failure::InvalidRequest);
  }
  Exchange exchange(link);
  if (!exchange.OpenApplication()) return exchange.outcome();
  std::uint8_t status[8] = {};
  // Without the run flag there is no knowing whether a start afterwards would set a stopped
  // machine going: nothing more is sent.
  if (!exchange.Send(Command(CmdStatus)) || !exchange.Read(status, sizeof status)) {
    return exchange.outcome();
  }
  found.read = true;
  found.was_running = status[4] != 0;
  return ReadRamOver(exchange, out, progress, found.was_running);
}

Outcome WriteRam(Link& link, std::span<const std::uint8_t> data, RamBank bank,
                 const Progress& progress) {
  const std::uint32_t size = model::Area(model::AreaId::Ram).size;
  if (data.size() != size) return Outcome::Failed(Failure::InvalidRequest);
  Exchange exchange(link);
  if (!exchange.OpenApplicationToChange()) return exchange.outcome();
  Outcome& outcome = exchange.outcome();
  exchange.Send(Command(CmdStopCnc));
  std::optional<std::vector<std::uint8_t>> replaced_ram;
  if (ReadsBeforeState(link)) {
    // What the write replaces, read with the CNC stopped, as every RAM read is. When it does not
    // arrive nothing is written, and the CNC is started again, as the write would have left it.
    std::vector<std::uint8_t> replaced(size);
    if (!exchange.Send(Command(CmdReadRam, 0, size)) ||
        !exchange.Read(replaced.data(), size)) {
      Outcome failed = outcome;
      failed.failure = Failure::ReadBeforeWrite;
      exchange.Send(Command(CmdStartCnc));
      return failed;
    }
    replaced_ram = std::move(replaced);
  }
  exchange.Send(Command(CmdWriteRam, 0, size));
  Report(progress, 0, size);
  // One stream, as announced, told in pieces of 2048 bytes; a refused report ends the stream.
  std::uint32_t done = 0;
  while (done < size) {
    const std::uint32_t n = std::min(kMaxBlockLength, size - done);
    const std::uint64_t before = link.ReportsExchanged();
    if (!exchange.Note(link.WriteData(exchange.handle(), data.data() + done, n),
                       Direction::Send)) {
      // The data reports of this piece before the refused one went whole.
      const std::uint64_t accepted = link.ReportsExchanged() - before - 1;
      done += static_cast<std::uint32_t>(accepted) * kReportPayload;
      break;
    }
    done += n;
    Report(progress, done, size);
  }
  const std::uint32_t bank_offset = bank == RamBank::Main ? 0 : size;
  exchange.Send(Command(CmdStoreRam, bank_offset, size));
  exchange.Send(Command(CmdRestart));
  outcome.done = done;
  outcome.total = size;
  NotePartWritten(link, "ram write", model::Area(model::AreaId::Ram), data,
                  std::move(replaced_ram), outcome, bank == RamBank::Main ? "bank main" : "bank reserve");
  return Outcome(outcome);
}

Outcome UpdateConfigSector(Link& link, const SectorChange& change, const Progress& progress) {
  const model::MemoryArea& area = model::Area(model::AreaId::ConfigSector);
  Exchange exchange(link);
  if (!exchange.OpenApplicationToChange()) return exchange.outcome();
  std::array<std::uint8_t, model::kSectorSize> sector{};
  Outcome outcome = ReadAreaOver(exchange, area, sector, {});
  if (!outcome.ok()) {
    // Writing bytes that were not read from the module would overwrite what it holds.
    outcome.failure = Failure::ReadBeforeWrite;
    return outcome;
  }
  const std::optional<std::vector<std::uint8_t>> before(std::in_place, sector.begin(),
                                                         sector.end());
  if (Outcome changed = change(sector); !changed.ok()) return changed;
  // The read stream always runs to its end; a stop asked for meanwhile is honoured now, before
  // anything is written. The write is one block, which is never cut.
  if (!Report(progress, 0, area.size)) {
    outcome.failure = Failure::Cancelled;
    outcome.done = 0;
    outcome.total = area.size;
    return outcome;
  }
  const Outcome written = WriteAreaOver(exchange, area, sector, {});
  // The sector read first is what the write replaced: kept without a read of its own.
  NotePartWritten(link, "config write", area, sector, before, written);
  return written;
}

}  // namespace tarven::device
