#pragma once
// What the operations share in talking to the module: a command without its frame, and one
// operation's exchange over a link, which opens the personality it needs (or says why it is not
// there), numbers the operation's reports, keeps the first one refused, and closes the handle on
// every way out.

#include <cstdint>

#include "device/device.h"
#include "device/link_access.h"
#include "device/outcome.h"

namespace tarven::device {

inline TModuleCommand Command(std::uint8_t code, std::uint32_t p1 = 0, std::uint32_t p2 = 0) {
  TModuleCommand command;
  command.Code = code;
  command.Param1 = p1;
  command.Param2 = p2;
  return command;
}

// Why the link's last search found nothing: a device with the module's ids that did not identify
// itself, one that could not be opened, or no module at all.
Outcome WhyNoModule(const Link& link);
// The same for a search for the application, which may have found the boot loader instead.
Outcome WhyNoApplication(const Link& link);

class Exchange {
 public:
  // Reports are numbered from the next one the link exchanges.
  explicit Exchange(Link& link) : link_(link), start_(link.ReportsExchanged()) {}
  ~Exchange() { link_.CloseModule(); }
  Exchange(const Exchange&) = delete;
  Exchange& operator=(const Exchange&) = delete;

  // Opens the personality into the link's HidHandle. False, with the reason in outcome(), when
  // it is not there.
  bool OpenApplication();
  bool OpenBootLoader();
  // Opens the application for an operation that changes it; when the link's recorder asks for
  // it and the link does not know the firmware version, asks the module's status first.
  bool OpenApplicationToChange();

  Link& link() { return link_; }
  Handle handle() const { return link_.HidHandle(); }

  // The number of the report exchanged last, counting from 1 at the start of the exchange.
  std::uint64_t last() const { return link_.ReportsExchanged() - start_; }
  // The outcome of a refusal at the report exchanged last.
  Outcome Refused(Direction direction) const { return Outcome::RefusedReport(last(), direction); }

  // Notes a step that failed at the report just exchanged, unless an earlier one did; returns ok.
  bool Note(bool ok, Direction direction) {
    if (!ok && outcome_.ok()) outcome_ = Refused(direction);
    return ok;
  }
  bool Send(const TModuleCommand& command) {
    return Note(link_.SendCommand(handle(), command), Direction::Send);
  }
  bool Read(void* buffer, std::uint32_t length) {
    return Note(link_.ReadData(handle(), buffer, length), Direction::Fetch);
  }

  // Done, or the first refusal noted, or why the personality was not there.
  Outcome& outcome() { return outcome_; }

 private:
  Link& link_;
  std::uint64_t start_;
  Outcome outcome_;
};

}  // namespace tarven::device
