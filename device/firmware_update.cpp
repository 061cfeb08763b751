#include "device/firmware_update.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <thread>

#include "device/exchange.h"

namespace tarven::device {
namespace {

// The number of searches that fit into `wait` at one every `interval`, the first one at once.
std::int64_t Attempts(std::chrono::milliseconds wait, std::chrono::milliseconds interval) {
  const std::int64_t step = std::max<std::int64_t>(1, interval.count());
  return 1 + std::max<std::int64_t>(0, wait.count()) / step;
}

}  // namespace

int FirmwareProgressPercent(std::uint64_t sent, std::uint64_t size) {
  if (size == 0) return 0;
  const double percent = static_cast<double>(sent) * 100.0 / static_cast<double>(size);
  // nearbyint rounds in the current rounding mode, which is to nearest with ties to even.
  return static_cast<int>(std::nearbyint(percent));
}

Outcome RequestBootLoader(Link& link, std::optional<FollowFoundModule>* follow) {
  Exchange exchange(link);
  if (!exchange.OpenApplicationToChange()) return exchange.outcome();
  if (follow != nullptr) FollowLastFound(link, *follow);
  exchange.Send(Command(CmdUpdate));
  // The switch is a change of its own: an update that goes no further leaves the module in its
  // boot loader, and the journal says how it got there.
  if (ChangeRecorder* recorder = link.change_recorder()) {
    ChangeNote note = NoteFor(link, CommandOperation(CmdUpdate));
    note.outcome = exchange.outcome();
    recorder->Record(note);
  }
  return exchange.outcome();
}

namespace {

Outcome StreamFirmware(Exchange& exchange, std::span<const std::uint8_t> image,
                       const Progress& progress);

}  // namespace

Outcome SendFirmware(Link& link, std::span<const std::uint8_t> image, const Progress& progress) {
  if (image.empty() || image.size() > std::numeric_limits<std::uint32_t>::max()) {
    return Outcome::Failed(Failure::InvalidRequest);
  }
  Exchange exchange(link);
  if (!exchange.OpenBootLoader()) return exchange.outcome();
  const Outcome outcome = StreamFirmware(exchange, image, progress);
  if (ChangeRecorder* recorder = link.change_recorder()) {
    ChangeNote note = NoteFor(link, "firmware update");
    note.parts.push_back(
        {"firmware", std::nullopt, std::vector<std::uint8_t>(image.begin(), image.end()), {}});
    note.outcome = outcome;
    recorder->Record(note);
  }
  return outcome;
}

namespace {

Outcome StreamFirmware(Exchange& exchange, std::span<const std::uint8_t> image,
                       const Progress& progress) {
  Link& link = exchange.link();
  const auto size = static_cast<std::uint32_t>(image.size());
  Outcome outcome;
  outcome.total = size;
  if (!Report(progress, 0, size)) {
    outcome.failure = Failure::Cancelled;
    return outcome;
  }
  TModuleCommand announce;
  announce.Code = CmdUpdate;
  announce.Param1 = size;
  announce.Param2 = size >> 16;
  if (!link.SendCommand(exchange.handle(), announce)) {
    Outcome refused = exchange.Refused(Direction::Send);
    refused.total = size;
    return refused;
  }
  std::array<std::uint8_t, kFirmwarePieceLength> piece;
  std::uint32_t sent = 0;
  for (;;) {
    const std::uint32_t n = std::min(kFirmwarePieceLength, size - sent);
    if (n > 0) std::memcpy(piece.data(), image.data() + sent, n);
    if (!link.WriteData(exchange.handle(), piece.data(), n)) {
      Outcome refused = exchange.Refused(Direction::Send);
      refused.done = sent;
      refused.total = size;
      return refused;
    }
    sent += n;
    outcome.done = sent;
    const bool go_on = Report(progress, sent, size);
    if (n < kFirmwarePieceLength) break;
    // A stop falls between pieces; once every byte has gone only the empty piece is left, which
    // sends nothing, so the transfer counts as done.
    if (!go_on && sent < size) {
      outcome.failure = Failure::Cancelled;
      break;
    }
  }
  return outcome;
}

}  // namespace

FollowFoundModule::FollowFoundModule(Link& link) : link_(link), before_(link.pin()) {
  if (!before_) link_.PinToLastOpened();
}

FollowFoundModule::~FollowFoundModule() {
  link_.Pin(before_);
}

void FollowLastFound(Link& link, std::optional<FollowFoundModule>& follow) {
  if (follow && follow->holds()) return;
  follow.reset();  // gives the link back the pin it had
  follow.emplace(link);
}

UpdateResult UpdateFirmware(Link& link, std::span<const std::uint8_t> image,
                            const Progress& progress, const UpdateTiming& timing,
                            const Sleep& sleep) {
  const Sleep pause = sleep ? sleep : [](std::chrono::milliseconds duration) {
    std::this_thread::sleep_for(duration);
  };
  UpdateResult result;
  if (image.empty()) {
    result.outcome = Outcome::Failed(Failure::InvalidRequest);
    return result;
  }
  result.after = PollStatus(link);
  if (result.after.presence == Presence::Absent) {
    result.outcome = result.after.outcome;
    return result;
  }
  // With several modules plugged in, the update stays with the one it found.
  const FollowFoundModule follow(link);
  switch (result.after.presence) {
    case Presence::Absent:
      break;
    case Presence::BootLoader:
      result.was_boot_loader = true;
      break;
    case Presence::Application: {
      result.stage = UpdateStage::GiveWay;
      result.outcome = RequestBootLoader(link);
      if (!result.outcome.ok()) return result;
      result.stage = UpdateStage::WaitBootLoader;
      bool found = false;
      for (std::int64_t i = Attempts(timing.boot_loader_wait, timing.poll_interval);
           i > 0 && !found; --i) {
        Handle& handle = LinkAccess::HidHandle(link);
        handle = link.OpenModule(LinkAccess::BootModule(link));
        found = handle != kInvalidHandle;
        link.CloseModule(handle);
        if (!found && i > 1) pause(timing.poll_interval);
      }
      if (!found) {
        result.outcome = WhyNoModule(link);
        return result;
      }
      break;
    }
  }
  result.stage = UpdateStage::Transfer;
  result.outcome = SendFirmware(link, image, progress);
  if (!result.outcome.ok()) return result;
  // The boot loader writes the image and starts the new firmware by itself; until then it may
  // still answer as the boot loader, or not at all.
  result.stage = UpdateStage::Return;
  for (std::int64_t i = Attempts(timing.return_wait, timing.poll_interval); i > 0; --i) {
    result.after = PollStatus(link);
    // Only a status that arrived confirms the new firmware; a lost answer is asked again.
    if (result.after.presence == Presence::Application && result.after.status_read) {
      result.stage = UpdateStage::Done;
      return result;
    }
    if (i > 1) pause(timing.poll_interval);
  }
  return result;
}

}  // namespace tarven::device
