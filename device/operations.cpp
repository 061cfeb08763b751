#include "device/operations.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "device/exchange.h"
#include "model/little_endian.h"

namespace tarven::device {
namespace {

// Sends a command; on refusal records the report in `outcome` unless an earlier one is there.
bool Send(Handle handle, const TModuleCommand& command, const ReportCount& count,
          Outcome& outcome) {
  if (SendCommand(handle, command)) return true;
  if (outcome.ok()) outcome = count.Refused(Direction::Send);
  return false;
}

bool Read(Handle handle, void* buffer, std::uint32_t length, const ReportCount& count,
          Outcome& outcome) {
  if (ReadData(handle, buffer, length)) return true;
  if (outcome.ok()) outcome = count.Refused(Direction::Fetch);
  return false;
}

// Reads a 4-byte answer over `previous`, so that a failed read keeps the word it had.
bool ReadWord(Handle handle, std::uint8_t code, std::uint32_t& word, const ReportCount& count,
              Outcome& outcome) {
  std::uint8_t answer[4];
  model::WriteLe32(answer, word);
  const bool sent = Send(handle, Command(code), count, outcome);
  const bool read = Read(handle, answer, sizeof answer, count, outcome);
  const bool ok = sent && read;
  word = model::ReadLe32(answer);
  return ok;
}

}  // namespace

StatusReading PollStatus(Handle& handle, const OpenApplicationHook& while_open) {
  const ReportCount count;
  StatusReading reading;
  handle = OpenModule(AppModule);
  if (handle != kInvalidHandle) {
    HandleGuard guard(handle);
    reading.presence = Presence::Application;
    BootModule.Found = false;
    std::uint8_t answer[8] = {};
    // A status that does not arrive leaves the answer zero, as the window shows it. The read
    // follows the command whatever became of it, as the poll always has.
    const bool sent = Send(handle, Command(CmdStatus), count, reading.outcome);
    const bool read = Read(handle, answer, sizeof answer, count, reading.outcome);
    reading.status_read = sent && read;
    AppModule.FirmwareVersion = model::ReadLe32(answer);
    reading.run_flag = answer[4];
    reading.ext_dac_flag = answer[5];
    if (while_open) while_open(handle, reading.run_flag, reading.ext_dac_flag);
    return reading;
  }
  const bool device_was_silent = LastSearch().not_answering > 0;
  handle = OpenModule(BootModule);
  if (handle != kInvalidHandle) {
    HandleGuard guard(handle);
    reading.presence = Presence::BootLoader;
    reading.status_read =
        ReadWord(handle, CmdStatus, BootModule.BootVersion, count, reading.outcome);
    reading.firmware_version_read =
        ReadWord(handle, CmdFirmwareVersion, BootModule.FirmwareVersion, count, reading.outcome);
    return reading;
  }
  reading.outcome = device_was_silent ? Outcome::Failed(Failure::NoIdentify) : WhyNoModule();
  return reading;
}

Outcome WhyNoApplication() {
  if (LastSearch().boot_loaders > 0) return Outcome::Failed(Failure::BootLoaderOnly);
  return WhyNoModule();
}

Outcome SendApplicationCommand(Handle& handle, std::uint8_t code) {
  const ReportCount count;
  handle = OpenModule(AppModule);
  if (handle == kInvalidHandle) return WhyNoApplication();
  HandleGuard guard(handle);
  Outcome outcome;
  Send(handle, Command(code), count, outcome);
  return outcome;
}

namespace {

// A read of a flash area over an open handle; `out` changes only when every byte arrived.
Outcome ReadAreaOver(Handle handle, const model::MemoryArea& area, std::span<std::uint8_t> out,
                     const Progress& progress, const ReportCount& count) {
  Outcome outcome;
  outcome.total = area.size;
  std::vector<std::uint8_t> scratch(area.size);
  bool go_on = Report(progress, 0, area.size);
  if (!Send(handle, Command(CmdReadFlash, *area.address, area.size), count, outcome)) {
    return outcome;
  }
  const bool read = ReadData(handle, scratch.data(), area.size, [&](std::uint32_t copied) {
    const bool more = copied > outcome.done;  // the closing fetch after whole chunks adds none
    outcome.done = copied;
    if (more && (copied % kMaxBlockLength == 0 || copied == area.size)) {
      go_on = Report(progress, copied, area.size) && go_on;
    }
  });
  if (!read) {
    const std::uint64_t done = outcome.done;
    outcome = count.Refused(Direction::Fetch);
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
Outcome WriteAreaOver(Handle handle, const model::MemoryArea& area,
                      std::span<const std::uint8_t> data, const Progress& progress,
                      const ReportCount& count) {
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
    if (!WriteBlock(handle, data.data() + offset, n, *area.address + offset, &refused_at) &&
        outcome.ok()) {
      outcome = count.Refused(Direction::Send);
      outcome.report -= ReportsExchanged() - refused_at;
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

}  // namespace

Outcome ReadFlashArea(Handle& handle, model::AreaId id, std::span<std::uint8_t> out,
                      const Progress& progress) {
  const model::MemoryArea& area = model::Area(id);
  if (!FitsFlashArea(area, out.size())) return Outcome::Failed(Failure::InvalidRequest);
  const ReportCount count;
  handle = OpenModule(AppModule);
  if (handle == kInvalidHandle) return WhyNoApplication();
  HandleGuard guard(handle);
  return ReadAreaOver(handle, area, out, progress, count);
}

Outcome WriteFlashArea(Handle& handle, model::AreaId id, std::span<const std::uint8_t> data,
                       const Progress& progress) {
  const model::MemoryArea& area = model::Area(id);
  if (!FitsFlashArea(area, data.size())) return Outcome::Failed(Failure::InvalidRequest);
  const ReportCount count;
  handle = OpenModule(AppModule);
  if (handle == kInvalidHandle) return WhyNoApplication();
  HandleGuard guard(handle);
  return WriteAreaOver(handle, area, data, progress, count);
}

Outcome ReadRam(Handle& handle, std::span<std::uint8_t> out, const Progress& progress) {
  const std::uint32_t size = model::Area(model::AreaId::Ram).size;
  if (out.size() != size) return Outcome::Failed(Failure::InvalidRequest);
  const ReportCount count;
  handle = OpenModule(AppModule);
  if (handle == kInvalidHandle) return WhyNoApplication();
  HandleGuard guard(handle);
  Outcome outcome;
  outcome.total = size;
  Send(handle, Command(CmdStopCnc), count, outcome);
  std::vector<std::uint8_t> scratch(size);
  bool go_on = Report(progress, 0, size);
  bool read = false;
  if (Send(handle, Command(CmdReadRam, 0, size), count, outcome)) {
    std::uint64_t done = 0;
    read = ReadData(handle, scratch.data(), size, [&](std::uint32_t copied) {
      if (copied > done && (copied % kMaxBlockLength == 0 || copied == size)) {
        go_on = Report(progress, copied, size) && go_on;
      }
      done = copied;
    });
    if (!read && outcome.ok()) {
      outcome = count.Refused(Direction::Fetch);
      outcome.total = size;
    }
    outcome.done = done;
  }
  // The CNC runs again after every read, as it always has.
  const bool read_whole = outcome.ok();
  Send(handle, Command(CmdStartCnc), count, outcome);
  if (!read_whole) return outcome;
  if (!go_on) {
    if (outcome.ok()) outcome.failure = Failure::Cancelled;
    return outcome;
  }
  // A refused start does not spoil the RAM that came: it is kept, and the outcome says that the
  // CNC stands.
  if (!outcome.ok()) outcome.failure = Failure::CncLeftStopped;
  std::copy(scratch.begin(), scratch.end(), out.begin());
  return outcome;
}

Outcome WriteRam(Handle& handle, std::span<const std::uint8_t> data, RamBank bank,
                 const Progress& progress) {
  const std::uint32_t size = model::Area(model::AreaId::Ram).size;
  if (data.size() != size) return Outcome::Failed(Failure::InvalidRequest);
  const ReportCount count;
  handle = OpenModule(AppModule);
  if (handle == kInvalidHandle) return WhyNoApplication();
  HandleGuard guard(handle);
  Outcome outcome;
  Send(handle, Command(CmdStopCnc), count, outcome);
  Send(handle, Command(CmdWriteRam, 0, size), count, outcome);
  Report(progress, 0, size);
  // One stream, as announced, told in pieces of 2048 bytes; a refused report ends the stream.
  std::uint32_t done = 0;
  while (done < size) {
    const std::uint32_t n = std::min(kMaxBlockLength, size - done);
    const std::uint64_t before = ReportsExchanged();
    if (!WriteData(handle, data.data() + done, n)) {
      if (outcome.ok()) outcome = count.Refused(Direction::Send);
      // The data reports of this piece before the refused one went whole.
      const std::uint64_t accepted = ReportsExchanged() - before - 1;
      done += static_cast<std::uint32_t>(accepted) * kReportPayload;
      break;
    }
    done += n;
    Report(progress, done, size);
  }
  const std::uint32_t bank_offset = bank == RamBank::Main ? 0 : size;
  Send(handle, Command(CmdStoreRam, bank_offset, size), count, outcome);
  Send(handle, Command(CmdRestart), count, outcome);
  outcome.done = done;
  outcome.total = size;
  return outcome;
}

Outcome UpdateConfigSector(Handle& handle, const SectorChange& change, const Progress& progress) {
  const model::MemoryArea& area = model::Area(model::AreaId::ConfigSector);
  const ReportCount count;
  handle = OpenModule(AppModule);
  if (handle == kInvalidHandle) return WhyNoApplication();
  HandleGuard guard(handle);
  std::array<std::uint8_t, model::kSectorSize> sector{};
  Outcome outcome = ReadAreaOver(handle, area, sector, {}, count);
  if (!outcome.ok()) {
    // Writing bytes that were not read from the module would overwrite what it holds.
    outcome.failure = Failure::ReadBeforeWrite;
    return outcome;
  }
  if (Outcome changed = change(sector); !changed.ok()) return changed;
  // The read stream always runs to its end; a stop asked for meanwhile is honoured now, before
  // anything is written. The write is one block, which is never cut.
  if (!Report(progress, 0, area.size)) {
    outcome.failure = Failure::Cancelled;
    outcome.done = 0;
    outcome.total = area.size;
    return outcome;
  }
  return WriteAreaOver(handle, area, sector, {}, count);
}

}  // namespace tarven::device
