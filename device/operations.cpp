#include "device/operations.h"

#include <cstring>

#include "model/little_endian.h"

namespace tarven::device {
namespace {

// Reads a 4-byte answer over `previous`, so that a failed read keeps the word it had.
std::uint32_t ReadWord(Handle handle, std::uint8_t code, std::uint32_t previous) {
  TModuleCommand command;
  command.Code = code;
  SendCommand(handle, command);
  std::uint8_t answer[4] = {
      static_cast<std::uint8_t>(previous), static_cast<std::uint8_t>(previous >> 8),
      static_cast<std::uint8_t>(previous >> 16), static_cast<std::uint8_t>(previous >> 24)};
  ReadData(handle, answer, sizeof answer);
  return model::ReadLe32(answer);
}

}  // namespace

StatusReading PollStatus(Handle& handle, const OpenApplicationHook& while_open) {
  StatusReading reading;
  handle = OpenModule(AppModule);
  if (handle != kInvalidHandle) {
    HandleGuard guard(handle);
    reading.presence = Presence::Application;
    BootModule.Found = false;
    TModuleCommand status;
    status.Code = CmdStatus;
    SendCommand(handle, status);
    std::uint8_t answer[8] = {};
    ReadData(handle, answer, sizeof answer);
    AppModule.FirmwareVersion = model::ReadLe32(answer);
    reading.run_flag = answer[4];
    reading.ext_dac_flag = answer[5];
    if (while_open) while_open(handle, reading.run_flag, reading.ext_dac_flag);
    return reading;
  }
  handle = OpenModule(BootModule);
  if (handle != kInvalidHandle) {
    HandleGuard guard(handle);
    reading.presence = Presence::BootLoader;
    BootModule.BootVersion = ReadWord(handle, CmdStatus, BootModule.BootVersion);
    BootModule.FirmwareVersion = ReadWord(handle, CmdFirmwareVersion, BootModule.FirmwareVersion);
  }
  return reading;
}

bool SendApplicationCommand(Handle& handle, std::uint8_t code) {
  handle = OpenModule(AppModule);
  if (handle == kInvalidHandle) return false;
  HandleGuard guard(handle);
  TModuleCommand command;
  command.Code = code;
  return SendCommand(handle, command);
}

}  // namespace tarven::device
