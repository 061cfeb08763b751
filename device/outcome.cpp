#include "device/outcome.h"

namespace tarven::device {

std::string Describe(const Outcome& outcome) {
  const auto report = [&] {
    return "report " + std::to_string(outcome.report) + ", " +
           (outcome.direction == Direction::Send ? "send" : "fetch");
  };
  const auto progress = [&] {
    return std::to_string(outcome.done) + " of " + std::to_string(outcome.total) + " bytes";
  };
  switch (outcome.failure) {
    case Failure::None:
      return "done";
    case Failure::NoModule:
      return "no module found";
    case Failure::BootLoaderOnly:
      return "the module runs its boot loader";
    case Failure::NoIdentify:
      return "a device with the module's USB ids (03eb:6202) does not answer the identify command";
    case Failure::NoAccess:
      return "the module at " + outcome.subject + " cannot be opened: " +
             (outcome.reason.empty() ? std::string("the system gives no reason") : outcome.reason);
    case Failure::NotAnswering:
      return "the module did not answer (" + report() + ")" +
             (outcome.total > 0 ? ", after " + progress() : "");
    case Failure::ChecksumMismatch:
      return (outcome.subject.empty() ? std::string("the data read from the module")
                                      : outcome.subject) +
             " fails its checksum" + (outcome.reason.empty() ? "" : "; " + outcome.reason);
    case Failure::ReadBeforeWrite:
      return "the module did not answer the read before the write (" + report() +
             "); nothing was written";
    case Failure::FileError:
      return outcome.subject + ": " + outcome.reason;
    case Failure::Cancelled:
      return "stopped on request after " + progress();
    case Failure::CncLeftStopped:
      return "the RAM was read whole, but the module did not take the command to start the CNC "
             "again (" +
             report() + "); the CNC was left stopped";
    case Failure::InvalidRequest:
      return "invalid request";
    case Failure::ModuleBusy:
      return "the module at " + outcome.subject + " is in use by " + outcome.reason;
  }
  return "failed";
}

}  // namespace tarven::device
