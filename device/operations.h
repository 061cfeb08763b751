#pragma once
// Operations on the module that both front ends call. Each one opens the module into the handle
// variable it is given (the window's HidHandle, or a local one), and closes it and sets it back
// to the invalid handle on every way out.

#include <cstdint>
#include <functional>

#include "device/device.h"

namespace tarven::device {

enum class Presence { Absent, Application, BootLoader };

struct StatusReading {
  Presence presence = Presence::Absent;
  // From the application's status answer; 0 otherwise.
  std::uint8_t run_flag = 0;
  std::uint8_t ext_dac_flag = 0;
};

// Runs while the application is open in a status poll, after its status was read: the live pages
// read their registers over the same handle.
using OpenApplicationHook =
    std::function<void(Handle handle, std::uint8_t run_flag, std::uint8_t ext_dac_flag)>;

// One status poll. Looks for the application first: reads its status into
// AppModule.FirmwareVersion and the flags, runs `while_open`, and clears BootModule.Found (the
// module cannot be in both personalities at once). Failing that, looks for the boot loader and
// reads BootModule.BootVersion and BootModule.FirmwareVersion; a read that fails keeps the
// previous word. The results of the sends and reads are not tested, as a poll is repeated anyway.
StatusReading PollStatus(Handle& handle, const OpenApplicationHook& while_open = {});

// Sends one command without parameters or answer to the application personality.
// False when the application cannot be opened or refuses the command.
bool SendApplicationCommand(Handle& handle, std::uint8_t code);

}  // namespace tarven::device
