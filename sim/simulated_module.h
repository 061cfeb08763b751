#pragma once
// A simulated Тарвен module: the firmware side of the USB command protocol, in both personalities
// (application and boot loader). It sees only the reports that reach it; faults of the wire
// (refused reports, unplugging) belong to the simulated HID backend around it.

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace tarven::sim {

enum class Personality { Application, BootLoader };

struct RegisterWrite {
  std::uint16_t address = 0;  // the octal register number taken as a binary number
  std::uint32_t value = 0;
  bool operator==(const RegisterWrite&) const = default;
};

class SimulatedModule {
 public:
  static constexpr std::uint32_t kFlashBase = 0x08035800;
  static constexpr std::uint32_t kFlashSize = 0x0A800;  // up to the end of the configuration sector
  static constexpr std::uint32_t kRamSize = 16384;
  static constexpr std::uint32_t kDefaultFirmwareVersion = 0x00045400;  // 4.54
  static constexpr std::uint32_t kDefaultBootVersion = 0x00010002;      // 1.0.2.

  SimulatedModule();

  // The wire, one 65-byte feature report at a time. A report sent while a data stream is
  // expected is taken as data; otherwise it must be a command frame (marker 0x55).
  void ReceiveReport(const std::uint8_t* report, std::size_t length);
  // Fills the next answer report (zeros once the answer is used up).
  void AnswerReport(std::uint8_t* report, std::size_t length);

  // Counts re-enumerations (restart, personality change): a handle opened before is dead.
  std::uint64_t Generation() const { return generation_; }
  std::uint16_t DeviceCode() const;

  // State, readable and settable by tests and the state file.
  Personality personality = Personality::Application;
  std::uint32_t firmware_version = kDefaultFirmwareVersion;
  std::uint32_t boot_version = kDefaultBootVersion;
  bool cnc_running = true;
  bool ext_dac = false;
  std::vector<std::uint8_t> flash;          // kFlashSize bytes from kFlashBase
  std::vector<std::uint8_t> ram;            // kRamSize
  std::vector<std::uint8_t> ram_main_bank;  // kRamSize
  std::vector<std::uint8_t> ram_reserve_bank;
  std::map<std::uint16_t, std::uint32_t> registers;  // by binary address (0xF131 for 170461)
  std::array<std::int32_t, 4> encoder_pending{};     // counts not yet reported, channels 1..4
  std::array<std::uint16_t, 4> ea_inputs{};
  std::array<std::uint16_t, 4> ea_outputs{};
  std::vector<std::uint8_t> received_image;  // the last firmware image the boot loader took
  std::uint32_t images_received = 0;
  std::uint32_t restarts = 0;
  std::uint32_t blocks_stored = 0;
  std::uint32_t blocks_rejected = 0;
  std::vector<RegisterWrite> register_writes;

  // Flash bytes at a module address (tests); empty when outside the flash.
  std::vector<std::uint8_t> FlashAt(std::uint32_t address, std::uint32_t length) const;
  void SetFlash(std::uint32_t address, const std::vector<std::uint8_t>& bytes);
  // Moves encoder channel 1..4 by `counts`; the next read of its register reports the change.
  void MoveEncoder(int channel, std::int32_t counts);
  // Forgets any stream or answer in progress (a power cycle of the USB side).
  void ResetWire();

 private:
  enum class Stream { None, Block, Ram, Image };

  void HandleCommand(const std::uint8_t* frame);
  void HandleApplicationCommand(std::uint8_t code, std::uint32_t p1, std::uint32_t p2,
                                std::uint32_t p3);
  void HandleBootCommand(std::uint8_t code, std::uint32_t p1);
  void TakeData(const std::uint8_t* payload);
  void FinishBlock(std::uint32_t checksum, std::uint32_t address, std::uint32_t length);
  void Answer(const std::uint8_t* bytes, std::size_t count);
  void Answer32(std::uint32_t value);
  std::uint32_t ReadRegister(std::uint16_t address);
  void Reenumerate(Personality next);
  bool LooksLikeBootCommand(const std::uint8_t* report) const;

  std::uint64_t generation_ = 0;
  Stream stream_ = Stream::None;
  std::uint32_t stream_expected_ = 0;
  std::vector<std::uint8_t> stream_data_;
  std::uint32_t block_checksum_ = 0;
  std::uint32_t block_address_ = 0;
  std::uint32_t ram_offset_ = 0;
  std::vector<std::uint8_t> answer_;
  std::size_t answer_pos_ = 0;
};

}  // namespace tarven::sim
