// Checksummed block writes: how a buffer is cut, announced, streamed and closed.

#include "sim_fixture.h"

namespace tarven::testing {
namespace {

constexpr std::uint32_t kAddress = 0x08035800;

class WriteBlockTest : public SimTest {
 protected:
  struct Block {
    std::uint32_t checksum, address, length;
    std::size_t data_reports;
  };
  // Reads the sent reports back as blocks, checking that every block is framed by command 9 and
  // command 8 with the same parameters.
  std::vector<Block> Blocks() {
    std::vector<Block> blocks;
    const auto sent = Sent();
    for (std::size_t i = 0; i < sent.size();) {
      EXPECT_EQ(Bytes(sent[i].begin(), sent[i].begin() + 3), (Bytes{0, 0x55, 9})) << "report " << i;
      Block block{Le32At(sent[i], 3), Le32At(sent[i], 7), Le32At(sent[i], 11), 0};
      const std::size_t reports = (block.length + 63) / 64;
      if (i + 1 + reports >= sent.size()) {
        ADD_FAILURE() << "block at report " << i << " is not closed";
        break;
      }
      block.data_reports = reports;
      EXPECT_EQ(sent[i + 1 + reports], Frame(8, block.checksum, block.address, block.length));
      blocks.push_back(block);
      i += reports + 2;
    }
    return blocks;
  }
};

TEST_F(WriteBlockTest, BlocksOf2048WithAddressLengthAndChecksum) {
  struct Case {
    std::uint32_t length;
    std::vector<std::uint32_t> lengths;
  };
  const Case cases[] = {{2048, {2048}},
                        {2049, {2048, 1}},
                        {16384, std::vector<std::uint32_t>(8, 2048)},
                        {100, {100}}};
  OpenApplication();
  for (const Case& c : cases) {
    sim_->ClearLog();
    Bytes data(c.length);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 31 + 7);
    EXPECT_TRUE(link().WriteBlock(handle_, data.data(), c.length, kAddress));
    const auto blocks = Blocks();
    ASSERT_EQ(blocks.size(), c.lengths.size()) << "length " << c.length;
    std::uint32_t offset = 0;
    std::size_t reports = 0;
    for (std::size_t k = 0; k < blocks.size(); ++k) {
      reports += 2 + (c.lengths[k] + 63) / 64;
      std::uint32_t sum = 0;
      for (std::uint32_t i = 0; i < c.lengths[k]; ++i) sum += data[offset + i];
      EXPECT_EQ(blocks[k].address, kAddress + 2048 * k);
      EXPECT_EQ(blocks[k].length, c.lengths[k]);
      EXPECT_EQ(blocks[k].checksum, sum);
      offset += c.lengths[k];
    }
    EXPECT_EQ(Sent().size(), reports);
    EXPECT_EQ(module().FlashAt(kAddress, c.length), data) << "length " << c.length;
  }
}

TEST_F(WriteBlockTest, ChecksumOfErasedAndZeroBlocks) {
  OpenApplication();
  const Bytes erased(2048, 0xFF);
  link().WriteBlock(handle_, erased.data(), 2048, kAddress);
  EXPECT_EQ(Blocks().at(0).checksum, 2048u * 255u);

  sim_->ClearLog();
  const Bytes zeros(2048, 0);
  link().WriteBlock(handle_, zeros.data(), 2048, kAddress);
  EXPECT_EQ(Blocks().at(0).checksum, 1u);

  // A last block of one zero byte is announced with checksum 1 and streamed as one report.
  sim_->ClearLog();
  Bytes tail(2049, 0x01);
  tail[2048] = 0;
  link().WriteBlock(handle_, tail.data(), 2049, kAddress);
  const auto blocks = Blocks();
  ASSERT_EQ(blocks.size(), 2u);
  EXPECT_EQ(blocks[1].checksum, 1u);
  EXPECT_EQ(blocks[1].address, kAddress + 2048);
  EXPECT_EQ(blocks[1].data_reports, 1u);
}

TEST_F(WriteBlockTest, LengthZeroSendsNothing) {
  OpenApplication();
  const std::uint8_t byte = 0;
  EXPECT_TRUE(link().WriteBlock(handle_, &byte, 0, kAddress));
  EXPECT_TRUE(sim_->log().empty());
}

TEST_F(WriteBlockTest, RefusedDataReportStillClosesTheBlockAndGoesOn) {
  OpenApplication();
  Bytes data(4096);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i);
  const Bytes before = module().FlashAt(kAddress, 4096);
  sim_->RefuseNthSend(6);  // command 9, then the 5th data report of the first block
  EXPECT_FALSE(link().WriteBlock(handle_, data.data(), 4096, kAddress));

  const auto sent = Sent();
  // First block: command 9, four data reports, the refused fifth, then straight to command 8.
  ASSERT_GE(sent.size(), 7u);
  EXPECT_EQ(sent[6], Frame(8, Le32At(sent[0], 3), kAddress, 2048));
  EXPECT_FALSE(sim_->log()[5].accepted);
  // Second block in full.
  EXPECT_EQ(sent.size(), 7u + 34u);
  EXPECT_EQ(Le32At(sent[7], 7), kAddress + 2048);
  // The refused report never reached the module, which counts bytes: it took command 8 and the
  // next block as data, so neither block is stored and the flash keeps what it had.
  EXPECT_EQ(module().FlashAt(kAddress, 4096), before);
  EXPECT_EQ(module().blocks_stored, 0u);
  EXPECT_EQ(module().blocks_rejected, 2u);
}

TEST_F(WriteBlockTest, InvalidHandleSendsNothingAndSaysSo) {
  const Bytes data(2048, 1);
  EXPECT_FALSE(link().WriteBlock(device::kInvalidHandle, data.data(), 2048, kAddress));
  EXPECT_TRUE(sim_->log().empty());
}

}  // namespace
}  // namespace tarven::testing
