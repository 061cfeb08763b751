// Command frames, data reports and the stream reader, byte for byte.

#include <algorithm>

#include "sim_fixture.h"

namespace tarven::testing {
namespace {

using device::TModuleCommand;

TEST_F(SimTest, CommandFrameCarriesMarkerCodeAndLittleEndianParameters) {
  OpenApplication();
  TModuleCommand command;
  command.Code = 9;
  command.Param1 = 0x11223344;
  command.Param2 = 0x08035800;
  command.Param3 = 0x800;
  ASSERT_TRUE(link().SendCommand(handle_, command));
  const Bytes expected = {0x00, 0x55, 0x09, 0x44, 0x33, 0x22, 0x11, 0x00,
                          0x58, 0x03, 0x08, 0x00, 0x08, 0x00, 0x00};
  const Bytes sent = Sent().at(0);
  ASSERT_EQ(sent.size(), 65u);
  EXPECT_EQ(Bytes(sent.begin(), sent.begin() + 15), expected);
  EXPECT_EQ(Bytes(sent.begin() + 15, sent.end()), Bytes(50, 0));
}

TEST_F(SimTest, InvalidHandleSendsAndFetchesNothing) {
  TModuleCommand command;
  command.Code = 2;
  EXPECT_FALSE(link().SendCommand(device::kInvalidHandle, command));
  std::uint8_t buffer[4] = {1, 2, 3, 4};
  EXPECT_TRUE(link().ReadData(device::kInvalidHandle, buffer, sizeof buffer));
  EXPECT_EQ(buffer[0], 1);
  EXPECT_TRUE(link().WriteData(device::kInvalidHandle, buffer, sizeof buffer));
  EXPECT_TRUE(sim_->log().empty());
}

TEST_F(SimTest, ReadDataFetchesCountOver64PlusOneReports) {
  struct Case {
    std::uint32_t count;
    std::size_t fetches;
  };
  const Case cases[] = {{0, 1},   {2, 1},     {8, 1},      {63, 1},     {64, 2},
                        {100, 2}, {2048, 33}, {8192, 129}, {16384, 257}};
  OpenApplication();
  for (const Case& c : cases) {
    sim_->ClearLog();
    std::vector<std::uint8_t> buffer(c.count + 1, 0xEE);
    ASSERT_TRUE(link().ReadData(handle_, buffer.data(), c.count));
    EXPECT_EQ(Fetches(), c.fetches) << "count " << c.count;
    EXPECT_EQ(buffer[c.count], 0xEE) << "count " << c.count << " wrote past the end";
  }
}

TEST_F(SimTest, ReadDataCopiesPayloadInStreamOrder) {
  Bytes pattern(16384);
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    pattern[i] = static_cast<std::uint8_t>(i * 7 + i / 256);
  }
  module().SetFlash(device::kMainRomAddress, pattern);
  OpenApplication();
  for (std::uint32_t count : {2u, 64u, 100u, 16384u}) {
    TModuleCommand read;
    read.Code = device::CmdReadFlash;
    read.Param1 = device::kMainRomAddress;
    read.Param2 = count;
    ASSERT_TRUE(link().SendCommand(handle_, read));
    Bytes buffer(count, 0);
    ASSERT_TRUE(link().ReadData(handle_, buffer.data(), count));
    EXPECT_EQ(buffer, Bytes(pattern.begin(), pattern.begin() + count)) << "count " << count;
  }
}

TEST_F(SimTest, ReadDataStopsAtARefusedFetchKeepingWhatArrived) {
  module().SetFlash(device::kMainRomAddress, Bytes(200, 0xAB));
  OpenApplication();
  TModuleCommand read;
  read.Code = device::CmdReadFlash;
  read.Param1 = device::kMainRomAddress;
  read.Param2 = 200;
  ASSERT_TRUE(link().SendCommand(handle_, read));
  sim_->RefuseNthFetch(2);
  Bytes buffer(200, 0x11);
  EXPECT_FALSE(link().ReadData(handle_, buffer.data(), 200));
  EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 64), Bytes(64, 0xAB));
  EXPECT_EQ(Bytes(buffer.begin() + 64, buffer.end()), Bytes(136, 0x11));
  EXPECT_EQ(Fetches(), 2u);
}

TEST_F(SimTest, WriteDataSlicesTheStreamInto64ByteReports) {
  struct Case {
    std::uint32_t length;
    std::size_t reports;
  };
  OpenApplication();
  for (const Case& c : {Case{100, 2}, Case{64, 1}, Case{128, 2}, Case{1, 1}, Case{0, 0}}) {
    sim_->ClearLog();
    Bytes data(c.length);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i + 1);
    ASSERT_TRUE(link().WriteData(handle_, data.data(), c.length));
    const auto sent = Sent();
    ASSERT_EQ(sent.size(), c.reports) << "length " << c.length;
    for (std::size_t r = 0; r < sent.size(); ++r) {
      const std::size_t n = std::min<std::size_t>(64, c.length - 64 * r);
      EXPECT_EQ(sent[r][0], 0);
      EXPECT_EQ(Bytes(sent[r].begin() + 1, sent[r].begin() + 1 + static_cast<long>(n)),
                Bytes(data.begin() + static_cast<long>(64 * r),
                      data.begin() + static_cast<long>(64 * r + n)));
    }
  }
}

TEST_F(SimTest, WriteDataStopsAtTheFirstRefusedReport) {
  OpenApplication();
  sim_->RefuseNthSend(2);
  const Bytes data(256, 0x5A);
  EXPECT_FALSE(link().WriteData(handle_, data.data(), 256));
  EXPECT_EQ(Sent().size(), 2u);
}

}  // namespace
}  // namespace tarven::testing
