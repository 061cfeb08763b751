#include "cli/context.h"

#include <algorithm>

#include "cli/access_hint.h"
#include "device/device.h"
#include "device/operations.h"
#include "model/printable_text.h"
#include "platform/usb_hint.h"
#include "storage/file_io.h"

namespace tarven::cli {

ProgressLine Context::Progress(std::string label) const {
  return ProgressLine(err, IsTerminal(err), std::move(label), &stop, board);
}

int Context::Fail(std::string_view what, std::string_view text) const {
  // The text may carry a file's or a device's words; the terminal must not take them as orders.
  err << "tarvenctl: " << what << ": " << model::Printable(text) << '\n';
  return kExitFailed;
}

int Context::Fail(std::string_view what, const device::Outcome& outcome) const {
  std::string text = device::Describe(outcome);
  if (outcome.failure == device::Failure::NoModule) {
    // What to try, on the same line: a script's log keeps one line per failure.
    text += "; check the module's USB cable and power (" +
            platform::UsbDeviceListHint(device::kModuleVendorId, device::kModuleProductId) + ")";
    if (!simulated) text += ", or use --simulate to talk to the simulated module";
  }
  const int status = Fail(what, text);
  if (outcome.failure == device::Failure::NoAccess) {
    const auto& unopened = link.LastSearch().unopened;
    const bool permission =
        std::any_of(unopened.begin(), unopened.end(), [](const auto& u) { return u.permission; });
    if (permission) err << AccessHint();
  }
  return status;
}

std::optional<int> Context::ReadInputFile(std::string_view what, const std::string& path,
                                          std::size_t max_size, std::string_view kind,
                                          std::string& bytes) const {
  const storage::ReadResult read = storage::ReadRegularFile(path, max_size, bytes);
  const std::string name = Shorten(path, 80);
  switch (read.status) {
    case storage::ReadStatus::Read:
      return std::nullopt;
    case storage::ReadStatus::Missing:
    case storage::ReadStatus::Failed:
      return Fail(what, "cannot open " + name + ": " + storage::SystemReason(read.error_number));
    case storage::ReadStatus::NotRegular:
      return Fail(what, name + ": not a regular file");
    case storage::ReadStatus::TooLarge:
      break;
  }
  return Fail(what, name + ": too large for a " + std::string(kind));
}

int Context::Finish(std::string_view what, const device::Outcome& outcome) const {
  return outcome.ok() ? kExitOk : Fail(what, outcome);
}

std::optional<int> Context::RefuseUnconfirmed(std::string_view what, std::string_view question,
                                              bool yes) const {
  if (yes) return std::nullopt;
  if (!confirm) {
    err << "tarvenctl: " << what
        << ": no terminal to ask on; give --yes to write without asking; nothing was written\n";
    return kExitUsage;
  }
  if (confirm(question)) return std::nullopt;
  return Fail(what, "not confirmed; nothing was written");
}

std::string CncNote(const device::CncFound& found, const device::Outcome& outcome) {
  if (outcome.module_absent() || outcome.failure == device::Failure::InvalidRequest) return {};
  if (!found.read) {
    return "the CNC's run state did not arrive, so the CNC was neither stopped nor started";
  }
  if (!found.was_running) return "the CNC was stopped and is left stopped";
  if (outcome.failure == device::Failure::CncLeftStopped) return {};  // told by the outcome
  if (outcome.ok() || outcome.failure == device::Failure::Cancelled) {
    return "the CNC was running: it was stopped for the RAM read and started again";
  }
  return "the CNC was running and was stopped for the RAM read; it may still be stopped "
         "('tarvenctl cnc start' starts it)";
}

std::string Shorten(std::string_view raw, std::size_t limit) {
  const std::string printable = model::Printable(raw);
  const std::string_view text = printable;
  // Count characters, not bytes, so that a Cyrillic word is not cut inside a letter.
  std::size_t characters = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) continue;
    if (characters == limit - 1) {
      std::size_t rest = 0;
      for (std::size_t j = i; j < text.size(); ++j) {
        rest += (static_cast<unsigned char>(text[j]) & 0xC0) != 0x80;
      }
      if (rest <= 1) return printable;
      return std::string(text.substr(0, i)) + "…";
    }
    ++characters;
  }
  return printable;
}

}  // namespace tarven::cli
