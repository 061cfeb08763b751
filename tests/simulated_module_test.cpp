// The simulated module's firmware behaviour, driven through the real link functions.

#include "device/operations.h"
#include "sim_fixture.h"

namespace tarven::testing {
namespace {

using device::TModuleCommand;

// The 64 bytes a report carries after its report id.
Bytes Payload(const Bytes& report) {
  return Bytes(report.begin() + 1, report.end());
}

class SimulatedModuleTest : public SimTest {
 protected:
  void Command(std::uint8_t code, std::uint32_t p1 = 0, std::uint32_t p2 = 0,
               std::uint32_t p3 = 0) {
    TModuleCommand command;
    command.Code = code;
    command.Param1 = p1;
    command.Param2 = p2;
    command.Param3 = p3;
    ASSERT_TRUE(link().SendCommand(handle_, command));
  }
  Bytes Answer(std::uint32_t count) {
    Bytes answer(count, 0);
    EXPECT_TRUE(link().ReadData(handle_, answer.data(), count));
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
  link().WriteData(handle_, data.data(), 2048);
  Command(device::CmdEndBlock, 12345, device::kAmtRomAddress, 2048);
  EXPECT_EQ(module().FlashAt(device::kAmtRomAddress, 2048), before);

  link().WriteBlock(handle_, data.data(), 2048, 0x08040000);  // just past the sector
  EXPECT_EQ(module().blocks_rejected, 2u);
  EXPECT_EQ(module().blocks_stored, 0u);

  link().WriteBlock(handle_, data.data(), 2048, device::kAmtRomAddress);
  EXPECT_EQ(module().FlashAt(device::kAmtRomAddress, 2048), data);
}

// The weak flash cell changes one byte of every block written over it, and only that byte; a
// block elsewhere is stored as sent, and the cell keeps what it had until a block covers it.
TEST_F(SimulatedModuleTest, WeakFlashCellChangesOneByteOfTheBlocksWrittenOverIt) {
  OpenApplication();
  const std::uint32_t cell = device::kAmtRomAddress + 2048 + 100;
  module().weak_flash_cell = cell;
  const Bytes before = module().FlashAt(cell, 1);
  const Bytes data(2048, 0x42);
  ASSERT_TRUE(link().WriteBlock(handle_, data.data(), 2048, device::kAmtRomAddress));
  EXPECT_EQ(module().FlashAt(device::kAmtRomAddress, 2048), data);
  EXPECT_EQ(module().FlashAt(cell, 1), before);

  ASSERT_TRUE(link().WriteBlock(handle_, data.data(), 2048, device::kAmtRomAddress + 2048));
  Bytes expected = data;
  expected[100] = 0x43;
  EXPECT_EQ(module().FlashAt(device::kAmtRomAddress + 2048, 2048), expected);
  EXPECT_EQ(module().blocks_stored, 2u);
  EXPECT_EQ(module().blocks_rejected, 0u);
}

TEST_F(SimulatedModuleTest, RamIsWrittenReadAndStoredInItsBanks) {
  OpenApplication();
  Bytes image(16384);
  for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i ^ (i >> 8));
  Command(device::CmdWriteRam, 0, 16384);
  ASSERT_TRUE(link().WriteData(handle_, image.data(), 16384));
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
  EXPECT_FALSE(link().SendCommand(handle_, status));
  link().CloseModule(handle_);
  EXPECT_EQ(device::PollStatus(link()).presence, device::Presence::BootLoader);

  Bytes image(1000);
  for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i * 13);
  handle_ = link().OpenModule(boot_record());
  ASSERT_NE(handle_, device::kInvalidHandle);
  Command(device::CmdUpdate, 1000, 0);
  ASSERT_TRUE(link().WriteData(handle_, image.data(), 512));
  EXPECT_EQ(module().personality, sim::Personality::BootLoader);
  ASSERT_TRUE(link().WriteData(handle_, image.data() + 512, 488));
  EXPECT_EQ(module().received_image, image);
  EXPECT_EQ(module().personality, sim::Personality::Application);
  link().CloseModule(handle_);
  EXPECT_EQ(device::PollStatus(link()).presence, device::Presence::Application);
}

// The module cannot tell a data report from a command frame: once an image is announced, the next
// reports are image bytes until the announced count has arrived, whatever they look like.
TEST_F(SimulatedModuleTest, ImageWhoseBytesLookLikeCommandFramesArrivesWhole) {
  module().personality = sim::Personality::BootLoader;
  handle_ = link().OpenModule(boot_record());
  ASSERT_NE(handle_, device::kInvalidHandle);
  // Every 64-byte slice is the payload of a command frame the boot loader knows.
  Bytes image;
  for (const Bytes& frame : {Frame(1), Frame(2), Frame(6, 640), Frame(7), Frame(6, 0)}) {
    const Bytes payload = Payload(frame);
    image.insert(image.end(), payload.begin(), payload.end());
  }
  image.resize(image.size() + 10, 0x55);  // and a short last report
  Command(device::CmdUpdate, static_cast<std::uint32_t>(image.size()));
  ASSERT_TRUE(link().WriteData(handle_, image.data(), static_cast<std::uint32_t>(image.size())));
  EXPECT_EQ(module().images_received, 1u);
  EXPECT_EQ(module().received_image, image);
  EXPECT_EQ(module().personality, sim::Personality::Application);
}

// A refused report never reached the module, so it goes on counting: what the host sends next is
// taken as image bytes, and the boot loader does not answer a search meanwhile.
TEST_F(SimulatedModuleTest, InterruptedImageTransferTakesTheNextReportsAsImageBytes) {
  module().personality = sim::Personality::BootLoader;
  handle_ = link().OpenModule(boot_record());
  ASSERT_NE(handle_, device::kInvalidHandle);
  Command(device::CmdUpdate, 4096, 0);
  const Bytes part(1024, 0x77);
  ASSERT_TRUE(link().WriteData(handle_, part.data(), 1024));
  link().CloseModule(handle_);

  EXPECT_EQ(link().OpenModule(boot_record()), device::kInvalidHandle);
  EXPECT_EQ(module().images_received, 0u);
  handle_ = link().OpenModule(boot_record());  // its identify is image bytes too
  EXPECT_EQ(handle_, device::kInvalidHandle);

  // The rest of the count arrives; the image holds the two identify frames at bytes 1024..1151.
  auto handle = sim_->Open("sim:module");
  const Bytes rest(4096 - 1024 - 128, 0x33);
  for (std::size_t at = 0; at < rest.size(); at += 64) {
    Bytes report(65, 0);
    std::copy(rest.begin() + static_cast<std::ptrdiff_t>(at),
              rest.begin() + static_cast<std::ptrdiff_t>(at + 64), report.begin() + 1);
    ASSERT_TRUE(sim_->SetFeature(handle, report.data(), report.size()));
  }
  sim_->Close(handle);
  ASSERT_EQ(module().images_received, 1u);
  const Bytes& image = module().received_image;
  ASSERT_EQ(image.size(), 4096u);
  EXPECT_EQ(Bytes(image.begin() + 1024, image.begin() + 1088), Payload(Frame(1)));
  EXPECT_EQ(Bytes(image.begin() + 1088, image.begin() + 1152), Payload(Frame(1)));
  EXPECT_EQ(image.back(), 0x33);
}

TEST_F(SimulatedModuleTest, RamStreamTakesExactlyTheAnnouncedBytes) {
  OpenApplication();
  // 128 bytes announced: the two reports are data although they look like a status command and
  // a restart; the third report is a command again.
  Bytes data = Payload(Frame(2));
  const Bytes restart = Payload(Frame(13));
  data.insert(data.end(), restart.begin(), restart.end());
  Command(device::CmdWriteRam, 100, 128);
  ASSERT_TRUE(link().WriteData(handle_, data.data(), 128));
  EXPECT_EQ(Bytes(module().ram.begin() + 100, module().ram.begin() + 228), data);
  EXPECT_EQ(module().restarts, 0u);
  Command(device::CmdStopCnc);
  EXPECT_FALSE(module().cnc_running);
}

// Data that hold a copy of the block's own end-of-block frame do not end the block early.
TEST_F(SimulatedModuleTest, BlockWhoseDataHoldTheirOwnEndFrameIsStored) {
  OpenApplication();
  const std::uint32_t address = device::kKvpAddress;
  // The frame carries the block's checksum, which counts the frame's own bytes: tune one filler
  // byte until the sum of the block equals the checksum written into it.
  Bytes block;
  for (int filler = 0; filler < 256 && block.empty(); ++filler) {
    Bytes candidate(2048, 0);
    candidate[2047] = static_cast<std::uint8_t>(filler);
    const Bytes frame = Frame(8, 0, address, 2048);
    std::copy(frame.begin() + 1, frame.end(), candidate.begin() + 4 * 64);
    std::uint32_t rest = 0;
    for (std::uint8_t b : candidate) rest += b;
    for (std::uint32_t sum = rest; sum < rest + 4 * 255; ++sum) {
      const std::uint32_t own = (sum & 0xFF) + ((sum >> 8) & 0xFF) + ((sum >> 16) & 0xFF);
      if (rest + own != sum) continue;
      const Bytes end = Frame(8, sum, address, 2048);
      std::copy(end.begin() + 1, end.end(), candidate.begin() + 4 * 64);
      block = candidate;
      break;
    }
  }
  ASSERT_FALSE(block.empty());
  EXPECT_TRUE(link().WriteBlock(handle_, block.data(), 2048, address));
  EXPECT_EQ(Bytes(block.begin() + 4 * 64 + 1, block.begin() + 4 * 64 + 2), Bytes{8});
  EXPECT_EQ(module().blocks_stored, 1u);
  EXPECT_EQ(module().blocks_rejected, 0u);
  EXPECT_EQ(module().FlashAt(address, 2048), block);
}

// A report refused inside a block never reached the module, which goes on counting: the
// end-of-block frame and the next block's reports fill the rest of the block, the report after
// them is not the end-of-block frame, and both blocks are dropped. Commands work again after.
TEST_F(SimulatedModuleTest, BlockWhoseStreamBrokeOffIsNeverStored) {
  OpenApplication();
  const Bytes data(4096, 0x42);
  const Bytes before = module().FlashAt(device::kAmtRomAddress, 4096);
  sim_->ArmFault(5, sim::SimBackend::Fault::Refuse);  // command 9, then the 4th data report
  EXPECT_FALSE(link().WriteBlock(handle_, data.data(), 4096, device::kAmtRomAddress));
  EXPECT_EQ(module().blocks_stored, 0u);
  EXPECT_EQ(module().blocks_rejected, 2u);
  EXPECT_EQ(module().FlashAt(device::kAmtRomAddress, 4096), before);
  Command(device::CmdStopCnc);
  EXPECT_FALSE(module().cnc_running);
}

// A read the memory cannot satisfy is refused: no answer, and nothing allocated for a length
// that came off the wire.
TEST_F(SimulatedModuleTest, ReadsPastTheEndOfAMemoryAreRefused) {
  std::fill(module().ram.begin(), module().ram.end(), 0xA5);
  module().flash.back() = 0x5A;
  const std::uint32_t flash_end =
      sim::SimulatedModule::kFlashBase + sim::SimulatedModule::kFlashSize;
  const struct {
    std::uint8_t code;
    std::uint32_t address;
    std::uint32_t length;
    bool answered;
  } cases[] = {
      {device::CmdReadFlash, device::kConfigSectorAddress, 2048, true},
      {device::CmdReadFlash, device::kConfigSectorAddress, 2049, false},
      {device::CmdReadFlash, flash_end - 1, 1, true},
      {device::CmdReadFlash, flash_end, 1, false},
      {device::CmdReadFlash, sim::SimulatedModule::kFlashBase - 1, 64, false},
      {device::CmdReadFlash, device::kMainRomAddress, 0xFFFFFFFF, false},
      {device::CmdReadFlash, 0xFFFFFFFF, 2, false},
      {device::CmdReadRam, 0, 16384, true},
      {device::CmdReadRam, 16383, 1, true},
      {device::CmdReadRam, 1, 16384, false},
      {device::CmdReadRam, 0, 0xFFFFFFFF, false},
      {device::CmdReadRam, 0xFFFFFFFF, 2, false},
  };
  OpenApplication();
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message()
                 << int{c.code} << " " << std::hex << c.address << " " << c.length);
    Command(c.code, c.address, c.length);
    const Bytes first = Answer(1);
    EXPECT_EQ(first[0] != 0, c.answered);
  }
}

TEST_F(SimulatedModuleTest, RestartDropsOpenHandlesAndRunsTheCnc) {
  module().cnc_running = false;
  OpenApplication();
  Command(device::CmdRestart);
  TModuleCommand status;
  status.Code = device::CmdStatus;
  EXPECT_FALSE(link().SendCommand(handle_, status));
  EXPECT_TRUE(module().cnc_running);
  EXPECT_EQ(module().restarts, 1u);
}

}  // namespace
}  // namespace tarven::testing
