#pragma once
// A simulated Тарвен module: the firmware side of the USB command protocol, in both personalities
// (application and boot loader). It sees only the reports that reach it; faults of the wire
// (refused reports, unplugging) belong to the simulated HID backend around it.

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "model/memory_areas.h"

namespace tarven::sim {

enum class Personality { Application, BootLoader };

struct RegisterWrite {
  std::uint16_t address = 0;  // the octal register number taken as a binary number
  std::uint32_t value = 0;
  bool operator==(const RegisterWrite&) const = default;
};

// How many bytes a persisted byte field may hold.
struct ByteCount {
  std::size_t min = 0;
  std::size_t max = 0;
};

// What the module keeps across a power cycle, and what a state file keeps between runs: a fresh
// one is a module as delivered.
struct ModuleState {
  // The flash the module maps for the tool, up to the end of the configuration sector.
  static constexpr std::uint32_t kFlashBase = model::kFlashBase;
  static constexpr std::uint32_t kFlashSize = model::kFlashSize;
  static constexpr std::uint32_t kRamSize = model::Area(model::AreaId::Ram).size;
  // The boot loader takes an image only as large as the flash below the module's data areas.
  static constexpr std::uint32_t kMaxImageSize = kFlashBase - 0x08000000;
  static constexpr std::uint32_t kDefaultFirmwareVersion = 0x00045400;  // 4.54
  static constexpr std::uint32_t kDefaultBootVersion = 0x00010002;      // 1.0.2.

  ModuleState();

  Personality personality = Personality::Application;
  std::uint32_t firmware_version = kDefaultFirmwareVersion;
  std::uint32_t boot_version = kDefaultBootVersion;
  bool cnc_running = true;
  bool ext_dac = false;
  std::map<std::uint16_t, std::uint32_t> registers;  // by binary address (0xF131 for 170461)
  std::array<std::int32_t, 4> encoder_pending{};     // counts not yet reported, channels 1..4
  std::array<std::uint16_t, 4> ea_inputs{};
  std::array<std::uint16_t, 4> ea_outputs{};
  std::vector<std::uint8_t> flash;          // kFlashSize bytes from kFlashBase
  std::vector<std::uint8_t> ram;            // kRamSize
  std::vector<std::uint8_t> ram_main_bank;  // kRamSize
  std::vector<std::uint8_t> ram_reserve_bank;
  std::vector<std::uint8_t> received_image;  // the last firmware image the boot loader took

  // Every field above with its key, in the order a state file lists them. Saving, loading and
  // the check that a file holds every field all walk this one list, so a new field is added
  // here and nowhere else. Byte fields carry the counts they may hold.
  template <typename State, typename Visit>
  static void ForEachField(State& state, Visit&& visit) {
    visit("personality", state.personality);
    visit("firmware_version", state.firmware_version);
    visit("boot_version", state.boot_version);
    visit("cnc_running", state.cnc_running);
    visit("ext_dac", state.ext_dac);
    visit("registers", state.registers);
    visit("encoder_pending", state.encoder_pending);
    visit("ea_inputs", state.ea_inputs);
    visit("ea_outputs", state.ea_outputs);
    visit("flash", state.flash, ByteCount{kFlashSize, kFlashSize});
    visit("ram", state.ram, ByteCount{kRamSize, kRamSize});
    visit("ram_main_bank", state.ram_main_bank, ByteCount{kRamSize, kRamSize});
    visit("ram_reserve_bank", state.ram_reserve_bank, ByteCount{kRamSize, kRamSize});
    visit("received_image", state.received_image, ByteCount{0, kMaxImageSize});
  }

  bool operator==(const ModuleState&) const = default;
};

class SimulatedModule : public ModuleState {
 public:
  SimulatedModule() = default;

  // The wire, one 65-byte feature report at a time. While a data stream is expected, every
  // report is data until the announced number of bytes has arrived, whatever it looks like: the
  // module cannot tell a data report from a command frame. Otherwise a report must be a command
  // frame (marker 0x55).
  void ReceiveReport(const std::uint8_t* report, std::size_t length);
  // Fills the next answer report (zeros once the answer is used up).
  void AnswerReport(std::uint8_t* report, std::size_t length);

  // Counts re-enumerations (restart, personality change): a handle opened before is dead.
  std::uint64_t Generation() const { return generation_; }
  std::uint16_t DeviceCode() const;

  // Takes a whole state (a loaded state file); the module re-enumerates with it.
  void Restore(ModuleState state);
  // The module drops off the bus and comes back in its other personality.
  void SwitchPersonality();

  // Test-visible counters and records; not persisted.
  std::uint32_t images_received = 0;
  std::uint32_t restarts = 0;
  std::uint32_t blocks_stored = 0;
  std::uint32_t blocks_rejected = 0;
  std::vector<RegisterWrite> register_writes;

  // Fault switch: a flash cell that does not keep what is written to it. Every block stored over
  // this module address keeps the byte there with its lowest bit inverted, while the block itself
  // is taken as good; what was not written stays as it was. Not persisted.
  std::optional<std::uint32_t> weak_flash_cell;

  // Flash bytes at a module address (tests); empty when outside the flash.
  std::vector<std::uint8_t> FlashAt(std::uint32_t address, std::uint32_t length) const;
  void SetFlash(std::uint32_t address, const std::vector<std::uint8_t>& bytes);
  // Moves encoder channel 1..4 by `counts`; the next read of its register reports the change.
  // Counts past what 32 bits can hold are lost at the limit (a real encoder would overflow the
  // module's own counter long before).
  void MoveEncoder(int channel, std::int32_t counts);

  // A host controller in motion, for a person watching the window: while on, every status read
  // of the application is one second of the controller's life. The first input word walks one
  // bit along, the second counts the seconds, the electroautomatics controller sees the host's
  // inputs and outputs, and the four encoders turn (+125, -40, +2500 and -7 counts a second).
  // Off unless the environment variable TARVEN_SIM_HOST_MOTION is set to 1 when the module is
  // made; not kept in a state file.
  bool host_motion = HostMotionRequested();
  static bool HostMotionRequested();
  // Forgets any stream or answer in progress (a power cycle of the USB side).
  void ResetWire();

 private:
  // What the module expects of the next report. A block, once its bytes are in, waits for its
  // end-of-block command; any other report drops it.
  enum class Stream { None, Block, BlockEnd, Ram, Image };

  void HandleCommand(const std::uint8_t* frame);
  void HandleApplicationCommand(std::uint8_t code, std::uint32_t p1, std::uint32_t p2,
                                std::uint32_t p3);
  void HandleBootCommand(std::uint8_t code, std::uint32_t p1);
  void BeginStream(Stream stream, std::uint32_t expected);
  void EndStream();
  void TakeData(const std::uint8_t* payload);
  void FinishBlock(std::uint32_t checksum, std::uint32_t address, std::uint32_t length);
  void Answer(const std::uint8_t* bytes, std::size_t count);
  void Answer32(std::uint32_t value);
  std::uint32_t ReadRegister(std::uint16_t address);
  void StepHost();
  void Reenumerate(Personality next);

  std::uint64_t generation_ = 0;
  std::uint32_t host_seconds_ = 0;
  Stream stream_ = Stream::None;
  std::uint32_t stream_expected_ = 0;  // bytes the stream announced
  std::uint32_t stream_received_ = 0;  // bytes taken so far
  std::vector<std::uint8_t> stream_data_;
  std::uint32_t block_checksum_ = 0;
  std::uint32_t block_address_ = 0;
  std::uint32_t ram_offset_ = 0;
  std::vector<std::uint8_t> answer_;
  std::size_t answer_pos_ = 0;
};

}  // namespace tarven::sim
