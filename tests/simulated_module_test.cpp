// The simulated module's firmware behaviour, driven through the real link functions.

#include "device/operations.h"
#include "sim_fixture.h"

namespace tarven::testing {
namespace {

using device::TModuleCommand;

class SimulatedModuleTest : public SimTest {
 protected:
  void Command(std::uint8_t code, std::uint32_t p1 = 0, std::uint32_t p2 = 0,
               std::uint32_t p3 = 0) {
    TModuleCommand command;
    command.Code = code;
    command.Param1 = p1;
    command.Param2 = p2;
    command.Param3 = p3;
    ASSERT_TRUE(device::SendCommand(handle_, command));
  }
  Bytes Answer(std::uint32_t count) {
    Bytes answer(count, 0);
    EXPECT_TRUE(device::ReadData(handle_, answer.data(), count));
    return answer;
  }
  std::uint32_t ReadRegister(std::uint16_t address) {
    Command(device::CmdReadRegister, address);
    return Le32At(Answer(8), 0);
  }
};

TEST_F(SimulatedModuleTest, FreshModuleHoldsAValidDefaultConfigurationSector) {
  OpenApplication();
  Command(device::CmdReadFlash, device::kConfigSectorAddress, 2048);
  const Bytes sector = Answer(2048);
  EXPECT_EQ(Bytes(sector.begin(), sector.begin() + 8), (Bytes{4, 1, 1, 0, 1, 1, 6, 0}));
  EXPECT_EQ(Le32At(sector, 8), 14u);
  EXPECT_EQ(Le32At(sector, 2044), 1u);
}

TEST_F(SimulatedModuleTest, BlockWithWrongChecksumOrOutsideTheFlashIsNotStored) {
  OpenApplication();
  const Bytes data(2048, 0x42);
  const Bytes before = module().FlashAt(device::kAmtRomAddress, 2048);
  Command(device::CmdBeginBlock, 12345, device::kAmtRomAddress, 2048);
  device::WriteData(handle_, data.data(), 2048);
  Command(device::CmdEndBlock, 12345, device::kAmtRomAddress, 2048);
  EXPECT_EQ(module().FlashAt(device::kAmtRomAddress, 2048), before);

  device::WriteBlock(handle_, data.data(), 2048, 0x08040000);  // just past the sector
  EXPECT_EQ(module().blocks_rejected, 2u);
  EXPECT_EQ(module().blocks_stored, 0u);

  device::WriteBlock(handle_, data.data(), 2048, device::kAmtRomAddress);
  EXPECT_EQ(module().FlashAt(device::kAmtRomAddress, 2048), data);
}

TEST_F(SimulatedModuleTest, RamIsWrittenReadAndStoredInItsBanks) {
  OpenApplication();
  Bytes image(16384);
  for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i ^ (i >> 8));
  Command(device::CmdWriteRam, 0, 16384);
  ASSERT_TRUE(device::WriteData(handle_, image.data(), 16384));
  Command(device::CmdStoreRam, 16384, 16384);
  EXPECT_EQ(module().ram, image);
  EXPECT_EQ(module().ram_reserve_bank, image);
  EXPECT_EQ(module().ram_main_bank, Bytes(16384, 0));
  Command(device::CmdReadRam, 0, 16384);
  EXPECT_EQ(Answer(16384), image);
}

TEST_F(SimulatedModuleTest, RegistersEncodersAndDacMode) {
  OpenApplication();
  Command(device::CmdWriteRegister, 0xF132, 0x8001);
  EXPECT_EQ(ReadRegister(0xF132), 0x8001u);
  EXPECT_EQ(module().register_writes, (std::vector<sim::RegisterWrite>{{0xF132, 0x8001}}));

  // Encoder channels report the change since the last read, as a 16-bit two's complement count.
  module().MoveEncoder(1, -1);
  module().MoveEncoder(4, 40000);
  EXPECT_EQ(ReadRegister(0xF151), 0xFFFFu);
  EXPECT_EQ(ReadRegister(0xF151), 0u);
  EXPECT_EQ(ReadRegister(0xF154), 0x7FFFu);
  EXPECT_EQ(ReadRegister(0xF154), 40000u - 32767u);

  module().ea_inputs = {1, 2, 3, 0xBEEF};
  Command(device::CmdReadEaInputs);
  EXPECT_EQ(Answer(8), (Bytes{1, 0, 2, 0, 3, 0, 0xEF, 0xBE}));

  Command(device::CmdExtDacOn);
  Command(device::CmdStatus);
  EXPECT_EQ(Answer(8)[5], 1);
  Command(device::CmdExtDacOff);
  EXPECT_FALSE(module().ext_dac);
}

TEST_F(SimulatedModuleTest, UpdateGoesToTheBootLoaderWhichTakesTheImageAndReturns) {
  OpenApplication();
  Command(device::CmdUpdate);
  // The module re-enumerates: the old handle is dead.
  TModuleCommand status;
  status.Code = device::CmdStatus;
  EXPECT_FALSE(device::SendCommand(handle_, status));
  device::CloseModule(handle_);
  EXPECT_EQ(device::PollStatus(handle_).presence, device::Presence::BootLoader);

  Bytes image(1000);
  for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i * 13);
  handle_ = device::OpenModule(device::BootModule);
  ASSERT_NE(handle_, device::kInvalidHandle);
  Command(device::CmdUpdate, 1000, 0);
  ASSERT_TRUE(device::WriteData(handle_, image.data(), 512));
  EXPECT_EQ(module().personality, sim::Personality::BootLoader);
  ASSERT_TRUE(device::WriteData(handle_, image.data() + 512, 488));
  EXPECT_EQ(module().received_image, image);
  EXPECT_EQ(module().personality, sim::Personality::Application);
  device::CloseModule(handle_);
  EXPECT_EQ(device::PollStatus(handle_).presence, device::Presence::Application);
}

TEST_F(SimulatedModuleTest, BrokenImageTransferIsGivenUpByTheNextExchange) {
  module().personality = sim::Personality::BootLoader;
  handle_ = device::OpenModule(device::BootModule);
  ASSERT_NE(handle_, device::kInvalidHandle);
  Command(device::CmdUpdate, 4096, 0);
  const Bytes part(1024, 0x77);
  device::WriteData(handle_, part.data(), 1024);
  device::CloseModule(handle_);
  // The next status poll still finds the boot loader, and a fresh transfer starts from byte 0.
  EXPECT_EQ(device::PollStatus(handle_).presence, device::Presence::BootLoader);
  EXPECT_EQ(module().images_received, 0u);
}

TEST_F(SimulatedModuleTest, RestartDropsOpenHandlesAndRunsTheCnc) {
  module().cnc_running = false;
  OpenApplication();
  Command(device::CmdRestart);
  TModuleCommand status;
  status.Code = device::CmdStatus;
  EXPECT_FALSE(device::SendCommand(handle_, status));
  EXPECT_TRUE(module().cnc_running);
  EXPECT_EQ(module().restarts, 1u);
}

}  // namespace
}  // namespace tarven::testing
