#pragma once
// What the operations share in talking to the module: a command without its frame, and the count
// by which an operation names the report that was refused.

#include <cstdint>

#include "device/device.h"
#include "device/outcome.h"

namespace tarven::device {

inline TModuleCommand Command(std::uint8_t code, std::uint32_t p1 = 0, std::uint32_t p2 = 0) {
  TModuleCommand command;
  command.Code = code;
  command.Param1 = p1;
  command.Param2 = p2;
  return command;
}

// Numbers the reports of one operation from 1, as a failure names them.
class ReportCount {
 public:
  ReportCount() : start_(ReportsExchanged()) {}
  // The number of the report exchanged last.
  std::uint64_t last() const { return ReportsExchanged() - start_; }
  Outcome Refused(Direction direction) const { return Outcome::RefusedReport(last(), direction); }

 private:
  std::uint64_t start_;
};

// Why the last search found nothing: a device with the module's ids that did not identify itself,
// one that could not be opened, or no module at all.
inline Outcome WhyNoModule() {
  const SearchReport& search = LastSearch();
  if (search.not_answering > 0) return Outcome::Failed(Failure::NoIdentify);
  if (!search.unopened.empty()) {
    Outcome outcome = Outcome::Failed(Failure::NoAccess);
    outcome.subject = search.unopened.front().path;
    outcome.reason = search.unopened.front().reason;
    return outcome;
  }
  return Outcome::Failed(Failure::NoModule);
}

}  // namespace tarven::device
