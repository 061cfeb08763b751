#pragma once
// Where the operations that change a module tell what they did: one note per operation, after it
// ended, with the module it reached, the parts it wrote and (where asked for and possible) what
// those parts held before. The operations call it themselves, so that every front end and every
// thread of a run over several modules is recorded alike; a front end only hangs a recorder on its
// links. A recorder must not fail an operation: whatever becomes of its note is its own business.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "device/hid.h"
#include "device/outcome.h"

namespace tarven::device {

class Link;

struct ChangedPart {
  // "rom", "amt", "kvp", "config", "ram", "firmware", "registers".
  std::string name;
  // The flash address, or nothing (the RAM, the firmware, registers).
  std::optional<std::uint32_t> address;
  std::vector<std::uint8_t> written;
  // What the part held before the write, when the recorder asked for it and it arrived.
  std::optional<std::vector<std::uint8_t>> before;
};

struct ChangeNote {
  // What was done, in tarvenctl's words: "image write", "config write", "ram write",
  // "firmware update", "cnc stop", "cnc start", "restart", "ext-dac on", "ext-dac off",
  // "register write".
  std::string operation;
  // What else the operation was told: "bank main", "170462=177777".
  std::string detail;
  // The device it reached: path, USB location, serial number.
  hid::DeviceInfo device;
  // The firmware version the link last learned for the module (0: not known).
  std::uint32_t firmware_version = 0;
  std::vector<ChangedPart> parts;
  Outcome outcome;
};

class ChangeRecorder {
 public:
  virtual ~ChangeRecorder() = default;
  // Whether a write that replaces a flash area or the RAM reads it first, over the same handle,
  // so that the replaced bytes can be put back. Costs the read's reports on the wire.
  virtual bool ReadsBeforeState() const = 0;
  // Whether an operation that changes the application asks the module's firmware version first
  // (one status request) when its link does not know it yet, so that the note can name it. A
  // front end whose own sequence already reads the status leaves this off.
  virtual bool AsksFirmwareVersion() const { return false; }
  // Called from the thread that ran the operation; several threads may call at once.
  virtual void Record(const ChangeNote& note) = 0;
};

// The note of an operation on `link`, with the device its last search opened, for `operation`.
ChangeNote NoteFor(const Link& link, std::string operation);

// The operation's words for a command code that changes the module (CmdStopCnc, CmdStartCnc,
// CmdRestart, CmdExtDacOn, CmdExtDacOff, CmdUpdate); empty for one that only reads.
std::string CommandOperation(std::uint8_t code);

}  // namespace tarven::device
