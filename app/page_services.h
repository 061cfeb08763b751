#pragma once
// What a page of the window works with: the module link and the dialogs. Both belong to the
// window and outlive its pages. A page's questions and messages are the window's own boxes.
// And what the window tells every page when the module's state changes.

#include <cstdint>

#include "device/operations.h"

namespace tarven::device {
class Link;
}

namespace tarven::app {

class Dialogs;

struct PageServices {
  device::Link& link;
  Dialogs& dialogs;
};

// The module as the status tick last found it. A page enables its controls from this alone.
struct ModuleState {
  device::Presence presence = device::Presence::Absent;
  // Whether the last tick read the run flag from the application's status answer.
  bool run_flag_read = false;
  // The run flag of the CNC and the external-DAC flag, as last shown.
  std::uint32_t run_flag = 0;
  std::uint32_t ext_dac_flag = 0;
  // Whether those flags were shown while a module was there, and it has not gone since: until then
  // the output controls stay as they started, disabled.
  bool run_state_shown = false;

  bool operator==(const ModuleState&) const = default;

  // Reads, writes and commands need a module, in its application or its boot loader.
  bool ModulePresent() const { return presence != device::Presence::Absent; }
  // Outputs may be changed while the CNC is stopped; DAC codes also need the external DAC mode.
  bool OutputsEnabled() const { return ModulePresent() && run_state_shown && run_flag == 0; }
  bool DacEditsEnabled() const { return OutputsEnabled() && ext_dac_flag != 0; }
};

}  // namespace tarven::app
