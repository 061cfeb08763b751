#include "device/change_journal.h"

#include "device/device.h"

namespace tarven::device {

ChangeNote NoteFor(const Link& link, std::string operation) {
  ChangeNote note;
  note.operation = std::move(operation);
  note.device = link.LastOpened();
  note.firmware_version =
      link.AppModule().Found ? link.AppModule().FirmwareVersion : link.BootModule().FirmwareVersion;
  return note;
}

std::string CommandOperation(std::uint8_t code) {
  switch (code) {
    case CmdStopCnc:
      return "cnc stop";
    case CmdStartCnc:
      return "cnc start";
    case CmdRestart:
      return "restart";
    case CmdExtDacOn:
      return "ext-dac on";
    case CmdExtDacOff:
      return "ext-dac off";
    case CmdUpdate:
      return "boot loader request";
    default:
      return {};
  }
}

}  // namespace tarven::device
