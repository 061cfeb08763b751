#include "sim/simulated_module.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <utility>

#include "device/device.h"
#include "model/checksum.h"
#include "model/little_endian.h"

namespace tarven::sim {
namespace {

namespace dev = tarven::device;

constexpr std::uint16_t kEncoderRegister0 = 0xF150;  // 170520: КИП0, then channels 1..4
constexpr std::uint32_t kConfigOffset = dev::kConfigSectorAddress - ModuleState::kFlashBase;
constexpr std::size_t kPayload = 64;

// True when [offset, offset + length) lies inside a memory of `size` bytes.
bool Inside(std::uint64_t offset, std::uint64_t length, std::uint64_t size) {
  return offset <= size && length <= size - offset;
}

}  // namespace

ModuleState::ModuleState()
    : flash(kFlashSize, 0xFF),
      ram(kRamSize, 0),
      ram_main_bank(kRamSize, 0),
      ram_reserve_bank(kRamSize, 0) {
  // A module as delivered: the default configuration and an all-zero parameter table, both with
  // valid checksums; the rest of the sector erased.
  const std::uint8_t defaults[8] = {4, 1, 1, 0, 1, 1, 6, 0};
  std::uint8_t* sector = &flash[kConfigOffset];
  std::memcpy(sector, defaults, sizeof defaults);
  model::WriteLe32(sector + 8, model::ModuleChecksum(defaults, sizeof defaults));
  std::memset(sector + 1024, 0, 1020);
  model::WriteLe32(sector + 2044, model::ModuleChecksum(sector + 1024, 1020));
  const std::uint16_t host_registers[] = {0xF131, 0xF132, 0xF133, 0xF134, 0xF135, 0xF137,
                                          0xF150, 0xF140, 0xF141, 0xF142, 0xF143};
  for (std::uint16_t address : host_registers) registers[address] = 0;
}

std::uint16_t SimulatedModule::DeviceCode() const {
  return personality == Personality::Application ? dev::kAppDeviceCode : dev::kBootDeviceCode;
}

void SimulatedModule::ResetWire() {
  EndStream();
  answer_.clear();
  answer_pos_ = 0;
}

void SimulatedModule::Reenumerate(Personality next) {
  ResetWire();
  personality = next;
  ++generation_;
}

void SimulatedModule::Restore(ModuleState state) {
  static_cast<ModuleState&>(*this) = std::move(state);
  Reenumerate(personality);
}

void SimulatedModule::SwitchPersonality() {
  Reenumerate(personality == Personality::Application ? Personality::BootLoader
                                                      : Personality::Application);
}

void SimulatedModule::ReceiveReport(const std::uint8_t* report, std::size_t length) {
  if (length < 65) return;  // the module's reports are always 65 bytes; a short one is lost
  if (stream_ == Stream::Block || stream_ == Stream::Ram || stream_ == Stream::Image) {
    TakeData(report + 1);
    return;
  }
  const bool command = report[1] == dev::kCommandMarker;
  if (stream_ == Stream::BlockEnd && !(command && report[2] == dev::CmdEndBlock)) {
    // Something else came where the end of the block belonged: the block is dropped.
    ++blocks_rejected;
    EndStream();
  }
  if (command) HandleCommand(report);
}

void SimulatedModule::AnswerReport(std::uint8_t* report, std::size_t length) {
  if (length == 0) return;
  std::memset(report + 1, 0, length - 1);
  const std::size_t n = std::min({kPayload, length - 1, answer_.size() - answer_pos_});
  if (n > 0) std::memcpy(report + 1, answer_.data() + answer_pos_, n);
  answer_pos_ += n;
}

void SimulatedModule::Answer(const std::uint8_t* bytes, std::size_t count) {
  answer_.assign(bytes, bytes + count);
  answer_pos_ = 0;
}

void SimulatedModule::Answer32(std::uint32_t value) {
  std::uint8_t bytes[8] = {};
  model::WriteLe32(bytes, value);
  Answer(bytes, sizeof bytes);
}

void SimulatedModule::HandleCommand(const std::uint8_t* frame) {
  const std::uint8_t code = frame[2];
  const std::uint32_t p1 = model::ReadLe32(frame + 3);
  const std::uint32_t p2 = model::ReadLe32(frame + 7);
  const std::uint32_t p3 = model::ReadLe32(frame + 11);
  answer_.clear();
  answer_pos_ = 0;
  if (code == dev::CmdIdentify) {
    const std::uint16_t device_code = DeviceCode();
    const std::uint8_t bytes[2] = {static_cast<std::uint8_t>(device_code),
                                   static_cast<std::uint8_t>(device_code >> 8)};
    Answer(bytes, sizeof bytes);
    return;
  }
  if (personality == Personality::Application) {
    HandleApplicationCommand(code, p1, p2, p3);
  } else {
    HandleBootCommand(code, p1);
  }
}

void SimulatedModule::HandleApplicationCommand(std::uint8_t code, std::uint32_t p1,
                                               std::uint32_t p2, std::uint32_t p3) {
  switch (code) {
    case dev::CmdStatus: {
      if (host_motion) StepHost();
      std::uint8_t bytes[8] = {};
      model::WriteLe32(bytes, firmware_version);
      bytes[4] = cnc_running ? 1 : 0;
      bytes[5] = ext_dac ? 1 : 0;
      Answer(bytes, sizeof bytes);
      break;
    }
    case dev::CmdUpdate:
      Reenumerate(Personality::BootLoader);
      break;
    case dev::CmdBeginBlock:
      block_checksum_ = p1;
      block_address_ = p2;
      BeginStream(Stream::Block, p3);
      break;
    case dev::CmdEndBlock:
      FinishBlock(p1, p2, p3);
      break;
    case dev::CmdReadFlash:
      // A read past the flash is refused: no answer, and nothing allocated for its length.
      if (p1 >= kFlashBase && Inside(p1 - kFlashBase, p2, kFlashSize)) {
        answer_.assign(flash.begin() + (p1 - kFlashBase), flash.begin() + (p1 - kFlashBase + p2));
      }
      break;
    case dev::CmdStopCnc:
      cnc_running = false;
      break;
    case dev::CmdStartCnc:
      cnc_running = true;
      break;
    case dev::CmdRestart:
      ++restarts;
      cnc_running = true;
      ext_dac = false;
      Reenumerate(Personality::Application);
      break;
    case dev::CmdWriteRegister: {
      const auto address = static_cast<std::uint16_t>(p1);
      const auto value = static_cast<std::uint16_t>(p2);
      register_writes.push_back({address, value});
      registers[address] = value;
      break;
    }
    case dev::CmdReadRegister:
      Answer32(ReadRegister(static_cast<std::uint16_t>(p1)));
      break;
    case dev::CmdReadRam:
      if (Inside(p1, p2, kRamSize)) answer_.assign(ram.begin() + p1, ram.begin() + (p1 + p2));
      break;
    case dev::CmdWriteRam:
      ram_offset_ = p1;
      BeginStream(Stream::Ram, p2);
      break;
    case dev::CmdStoreRam:
      if (p1 == 0) ram_main_bank = ram;
      if (p1 == kRamSize) ram_reserve_bank = ram;
      break;
    case dev::CmdExtDacOn:
      ext_dac = true;
      break;
    case dev::CmdExtDacOff:
      ext_dac = false;
      break;
    case dev::CmdReadEaInputs:
    case dev::CmdReadEaOutputs: {
      const auto& words = code == dev::CmdReadEaInputs ? ea_inputs : ea_outputs;
      std::uint8_t bytes[8];
      for (int i = 0; i < 4; ++i) {
        bytes[2 * i] = static_cast<std::uint8_t>(words[static_cast<std::size_t>(i)]);
        bytes[2 * i + 1] = static_cast<std::uint8_t>(words[static_cast<std::size_t>(i)] >> 8);
      }
      Answer(bytes, sizeof bytes);
      break;
    }
    default:
      break;  // unknown codes are ignored, as the firmware does
  }
}

void SimulatedModule::HandleBootCommand(std::uint8_t code, std::uint32_t p1) {
  switch (code) {
    case dev::CmdStatus:
      Answer32(boot_version);
      answer_.resize(4);
      break;
    case dev::CmdFirmwareVersion:
      Answer32(firmware_version);
      answer_.resize(4);
      break;
    case dev::CmdUpdate:
      // An image that cannot fit is not taken; an empty one announces nothing.
      if (p1 > 0 && p1 <= kMaxImageSize) BeginStream(Stream::Image, p1);
      break;
    default:
      break;
  }
}

void SimulatedModule::BeginStream(Stream stream, std::uint32_t expected) {
  EndStream();
  stream_ = stream;
  stream_expected_ = expected;
  if (expected == 0) stream_ = stream == Stream::Block ? Stream::BlockEnd : Stream::None;
}

void SimulatedModule::EndStream() {
  stream_ = Stream::None;
  stream_expected_ = 0;
  stream_received_ = 0;
  stream_data_.clear();
}

void SimulatedModule::TakeData(const std::uint8_t* payload) {
  const std::uint32_t n =
      std::min(static_cast<std::uint32_t>(kPayload), stream_expected_ - stream_received_);
  // Keep only what the stream can put somewhere; the count goes on regardless, so that the
  // module's idea of where the stream ends never depends on the bytes in it.
  std::size_t room = 0;
  switch (stream_) {
    case Stream::Block:
      room = dev::kMaxBlockLength;
      break;
    case Stream::Ram:
      room = ram_offset_ < kRamSize ? kRamSize - ram_offset_ : 0;
      break;
    case Stream::Image:
      room = kMaxImageSize;
      break;
    case Stream::None:
    case Stream::BlockEnd:
      return;
  }
  const std::size_t keep = std::min<std::size_t>(n, room - std::min(room, stream_data_.size()));
  stream_data_.insert(stream_data_.end(), payload, payload + keep);
  stream_received_ += n;
  if (stream_received_ < stream_expected_) return;
  switch (stream_) {
    case Stream::Ram:
      if (!stream_data_.empty()) {
        std::copy(stream_data_.begin(), stream_data_.end(), ram.begin() + ram_offset_);
      }
      EndStream();
      break;
    case Stream::Image:
      received_image = std::move(stream_data_);
      ++images_received;
      Reenumerate(Personality::Application);  // the new firmware starts by itself
      break;
    case Stream::Block:
      stream_ = Stream::BlockEnd;  // stored when the end-of-block command confirms it
      break;
    case Stream::None:
    case Stream::BlockEnd:
      break;
  }
}

void SimulatedModule::FinishBlock(std::uint32_t checksum, std::uint32_t address,
                                  std::uint32_t length) {
  const bool whole = stream_ == Stream::BlockEnd && length == stream_expected_ &&
                     address == block_address_ && checksum == block_checksum_ &&
                     stream_data_.size() == length;
  const bool inside = address >= kFlashBase && Inside(address - kFlashBase, length, kFlashSize);
  const bool sums = whole && model::ModuleChecksum(stream_data_.data(), length) == checksum;
  if (whole && inside && sums) {
    std::copy(stream_data_.begin(), stream_data_.end(), flash.begin() + (address - kFlashBase));
    if (weak_flash_cell && *weak_flash_cell >= address && *weak_flash_cell - address < length) {
      flash[*weak_flash_cell - kFlashBase] ^= 0x01;
    }
    ++blocks_stored;
  } else {
    ++blocks_rejected;
  }
  EndStream();
}

std::uint32_t SimulatedModule::ReadRegister(std::uint16_t address) {
  if (address > kEncoderRegister0 && address <= kEncoderRegister0 + 4) {
    // Encoder channels report the change since their last read, as a signed 16-bit count.
    std::int32_t& pending = encoder_pending[address - kEncoderRegister0 - 1];
    const std::int32_t reported = std::clamp(pending, -32768, 32767);
    pending -= reported;
    return static_cast<std::uint16_t>(reported);
  }
  const auto found = registers.find(address);
  return found == registers.end() ? 0 : found->second;
}

std::vector<std::uint8_t> SimulatedModule::FlashAt(std::uint32_t address,
                                                   std::uint32_t length) const {
  if (address < kFlashBase || address - kFlashBase >= kFlashSize) return {};
  const std::uint32_t offset = address - kFlashBase;
  const std::uint32_t n = std::min(length, kFlashSize - offset);
  return {flash.begin() + offset, flash.begin() + offset + n};
}

void SimulatedModule::SetFlash(std::uint32_t address, const std::vector<std::uint8_t>& bytes) {
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const std::uint64_t at = std::uint64_t{address} + i;
    if (at >= kFlashBase && at < std::uint64_t{kFlashBase} + kFlashSize) {
      flash[at - kFlashBase] = bytes[i];
    }
  }
}

void SimulatedModule::MoveEncoder(int channel, std::int32_t counts) {
  if (channel < 1 || channel > 4) return;
  std::int32_t& pending = encoder_pending[static_cast<std::size_t>(channel - 1)];
  const std::int64_t sum = std::int64_t{pending} + counts;
  pending = static_cast<std::int32_t>(std::clamp<std::int64_t>(
      sum, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()));
}

bool SimulatedModule::HostMotionRequested() {
  const char* value = std::getenv("TARVEN_SIM_HOST_MOTION");
  return value != nullptr && std::strcmp(value, "1") == 0;
}

void SimulatedModule::StepHost() {
  ++host_seconds_;
  registers[0xF131] = 1u << (host_seconds_ % 16);
  registers[0xF133] = host_seconds_ & 0xFFFF;
  for (std::size_t i = 0; i < ea_inputs.size(); ++i) {
    ea_inputs[i] =
        static_cast<std::uint16_t>(registers[static_cast<std::uint16_t>(0xF131 + 2 * i)]);
  }
  ea_outputs[0] = static_cast<std::uint16_t>(registers[0xF132]);
  ea_outputs[1] = static_cast<std::uint16_t>(registers[0xF134]);
  const std::int32_t turns[] = {125, -40, 2500, -7};
  for (int channel = 1; channel <= 4; ++channel) MoveEncoder(channel, turns[channel - 1]);
}

}  // namespace tarven::sim
