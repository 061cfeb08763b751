#include "device/register_operations.h"

#include <cstdio>
#include <string>

#include <algorithm>

#include "device/exchange.h"
#include "device/operations.h"
#include "model/little_endian.h"

namespace tarven::device {
namespace {

// A command and its 4-byte answer.
bool ReadReply(Exchange& exchange, std::uint8_t code, std::uint32_t p1,
               model::RegisterReply& reply) {
  const bool sent = exchange.Send(Command(code, p1));
  const bool read = exchange.Read(reply.data(), model::kRegisterReplySize);
  return sent && read;
}

struct Status {
  bool read = false;
  std::uint8_t run_flag = 0;
  std::uint8_t ext_dac_flag = 0;
  std::uint32_t firmware_version = 0;
};

Status ReadStatus(Exchange& exchange) {
  model::RegisterReply answer{};
  Status status;
  status.read = ReadReply(exchange, CmdStatus, 0, answer);
  if (status.read) {
    status.firmware_version = model::ReadLe32(answer.data());
    status.run_flag = answer[4];
    status.ext_dac_flag = answer[5];
  }
  return status;
}

}  // namespace

bool IsEncoderRegister(std::uint16_t address) {
  return std::find(kEncoderRegisters.begin(), kEncoderRegisters.end(), address) !=
         kEncoderRegisters.end();
}

bool ReadRegisterOver(Link& link, Handle handle, std::uint16_t address,
                      model::RegisterReply& reply) {
  const bool sent = link.SendCommand(handle, Command(CmdReadRegister, address));
  const bool read = link.ReadData(handle, reply.data(), model::kRegisterReplySize);
  return sent && read;
}

bool ReadEaWordsOver(Link& link, Handle handle, std::uint8_t code, model::RegisterReply& reply) {
  const bool sent = link.SendCommand(handle, Command(code));
  const bool read = link.ReadData(handle, reply.data(), model::kRegisterReplySize);
  return sent && read;
}

bool SendBareCommand(Link& link, Handle handle, std::uint8_t code) {
  return link.SendCommand(handle, Command(code));
}

namespace {

// "170462=177777 170464=0": the registers and values in octal, as tarvenctl takes them.
std::string WritesText(std::span<const RegisterWrite> writes) {
  std::string text;
  for (const RegisterWrite& write : writes) {
    char word[32];
    std::snprintf(word, sizeof word, "%s%o=%o", text.empty() ? "" : " ",
                  static_cast<unsigned>(write.address), static_cast<unsigned>(write.value));
    text += word;
  }
  return text;
}

void NoteRegisterWrites(Link& link, std::span<const RegisterWrite> writes, bool switched_dac_on,
                        const Outcome& outcome) {
  ChangeRecorder* recorder = link.change_recorder();
  if (recorder == nullptr) return;
  ChangeNote note = NoteFor(link, "register write");
  note.detail = (switched_dac_on ? "ext-dac on " : "") + WritesText(writes);
  note.outcome = outcome;
  recorder->Record(note);
}

}  // namespace

Outcome WriteRegisters(Link& link, std::span<const RegisterWrite> writes) {
  Exchange exchange(link);
  if (!exchange.OpenApplicationToChange()) return exchange.outcome();
  for (const RegisterWrite& write : writes) {
    exchange.Send(Command(CmdWriteRegister, write.address, write.value));
  }
  NoteRegisterWrites(link, writes, false, exchange.outcome());
  return exchange.outcome();
}

GuardedWrite WriteRegistersWhenStopped(Link& link, std::span<const RegisterWrite> writes,
                                       bool external_dac) {
  Exchange exchange(link);
  GuardedWrite result;
  if (!exchange.OpenApplication()) {
    result.outcome = exchange.outcome();
    return result;
  }
  const Status status = ReadStatus(exchange);
  result.status_read = status.read;
  // The status this write reads anyway names the firmware for the journal.
  if (status.read) LinkAccess::AppModule(link).FirmwareVersion = status.firmware_version;
  if (!status.read) {
    // Without the status nobody knows whether the CNC runs: nothing is written.
    result.outcome = exchange.outcome();
    return result;
  }
  if (status.run_flag != 0) {
    result.cnc_running = true;
    return result;
  }
  if (external_dac && status.ext_dac_flag == 0) {
    result.switched_dac_on = exchange.Send(Command(CmdExtDacOn));
  }
  for (const RegisterWrite& write : writes) {
    result.accepted.push_back(
        exchange.Send(Command(CmdWriteRegister, write.address, write.value)));
  }
  result.outcome = exchange.outcome();
  NoteRegisterWrites(link, writes, result.switched_dac_on, result.outcome);
  return result;
}

Outcome ReadLiveSignals(Link& link, LiveSignals& live) {
  live = {};
  Exchange exchange(link);
  if (!exchange.OpenApplication()) return exchange.outcome();
  const Status status = ReadStatus(exchange);
  live.status_read = status.read;
  live.run_flag = status.run_flag;
  live.ext_dac_flag = status.ext_dac_flag;

  const auto read16 = [&](std::uint16_t address, std::optional<std::uint16_t>& value) {
    model::RegisterReply reply{};
    if (ReadReply(exchange, CmdReadRegister, address, reply)) {
      value = model::RegisterValue(reply);
    }
  };
  for (std::size_t i = 0; i < kInputRegisters.size(); ++i) {
    read16(kInputRegisters[i], live.inputs[i]);
  }
  for (std::size_t i = 0; i < kOutputRegisters.size(); ++i) {
    read16(kOutputRegisters[i], live.outputs[i]);
  }
  read16(kKip0Register, live.kip0);
  live.encoders_skipped = !status.read || status.run_flag != 0;
  for (std::size_t i = 0; i < kEncoderRegisters.size() && !live.encoders_skipped; ++i) {
    model::RegisterReply reply{};
    if (ReadReply(exchange, CmdReadRegister, kEncoderRegisters[i], reply)) {
      live.encoder_changes[i] = model::CounterDelta(model::RegisterNumber(reply));
    }
  }
  for (std::size_t i = 0; i < kDacRegisters.size(); ++i) {
    model::RegisterReply reply{};
    if (ReadReply(exchange, CmdReadRegister, kDacRegisters[i], reply)) {
      live.dac_codes[i] = model::RegisterNumber(reply);
    }
  }
  model::RegisterReply reply{};
  if (ReadReply(exchange, CmdReadEaInputs, 0, reply)) live.ea_inputs = model::EaWords(reply);
  reply = {};
  if (ReadReply(exchange, CmdReadEaOutputs, 0, reply)) {
    const auto words = model::EaWords(reply);
    live.ea_outputs = std::array<std::uint16_t, 2>{words[0], words[1]};
  }
  return exchange.outcome();
}

RegisterReads ReadRegisters(Link& link, std::span<const std::uint16_t> addresses,
                            std::span<std::optional<std::uint32_t>> values) {
  RegisterReads result;
  if (values.size() < addresses.size()) {
    result.outcome = Outcome::Failed(Failure::InvalidRequest);
    return result;
  }
  Exchange exchange(link);
  if (!exchange.OpenApplication()) {
    result.outcome = exchange.outcome();
    return result;
  }
  const Status status = ReadStatus(exchange);
  const bool encoders = std::any_of(addresses.begin(), addresses.end(), IsEncoderRegister);
  if (encoders && (!status.read || status.run_flag != 0)) {
    // An encoder's change read now would be lost to the CNC.
    result.cnc_running = status.read;
    result.outcome = exchange.outcome();
    return result;
  }
  for (std::size_t i = 0; i < addresses.size(); ++i) {
    model::RegisterReply reply{};
    if (ReadReply(exchange, CmdReadRegister, addresses[i], reply)) {
      values[i] = model::RegisterNumber(reply);
    }
  }
  result.outcome = exchange.outcome();
  return result;
}

}  // namespace tarven::device
