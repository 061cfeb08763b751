#pragma once
// The host controller's registers through the module: reads over a handle that is already open
// (the status tick's), and the operations that open the application themselves to write outputs
// and DAC codes, or to take one snapshot of every live value.
//
// A register address is the register's octal number taken as a binary number (170461 = 0xF131).
// CmdReadRegister answers 8 bytes: the value in bytes 0..1, or one 32-bit number in bytes 0..3
// for encoder changes and DAC codes. Reading an encoder register takes its change since the last
// read: the count is then gone from the module.

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "device/device.h"
#include "device/outcome.h"
#include "model/signal_text.h"

namespace tarven::device {

// Discrete inputs 170461, 170463, 170465, 170467 and outputs 170462, 170464.
inline constexpr std::array<std::uint16_t, 4> kInputRegisters = {0xF131, 0xF133, 0xF135, 0xF137};
inline constexpr std::array<std::uint16_t, 2> kOutputRegisters = {0xF132, 0xF134};
// Channel КИП0 (170520) and the encoder channels КИП1..КИП4 (170521..170524).
inline constexpr std::uint16_t kKip0Register = 0xF150;
inline constexpr std::array<std::uint16_t, 4> kEncoderRegisters = {0xF151, 0xF152, 0xF153, 0xF154};
// DAC channels КП1..КП4 (170500..170503).
inline constexpr std::array<std::uint16_t, 4> kDacRegisters = {0xF140, 0xF141, 0xF142, 0xF143};

bool IsEncoderRegister(std::uint16_t address);

// One register read over an open handle: CmdReadRegister with the address, then the 8-byte
// answer into `reply`. The answer is fetched whatever became of the command; what does not
// arrive leaves `reply` as it was. True when both the command and the answer went through.
bool ReadRegisterOver(Link& link, Handle handle, std::uint16_t address, model::RegisterReply& reply);
// CmdReadEaInputs or CmdReadEaOutputs over an open handle, the same way.
bool ReadEaWordsOver(Link& link, Handle handle, std::uint8_t code, model::RegisterReply& reply);
// A command without parameters or answer (CmdExtDacOn, CmdExtDacOff) over an open handle.
bool SendBareCommand(Link& link, Handle handle, std::uint8_t code);

struct RegisterWrite {
  std::uint16_t address = 0;
  std::uint16_t value = 0;
};

// Opens the application and writes the registers in the given order, one CmdWriteRegister each
// (no answer). Every write is sent even after a refused one, as the window's buttons do; the
// outcome names the first refused report.
Outcome WriteRegisters(Link& link, std::span<const RegisterWrite> writes);

// The same, for a front end that must not drive the controller while its CNC runs: opens the
// application, reads its status over the same handle, and writes only when the status arrived
// and says the CNC is stopped. With `external_dac`, the module's external-DAC mode is switched
// on first when the status says it is off (DAC codes reach the outputs only in that mode).
struct GuardedWrite {
  Outcome outcome;
  bool status_read = false;      // without it nothing was written
  bool cnc_running = false;      // refused: nothing was written
  bool switched_dac_on = false;  // CmdExtDacOn was sent
  // One per write, in the order given, once the writes went out: whether its command was taken.
  // Every write is sent even after a refused one, so a refusal may fall anywhere among them.
  std::vector<bool> accepted;
};
GuardedWrite WriteRegistersWhenStopped(Link& link, std::span<const RegisterWrite> writes,
                                       bool external_dac = false);

// Every live value, each one present only when it was read; none is a default.
struct LiveSignals {
  bool status_read = false;
  std::uint8_t run_flag = 0;
  std::uint8_t ext_dac_flag = 0;
  std::array<std::optional<std::uint16_t>, 4> inputs;
  std::array<std::optional<std::uint16_t>, 2> outputs;
  std::optional<std::uint16_t> kip0;
  // Changes since the last read. Not read while the CNC runs (or its state is not known): the
  // counts belong to the CNC then.
  std::array<std::optional<std::int32_t>, 4> encoder_changes;
  bool encoders_skipped = false;
  std::array<std::optional<std::uint32_t>, 4> dac_codes;  // bytes 0..3 of the answers
  std::optional<std::array<std::uint16_t, 4>> ea_inputs;
  std::optional<std::array<std::uint16_t, 2>> ea_outputs;
};

// One snapshot over one open handle: the status, then the registers of the four live pages and
// the electroautomatics words. Leaves the external-DAC mode as it is. Done when every value it
// meant to read arrived; otherwise the outcome names the first refused report, and the values
// that arrived are still given.
Outcome ReadLiveSignals(Link& link, LiveSignals& live);

// Reads registers in the given order over one open handle, after the status: an encoder register
// is read only while the CNC is stopped. `values[i]` is set for each read that arrived.
struct RegisterReads {
  Outcome outcome;
  bool cnc_running = false;  // refused because an encoder register was asked for; nothing read
};
RegisterReads ReadRegisters(Link& link, std::span<const std::uint16_t> addresses,
                            std::span<std::optional<std::uint32_t>> values);

}  // namespace tarven::device
