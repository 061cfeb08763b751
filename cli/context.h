#pragma once
// What every tarvenctl command group shares: the streams, the exit statuses, and the way a
// failure becomes one line on standard error.

#include <CLI/CLI.hpp>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>

#include "cli/progress_line.h"
#include "cli/stop_request.h"
#include "comport/comport.h"
#include "device/device.h"
#include "device/outcome.h"

namespace tarven::device {
struct CncFound;
}

namespace tarven::cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;  // module absent, a transfer failed, a file unfit
inline constexpr int kExitUsage = 2;

// Asks a yes/no question before a write to the module; true to go ahead.
using Confirm = std::function<bool(std::string_view question)>;

struct Context {
  std::ostream& out;
  std::ostream& err;
  // The link to the module that the command talks to.
  device::Link& link;
  // Asked by Ctrl-C while the command holds a StopOnSignals on it, or by a run over several
  // modules for all of them: long commands stop at their next safe point.
  StopRequest& stop;
  // Null where there is nobody to ask (no terminal): a write then needs --yes.
  Confirm confirm;
  // The link is the simulated module (the simulator's stand-in firmware image may go to it).
  bool simulated = false;
  // Where the serial ports are listed from; empty for the system's ports.
  comport::PortSource serial_ports{};
  // Keeps the module locked against other programs for the command's whole length. A command
  // that runs until Ctrl-C lets go of it and locks the module per exchange instead.
  std::optional<device::Link::Hold> command_hold{};
  // Where the command's transfers show their progress; null: a line of their own on `err` when
  // that is a terminal.
  ProgressBoard* board = nullptr;

  // The progress line of a transfer called `label` ("write rom"), stopped by `stop`.
  ProgressLine Progress(std::string label) const;

  // Whether a write may go ahead: `yes` (the command's --yes), or the user's yes to `question`.
  // Otherwise says why on standard error and gives the exit status: kExitFailed when the answer
  // was no, kExitUsage when there is nobody to ask and no --yes (a script must say --yes).
  std::optional<int> RefuseUnconfirmed(std::string_view what, std::string_view question,
                                       bool yes) const;

  // Reads the ordinary file `path` (at most `max_size` bytes) that a command was given into
  // `bytes`. When it cannot be read, says why ("cannot open F: REASON", "F: not a regular file",
  // "F: too large for a KIND") and gives the exit status.
  std::optional<int> ReadInputFile(std::string_view what, const std::string& path,
                                   std::size_t max_size, std::string_view kind,
                                   std::string& bytes) const;

  // "tarvenctl: WHAT: TEXT" on standard error, TEXT with its control characters escaped (it is
  // one line); the exit status of a failed operation.
  int Fail(std::string_view what, std::string_view text) const;
  int Fail(std::string_view what, const device::Outcome& outcome) const;
  // The exit status for an outcome, saying what went wrong when it did.
  int Finish(std::string_view what, const device::Outcome& outcome) const;
};

// What the chosen subcommand does once the module link is bound.
using Action = std::function<int(Context&)>;

// Each command group adds its subcommands to `app`; the callback of the one the user names
// stores its work in `action`. Options live in storage that the group's lambdas own.
void RegisterStatusCommands(CLI::App& app, Action& action);
void RegisterDeviceCommands(CLI::App& app, Action& action);
void RegisterConfigCommands(CLI::App& app, Action& action);
void RegisterImageCommands(CLI::App& app, Action& action);
void RegisterModbusCommands(CLI::App& app, Action& action);
void RegisterIoCommands(CLI::App& app, Action& action);
void RegisterUpdateCommands(CLI::App& app, Action& action);
void RegisterBackupCommands(CLI::App& app, Action& action);

// What a RAM read that leaves the CNC as it found it (device::ReadRamAsFound) did with the CNC,
// in words for standard error ("the CNC was stopped and is left stopped"); empty when the outcome
// says it already, or when no module was there to touch.
std::string CncNote(const device::CncFound& found, const device::Outcome& outcome);

// Text from the user, a file or a device echoed in a message: control characters escaped (see
// model::Printable), at most `limit` characters, cut with "…".
std::string Shorten(std::string_view text, std::size_t limit = 40);

}  // namespace tarven::cli
