#include "sim/simulated_module.h"

#include <algorithm>
#include <cstring>

#include "device/device.h"
#include "model/checksum.h"
#include "model/little_endian.h"

namespace tarven::sim {
namespace {

namespace dev = tarven::device;

constexpr std::uint16_t kEncoderRegister0 = 0xF150;  // 170520: КИП0, then channels 1..4
constexpr std::uint32_t kConfigOffset = dev::kConfigSectorAddress - SimulatedModule::kFlashBase;
constexpr std::size_t kPayload = 64;

}  // namespace

SimulatedModule::SimulatedModule()
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
  stream_ = Stream::None;
  stream_data_.clear();
  answer_.clear();
  answer_pos_ = 0;
}

void SimulatedModule::Reenumerate(Personality next) {
  ResetWire();
  personality = next;
  ++generation_;
}

void SimulatedModule::ReceiveReport(const std::uint8_t* report, std::size_t length) {
  if (length < 65) return;  // the module's reports are always 65 bytes; a short one is lost
  if (stream_ == Stream::Block) {
    // The end-of-block command for the block in progress ends it early: a stream that broke off
    // leaves an incomplete block, which is then not stored.
    if (report[1] == dev::kCommandMarker && report[2] == dev::CmdEndBlock &&
        model::ReadLe32(report + 3) == block_checksum_ &&
        model::ReadLe32(report + 7) == block_address_ &&
        model::ReadLe32(report + 11) == stream_expected_) {
      stream_ = Stream::None;
      HandleCommand(report);
      return;
    }
  }
  if (stream_ == Stream::Image && LooksLikeBootCommand(report)) {
    // A new exchange from the host means the image transfer was given up.
    stream_ = Stream::None;
  }
  if (stream_ != Stream::None) {
    TakeData(report + 1);
    return;
  }
  if (report[1] != dev::kCommandMarker) return;  // neither a command nor an expected stream
  HandleCommand(report);
}

bool SimulatedModule::LooksLikeBootCommand(const std::uint8_t* report) const {
  if (report[1] != dev::kCommandMarker) return false;
  const std::uint8_t code = report[2];
  if (code != dev::CmdIdentify && code != dev::CmdStatus && code != dev::CmdUpdate &&
      code != dev::CmdFirmwareVersion) {
    return false;
  }
  return std::all_of(report + 15, report + 65, [](std::uint8_t b) { return b == 0; });
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
      stream_ = Stream::Block;
      block_checksum_ = p1;
      block_address_ = p2;
      stream_expected_ = std::min<std::uint32_t>(p3, dev::kMaxBlockLength);
      stream_data_.clear();
      break;
    case dev::CmdEndBlock:
      FinishBlock(p1, p2, p3);
      break;
    case dev::CmdReadFlash: {
      std::vector<std::uint8_t> bytes = FlashAt(p1, p2);
      bytes.resize(p2, 0xFF);  // outside the flash reads as erased
      answer_ = std::move(bytes);
      break;
    }
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
      answer_.clear();
      for (std::uint32_t i = 0; i < p2; ++i) {
        const std::uint64_t at = std::uint64_t{p1} + i;
        answer_.push_back(at < kRamSize ? ram[at] : 0);
      }
      break;
    case dev::CmdWriteRam:
      stream_ = Stream::Ram;
      ram_offset_ = p1;
      stream_expected_ = p2;
      stream_data_.clear();
      if (stream_expected_ == 0) stream_ = Stream::None;
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
      stream_data_.clear();
      stream_expected_ = p1;
      stream_ = p1 == 0 ? Stream::None : Stream::Image;
      break;
    default:
      break;
  }
}

void SimulatedModule::TakeData(const std::uint8_t* payload) {
  const std::uint32_t n =
      std::min<std::uint32_t>(static_cast<std::uint32_t>(kPayload),
                              stream_expected_ - static_cast<std::uint32_t>(stream_data_.size()));
  stream_data_.insert(stream_data_.end(), payload, payload + n);
  if (stream_data_.size() < stream_expected_) return;
  switch (stream_) {
    case Stream::Ram:
      for (std::size_t i = 0; i < stream_data_.size(); ++i) {
        const std::uint64_t at = std::uint64_t{ram_offset_} + i;
        if (at < kRamSize) ram[at] = stream_data_[i];
      }
      stream_ = Stream::None;
      break;
    case Stream::Image:
      received_image = stream_data_;
      ++images_received;
      Reenumerate(Personality::Application);  // the new firmware starts by itself
      break;
    case Stream::Block:
      stream_ = Stream::None;  // complete; stored when the end-of-block command confirms it
      break;
    case Stream::None:
      break;
  }
}

void SimulatedModule::FinishBlock(std::uint32_t checksum, std::uint32_t address,
                                  std::uint32_t length) {
  const bool whole = length == stream_expected_ && stream_data_.size() == length &&
                     address == block_address_ && checksum == block_checksum_;
  const bool inside =
      address >= kFlashBase && length <= kFlashSize && address - kFlashBase <= kFlashSize - length;
  const bool sums = whole && model::ModuleChecksum(stream_data_.data(), length) == checksum;
  if (whole && inside && sums) {
    std::copy(stream_data_.begin(), stream_data_.end(), flash.begin() + (address - kFlashBase));
    ++blocks_stored;
  } else {
    ++blocks_rejected;
  }
  stream_ = Stream::None;
  stream_data_.clear();
  stream_expected_ = 0;
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
  encoder_pending[static_cast<std::size_t>(channel - 1)] += counts;
}

}  // namespace tarven::sim
